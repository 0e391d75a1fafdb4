// PX03 against the in-memory store and a fake screen set: who may use it,
// that grants, revokes and edits change exactly what they should, the
// catalogue's marks, the "why" pages; and on the embedded store, the record
// lock that a second administrator meets.
#include "programs/menu_maintenance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "abi/utility_blocks.h"
#include "datafiles/menu_access.h"
#include "datafiles/audit_records.h"
#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"
#include "encoding/cp850.h"
#include "programs/module.h"
#include "testing/fake_program_loader.h"
#include "testing/fake_screen_set.h"
#include "testing/memory_store.h"
#include "testing/temp_dir.h"

namespace {

using datafiles::MenuRecord;
using datafiles::PermissionRecord;
using testing_support::FakeProgramLoader;
using testing_support::FakeScreenSet;
using Answer = FakeScreenSet::Answer;
using Records = std::map<std::string, std::string>;

std::string cp850(std::string_view utf8) { return encoding::cp850::fromUtf8(utf8); }

// Our test encoding of user names: the 10 bytes reversed.
std::string encoded(std::string name) {
  name.resize(10, ' ');
  std::reverse(name.begin(), name.end());
  return name;
}

// LISTE: the event on the row that contains `text` (UTF-8).
Answer on(std::string_view text, std::uint16_t event) {
  Answer a;
  a.procedure = "LISTE";
  a.event = event;
  a.find = cp850(text);
  return a;
}
Answer key(std::uint16_t event) {
  Answer a;
  a.procedure = "LISTE";
  a.event = event;
  return a;
}
Answer form(std::map<int, std::string> utf8Fields, std::optional<char> reply = {}) {
  Answer a;
  a.procedure = "MASKE";
  for (auto& [n, v] : utf8Fields) a.fields[n] = cp850(v);
  a.reply = reply;
  return a;
}
Answer box(std::string procedure, char reply) {
  Answer a;
  a.procedure = std::move(procedure);
  a.reply = reply;
  return a;
}

constexpr std::uint16_t kEnter = 48, kEsc = 0;

// Writes the installation every test starts from into `store` (any store):
// three users, a small menu tree with the administration menu, application
// 17 installed, one permission of NORBERT.
void arrange(datafiles::FileStore& store) {
  for (const auto* spec : {&datafiles::kUserFile, &datafiles::kMenuFile,
                           &datafiles::kPermissionFile, &datafiles::kInstallationFile})
    ASSERT_TRUE(store.create(*spec).ok());
  auto put = [&](const datafiles::FileSpec& spec, std::string_view record) {
    auto f = store.file(spec);
    ASSERT_TRUE(f->open(datafiles::OpenMode::kInputOutput).ok());
    ASSERT_TRUE(f->write({record.data(), record.size()}).ok());
    (void)f->close();
  };
  for (auto [name, cls] : {std::pair{"ADMIN", 'M'}, {"HELGA", 'H'}, {"NORBERT", 'N'}}) {
    datafiles::UserRecord u;
    u.setClient(0);
    u.setEncodedName(encoded(name));
    u.setUserClass(cls);
    put(datafiles::kUserFile, u.view());
  }
  auto entry = [&](int menu, int number, std::string_view text, std::string_view program,
                   char access) {
    MenuRecord r;
    r.setKey(menu, number);
    r.setVersionStamp("034 - ");
    r.setText(text);
    r.setProgram(program);
    r.setAccessClass(access);
    put(datafiles::kMenuFile, r.view());
  };
  MenuRecord header;
  header.setKey(0, 0);
  header.setVersionStamp("034 - ");
  put(datafiles::kMenuFile, header.view());
  entry(0, 17, "Aufgabenverwaltung", "    ", 'N');
  entry(0, 30, "Finanzbuchhaltung", "    ", 'N');
  entry(0, 99, "Systemverwaltung", "    ", 'M');
  entry(17, 10, "Aufgabenliste", "PA64", 'N');
  entry(17, 20, "Dauerauftrag", "PA62", 'N');
  entry(17, 40, "Auswertungen", "    ", 'N');
  entry(99, 10, "Pflege der Menüdatei", "PX03", 'M');
  entry(99, 90, "Logdatei anzeigen", "PX13", 'H');
  for (int app : {17, 99}) {
    datafiles::ApplicationRecord a;
    a.setKey(datafiles::InstallationRecord::kApplicationType, 0, app);
    put(datafiles::kInstallationFile, a.view());
  }
  datafiles::ControlRecord control;
  control.setLockFlag('N');
  put(datafiles::kInstallationFile, control.view());
  PermissionRecord p;
  p.setKey(0, "NORBERT", "PA64");
  p.setFlag('J');
  put(datafiles::kPermissionFile, p.view());
}

class MenuMaintenance : public ::testing::Test {
 protected:
  void SetUp() override {
    arrange(store);
    loader.add("U001", [](void* block, void*) {
      char* b = static_cast<char*>(block);
      if (b[0] == 'E') std::reverse(b + 1, b + 11);
      return 0;
    });
    loader.add("UX07", [](void*, void* block) {
      pxabi::CatalogueKeysBlock keys;
      keys.clear();
      keys.add({99, 10, 'R'});
      keys.add({17, 20, 'N'});
      keys.add({17, 40, 'D'});
      std::copy_n(keys.data(), keys.kSize, static_cast<char*>(block));
      return 0;
    });
    area.setUserClass('M');
    encoding::putRaw(area.userName(), "ADMIN");
    area.setClient(0);
    encoding::putRaw(area.workingDate(), "261207");
  }

  std::int32_t run() { return programs::maintainMenus(area, screen, store, loader); }
  Records& menus() { return store.contents(datafiles::kMenuFile.name).records; }
  Records& permissions() { return store.contents(datafiles::kPermissionFile.name).records; }
  std::string menuRecord(int menu, int entry) {
    return menus()[std::string(MenuRecord::key(menu, entry).data(), 6)];
  }
  // The messages the lists and boxes showed, in order (UTF-8).
  std::vector<std::string> notes() const {
    std::vector<std::string> out;
    for (const auto& c : screen.calls())
      if (!c.message().empty()) out.push_back(encoding::cp850::toUtf8(c.message()));
    return out;
  }
  bool noted(std::string_view text) const {
    const auto n = notes();
    return std::any_of(n.begin(), n.end(),
                       [&](const std::string& s) { return s.find(text) != std::string::npos; });
  }
  // The lines of the last "TEXT-ANZEIGEN" (UTF-8).
  std::vector<std::string> lastPage() const {
    const auto pages = screen.callsOf("TEXT-ANZEIGEN");
    std::vector<std::string> out;
    if (pages.empty()) return out;
    const pxabi::ScreenDataBlock b = pages.back()->block();
    const auto used = encoding::getDigits(b.pageUsed()).value_or(0);
    for (long long i = 1; i <= used; ++i) {
      const auto line = std::span<const char>(b.pageLines().data() + (i - 1) * 78, 78);
      out.push_back(encoding::getText(line));
    }
    return out;
  }
  // The changes in the audit trail: "EVENT subject object".
  std::vector<std::string> trail() {
    std::vector<std::string> out;
    if (!store.exists(datafiles::kAuditFile.name)) return out;
    for (const auto& [key, bytes] : store.contents(datafiles::kAuditFile.name).records) {
      datafiles::AuditRecord r;
      encoding::putRaw(r.bytes(), bytes);
      EXPECT_EQ(encoding::trimmed(r.user()), "ADMIN");
      EXPECT_EQ(encoding::trimmed(r.origin()), "PX03");
      std::string line(encoding::trimmed(r.event()));
      if (!encoding::isBlank(r.subject())) line += " " + std::string(encoding::trimmed(r.subject()));
      out.push_back(line + " " + std::string(encoding::trimmed(r.object())));
    }
    return out;
  }
  void TearDown() override {
    EXPECT_TRUE(screen.misses().empty()) << screen.misses().front();
    EXPECT_FALSE(screen.answersLeft());
  }

  testing_support::MemoryStore store;
  FakeProgramLoader loader;
  FakeScreenSet screen;
  pxabi::CommonArea area;
};

TEST_F(MenuMaintenance, RefusesEveryoneButClassM) {
  const Records before = menus(), beforePermissions = permissions();
  for (char cls : {'H', 'N', ' '}) {
    FakeScreenSet refused;
    area.setUserClass(cls);
    EXPECT_EQ(programs::maintainMenus(area, refused, store, loader), programs::kRefused) << cls;
    ASSERT_EQ(refused.procedures(), std::vector<std::string>{"BOX-WARNUNG"}) << cls;
    EXPECT_EQ(refused.calls()[0].message(), "Sie sind nicht berechtigt!");
  }
  EXPECT_EQ(menus(), before);
  EXPECT_EQ(permissions(), beforePermissions);
  EXPECT_TRUE(loader.calls().empty());
}

TEST_F(MenuMaintenance, GrantAndRevokeChangeExactlyOnePermissionRecord) {
  const Records before = permissions();
  // For a user: her menus, the entry she does not see, one key.
  screen.then(key(6))
      .then(on("NORBERT", kEnter))
      .then(on("Aufgabenverwaltung", kEnter))
      .then(on("[PA62]", 5));
  EXPECT_EQ(run(), programs::kDone);
  Records after = permissions();
  ASSERT_EQ(after.size(), before.size() + 1);
  PermissionRecord granted;
  const std::string k(PermissionRecord::key(0, "NORBERT", "PA62").data(), 17);
  ASSERT_TRUE(after.count(k));
  std::copy_n(after[k].data(), granted.kSize, granted.data());
  EXPECT_EQ(granted.grantDate(), "261207");
  EXPECT_EQ(granted.level(), '1');
  EXPECT_EQ(granted.flag(), 'J');
  EXPECT_TRUE(encoding::isBlank(granted.textField()));
  after.erase(k);
  EXPECT_EQ(after, before);
  EXPECT_TRUE(noted("NORBERT darf PA62 aufrufen."));
  // Her menu shows the change at once.
  const auto lists = screen.callsOf("LISTE");
  const auto rows = lists[4]->listRows();
  EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [](const std::string& r) {
    return r.find("[PA62]") != std::string::npos && r.find("--") == std::string::npos;
  }));

  // For an entry: the users of the client, one key again.
  screen = FakeScreenSet();
  screen.then(on("Aufgabenverwaltung", kEnter)).then(on("Dauerauftrag", 5)).then(on("NORBERT", kEnter));
  EXPECT_EQ(run(), programs::kDone);
  EXPECT_EQ(permissions(), before);
  EXPECT_TRUE(noted("NORBERT darf PA62 nicht mehr aufrufen."));
  EXPECT_EQ(trail(), (std::vector<std::string>{"GRANT NORBERT PA62", "REVOKE NORBERT PA62"}));
}

TEST_F(MenuMaintenance, AdministratorsNeedNoPermissionAndGetNone) {
  const Records before = permissions();
  screen.then(on("Aufgabenverwaltung", kEnter)).then(on("Dauerauftrag", 5)).then(on("HELGA", 5));
  EXPECT_EQ(run(), programs::kDone);
  EXPECT_EQ(permissions(), before);
  EXPECT_TRUE(noted("Benutzerklasse H braucht keine Berechtigung."));
}

// A list holds 400 rows: more users are narrowed down by name, more entries
// are said to be cut.
TEST_F(MenuMaintenance, WhatDoesNotFitAListIsNarrowedOrSaid) {
  for (int i = 0; i < 450; ++i) {
    datafiles::UserRecord u;
    u.setClient(0);
    char name[8];
    std::snprintf(name, sizeof name, "U%03d", i);
    u.setEncodedName(encoded(name));
    u.setUserClass('N');
    store.put(datafiles::kUserFile.name, u.view());
    MenuRecord r;
    r.setKey(17, 100 + i);
    r.setText(name);
    r.setProgram("PA60");
    r.setAccessClass('N');
    store.put(datafiles::kMenuFile.name, r.view());
  }
  Answer narrow;
  narrow.procedure = "EINGABE";
  narrow.reply = 'J';
  narrow.action = [](pxabi::ScreenControlBlock&, std::span<char, pxabi::kScreenDataSize> d) {
    encoding::putRaw(d.subspan(pxabi::ScreenDataBlock::kInputText.offset, 78), "u1");
  };
  screen.then(key(6)).then(narrow).then(key(kEsc)).then(on("Aufgabenverwaltung", kEnter));
  EXPECT_EQ(run(), programs::kDone);
  const auto inputs = screen.callsOf("EINGABE");
  ASSERT_EQ(inputs.size(), 1u);
  EXPECT_EQ(inputs[0]->message(), "453 Benutzer. Anfang des Namens:");
  const auto lists = screen.callsOf("LISTE");
  ASSERT_GE(lists.size(), 3u);
  EXPECT_EQ(lists[1]->listRows().size(), 100u);  // U100 ... U199
  EXPECT_EQ(lists[1]->listRows().front().substr(0, 4), "U100");
  EXPECT_EQ(lists[3]->listRows().size(), 400u);
  EXPECT_EQ(lists[3]->message(), "Nur die ersten 400 von 453 Zeilen.");
}

TEST_F(MenuMaintenance, AnEditedEntryKeepsEveryByteItDoesNotChange) {
  MenuRecord r;
  std::copy_n(menuRecord(17, 20).data(), r.kSize, r.data());
  r.setVersionStamp(std::string("\x01\x02\xFF\x00\x7F\x0C", 6));
  r.setEntryFlag('X');
  menus()[std::string(MenuRecord::key(17, 20).data(), 6)] = std::string(r.view());

  screen.then(on("Aufgabenverwaltung", kEnter))
      .then(on("Dauerauftrag", 2))
      .then(form({{1, "Daueraufträge"}, {3, "q"}}))  // a class that does not exist
      .then(form({{3, "h"}}));
  EXPECT_EQ(run(), programs::kDone);
  const auto forms = screen.callsOf("MASKE");
  ASSERT_EQ(forms.size(), 2u);
  // The first form shows the entry as read and what the catalogue will do.
  const pxabi::ScreenDataBlock shown = forms[0]->block();
  EXPECT_EQ(encoding::trimmed(shown.formValue(1)), "Dauerauftrag");
  EXPECT_EQ(encoding::trimmed(shown.formValue(2)), "PA62");
  EXPECT_EQ(encoding::trimmed(shown.formValue(4)), "X");
  EXPECT_EQ(encoding::cp850::toUtf8(forms[0]->message()),
            "Der Menükatalog legt den Eintrag wieder an, wenn er fehlt.");
  EXPECT_EQ(forms[1]->message(), "Zugriffsklasse: M, H oder N.");
  EXPECT_EQ(encoding::getDigits(forms[1]->block().formFocus()), 3);

  const std::string after = menuRecord(17, 20);
  MenuRecord want = r;
  want.setText("Daueraufträge");
  want.setAccessClass('H');
  EXPECT_EQ(after, std::string(want.view()));
  EXPECT_TRUE(noted("Eintrag 17/20 gespeichert."));

  // Saved unchanged: nothing is written.
  screen = FakeScreenSet();
  screen.then(on("Aufgabenverwaltung", kEnter)).then(on("Daueraufträge", kEnter)).then(form({}, 'J'));
  EXPECT_EQ(run(), programs::kDone);
  EXPECT_EQ(menuRecord(17, 20), after);
  EXPECT_TRUE(noted("Nichts geändert."));
}

TEST_F(MenuMaintenance, EntriesAndSubmenusAreAddedAndDeleted) {
  screen.then(on("Aufgabenverwaltung", kEnter))
      .then(key(3))
      .then(form({{1, "30"}, {2, "Neue Liste"}, {3, "pa65"}, {4, "n"}}))
      .then(key(3))
      .then(form({{1, "10"}, {2, "Doppelt"}}))  // taken
      .then(form({{1, "50"}, {2, "Untermenü"}, {3, ""}}))
      .then(on("Neue Liste", 4))
      .then(box("BOX-FRAGE", 'J'))
      .then(on("Auswertungen", 4))
      .then(box("BOX-FRAGE", 'N'))
      .then(key(kEsc))
      .then(on("Aufgabenverwaltung", 4));  // still has entries: refused
  EXPECT_EQ(run(), programs::kDone);
  EXPECT_EQ(menus().count(std::string(MenuRecord::key(17, 30).data(), 6)), 0u);  // added, deleted
  MenuRecord sub;
  std::copy_n(menuRecord(17, 50).data(), sub.kSize, sub.data());
  EXPECT_TRUE(sub.opensSubmenu());
  EXPECT_EQ(sub.text(), "Untermenü");
  EXPECT_EQ(sub.accessClass(), 'N');
  EXPECT_TRUE(menus().count(std::string(MenuRecord::key(17, 40).data(), 6)));
  EXPECT_TRUE(menus().count(std::string(MenuRecord::key(0, 17).data(), 6)));
  EXPECT_TRUE(noted("Eintrag 17/30 angelegt."));
  EXPECT_TRUE(noted("Eintrag 10 gibt es in diesem Menü schon."));
  EXPECT_TRUE(noted("Eintrag 17/30 gelöscht."));
  EXPECT_TRUE(noted("Menü 17 enthält noch 4 Einträge: erst diese löschen."));
  EXPECT_EQ(trail(), (std::vector<std::string>{"MENUADD 17/30", "MENUADD 17/50", "MENUDEL 17/30"}));
  // The new entry came with the program as a program name is written.
  const auto lists = screen.callsOf("LISTE");
  const auto rows = lists[2]->listRows();
  EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [](const std::string& r) {
    return r.find("Neue Liste") != std::string::npos && r.find("PA65  N") != std::string::npos;
  }));
}

TEST_F(MenuMaintenance, MarksWhatTheCatalogueWillOverwrite) {
  screen.then(on("Systemverwaltung", kEnter));
  EXPECT_EQ(run(), programs::kDone);
  auto lists = screen.callsOf("LISTE");
  ASSERT_EQ(lists.size(), 3u);
  EXPECT_EQ(encoding::cp850::toUtf8(lists[0]->message()),
            "Katalog beim nächsten Lauf: * überschreibt, + legt neu an, - entfernt");
  auto rows = lists[1]->listRows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].substr(54), "M   " " " "   *");   // 99/10: rewritten
  EXPECT_EQ(rows[1].substr(54), "H");                // 99/90: the catalogue leaves it

  // Without UX07 nothing is marked, and the list says so.
  FakeProgramLoader bare;
  bare.add("U001", [](void*, void*) { return 0; });
  screen = FakeScreenSet();
  screen.then(on("Systemverwaltung", kEnter));
  EXPECT_EQ(programs::maintainMenus(area, screen, store, bare), programs::kDone);
  lists = screen.callsOf("LISTE");
  EXPECT_NE(lists[0]->message().find("UX07"), std::string::npos);
  EXPECT_EQ(lists[1]->listRows()[0].substr(54), "M   " " " "   ?");
}

TEST_F(MenuMaintenance, WhyPagesGiveTheSharedReasons) {
  screen.then(key(6))
      .then(on("NORBERT", kEnter))
      .then(on("Finanzbuchhaltung", kEnter))  // she cannot open it: why
      .then(on("Aufgabenverwaltung", kEnter))
      .then(on("[PA62]", 7))
      .then(key(kEsc))
      .then(key(kEsc))
      .then(on("HELGA", kEnter))
      .then(on("Systemverwaltung", 7))
      .then(key(kEsc))
      .then(key(kEsc))
      .then(on("Systemverwaltung", kEnter))
      .then(on("Logdatei", 7));
  Answer who;
  who.procedure = "EINGABE";
  who.reply = 'J';
  who.action = [](pxabi::ScreenControlBlock&, std::span<char, pxabi::kScreenDataSize> d) {
    encoding::putRaw(d.subspan(pxabi::ScreenDataBlock::kInputText.offset, 78), "norbert");
  };
  screen.then(who);
  EXPECT_EQ(run(), programs::kDone);
  const auto pages = screen.callsOf("TEXT-ANZEIGEN");
  ASSERT_EQ(pages.size(), 4u);
  auto pageOf = [&](std::size_t i) {
    std::vector<std::string> out;
    const pxabi::ScreenDataBlock b = pages[i]->block();
    for (long long l = 1; l <= encoding::getDigits(b.pageUsed()).value_or(0); ++l)
      out.push_back(encoding::getText(std::span<const char>(b.pageLines().data() + (l - 1) * 78, 78)));
    return out;
  };
  auto has = [](const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  MenuRecord pa62;
  pa62.setProgram("PA62");
  EXPECT_TRUE(has(pageOf(0), "  Anwendung nicht installiert!"));
  EXPECT_TRUE(has(pageOf(1), "  " + datafiles::explain(datafiles::Refusal::kNoPermission, pa62)));
  EXPECT_TRUE(has(pageOf(1), "  kein Berechtigungssatz für Programm PA62"));
  EXPECT_TRUE(has(pageOf(2), "  Zugriffsklasse M: nur für Benutzerklasse M"));
  const auto last = pageOf(3);
  EXPECT_TRUE(has(last, "Der Eintrag steht in Menü 99, das NORBERT nicht erreicht:")) << last[5];
  EXPECT_TRUE(has(last, "  Eintrag 0/99 Systemverwaltung: Zugriffsklasse M: nur für Benutzerklasse M"));
}

// ---- the record lock, on the embedded store -------------------------------------

class MenuMaintenanceLocks : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = std::filesystem::current_path();
    std::filesystem::current_path(temp.path());
    arrange(store);
    loader.add("U001", [](void*, void*) { return 0; });
    area.setUserClass('M');
    encoding::putRaw(area.userName(), "ADMIN");
  }
  void TearDown() override { std::filesystem::current_path(saved); }
  MenuRecord read(int menu, int entry) {
    auto f = store.file(datafiles::kMenuFile);
    EXPECT_TRUE(f->open(datafiles::OpenMode::kInput).ok());
    MenuRecord r;
    r.setKey(menu, entry);
    EXPECT_TRUE(f->read(r.bytes()).ok());
    (void)f->close();
    return r;
  }

  testing_support::TempDir temp{"px-px03"};
  std::filesystem::path saved;
  datafiles::SqliteStore store;
  FakeProgramLoader loader;
  pxabi::CommonArea area;
};

TEST_F(MenuMaintenanceLocks, ASecondAdministratorWaitsForTheEntryAndLosesNothing) {
  // The other administrator has the entry open for change.
  auto other = store.file(datafiles::kMenuFile);
  ASSERT_TRUE(other->open(datafiles::OpenMode::kInputOutput).ok());
  MenuRecord theirs;
  theirs.setKey(17, 20);
  ASSERT_TRUE(other->read(theirs.bytes()).ok());

  FakeScreenSet screen;
  screen.then(on("Aufgabenverwaltung", kEnter)).then(on("Dauerauftrag", 2));
  // Retry once while it is still held; then they save, and the retry reads
  // their change.
  screen.then(box("BOX-FEHLER-RC", 'W'));
  Answer saveTheirs = box("BOX-FEHLER-RC", 'W');
  saveTheirs.action = [&](pxabi::ScreenControlBlock&, std::span<char, pxabi::kScreenDataSize>) {
    theirs.setText("Von der anderen Seite");
    ASSERT_TRUE(other->rewrite(theirs.bytes()).ok());
    (void)other->close();
  };
  screen.then(saveTheirs).then(form({{4, "Z"}}));
  EXPECT_EQ(programs::maintainMenus(area, screen, store, loader), programs::kDone);

  const auto waits = screen.callsOf("BOX-FEHLER-RC");
  ASSERT_EQ(waits.size(), 2u);
  for (const auto* w : waits) {
    EXPECT_EQ(w->message(), "Datei zur Zeit gesperrt - bitte warten!");
    EXPECT_EQ(w->detail(), std::string("FX01 READ9") + char(68));
  }
  const auto forms = screen.callsOf("MASKE");
  ASSERT_EQ(forms.size(), 1u);
  EXPECT_EQ(encoding::trimmed(forms[0]->block().formValue(1)), "Von der anderen Seite");
  const MenuRecord both = read(17, 20);
  EXPECT_EQ(both.text(), "Von der anderen Seite");
  EXPECT_EQ(both.entryFlag(), 'Z');
}

TEST_F(MenuMaintenanceLocks, WhileTheFormIsOpenTheEntryStaysLockedAndCancelChangesNothing) {
  const MenuRecord before = read(17, 20);
  FakeScreenSet screen;
  screen.then(on("Aufgabenverwaltung", kEnter)).then(on("Dauerauftrag", 2));
  Answer whileOpen = form({{1, "Geändert"}});
  datafiles::FileStatus seen;
  whileOpen.action = [&](pxabi::ScreenControlBlock&, std::span<char, pxabi::kScreenDataSize>) {
    auto other = store.file(datafiles::kMenuFile);
    ASSERT_TRUE(other->open(datafiles::OpenMode::kInputOutput).ok());
    MenuRecord r;
    r.setKey(17, 20);
    seen = other->read(r.bytes());
    (void)other->close();
  };
  screen.then(whileOpen);
  EXPECT_EQ(programs::maintainMenus(area, screen, store, loader), programs::kDone);
  EXPECT_EQ(seen, datafiles::kRecordLocked);
  EXPECT_EQ(read(17, 20).text(), "Geändert");
  EXPECT_EQ(read(17, 20).programField()[0], before.programField()[0]);

  // Cancelled at the lock box: nothing changes.
  auto other = store.file(datafiles::kMenuFile);
  ASSERT_TRUE(other->open(datafiles::OpenMode::kInputOutput).ok());
  MenuRecord held;
  held.setKey(17, 20);
  ASSERT_TRUE(other->read(held.bytes()).ok());
  FakeScreenSet cancelled;
  cancelled.then(on("Aufgabenverwaltung", kEnter)).then(on("Geändert", 2)).then(box("BOX-FEHLER-RC", 'C'));
  EXPECT_EQ(programs::maintainMenus(area, cancelled, store, loader), programs::kDone);
  (void)other->close();
  EXPECT_TRUE(cancelled.callsOf("MASKE").empty());
  EXPECT_EQ(read(17, 20).text(), "Geändert");
  const auto lists = cancelled.callsOf("LISTE");
  EXPECT_EQ(lists[2]->message(), "Abgebrochen: FX01 ist gesperrt.");
}

}  // namespace
