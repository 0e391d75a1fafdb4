// The catalogue run against the in-memory store with a fake loader (U001,
// UT00S) and a fake screen set: whole menu and permission files per edition,
// the renumbering and the rules of single entries. The open failures run on
// the embedded store (catalogue_store_test.cc).
#include "catalogue/catalogue_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "abi/common_area.h"
#include "abi/utility_blocks.h"
#include "catalogue/groups.h"
#include "datafiles/audit_records.h"
#include "datafiles/records.h"
#include "encoding/packed.h"
#include "testing/fake_clock.h"
#include "testing/fake_program_loader.h"
#include "testing/fake_screen_set.h"
#include "testing/fault_store.h"
#include "testing/memory_store.h"

namespace catalogue {
namespace {

using testing_support::FakeProgramLoader;
using testing_support::FakeScreenSet;
using testing_support::FaultStore;
using testing_support::MemoryStore;
using testing_support::Op;
using CA = pxabi::CommonArea;
using Key = std::pair<int, int>;
using G = Group;

constexpr int kClient = 7;

// Our test encoding of user names: the 10 bytes reversed.
std::string encode(std::string name) {
  name.resize(10, ' ');
  std::reverse(name.begin(), name.end());
  return name;
}

class CatalogueRun : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto* spec :
         {&datafiles::kUserFile, &datafiles::kMenuFile, &datafiles::kPermissionFile})
      ASSERT_TRUE(memory.create(*spec).ok());
    loader.add("U001", [this](void* block, void*) {
      char* b = static_cast<char*>(block);
      if (b[0] == 'E') std::reverse(b + 1, b + 11);
      decoded.emplace_back(b + 1, 10);
      return 0;
    });
    loader.add("UT00S", [this](void* area, void* image) {
      EXPECT_EQ(area, common.data());
      const char* img = static_cast<const char*>(image);
      setUps.emplace_back(img, 200);
      const int app = *encoding::packed3::decode(std::span<const char, 2>(img + 3, 2));
      topEntryBeforeSetUp[app] =
          memory.contents("FX01.DAT")
              .records.count(std::string(datafiles::MenuRecord::key(0, app).data(), 6));
      return 0;
    });
    pxabi::ScreenControlBlock callers;
    callers.setProcedure("");
    callers.setSetName("MPX01");
    std::copy_n(callers.bytes().begin(), 400, common.savedControlBlock().begin());
    encoding::putRaw(common.carriedValues(), "CARRIED!");
    encoding::putRaw(common.versionText(), CA::kVersionConstant);
    encoding::putDigits(common.workingDate(), 261207);
    common.setClient(kClient);
    configure("GILDAX", 'N', ' ', "00001");
  }

  void configure(std::string_view id, char option1, char option2, std::string_view number,
                 std::string_view region = "") {
    encoding::putRaw(common.identification(), id);
    common.setEditionOption1(option1);
    common.setEditionOption2(option2);
    encoding::putRaw(common.installationNumber(), number);
    encoding::putRaw(common.regionCode(), region);
  }

  void addUser(int client, const std::string& name, char cls) {
    datafiles::UserRecord u;
    u.setClient(client);
    u.setEncodedName(encode(name));
    u.setUserClass(cls);
    memory.put("FX00.DAT", u.view());
  }

  void putEntry(int menu, int entry, std::string_view text, std::string_view stamp = "OLDSTP") {
    datafiles::MenuRecord r;
    r.setKey(menu, entry);
    r.setVersionStamp(stamp);
    r.setText(text);
    r.setProgram("PX99");
    r.setAccessClass('N');
    memory.put("FX01.DAT", r.view());
  }

  RunReport run() {
    RunOptions options;
    options.lockWait = std::chrono::milliseconds(30);
    options.clock = &clock;
    return runCatalogue(common, store, loader, screen, options);
  }

  std::optional<datafiles::MenuRecord> menu(int m, int e) {
    auto& recs = memory.contents("FX01.DAT").records;
    auto it = recs.find(std::string(datafiles::MenuRecord::key(m, e).data(), 6));
    if (it == recs.end()) return std::nullopt;
    datafiles::MenuRecord r;
    std::copy_n(it->second.begin(), 58, r.bytes().begin());
    return r;
  }
  std::map<std::string, std::string> menus() { return memory.contents("FX01.DAT").records; }
  std::map<std::string, std::string>& permissions() { return memory.contents("FX02.DAT").records; }

  // The menu file a run with these groups must leave, built from the rows:
  // later groups replace earlier ones, "written only if new" entries do not.
  std::map<Key, std::string> expectedEntries(std::initializer_list<Group> groups) {
    const Installation inst = Installation::from(common);
    std::map<Key, std::string> out;
    for (Group g : groups)
      for (const Entry& e : rowsOf(g)) {
        if (!isWritten(e, inst)) continue;
        const Key k{e.menu, e.entry};
        if (e.condition.kind == Condition::kOnlyIfNew && out.count(k)) continue;
        out[k] = std::string(e.text.view()) + programFor(e, inst) + e.access;
      }
    return out;
  }
  std::map<Key, std::string> actualEntries() {
    std::map<Key, std::string> out;
    for (const auto& [key, r] : menus()) {
      datafiles::MenuRecord m;
      std::copy_n(r.begin(), 58, m.bytes().begin());
      if (m.isHeader()) continue;
      EXPECT_EQ(m.entryFlag(), ' ');
      out[{*m.menu(), *m.entry()}] = r.substr(13, 45);
    }
    return out;
  }

  MemoryStore memory;
  FaultStore store{memory};  // the run's store: faults injected, operations counted
  FakeProgramLoader loader;
  FakeScreenSet screen;
  testing_support::FakeClock clock;  // lock waits pass without waiting
  CA common;
  std::vector<std::string> decoded, setUps;
  std::map<int, int> topEntryBeforeSetUp;
};

// Every edition and option set: the whole menu file against its groups.
TEST_F(CatalogueRun, WholeMenuFilePerEdition) {
  struct Case {
    const char* id;
    char o1, o2;
    const char* number;
    std::vector<Group> groups;
  };
  const std::vector<Case> cases = {
      {"GILDAX", 'N', ' ', "00001", {G::kAdministration, G::kTaskManagement, G::kInventory,
        G::kEvents, G::kMember, G::kSelection, G::kDonations, G::kCensus, G::kCommon}},
      {"GILDAX", 'N', ' ', "00111", {G::kAdministration, G::kTaskManagement, G::kInventory,
        G::kEvents, G::kMember, G::kSelection, G::kDonations, G::kCyclingClub,
        G::kSportsEvents, G::kCommon}},
      {"GILDAX", ' ', 'N', "00001", {G::kAdministration, G::kTaskManagement, G::kInventory,
        G::kEvents, G::kAddress, G::kSelection, G::kDonations, G::kCommon}},
      {"GILDAX", ' ', 'V', "00001", {G::kAdministration, G::kTaskManagement, G::kInventory,
        G::kEvents, G::kAddress, G::kSelection, G::kHonours, G::kDonations, G::kCommon}},
      {"GILDAX", ' ', 'B', "30005", {G::kAdministration, G::kTaskManagement, G::kInventory,
        G::kEvents, G::kAddress, G::kSelection, G::kStateAssociation, G::kHonours,
        G::kDonations, G::kCommon, G::kHallManagement}},
      {"GILDAX", 'X', 'X', "00001", {G::kAdministration, G::kTaskManagement, G::kInventory,
        G::kEvents, G::kCommon}},
      {"PEDRIX", 'N', 'V', "00001", {G::kAdministration, G::kTaskManagement, G::kInventory,
        G::kEvents, G::kMember, G::kSelection, G::kCyclingClub, G::kDonations,
        G::kSportsEvents, G::kCommon}},
      {"PEDRIX", ' ', 'V', "20109", {G::kAdministration, G::kTaskManagement, G::kInventory,
        G::kEvents, G::kAddress, G::kSelection, G::kCyclingFederation, G::kHonours,
        G::kDonations, G::kCommon}},
      {"PEDRIX", ' ', 'B', "99999", {G::kAdministration, G::kTaskManagement, G::kInventory,
        G::kEvents, G::kAddress, G::kSelection, G::kHonours, G::kDonations,
        G::kSportsEvents, G::kStateImport, G::kCommon, G::kOrderManagement}},
      {"PEDRIX", ' ', 'N', "00001", {G::kAdministration, G::kTaskManagement, G::kInventory,
        G::kEvents, G::kCommon}},
      {"DONAMO", ' ', ' ', "00003", {G::kAdministration, G::kMember, G::kSelection,
        G::kDonations, G::kTaskManagement, G::kInventory, G::kEvents, G::kCommon,
        G::kHallManagement}},
      {"FRAKTO", ' ', ' ', "99998", {G::kAdministration, G::kTaskManagement, G::kInventory,
        G::kEvents, G::kCommon, G::kHallManagement}},
      {"TOURAL", ' ', ' ', "00168", {G::kAdministration, G::kAddress, G::kSelection,
        G::kTravel, G::kTaskManagement, G::kInventory, G::kCommon}},
      {"VESKAN", 'N', 'B', "00001", {G::kAdministration, G::kCommon, G::kOrderManagement}},
      {"OTHER ", 'N', 'V', "00001", {G::kAdministration, G::kCommon}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.id) + " " + c.o1 + c.o2 + " " + c.number);
    memory.contents("FX01.DAT").records.clear();
    configure(c.id, c.o1, c.o2, c.number);
    const RunReport report = run();
    EXPECT_EQ(report.outcome, RunOutcome::kComplete);
    std::map<Key, std::string> want;
    for (Group g : c.groups)  // groups in run order: later ones replace earlier ones
      for (const auto& [k, v] : expectedEntries({g})) want[k] = v;
    EXPECT_EQ(actualEntries(), want);
    ASSERT_TRUE(menu(0, 0));
    EXPECT_EQ(menu(0, 0)->versionStamp(), "034 - ");
    EXPECT_EQ(report.counts.newEntries, static_cast<int>(want.size()));
  }
}

TEST_F(CatalogueRun, EmptyFileThenFullFile) {
  addUser(kClient, "ANNA", 'N');
  addUser(kClient, "BERT", 'H');
  addUser(kClient, "CARL", 'N');
  const RunReport first = run();
  ASSERT_EQ(first.outcome, RunOutcome::kComplete);
  EXPECT_EQ(decoded, (std::vector<std::string>{"ANNA      ", "CARL      "}));
  const auto& ev = loader.events();
  const auto unload = std::find(ev.begin(), ev.end(), "unload U001");
  ASSERT_NE(unload, ev.end());
  EXPECT_EQ(std::count(ev.begin(), ev.end(), "call U001"), 2);
  EXPECT_EQ(std::find(unload, ev.end(), "call U001"), ev.end());
  EXPECT_EQ(first.counts.rewritten, 1);  // 930/510: member group, then common group
  EXPECT_GT(first.counts.permissions, 0);
  // Every permission record as the step writes it.
  for (const auto& [key, p] : permissions()) {
    EXPECT_EQ(p.substr(16, 8), " 2612071") << p;
    EXPECT_EQ(p.substr(25), std::string(10, ' '));
  }
  const auto perm = [&](const char* user, const char* program) -> std::optional<char> {
    auto it = permissions().find(
        std::string(datafiles::PermissionRecord::key(kClient, user, program).data(), 17));
    if (it == permissions().end()) return std::nullopt;
    return it->second[24];
  };
  EXPECT_EQ(perm("ANNA", "PX03"), 'J');
  EXPECT_EQ(perm("CARL", "PM4B"), 'J');
  EXPECT_EQ(perm("CARL", "PE91"), ' ');
  EXPECT_EQ(perm("ANNA", "    "), 'N');   // submenu entries: a blank program name
  EXPECT_EQ(perm("ANNA", "PX20"), std::nullopt);  // permission "none"
  EXPECT_EQ(perm("BERT", "PX03"), std::nullopt);  // class H needs none

  // Users change built-in entries; the next run puts them back, reads no
  // user and writes no permission.
  putEntry(99, 10, "Geändert");
  const auto filesBefore = permissions();
  const auto menusBefore = menus();
  loader.clearEvents();
  decoded.clear();
  const int startsBefore = store.calls("FX00.DAT", Op::kStart);
  const RunReport second = run();
  EXPECT_EQ(second.counts.newEntries, 0);
  EXPECT_EQ(second.counts.rewritten, first.counts.newEntries + first.counts.rewritten);
  EXPECT_FALSE(second.counts.usersScanned);
  EXPECT_EQ(store.calls("FX00.DAT", Op::kStart), startsBefore);
  EXPECT_EQ(loader.calls(), (std::vector<std::string>{"UT00S", "UT00S"}));
  EXPECT_EQ(permissions(), filesBefore);
  EXPECT_EQ(menu(99, 10)->text(), "Pflege der Menüdatei");
  EXPECT_EQ(menus().size(), menusBefore.size());
}

TEST_F(CatalogueRun, ScreenStateTravelsThroughTheRun) {
  encoding::putRaw(common.savedControlTail(), "junk");
  run();
  EXPECT_EQ(encoding::view(common.helpTopic()), "PX07");
  EXPECT_TRUE(encoding::isBlank(common.savedControlTail()));
  EXPECT_EQ(encoding::view(common.carriedValues()), "CARRIED!");
  EXPECT_TRUE(screen.calls().empty());
}

TEST_F(CatalogueRun, ScreenFailureInTheBoxStopsAndIsHandedBack) {
  store.fail("FX01.DAT", Op::kOpen, datafiles::kFileLocked);
  FakeScreenSet::Answer a;
  a.procedure = "BOX-FEHLER-OK";
  a.error = 17;
  screen.then(a);
  const RunReport r = run();
  EXPECT_EQ(r.outcome, RunOutcome::kScreenFailed);
  pxabi::ScreenControlBlock back;
  std::copy_n(common.savedControlBlock().begin(), 400, back.bytes().begin());
  EXPECT_EQ(back.errorCode(), 17);
  EXPECT_EQ(back.procedure(), "");
}

TEST_F(CatalogueRun, Renumbering) {
  putEntry(100, 17, "Alte Aufgaben");
  putEntry(17, 10, "Alt 10", "STAMP1");
  putEntry(17, 20, "Alt 20", "STAMP2");
  putEntry(17, 30, "Alt 30", "STAMP3");
  const RunReport r = run();
  EXPECT_EQ(r.counts.moved, 4);
  EXPECT_FALSE(menu(100, 17));
  EXPECT_EQ(menu(100, 16)->text(), "Alte Aufgaben");
  EXPECT_EQ(menu(16, 30)->text(), "Alt 30");
  EXPECT_EQ(menu(16, 30)->program(), "PX99");
  EXPECT_EQ(menu(17, 10)->text(), "Aufgabenliste");
  // The buffer keeps the stamp bytes of the last record read.
  EXPECT_EQ(menu(99, 10)->versionStamp(), "STAMP3");
  const auto after = menus();
  EXPECT_EQ(run().counts.moved, 0);  // a second run leaves menu 16 alone
  for (int e : {10, 20, 30})
    EXPECT_EQ(menus().at(std::string(datafiles::MenuRecord::key(16, e).data(), 6)),
              after.at(std::string(datafiles::MenuRecord::key(16, e).data(), 6)));
}

TEST_F(CatalogueRun, RenumberingNeverLosesOrInventsARecord) {
  // 17/10 without 100/17: nothing moves; the task group rewrites it.
  putEntry(17, 10, "Alt 10");
  EXPECT_EQ(run().counts.moved, 0);
  EXPECT_EQ(menu(17, 10)->text(), "Aufgabenliste");
  EXPECT_FALSE(menu(16, 10));

  // 17/20 missing: 17/10 moves, the step ends, 17/30 stays for the task group.
  memory.contents("FX01.DAT").records.clear();
  putEntry(100, 17, "Alte Aufgaben");
  putEntry(17, 10, "Alt 10");
  putEntry(17, 30, "Alt 30");
  EXPECT_EQ(run().counts.moved, 2);
  EXPECT_TRUE(menu(16, 10));
  EXPECT_FALSE(menu(16, 30));

  // A read that meets a lock moves nothing, not even the stale buffer.
  memory.contents("FX01.DAT").records.clear();
  putEntry(100, 17, "Alte Aufgaben");
  putEntry(17, 10, "Alt 10");
  store.fail("FX01.DAT", Op::kRead, datafiles::kRecordLocked, 1);  // the header read
  store.fail("FX01.DAT", Op::kRead, datafiles::kRecordLocked, 1);  // 100/17
  EXPECT_EQ(run().counts.moved, 0);
  EXPECT_TRUE(menu(100, 17));
  EXPECT_FALSE(menu(100, 16));

  // The new key taken already: the old record stays.
  memory.contents("FX01.DAT").records.clear();
  putEntry(100, 17, "Alte Aufgaben");
  putEntry(100, 16, "Schon da");
  run();
  EXPECT_EQ(menu(100, 17)->text(), "Alte Aufgaben");
  EXPECT_EQ(menu(100, 16)->text(), "Schon da");
}

TEST_F(CatalogueRun, SingleEntryRules) {
  // Address-based: 930/510 ends with the common group's text.
  configure("PEDRIX", ' ', 'V', "02003", "BAY");
  putEntry(0, 60, "Mein Sportbetrieb");
  run();
  EXPECT_EQ(menu(930, 510)->text(), "Löschen der Mitgliederhistorie");
  EXPECT_FALSE(menu(940, 110));
  EXPECT_FALSE(menu(300, 500));
  EXPECT_EQ(menu(0, 60)->text(), "Mein Sportbetrieb");  // not this edition's group

  memory.contents("FX01.DAT").records.clear();
  configure("PEDRIX", ' ', 'V', "02004");
  run();
  EXPECT_TRUE(menu(940, 110));
  EXPECT_TRUE(menu(300, 500));

  // 0/60 is written only if new; the region code decides 60/10.
  configure("GILDAX", 'N', ' ', "00111", "BAY");
  putEntry(0, 60, "Mein Sportbetrieb");
  RunReport r = run();
  EXPECT_EQ(menu(0, 60)->text(), "Mein Sportbetrieb");
  EXPECT_EQ(menu(0, 60)->program(), "PX99");
  EXPECT_EQ(r.counts.kept, 1);
  EXPECT_EQ(menu(60, 10)->text(), "Adressdatei für Verband ausgeben");
  memory.contents("FX01.DAT").records.clear();
  configure("GILDAX", 'N', ' ', "00111", "NRW");
  run();
  EXPECT_FALSE(menu(60, 10));
  EXPECT_EQ(menu(0, 60)->text(), "Sportbetrieb");

  // "PV6V" for FRAKTO; another edition's run puts "PV61" back.
  configure("FRAKTO", ' ', ' ', "00001");
  run();
  EXPECT_EQ(menu(12, 20)->program(), "PV6V");
  configure("DONAMO", ' ', ' ', "00001");
  run();
  EXPECT_EQ(menu(12, 20)->program(), "PV61");
}

TEST_F(CatalogueRun, HallManagementRemovesTheOldEntry) {
  for (const char* number : {"30005", "00003"}) {
    SCOPED_TRACE(number);
    memory.contents("FX01.DAT").records.clear();
    configure("GILDAX", 'N', ' ', number);
    putEntry(510, 30, "Alt", "HALL30");
    const RunReport r = run();
    EXPECT_EQ(r.counts.removed, 1);
    EXPECT_FALSE(menu(510, 30));
    EXPECT_EQ(menu(502, 31).has_value(), std::string(number) == "30005");
    // Entries after the removal carry the removed record's stamp bytes.
    EXPECT_EQ(menu(510, 126)->versionStamp(), "034 - ");
    EXPECT_EQ(menu(510, 300)->versionStamp(), "HALL30");
  }
}

TEST_F(CatalogueRun, ApplicationsAreSetUpBeforeTheirTopLevelEntry) {
  configure("GILDAX", 'N', ' ', "99998");
  run();
  ASSERT_EQ(setUps.size(), 3u);
  const std::pair<int, const char*> apps[] = {{17, "Aufgaben"}, {12, "Veranstaltungen"},
                                              {18, "Hallenverwaltung"}};
  for (std::size_t i = 0; i < 3; ++i) {
    const std::string& img = setUps[i];
    EXPECT_EQ(img.substr(1, 2), std::string("\x00\x0C", 2));
    EXPECT_EQ(*encoding::packed3::decode(std::span<const char, 2>(img.data() + 3, 2)),
              apps[i].first);
    EXPECT_EQ(encoding::getText({img.data() + 47, 40}), apps[i].second);
    EXPECT_EQ(topEntryBeforeSetUp[apps[i].first], 0);
  }
  EXPECT_EQ(menu(0, 17)->text(), "Aufgabenverwaltung");
  EXPECT_EQ(loader.events().size(), 3u);  // no user: no U001; UT00S stays loaded
}

TEST_F(CatalogueRun, OrderManagement) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"VESKAN", "00001", true}, {"GILDAX", "99999", true}, {"GILDAX", "99998", false}};
  for (const auto& [id, number, wanted] : cases) {
    memory.contents("FX01.DAT").records.clear();
    configure(id, ' ', ' ', number);
    run();
    EXPECT_EQ(menu(0, 15).has_value(), wanted) << id << number;
    EXPECT_EQ(menu(360, 10).has_value(), wanted) << id << number;
  }
}

TEST_F(CatalogueRun, PermissionScan) {
  addUser(kClient - 1, "VORHER", 'N');
  addUser(kClient, "MEIER", 'M');
  addUser(kClient, "HUBER", 'H');
  addUser(kClient + 1, "NACHHER", 'N');
  // Only classes M and H: entries but no permissions, U001 never called.
  RunReport r = run();
  EXPECT_GT(r.counts.newEntries, 0);
  EXPECT_TRUE(permissions().empty());
  EXPECT_TRUE(decoded.empty());
  // The scan reads the client's three records and the next client's first.
  EXPECT_EQ(store.calls("FX00.DAT", Op::kReadNext), 3);
  EXPECT_EQ(store.calls("FX00.DAT", Op::kStart), 1);

  // "PV30" three times in menu 226: the first write per user counts.
  memory.contents("FX01.DAT").records.clear();
  addUser(kClient, "ANNA", 'N');
  store.fail("FX00.DAT", Op::kReadNext, datafiles::kRecordLocked, 2);  // held briefly elsewhere
  r = run();
  EXPECT_EQ(decoded, std::vector<std::string>{"ANNA      "});
  EXPECT_EQ(static_cast<std::size_t>(r.counts.permissions), permissions().size());
  EXPECT_EQ(permissions().count(
                std::string(datafiles::PermissionRecord::key(kClient, "ANNA", "PV30").data(), 17)),
            1u);
}

TEST_F(CatalogueRun, AtMost999NormalUsers) {
  for (int i = 0; i < 1001; ++i) addUser(kClient, "U" + std::to_string(1000 + i), 'N');
  configure("OTHER ", ' ', ' ', "00001");
  const RunReport r = run();
  EXPECT_EQ(r.counts.normalUsers, 999);
  int forPx03 = 0;
  for (const auto& [key, p] : permissions()) forPx03 += p.substr(12, 4) == "PX03";
  EXPECT_EQ(forPx03, 999);
}

// A change that fails because its file cannot be written (status 30: a
// read-only file, a full disk) stops the run: the box names the file, the
// operation and the status, nothing is committed, and what went past the
// units is taken back: the application records UT00S set up, and the
// permission records of a permission unit committed before the menu file's
// commit failed.
TEST_F(CatalogueRun, FileThatCannotBeWrittenChangesNothing) {
  ASSERT_TRUE(memory.create(datafiles::kInstallationFile).ok());
  // UT00S writes the application record, as the real one does.
  loader.add("UT00S", [this](void*, void* image) {
    const char* img = static_cast<const char*>(image);
    datafiles::ApplicationRecord r;
    r.setKey('1', 0, *encoding::packed3::decode(std::span<const char, 2>(img + 3, 2)));
    auto f = memory.file(datafiles::kInstallationFile);
    if (!f->open(datafiles::OpenMode::kInputOutput).ok()) return 1;
    const bool exists = f->read(r.bytes()).ok();
    std::copy_n(img + 47, 40, r.bytes().data() + 47);
    return (exists ? f->rewrite(r.bytes()) : f->write(r.bytes())).ok() ? 0 : 1;
  });
  datafiles::ApplicationRecord old;
  old.setKey('1', 0, 17);
  old.setName("Alte Aufgaben");
  memory.put("FT00.DAT", old.view());
  addUser(kClient, "ANNA", 'N');
  putEntry(99, 10, "Geändert");
  configure("GILDAX", 'N', ' ', "30005");

  struct Case {
    const char* file;
    Op op;
    int after;  // calls that pass first
    const char* detail;
    int removeFaults = 0;  // FX02 deletes that fail while the run takes its grants back
  };
  const Case cases[] = {
      {"FX01.DAT", Op::kWrite, 0, "FX01 WRIT"},  // the header
      {"FX01.DAT", Op::kWrite, 60, "FX01 WRIT"},
      {"FX01.DAT", Op::kRewrite, 0, "FX01 REWR"},
      {"FX02.DAT", Op::kWrite, 5, "FX02 WRIT"},
      {"FX02.DAT", Op::kCommit, 0, "FX02 REWR"},
      {"FX01.DAT", Op::kCommit, 0, "FX01 REWR"},
      {"FX01.DAT", Op::kCommit, 0, "FX01 REWR", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.detail) + " after " + std::to_string(c.after));
    const auto menusBefore = menus();
    const auto permissionsBefore = permissions();
    const auto installationBefore = memory.contents("FT00.DAT").records;
    store.fail(c.file, c.op, datafiles::kPermanentError, 1, c.after);
    if (c.removeFaults > 0)
      store.fail("FX02.DAT", Op::kRemove, datafiles::kPermanentError, c.removeFaults);
    loader.clearEvents();
    screen = FakeScreenSet();
    const RunReport r = run();
    EXPECT_EQ(r.outcome, RunOutcome::kCommitFailed);
    EXPECT_EQ(r.failedFile + r.failedOperation, c.detail);
    EXPECT_EQ(r.failedStatus, datafiles::kPermanentError);
    ASSERT_EQ(screen.calls().size(), 1u);
    EXPECT_EQ(screen.calls()[0].message(), "Fehler - Programmabbruch");
    EXPECT_EQ(screen.calls()[0].detail().substr(0, 9), c.detail);
    EXPECT_EQ(menus(), menusBefore);
    EXPECT_EQ(memory.contents("FT00.DAT").records, installationBefore);
    if (c.removeFaults == 0) {
      EXPECT_EQ(r.leftOver, "");
      EXPECT_EQ(permissions(), permissionsBefore);
    } else {
      EXPECT_NE(r.leftOver.find("FX02: "), std::string::npos) << r.leftOver;
      permissions() = permissionsBefore;
    }
    if (c.op == Op::kCommit || c.after > 0) {  // something was set up and taken back
      EXPECT_NE(std::count(loader.events().begin(), loader.events().end(), "call UT00S"), 0);
    }
  }
  // A record held elsewhere fails just its entry step, as before.
  store.fail("FX01.DAT", Op::kRewrite, datafiles::kRecordLocked, 1);
  const RunReport r = run();
  EXPECT_EQ(r.outcome, RunOutcome::kComplete);
  EXPECT_EQ(r.counts.failed, 1);
  EXPECT_EQ(menu(0, 17)->text(), "Aufgabenverwaltung");
  EXPECT_FALSE(permissions().empty());
}

// Each run leaves one record in the audit trail: the stamp and the counts,
// or the failure that left everything as it was.
TEST_F(CatalogueRun, EveryRunIsRecorded) {
  addUser(kClient, "ANNA", 'N');
  encoding::putRaw(common.userName(), "ADMIN");
  const RunReport first = run();
  store.fail("FX02.DAT", Op::kOpen, datafiles::kFileLocked, 1);
  screen = FakeScreenSet();
  EXPECT_EQ(run().outcome, RunOutcome::kOpenFailed);
  std::vector<std::string> lines;
  for (const auto& [key, bytes] : memory.contents("FXAU.DAT").records) {
    datafiles::AuditRecord r;
    encoding::putRaw(r.bytes(), bytes);
    EXPECT_EQ(encoding::trimmed(r.user()), "ADMIN");
    EXPECT_EQ(encoding::view(r.client()), "007");
    EXPECT_EQ(encoding::trimmed(r.origin()), "PX07");
    lines.push_back(std::string(encoding::trimmed(r.event())) + " " +
                    std::string(encoding::trimmed(r.result())) + " " + encoding::getText(r.detail()));
  }
  const RunCounts& c = first.counts;
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "CATALOG OK stamp \"034 - \", " + std::to_string(c.newEntries) + " new, " +
                           std::to_string(c.rewritten) + " rewritten, " + std::to_string(c.kept) +
                           " kept, " + std::to_string(c.permissions) + " permissions",
                       "CATALOG OPENFAIL FX02 OPEN 9/065, nothing changed",
                   }));
}

TEST_F(CatalogueRun, ReportInTheCommonArea) {
  RunReport r;
  r.outcome = RunOutcome::kOpenFailed;
  r.counts.newEntries = 12;
  r.counts.rewritten = 345;
  r.counts.kept = 1;
  r.counts.permissions = 292707;
  clearReport(common);
  EXPECT_FALSE(loadReport(common));
  storeReport(common, r);
  const auto back = loadReport(common);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->outcome, RunOutcome::kOpenFailed);
  EXPECT_EQ(back->newEntries, 12);
  EXPECT_EQ(back->rewritten, 345);
  EXPECT_EQ(back->kept, 1);
  EXPECT_EQ(back->permissions, 292707);
}

}  // namespace
}  // namespace catalogue

namespace catalogue {
namespace {

// What ownedKeys says a run does to each key is what a run does: every key
// of every group, the moved ones and the deleted one are there before the
// run with a text of their own.
TEST(CatalogueOwnership, OwnedKeysAreWhatARunDoes) {
  struct Config {
    const char* id;
    char o1, o2;
    const char* number;
    const char* region;
  };
  for (const Config& c : {Config{"GILDAX", 'N', ' ', "30005", ""},
                          Config{"GILDAX", ' ', 'B', "10029", ""},
                          Config{"PEDRIX", ' ', 'B', "99999", "BAY"},
                          Config{"TOURAL", ' ', ' ', "00168", ""}}) {
    MemoryStore memory;
    for (const auto* spec :
         {&datafiles::kUserFile, &datafiles::kMenuFile, &datafiles::kPermissionFile})
      ASSERT_TRUE(memory.create(*spec).ok());
    std::set<Key> before;
    for (int g = 0; g < kGroupCount; ++g)
      for (const Entry& e : rowsOf(static_cast<Group>(g))) before.insert({e.menu, e.entry});
    for (const Move& m : kMoves) before.insert({m.menu, m.entry});
    before.insert({kHallRemoval.menu, kHallRemoval.entry});
    before.insert({4, 4});  // a key no run touches
    for (const Key& k : before) {
      datafiles::MenuRecord r;
      r.setKey(k.first, k.second);
      r.setText("EIGEN");
      r.setProgram("PX99");
      memory.put("FX01.DAT", r.view());
    }
    CA common;
    encoding::putRaw(common.identification(), c.id);
    common.setEditionOption1(c.o1);
    common.setEditionOption2(c.o2);
    encoding::putRaw(common.installationNumber(), c.number);
    encoding::putRaw(common.regionCode(), c.region);
    encoding::putRaw(common.versionText(), CA::kVersionConstant);
    FakeProgramLoader loader;
    loader.add("U001", [](void*, void*) { return 0; });
    loader.add("UT00S", [](void*, void*) { return 0; });
    FakeScreenSet screen;
    ASSERT_EQ(runCatalogue(common, memory, loader, screen).outcome, RunOutcome::kComplete);

    std::map<Key, Ownership> owned;
    for (const OwnedKey& k : ownedKeys(Installation::from(common)))
      owned[{k.menu, k.entry}] = k.what;
    const auto& records = memory.contents("FX01.DAT").records;
    for (const Key& k : before) {
      const auto it = records.find(std::string(datafiles::MenuRecord::key(k.first, k.second).data(), 6));
      const bool kept = it != records.end() && it->second.substr(13, 5) == "EIGEN";
      const std::string where = std::string(c.id) + " " + c.number + " " +
                                std::to_string(k.first) + "/" + std::to_string(k.second);
      if (!owned.count(k)) {
        EXPECT_TRUE(kept) << where << " changed but is not owned";
        continue;
      }
      switch (owned[k]) {
        case Ownership::kRewritten:
          EXPECT_TRUE(it != records.end() && !kept) << where << " not rewritten";
          break;
        case Ownership::kOnlyIfNew:
          EXPECT_TRUE(kept) << where << " not kept";
          break;
        case Ownership::kRemoved:
          EXPECT_TRUE(it == records.end()) << where << " not removed";
          break;
      }
    }
    EXPECT_LE(owned.size(), pxabi::CatalogueKeysBlock::kMaxKeys);
  }
}

}  // namespace
}  // namespace catalogue
