#include "launcher/launcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <memory>

#include "datafiles/audit_records.h"
#include "datafiles/sessions.h"
#include "datafiles/pg_store.h"
#include "datafiles/sqlite_store.h"
#include "testing/fake_process.h"
#include "testing/fake_program_loader.h"
#include "testing/fake_screen_set.h"
#include "testing/fault_store.h"
#include "testing/memory_store.h"
#include "testing/pg_server.h"
#include "testing/store_contents.h"
#include "testing/temp_dir.h"

namespace launcher {

using pxabi::CommonArea;
using pxabi::ScreenDataBlock;
namespace {

using testing_support::FakeProcess;
using testing_support::FakeProgramLoader;
using testing_support::FakeScreenSet;
using testing_support::FaultStore;
using testing_support::MemoryStore;
using testing_support::Op;

constexpr int kClient = 1;

// The launcher's tests run on the in-memory store, the embedded store and
// the server store, each behind a FaultStore that injects the faults and
// counts what reaches the files.
enum class Backing { kMemory, kEmbedded, kServer };

class LauncherTest : public ::testing::TestWithParam<Backing> {
 protected:
  void SetUp() override {
    freshInstallation();

    loader.add("PX00", [this](void* a, void*) {
      auto& area = *static_cast<CommonArea*>(a);
      if (blankUser) {
        encoding::blank(area.userName());
        return 7;
      }
      area.setClient(kClient);
      encoding::putRaw(area.userName(), "anna");
      area.setUserClass(userClass);
      encoding::putRaw(area.dataDirectory(), "/data");
      encoding::putRaw(area.workingDate(), "240131");
      encoding::putRaw(area.menuValue(), menuValue);
      for (int k = 1; k <= 10; ++k) area.setFunctionKeyAction(k, static_cast<unsigned char>(k));
      return 0;
    });
    // U001 "V": the encoded name is the name itself.
    loader.add("U001", [](void*, void*) { return 0; });
    loader.add("U009", [this](void* b, void*) {
      const char* block = static_cast<const char*>(b);
      settingsCalls.push_back(block[0] + std::string(block + 81, 8));
      return 0;
    });
    loader.add("UX10", [](void*, void*) { return 0; });
    loader.add("U007", [](void*, void*) { return 0; });
    loader.add("U000", [](void*, void*) { return 0; });
    loader.add("UM21", [](void* a, void*) {
      encoding::putBigEndian(static_cast<CommonArea*>(a)->positionsCount(), 5);
      return 0;
    });
    loader.add("UX01L", [this](void*, void* h) {
      if (const auto header = get(datafiles::kMenuFile, datafiles::MenuRecord::key(0, 0)))
        std::copy(header->begin(), header->end(), static_cast<char*>(h));
      return 0;
    });
  }

  // The four files of a new installation: the control record, the menu
  // header and the user anna.
  void freshInstallation() {
    store.reset();
    backing.reset();
    dir.reset();
    if (GetParam() == Backing::kEmbedded) {
      dir = std::make_unique<testing_support::TempDir>("px-launcher");
      backing = std::make_unique<datafiles::SqliteStore>();
    } else if (GetParam() == Backing::kServer) {
      auto& server = testing_support::PgTestServer::get();
      ASSERT_TRUE(server.ok()) << server.error();
      conninfo = server.freshSchema();
      backing = std::make_unique<datafiles::PgStore>(conninfo);
    } else {
      backing = std::make_unique<MemoryStore>();
    }
    store = std::make_unique<FaultStore>(*backing, directory());
    for (const datafiles::FileSpec* spec : {&datafiles::kInstallationFile, &datafiles::kUserFile,
                                            &datafiles::kMenuFile, &datafiles::kPermissionFile})
      ASSERT_TRUE(backing->create(*spec, directory()).ok());
    datafiles::ControlRecord control;
    encoding::putRaw(control.reserved(), "reserved bytes stay");
    control.setLockFlag('N');
    put(datafiles::kInstallationFile, control.view());
    datafiles::MenuRecord header;
    header.setKey(0, 0);
    header.setVersionStamp("034 - ");
    put(datafiles::kMenuFile, header.view());
    addUser("anna", 'N');
  }
  std::string directory() const { return dir ? dir->path() : std::string(); }
  // The data as the launcher's files hold it, arranged and read past the
  // FaultStore: none of it counts as the launcher's doing.
  void put(const datafiles::FileSpec& spec, std::string_view record) {
    testing_support::putRecord(*backing, directory(), spec, record);
  }
  std::optional<std::string> get(const datafiles::FileSpec& spec, std::span<const char> key) {
    return testing_support::getRecord(*backing, directory(), spec, key);
  }
  void remove(const datafiles::FileSpec& spec, std::span<const char> key) {
    testing_support::removeRecord(*backing, directory(), spec, key);
  }
  void removeFile(const datafiles::FileSpec& spec) {
    if (GetParam() == Backing::kServer) {
      EXPECT_EQ(testing_support::PgTestServer::get().sql(
                    conninfo, "DROP TABLE " + datafiles::PgStore::tableName(spec.name)),
                "");
    } else if (dir) {
      for (const char* suffix : {"", "-wal", "-shm"})
        std::filesystem::remove(*dir / (std::string(spec.name) + suffix));
    } else {
      static_cast<MemoryStore&>(*backing).removeFile(spec.name);
    }
  }

  void addUser(std::string_view name, char cls) {
    datafiles::UserRecord user;
    user.setClient(kClient);
    user.setEncodedName(name);
    user.setUserClass(cls);
    user.setSignOnFlag('N');
    put(datafiles::kUserFile, user.view());
  }
  char signOnFlag() {
    datafiles::UserRecord user;
    const auto stored = get(datafiles::kUserFile, datafiles::UserRecord::key(kClient, "anna"));
    EXPECT_TRUE(stored);
    if (stored) encoding::putRaw(user.bytes(), *stored);
    return user.signOnFlag();
  }
  void addEntry(int menu, int entry, std::string_view text, std::string_view program = "    ",
                char access = 'N') {
    datafiles::MenuRecord r;
    r.setKey(menu, entry);
    r.setText(text);
    r.setProgram(program);
    r.setAccessClass(access);
    put(datafiles::kMenuFile, r.view());
  }
  void permit(std::string_view program, char flag = 'X') {
    datafiles::PermissionRecord p;
    p.setKey(kClient, "anna", program);
    p.setFlag(flag);
    p.setText("perm-text");
    put(datafiles::kPermissionFile, p.view());
  }
  void install(int application) {
    datafiles::ApplicationRecord a;
    a.setKey(datafiles::InstallationRecord::kApplicationType, kClient, application);
    put(datafiles::kInstallationFile, a.view());
  }
  void setLock(char flag) {
    datafiles::ControlRecord control;
    encoding::putRaw(control.bytes(), controlRecord());
    control.setLockFlag(flag);
    put(datafiles::kInstallationFile, control.view());
  }
  std::string controlRecord() {
    return get(datafiles::kInstallationFile, datafiles::InstallationRecord::key('0', 0, 0))
        .value_or("");
  }
  // A program that records its calls.
  void addProgram(const std::string& name, std::function<void(CommonArea&)> body = {}) {
    loader.add(name, [this, name, body](void* a, void*) {
      programCalls.push_back(name);
      if (body) body(*static_cast<CommonArea*>(a));
      return 40 + static_cast<int>(programCalls.size());
    });
  }

  // Runs the launcher; the return code of an error stop also comes back as `ended`.
  int run() {
    launcher = std::make_unique<Launcher>(loader, screen, *store, process);
    const int rc = launcher->run();
    ended.reset();
    if (launcher->stoppedAtOnce()) ended = rc;
    return rc;
  }
  // Texts of the rows shown by the n-th NEUSTART (0-based).
  std::vector<std::string> rowsShown(std::size_t n) {
    const auto menus = screen.callsOf("NEUSTART");
    EXPECT_LT(n, menus.size());
    if (n >= menus.size()) return {};
    const auto& call = *menus[n];
    const ScreenDataBlock shown = call.block();
    const int count = static_cast<int>(encoding::getDigits(shown.entryCount()).value_or(0));
    std::vector<std::string> out;
    for (int i = 1; i <= count; ++i) out.push_back(encoding::getText(shown.row(i)));
    return out;
  }
  std::vector<std::string> trail();
  std::vector<std::string> boxes() {
    std::vector<std::string> out;
    for (const auto& c : screen.calls())
      if (c.procedure.rfind("BOX-", 0) == 0) out.push_back(c.procedure + ": " + c.message());
    return out;
  }

  std::unique_ptr<testing_support::TempDir> dir;  // the embedded store's files
  std::string conninfo;                            // the server store's schema
  std::unique_ptr<datafiles::FileStore> backing;
  std::unique_ptr<FaultStore> store;
  FakeScreenSet screen;
  FakeProgramLoader loader;
  FakeProcess process{"anna"};
  std::unique_ptr<Launcher> launcher;
  std::optional<int> ended;
  char userClass = 'N';
  bool blankUser = false;
  std::string menuValue = "20240101";
  std::vector<std::string> settingsCalls, programCalls;
};

// ---- start-up and shutdown ------------------------------------------------

TEST_P(LauncherTest, BlankUserAfterPX00TouchesNothing) {
  blankUser = true;
  process.setChangeResult(3);
  EXPECT_EQ(run(), 3);  // the directory change after PX00 was the last call
  EXPECT_TRUE(screen.calls().empty());
  EXPECT_TRUE(store->log().empty());
  EXPECT_TRUE(settingsCalls.empty());
}

TEST_P(LauncherTest, OrderlyRunSetsAndClearsTheSignOnFlag) {
  char flagWhileShown = '?';
  FakeScreenSet::Answer a;
  a.event = 0;
  a.action = [&](auto&, auto) { flagWhileShown = signOnFlag(); };
  screen.then(a).reply("BOX-FRAGE", 'J');
  run();
  EXPECT_FALSE(ended);
  EXPECT_EQ(flagWhileShown, 'J');
  EXPECT_EQ(signOnFlag(), 'N');
  const auto procs = screen.procedures();
  ASSERT_GE(procs.size(), 3u);
  EXPECT_EQ(screen.calls().front().setCommand, 'N');
  EXPECT_EQ(screen.calls().back().setCommand, 'Q');
  EXPECT_EQ(rowsShown(0), std::vector<std::string>{});
  const auto& menu = *screen.callsOf("NEUSTART")[0];
  const ScreenDataBlock shown = menu.block();
  EXPECT_EQ(encoding::getText(shown.title()), "A n w e n d u n g e n");
  EXPECT_EQ(encoding::view(shown.date()), "31.01.24");
  EXPECT_EQ(encoding::view(shown.moduleId()), "PX01 - 013 ");
  EXPECT_EQ(encoding::view(shown.caption(2)), " Info ");
  EXPECT_EQ(encoding::view(shown.caption(5)), "      ");  // "Druck." never shows
  EXPECT_EQ(loader.calls().front(), "UX10");
  EXPECT_EQ(loader.calls()[1], "PX00");
  EXPECT_EQ(process.directories().front(), "/data");
}

TEST_P(LauncherTest, StaleMenuStampRunsPX00PThenPX07) {
  addProgram("PX00P");
  addProgram("PX07");
  for (const char* stamp : {"033 - ", "034 - "}) {
    programCalls.clear();
    datafiles::MenuRecord header;
    header.setKey(0, 0);
    header.setVersionStamp(stamp);
    put(datafiles::kMenuFile, header.view());
    screen.reply("BOX-FRAGE", 'J');
    run();
    if (std::string(stamp) == "033 - ")
      EXPECT_EQ(programCalls, (std::vector<std::string>{"PX00P", "PX07"}));
    else
      EXPECT_TRUE(programCalls.empty());
  }
}

TEST_P(LauncherTest, MenuValueStoredOnlyUpTo3000) {
  struct Case {
    std::string value;
    bool stored;
  } cases[] = {{"20240101", true}, {"99999999", false}};
  for (const Case& c : cases) {
    settingsCalls.clear();
    menuValue = c.value;
    screen.reply("BOX-FRAGE", 'J');
    run();
    const bool saved = std::any_of(settingsCalls.begin(), settingsCalls.end(),
                                   [&](const std::string& s) { return s == "S" + c.value; });
    EXPECT_EQ(saved, c.stored) << c.value;
    EXPECT_EQ(settingsCalls.front(), "L" + std::string(8, ' '));
  }
}

TEST_P(LauncherTest, MissingMenuFileGivesFehlerAndEndsInOrder) {
  removeFile(datafiles::kMenuFile);
  addProgram("PX00P");
  addProgram("PX07");
  run();
  EXPECT_FALSE(ended);
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0], "BOX-FEHLER-OK: Fehler");
  const auto& box = *screen.callsOf("BOX-FEHLER-OK")[0];
  EXPECT_EQ(box.detail(), "FX01 OPEN35");
  EXPECT_TRUE(screen.callsOf("NEUSTART").empty());
  EXPECT_EQ(signOnFlag(), 'N');
  EXPECT_EQ(screen.calls().back().setCommand, 'Q');
}

TEST_P(LauncherTest, LockedOpenRetriesTheSameFileAndCancelEndsAtOnce) {
  store->fail("FX01.DAT", Op::kOpen, datafiles::kFileLocked, 2);
  screen.reply("BOX-FEHLER-RC", ' ').reply("BOX-FEHLER-RC", 'C');
  run();
  ASSERT_TRUE(ended);
  EXPECT_EQ(*ended, 0);  // the return code of the last call, the box's
  EXPECT_EQ(store->calls("FT00.DAT", Op::kOpen), 1);  // not started again from the first file
  EXPECT_EQ(store->calls("FX01.DAT", Op::kOpen), 2);
  const auto waits = screen.callsOf("BOX-FEHLER-RC");
  ASSERT_EQ(waits.size(), 2u);
  EXPECT_EQ(waits[0]->message(), "Datei zur Zeit gesperrt - bitte warten!");
  EXPECT_EQ(waits[0]->detail().substr(0, 9), "FX01 OPEN");
  EXPECT_EQ(signOnFlag(), 'J');                            // no orderly shutdown
  EXPECT_FALSE(store->calls("FT00.DAT", Op::kClose) == 0);  // open files closed on the way out
}

TEST_P(LauncherTest, LockedReadIsReportedAsOpenAndRetried) {
  store->fail("FX00.DAT", Op::kRead, datafiles::kRecordLocked, 1);
  screen.reply("BOX-FEHLER-RC", ' ').reply("BOX-FRAGE", 'J');
  run();
  EXPECT_EQ(screen.callsOf("BOX-FEHLER-RC")[0]->detail().substr(0, 9), "FX00 OPEN");
  EXPECT_EQ(signOnFlag(), 'N');
}

TEST_P(LauncherTest, ScreenSetErrorStopsAtOnce) {
  FakeScreenSet::Answer a;
  a.error = 17;
  screen.then(a);
  process.pushKey('x');
  run();
  ASSERT_TRUE(ended);
  EXPECT_EQ(process.console(),
            (std::vector<std::string>{"Fehlernr. : 0017", "Details 1 : 0001", "Details 2 : 0002"}));
  EXPECT_EQ(signOnFlag(), 'J');
  EXPECT_EQ(screen.calls().back().setCommand, 'N');  // no "Q": no orderly shutdown
}

// ---- access checks and the menu -------------------------------------------

TEST_P(LauncherTest, VisibilityByClassAndPermission) {
  addEntry(0, 5, "Verwaltung");
  addEntry(5, 1, "Mitglieder", "PA64");
  addEntry(5, 2, "Nur Master", "PA65", 'M');
  addEntry(5, 3, "Ausnahme", "PB81", 'M');
  addEntry(5, 4, "Untermenü");
  addEntry(5, 5, "Ohne Recht", "PA66");
  addEntry(6, 1, "Anderes Menü", "PA67");
  install(5);
  permit("PA64");
  struct Case {
    char cls;
    std::vector<std::string> rows;
  } cases[] = {
      {'M', {"Mitglieder", "Nur Master", "Ausnahme", "Untermenü", "Ohne Recht"}},
      {'H', {"Mitglieder", "Ausnahme", "Untermenü", "Ohne Recht"}},
      {'N', {"Mitglieder", "Untermenü"}},
  };
  for (const Case& c : cases) {
    userClass = c.cls;
    screen = FakeScreenSet();
    screen.select(1).event(0).reply("BOX-FRAGE", 'J');
    run();
    EXPECT_EQ(rowsShown(0), std::vector<std::string>{"Verwaltung"});
    EXPECT_EQ(rowsShown(1), c.rows) << c.cls;
  }
}

TEST_P(LauncherTest, HundredTwentyEntriesKeep99RowsWithTheLastInRow99) {
  userClass = 'M';
  addEntry(0, 1, "Viel");
  for (int i = 1; i <= 120; ++i) addEntry(1, i, "Eintrag " + std::to_string(i));
  screen.select(1).event(0).reply("BOX-FRAGE", 'J');
  run();
  const auto rows = rowsShown(1);
  ASSERT_EQ(rows.size(), 99u);
  EXPECT_EQ(rows[97], "Eintrag 98");
  EXPECT_EQ(rows[98], "Eintrag 120");
}

TEST_P(LauncherTest, Level20ReplacesTheMenuAndEscapeReturnsToLevel19) {
  userClass = 'M';
  // Menu k holds one entry that opens menu k+1.
  for (int k = 0; k <= 25; ++k) addEntry(k, k + 1, "Stufe " + std::to_string(k + 1));
  for (int i = 0; i < 21; ++i) screen.select(1);  // 19 steps to level 20, then two more
  screen.event(0);
  FakeScreenSet::Answer check;
  int levelAfter = 0, menuAfter = 0;
  std::string title;
  check.error = 1;  // ends the run here
  check.action = [&](auto&, auto d) {
    levelAfter = launcher->level();
    menuAfter = launcher->currentMenu();
    title =
        encoding::getText(d.subspan(ScreenDataBlock::kTitle.offset, ScreenDataBlock::kTitle.width));
  };
  screen.then(check);
  run();
  EXPECT_EQ(levelAfter, 19);
  // Level 19 showed menu 18; the menus 19 and 20 opened at level 20 are gone.
  EXPECT_EQ(menuAfter, 18);
  EXPECT_EQ(title, "Stufe 18");
}

TEST_P(LauncherTest, EscapeAtLevel1AsksAndOnlyJLeaves) {
  screen.event(0).reply("BOX-FRAGE", 'N').event(0).reply("BOX-FRAGE", 'J');
  run();
  EXPECT_EQ(screen.callsOf("NEUSTART").size(), 2u);
  EXPECT_EQ(boxes(), (std::vector<std::string>{"BOX-FRAGE: Wollen Sie das System verlassen?",
                                               "BOX-FRAGE: Wollen Sie das System verlassen?"}));
}

TEST_P(LauncherTest, ApplicationCheck) {
  addEntry(0, 17, "Aufgaben");
  addEntry(0, 19, "Neunzehn");
  addEntry(17, 1, "In 17");
  addEntry(19, 1, "In 19");
  struct Case {
    char cls;
    bool installed;
    int row;
    bool opens;
  } cases[] = {
      {'N', false, 1, false}, {'H', false, 1, false}, {'M', false, 1, true},
      {'N', true, 1, true},   {'N', false, 2, true},  // 19 needs no record
  };
  for (const Case& c : cases) {
    userClass = c.cls;
    remove(datafiles::kInstallationFile, datafiles::InstallationRecord::key('1', kClient, 17));
    if (c.installed) install(17);
    screen = FakeScreenSet();
    screen.select(c.row).event(0).event(0).reply("BOX-FRAGE", 'J');
    run();
    const auto b = boxes();
    const bool refused =
        std::find(b.begin(), b.end(), "BOX-WARNUNG: Anwendung nicht installiert!") != b.end();
    EXPECT_EQ(!refused, c.opens) << c.cls << c.installed << c.row;
    if (c.opens) {
      EXPECT_EQ(rowsShown(1).size(), 1u);
    }
  }
}

TEST_P(LauncherTest, NoPermissionRecordRefusesTheCall) {
  userClass = 'N';
  addEntry(0, 19, "Anw");
  addEntry(19, 1, "Erlaubt", "PA64");
  permit("PA64");
  addProgram("PA64");
  // Listed with the record; the record disappears before the choice.
  FakeScreenSet::Answer a;
  a.event = 48;
  a.row = 1;
  a.action = [&](auto&, auto) {
    testing_support::clearRecords(*backing, directory(), datafiles::kPermissionFile);
  };
  screen.select(1).then(a).event(0).event(0).reply("BOX-FRAGE", 'J');
  run();
  EXPECT_TRUE(programCalls.empty());
  ASSERT_EQ(screen.callsOf("BOX-WARNUNG").size(), 1u);
  EXPECT_EQ(screen.callsOf("BOX-WARNUNG")[0]->message(), "Sie sind nicht berechtigt!");
  EXPECT_EQ(screen.callsOf("BOX-WARNUNG")[0]->messageArea().status(), datafiles::kNotFound.raw());
}

// A file that fails in the menu (damaged, unreadable, its server gone) is
// never taken for an answer: no permission granted, no application opened,
// no list shown cut short, no "locked" for a control record that could not
// be read. "Fehler" with the file, the operation and the status, then the
// orderly end.
TEST_P(LauncherTest, FileFailuresInTheMenuShowFehlerAndEndInOrder) {
  const std::string damaged(datafiles::kIndexDamaged.raw().data(), 2);
  struct Case {
    const char* file;
    Op op;
    datafiles::FileStatus status;
    int atMenu;  // armed while the n-th menu (0-based) is shown
    std::string detail;
  } cases[] = {
      {"FX01.DAT", Op::kStart, datafiles::kIndexDamaged, 0, "FX01 STRT" + damaged},
      {"FX01.DAT", Op::kReadNext, datafiles::kPermanentError, 0, "FX01 NEXT30"},
      {"FX02.DAT", Op::kStart, datafiles::kPermanentError, 0, "FX02 STRT30"},
      {"FT00.DAT", Op::kRead, datafiles::kPermanentError, 0, "FT00 READ30"},  // application
      {"FX02.DAT", Op::kRead, datafiles::kPermanentError, 1, "FX02 READ30"},  // permission
      {"FT00.DAT", Op::kRead, datafiles::kIndexDamaged, 1, "FT00 READ" + damaged},  // control
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.detail);
    screen = FakeScreenSet();
    programCalls.clear();
    SetUp();
    userClass = 'N';
    addEntry(0, 5, "Verwaltung");
    addEntry(5, 1, "Mitglieder", "PA64");
    install(5);
    permit("PA64");
    addProgram("PA64");
    // The first menu chooses the application, the second the program; the
    // fault comes with the answer to the menu named, after its display read
    // the control record.
    for (int menu = 0; menu < 2; ++menu) {
      FakeScreenSet::Answer a;
      a.event = 48;
      a.row = 1;
      if (menu == c.atMenu) a.action = [&](auto&, auto) { store->fail(c.file, c.op, c.status); };
      screen.then(a);
    }
    screen.event(0).event(0).reply("BOX-FRAGE", 'J');
    run();
    EXPECT_FALSE(ended);
    EXPECT_TRUE(programCalls.empty());
    ASSERT_EQ(boxes(), std::vector<std::string>{"BOX-FEHLER-OK: Fehler"});
    EXPECT_EQ(screen.callsOf("BOX-FEHLER-OK")[0]->detail(), c.detail);
    EXPECT_EQ(screen.callsOf("NEUSTART").size(), static_cast<std::size_t>(c.atMenu + 1));
    EXPECT_EQ(signOnFlag(), 'N');  // the orderly end
    EXPECT_EQ(screen.calls().back().setCommand, 'Q');
  }
}

TEST_P(LauncherTest, NormalUserLockedOut) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
  } cases[] = {
      {"at display", [&] { setLock('J'); }},
      {"at the call",
       [&] {
         FakeScreenSet::Answer a;
         a.event = 48;
         a.row = 1;
         a.action = [&](auto&, auto) { setLock('J'); };
         screen.select(1).then(a);
       }},
      {"control record missing",
       [&] {
         FakeScreenSet::Answer a;
         a.event = 48;
         a.row = 1;
         a.action = [&](auto&, auto) {
           remove(datafiles::kInstallationFile, datafiles::InstallationRecord::key('0', 0, 0));
         };
         screen.select(1).then(a);
       }},
  };
  for (auto& c : cases) {
    screen = FakeScreenSet();
    programCalls.clear();
    SetUp();
    addEntry(0, 19, "Anw");
    addEntry(19, 1, "Prog", "PA64");
    permit("PA64");
    addProgram("PA64");
    c.arrange();
    run();
    EXPECT_FALSE(ended) << c.name;
    EXPECT_TRUE(programCalls.empty()) << c.name;
    EXPECT_EQ(
        boxes(),
        std::vector<std::string>{"BOX-INFO: Programmaufruf durch Administrator z.Z. gesperrt."})
        << c.name;
    EXPECT_EQ(signOnFlag(), 'N') << c.name;  // orderly shutdown
  }
}

TEST_P(LauncherTest, AdministratorSeesBannerAndToggleKeepsOtherBytes) {
  userClass = 'H';
  const std::string before = controlRecord();
  std::vector<std::string> banners;
  for (int i = 0; i < 3; ++i) {
    FakeScreenSet::Answer a;
    a.event = i < 2 ? 3 : 99;  // F3: action 3, "Sperre"
    a.action = [&](auto&, auto d) {
      banners.push_back(encoding::getText(
          d.subspan(ScreenDataBlock::kBanner.offset, ScreenDataBlock::kBanner.width)));
    };
    screen.then(a);
  }
  screen.event(0).reply("BOX-FRAGE", 'J');
  run();
  ASSERT_EQ(banners.size(), 3u);
  EXPECT_EQ(banners[0], "");
  EXPECT_EQ(banners[1], "  System für Normalbenutzer gesperrt!");
  EXPECT_EQ(banners[2], "");
  EXPECT_EQ(controlRecord(), before);  // twice toggled: as before, every byte
  EXPECT_EQ(testing_support::allRecords(*backing, directory(), datafiles::kInstallationFile).size(),
            1u);
}

TEST_P(LauncherTest, NormalUserCannotToggle) {
  screen.event(3).event(0).reply("BOX-FRAGE", 'J');
  run();
  datafiles::ControlRecord control;
  encoding::putRaw(control.bytes(), controlRecord());
  EXPECT_EQ(control.lockFlag(), 'N');
}

// ---- audit trail and session ------------------------------------------------

// Every event of the trail: "EVENT object result detail", blanks trimmed.
std::vector<std::string> LauncherTest::trail() {
  std::vector<std::string> out;
  for (const auto& [key, bytes] :
       testing_support::allRecords(*backing, directory(), datafiles::kAuditFile)) {
    datafiles::AuditRecord r;
    encoding::putRaw(r.bytes(), bytes);
    if (r.kind() != datafiles::AuditRecord::kEventKind) continue;
    EXPECT_EQ(encoding::trimmed(r.user()), "anna");
    EXPECT_EQ(encoding::view(r.client()), "001");
    EXPECT_EQ(encoding::trimmed(r.origin()), "PX01");
    std::string line(encoding::trimmed(r.event()));
    for (const std::string& part :
         {std::string(encoding::trimmed(r.object())), std::string(encoding::trimmed(r.result())),
          encoding::getText(r.detail())})
      if (!part.empty()) line += " " + part;
    out.push_back(line);
  }
  return out;
}

// A run with a call, a refusal, the lock toggled twice and the end leaves
// exactly these records, in this order; the session is live while the run
// lasts and gone after it.
TEST_P(LauncherTest, TheTrailOfARun) {
  userClass = 'H';
  addEntry(0, 17, "Aufgaben");
  addEntry(0, 19, "Anw");
  addEntry(19, 1, "Liste", "PA64");
  std::vector<datafiles::SessionInfo> during;
  addProgram("PA64", [&](CommonArea&) {
    ASSERT_TRUE(datafiles::listSessions(*backing, directory(), during, true).ok());
  });
  // Into 19 and PA64; back up; application 17 (not installed for H); F3
  // twice; Escape and yes.
  screen.select(2).select(1).event(0).select(1).event(3).event(3).event(0).reply("BOX-FRAGE", 'J');
  run();
  ASSERT_EQ(programCalls.size(), 1u);
  EXPECT_EQ(trail(), (std::vector<std::string>{
                         "CALL PA64 menu 19/1 Liste",
                         "RETURN PA64 41",
                         "NOTINST 17 23 Anwendung nicht installiert!",
                         "LOCK FT00 00 key Sperre",
                         "UNLOCK FT00 00 key Sperre",
                         "SIGNOFF OK",
                     }));
  ASSERT_EQ(during.size(), 1u);
  EXPECT_TRUE(during[0].live);
  EXPECT_EQ(during[0].user, "anna");
  EXPECT_EQ(during[0].client, kClient);
  std::vector<datafiles::SessionInfo> after;
  ASSERT_TRUE(datafiles::listSessions(*backing, directory(), after, true).ok());
  EXPECT_TRUE(after.empty());
}

TEST_P(LauncherTest, RefusalsFollowUpsAndTheErrorStopAreRecorded) {
  userClass = 'N';
  addEntry(0, 19, "Anw");
  addEntry(19, 1, "Verboten", "PA64");
  addEntry(19, 2, "Kette", "PA65");
  permit("PA65");
  addProgram("PA65", [](CommonArea& a) { encoding::putRaw(a.nextProgram1(), "PZZZ"); });
  FakeScreenSet::Answer fail;
  fail.error = 9101;
  // PA64 is hidden without a permission, so PA65 is row 1. Its permission
  // goes between the listing and the second choice.
  FakeScreenSet::Answer choose;
  choose.event = 48;
  choose.row = 1;
  choose.action = [&](auto&, auto) {
    testing_support::clearRecords(*backing, directory(), datafiles::kPermissionFile);
  };
  screen.select(1).select(1);  // PA65, whose follow-up cannot be loaded
  screen.then(choose);         // PA65 again, now without permission
  screen.then(fail);
  run();
  EXPECT_TRUE(ended);
  EXPECT_EQ(trail(), (std::vector<std::string>{
                         "CALL PA65 menu 19/2 Kette",
                         "RETURN PA65 41",
                         "CALL PZZZ after PA65",
                         "RETURN PZZZ NOLOAD Programm kann nicht geladen werden.",
                         "DENIED PA65 23 Sie sind nicht berechtigt!",
                         "SIGNOFF STOP error stop",
                     }));
}

TEST_P(LauncherTest, LockOutIsRecorded) {
  addEntry(0, 19, "Anw");
  setLock('J');
  run();
  EXPECT_EQ(trail(), (std::vector<std::string>{
                         "LOCKOUT Programmaufruf durch Administrator z.Z. gesperrt.",
                         "SIGNOFF OK",
                     }));
}

// The trail held by maintenance elsewhere: the run is the same as without
// it, and the records it could not write are counted for the next one.
TEST_P(LauncherTest, ATrailThatCannotBeWrittenChangesNothingForTheUser) {
  userClass = 'M';
  addEntry(0, 19, "Anw");
  addEntry(19, 1, "Liste", "PA64");
  addProgram("PA64");
  store->fail("FXAU.DAT", Op::kOpen, datafiles::kFileLocked, -1);
  const long before = datafiles::unreportedAuditFailures();
  screen.select(1).select(1).event(3).event(3).event(0).event(0).reply("BOX-FRAGE", 'J');
  run();
  EXPECT_FALSE(ended);
  EXPECT_EQ(programCalls.size(), 1u);
  EXPECT_TRUE(boxes() == std::vector<std::string>{"BOX-FRAGE: Wollen Sie das System verlassen?"});
  // The session and five records: CALL, RETURN, LOCK, UNLOCK, SIGNOFF.
  EXPECT_EQ(datafiles::unreportedAuditFailures(), before + 6);
  EXPECT_EQ(signOnFlag(), 'N');
}

// ---- dispatch -------------------------------------------------------------

TEST_P(LauncherTest, FollowUpChain) {
  userClass = 'M';
  addEntry(0, 19, "Anw");
  addEntry(19, 1, "Start", "PA01");
  struct Case {
    std::string next1, next2;
    std::vector<std::string> calls;
    bool boxShown;
  } cases[] = {
      {"PA02", "PA03", {"PA01", "PA02", "PA03"}, false},
      {"PA02", "", {"PA01", "PA02"}, false},
      {"", "PA03", {"PA01"}, true},  // next 2 only behind a (blank) next 1
  };
  for (const Case& c : cases) {
    programCalls.clear();
    screen = FakeScreenSet();
    loader.clearEvents();
    addProgram("PA01", [&](CommonArea& a) {
      encoding::putRaw(a.nextProgram1(), c.next1);
      encoding::putRaw(a.nextProgram2(), c.next2);
    });
    addProgram("PA02");
    addProgram("PA03");
    screen.select(1).select(1).event(0).event(0).reply("BOX-FRAGE", 'J');
    run();
    EXPECT_EQ(programCalls, c.calls);
    EXPECT_EQ(!screen.callsOf("BOX-FEHLER-OK").empty(), c.boxShown);
    // Each program with its own UX10 call, directory change and unloading.
    const auto calls = loader.calls();
    EXPECT_EQ(static_cast<std::size_t>(std::count(calls.begin(), calls.end(), "UX10")),
              1 + c.calls.size() + (c.boxShown ? 1 : 0));  // PX00's first
  }
}

TEST_P(LauncherTest, UnloadableProgramShowsBoxAndKeepsNextPrograms) {
  userClass = 'M';
  addEntry(0, 19, "Anw");
  addEntry(19, 1, "Fehlt", "PZZZ");
  screen.select(1).select(1).event(0).event(0).reply("BOX-FRAGE", 'J');
  const std::size_t dirsBefore = 1;  // PX00's
  run();
  ASSERT_EQ(screen.callsOf("BOX-FEHLER-OK").size(), 1u);
  const auto& box = *screen.callsOf("BOX-FEHLER-OK")[0];
  EXPECT_EQ(box.message(), "Programm kann nicht geladen werden. - ENTER");
  EXPECT_EQ(encoding::view(box.messageArea().fileCode()), "PZZZ ");
  EXPECT_EQ(process.directories().size(), dirsBefore);
  EXPECT_TRUE(screen.callsOf("SETZEN-DESKTOP-WINDOW").empty());
}

TEST_P(LauncherTest, DispatchHandsOverTheScreenStateAndUnloads) {
  userClass = 'M';
  addEntry(0, 19, "Anw");
  addEntry(19, 1, "Liste", "PM44");
  addProgram("PM44", [](CommonArea& a) {
    a.savedControlBlock()[200] = 'Z';  // becomes the launcher's block
    a.carriedValues()[0] = 'c';
    encoding::putRaw(a.userName(), "");  // does not end the launcher
  });
  screen.select(1).select(1).event(0).event(0).reply("BOX-FRAGE", 'J');
  run();
  const auto desk = screen.callsOf("SETZEN-DESKTOP-WINDOW");
  ASSERT_EQ(desk.size(), 1u);
  EXPECT_EQ(desk[0]->control.view()[200], 'Z');
  EXPECT_EQ(desk[0]->block().carriedValues()[0], 'c');
  // The unload list runs after the program, in order, after the program itself.
  const auto& ev = loader.events();
  const auto at = std::find(ev.begin(), ev.end(), "unload PM44");
  ASSERT_NE(at, ev.end());
  EXPECT_EQ(*(at + 1), "unload U001");
  EXPECT_EQ(*(at + 23), "unload UTAB");
  // The status line of the program just called: UM21's count.
  const auto menus = screen.callsOf("NEUSTART");
  EXPECT_EQ(encoding::view(menus[2]->block().statusLine()),
            "5 Positionen       " + std::string(" "));
  // The user blanked by the program is still signed off at the end.
  EXPECT_EQ(signOnFlag(), 'N');
}

}  // namespace
}  // namespace launcher

namespace launcher {
namespace {

TEST_P(LauncherTest, HelpGetsTheLiveScreenStateAndTheRowInformation) {
  addEntry(0, 17, "Aufgabenverwaltung");
  std::string savedSetName, helpMode, helpTopic, helpText;
  loader.add("U000", [&](void* a, void*) {
    auto& area = *static_cast<CommonArea*>(a);
    pxabi::ScreenControlBlock saved;
    encoding::putRaw(saved.bytes(), encoding::view(area.savedControlBlock()));
    savedSetName = std::string(saved.setName());
    helpMode += area.helpMode();
    helpTopic = std::string(encoding::view(area.helpTopic()));
    if (helpText.empty()) helpText = encoding::getText(area.helpText());
    return 0;
  });
  FakeScreenSet::Answer info;  // F2 on row 1: information on that row
  info.event = 2;
  info.row = 1;
  screen.then(info);
  screen.event(10);  // F10: help on the launcher
  screen.event(0).reply("BOX-FRAGE", 'J');
  run();
  EXPECT_EQ(savedSetName, "MPX01");  // a started screen set, not the copy from PX00's call
  EXPECT_EQ(helpMode, "I1");
  EXPECT_EQ(helpTopic, "PX01");  // the last call: F10
  EXPECT_EQ(helpText, "Aufgabenverwaltung");
  EXPECT_FALSE(loader.isLoaded("U000"));  // cancelled after each call
}

}  // namespace
}  // namespace launcher

namespace launcher {
namespace {

// The error stop ends the run where it happens: nothing more is shown,
// called or opened, and the orderly shutdown does not run.
TEST_P(LauncherTest, ErrorStopInTheMenuEndsTheRunThere) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::string lastProcedure;
    std::vector<std::string> programs;
  } cases[] = {
      {"lock wait cancelled at the permission read",
       [&] {
         FakeScreenSet::Answer a;
         a.event = pxabi::ScreenDataBlock::kEventEnter;
         a.row = 1;
         a.action = [&](auto&, auto) {
           store->fail("FX02.DAT", Op::kRead, datafiles::kRecordLocked, 1);
         };
         screen.select(1).then(a).reply("BOX-FEHLER-RC", 'C');
       },
       "BOX-FEHLER-RC",
       {}},
      {"screen set fails after the program",
       [&] {
         FakeScreenSet::Answer a;
         a.procedure = "SETZEN-DESKTOP-WINDOW";
         a.error = 5;
         screen.select(1).select(1).then(a);
       },
       "SETZEN-DESKTOP-WINDOW",
       {"PA64"}},  // not its follow-up PA65
  };
  for (auto& c : cases) {
    screen = FakeScreenSet();
    programCalls.clear();
    SetUp();
    addEntry(0, 19, "Anw");
    addEntry(19, 1, "Prog", "PA64");
    permit("PA64");
    addProgram("PA64", [](CommonArea& a) { encoding::putRaw(a.nextProgram1(), "PA65"); });
    addProgram("PA65");
    c.arrange();
    run();
    ASSERT_TRUE(ended) << c.name;
    EXPECT_FALSE(screen.answersLeft()) << c.name;
    EXPECT_EQ(screen.calls().back().procedure, c.lastProcedure) << c.name;
    EXPECT_EQ(screen.callsOf("NEUSTART").size(), 2u) << c.name;
    EXPECT_EQ(programCalls, c.programs) << c.name;
    EXPECT_EQ(signOnFlag(), 'J') << c.name;  // no orderly shutdown
    for (const char* file : {"FT00.DAT", "FX01.DAT", "FX02.DAT"})
      EXPECT_EQ(store->calls(file, Op::kOpen), store->calls(file, Op::kClose))
          << c.name << " " << file;
  }
}

}  // namespace
}  // namespace launcher

namespace launcher {
namespace {

// ---- ended from outside -----------------------------------------------------

TEST(ExitStatus, KeepsOneTo125AndMapsEveryOtherFailureToOneValue) {
  const struct {
    std::int32_t code;
    int status;
  } cases[] = {{0, 0},         {1, 1},         {9, 9},         {125, 125},
               {126, 125},     {127, 125},     {141, 125},     {255, 125},
               {256, 125},     {512, 125},     {9101, 125},    {9216, 125},
               {-1, 125},      {INT_MIN, 125}, {INT_MAX, 125}, {0x10000, 125}};
  for (const auto& c : cases) EXPECT_EQ(exitStatus(c.code), c.status) << c.code;
  EXPECT_EQ(kOtherFailure, 125);
}

// An end signal is only noted; the launcher sees it at its next safe point
// and runs the orderly shutdown from there: nothing more shown or called,
// every file closed, the settings stored, the sign-on mark taken off, the
// screen set ended.
TEST_P(LauncherTest, EndSignalGoesToTheOrderlyShutdownAtTheNextSafePoint) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::vector<std::string> programs;
  } cases[] = {
      {"while the menu waits for a key",
       [&] {
         FakeScreenSet::Answer a;
         a.event = pxabi::ScreenDataBlock::kEventEnter;  // the set's answer does not count
         a.row = 1;
         a.action = [&](auto&, auto) { process.signal(SIGTERM); };
         screen.select(1).then(a);
       },
       {}},
      {"while a program runs",
       [&] {
         addProgram("PA64", [&](CommonArea& a) {
           process.signal(SIGHUP);
           encoding::putRaw(a.nextProgram1(), "PA65");
         });
         screen.select(1).select(1);
       },
       {"PA64"}},  // not its follow-up PA65
      {"while the lock box asks, the box cancelled by the signal",
       [&] {
         FakeScreenSet::Answer a;
         a.event = pxabi::ScreenDataBlock::kEventEnter;
         a.row = 1;
         a.action = [&](auto&, auto) {
           store->fail("FX02.DAT", Op::kRead, datafiles::kRecordLocked, 1);
         };
         FakeScreenSet::Answer box;
         box.procedure = "BOX-FEHLER-RC";
         box.reply = 'C';
         box.action = [&](auto&, auto) { process.signal(SIGINT); };
         screen.select(1).then(a).then(box);
       },
       {}},
  };
  for (auto& c : cases) {
    screen = FakeScreenSet();
    process = FakeProcess("anna");
    programCalls.clear();
    settingsCalls.clear();
    SetUp();
    addEntry(0, 19, "Anw");
    addEntry(19, 1, "Prog", "PA64");
    permit("PA64");
    addProgram("PA64", [](CommonArea& a) { encoding::putRaw(a.nextProgram1(), "PA65"); });
    addProgram("PA65");
    c.arrange();
    run();
    EXPECT_FALSE(ended) << c.name;  // not the error stop
    EXPECT_FALSE(screen.answersLeft()) << c.name;
    EXPECT_EQ(screen.callsOf("NEUSTART").size(), 2u) << c.name;
    EXPECT_TRUE(screen.callsOf("SETZEN-DESKTOP-WINDOW").empty()) << c.name;
    EXPECT_TRUE(screen.callsOf("BOX-FRAGE").empty()) << c.name;
    EXPECT_EQ(screen.calls().back().setCommand, 'Q') << c.name;
    EXPECT_EQ(programCalls, c.programs) << c.name;
    EXPECT_EQ(signOnFlag(), 'N') << c.name;
    EXPECT_EQ(settingsCalls.back(), "S20240101") << c.name;
    EXPECT_EQ(store->calls("FX01.DAT", Op::kOpen), 1) << c.name;  // never opened again
    for (const char* file : {"FT00.DAT", "FX00.DAT", "FX01.DAT", "FX02.DAT"})
      EXPECT_EQ(store->calls(file, Op::kOpen), store->calls(file, Op::kClose))
          << c.name << " " << file;
  }
}

TEST_P(LauncherTest, EndSignalBeforeTheScreenSetShowsNothing) {
  loader.add("U009", [this](void*, void*) {
    process.signal(SIGTERM);
    settingsCalls.push_back("called");
    return 0;
  });
  run();
  EXPECT_FALSE(ended);
  ASSERT_EQ(screen.calls().size(), 1u);  // only the end of the set
  EXPECT_EQ(screen.calls().back().setCommand, 'Q');
  EXPECT_EQ(signOnFlag(), 'N');
  EXPECT_EQ(store->calls("FX01.DAT", Op::kOpen), 0);

  process = FakeProcess("anna");
  process.signal(SIGTERM);  // before the sign-on: not even PX00 runs
  screen = FakeScreenSet();
  loader.clearEvents();
  run();
  EXPECT_TRUE(loader.calls().empty());
  EXPECT_TRUE(screen.calls().empty());
}

// A lock met on the way out is waited for briefly and never asked about:
// nobody may be there to answer, and a cancel would skip the shutdown.
TEST_P(LauncherTest, LockOnTheWayOutIsWaitedForBrieflyNotAsked) {
  for (const int times : {3, -1}) {
    if (times < 0 && GetParam() != Backing::kMemory) continue;  // one 2-second wait is enough
    screen = FakeScreenSet();
    process = FakeProcess("anna");
    SetUp();
    FakeScreenSet::Answer a;
    a.event = 0;
    a.action = [&, times](auto&, auto) {
      process.signal(SIGTERM);
      store->fail("FX00.DAT", Op::kOpen, datafiles::kFileLocked, times);
    };
    screen.then(a);
    run();
    EXPECT_FALSE(ended) << times;
    EXPECT_TRUE(screen.callsOf("BOX-FEHLER-RC").empty()) << times;
    EXPECT_EQ(screen.calls().back().setCommand, 'Q') << times;
    // A lock that clears is waited for; one that stays leaves the mark on.
    EXPECT_EQ(signOnFlag(), times < 0 ? 'J' : 'N') << times;
  }
}

}  // namespace
}  // namespace launcher

namespace launcher {
namespace {

INSTANTIATE_TEST_SUITE_P(Stores, LauncherTest,
                         ::testing::Values(Backing::kMemory, Backing::kEmbedded,
                                           Backing::kServer),
                         [](const ::testing::TestParamInfo<Backing>& info) {
                           return info.param == Backing::kMemory     ? "Memory"
                                  : info.param == Backing::kEmbedded ? "Embedded"
                                                                     : "Server";
                         });

}  // namespace
}  // namespace launcher
