// PX03 and U000 in the real px01 on a temporary installation made with
// pxadmin, driven by the scripted screen set: permissions and entries kept
// from the menu, who is refused, two administrators on one entry, and the
// one explanation of "why can't she see this?" in PX03, U000 and pxadmin.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "datafiles/records.h"
#include "datafiles/store_config.h"
#include "encoding/cp850.h"
#include "programs/menu_maintenance.h"
#include "testing/fake_program_loader.h"
#include "testing/fake_screen_set.h"
#include "testing/pg_server.h"
#include "testing/temp_dir.h"
#include "testing/test_files.h"

namespace {

using datafiles::MenuRecord;
using testing_support::buildDir;
using testing_support::lines;
using testing_support::readFile;
using Records = std::map<std::string, std::string>;

// On an installation of embedded files and on one on the database server.
using Store = testing_support::StoreKind;

class MenuMaintenanceEndToEnd : public ::testing::TestWithParam<Store> {
 protected:
  void SetUp() override {
    root = temp.path();
    data = root + "/daten";
    std::string conninfo, error;
    const std::string onServer = testing_support::initStoreWords(GetParam(), conninfo, error);
    ASSERT_TRUE(error.empty()) << error;
    ASSERT_EQ(admin("init " + data + onServer + " --id GILDAX --club 'TV Test' --client 0"), 0);
    for (auto [name, cls] : {std::pair{"ADMIN", "M"}, {"HELGA", "H"}, {"NORBERT", "N"}})
      ASSERT_EQ(admin(std::string("user add ") + name + " --class " + cls +
                      " --no-password --dir " + data),
                0);
    for (const char* app : {"17", "99"})
      ASSERT_EQ(admin(std::string("app install ") + app + " --dir " + data), 0);
    ASSERT_EQ(admin("grant NORBERT PA64 --dir " + data), 0);
    saved = std::filesystem::current_path();
    std::filesystem::current_path(data);
    put(0, 0, "", "    ", ' ', "034 - ");
    put(0, 17, "Aufgabenverwaltung", "    ", 'N');
    put(0, 30, "Finanzbuchhaltung", "    ", 'N');
    put(0, 99, "Systemverwaltung", "    ", 'M');
    put(17, 10, "Aufgabenliste", "PA64", 'N');
    put(17, 20, "Dauerauftrag", "PA62", 'N');
    put(99, 10, "Pflege der Menüdatei", "PX03", 'M');
  }
  void TearDown() override { std::filesystem::current_path(saved); }

  int admin(const std::string& args) {
    return std::system((buildDir() + "/bin/pxadmin " + args + " >/dev/null 2>&1").c_str());
  }
  void put(int menu, int entry, std::string_view text, std::string_view program, char access,
           std::string_view stamp = "      ", char flag = ' ') {
    const auto store = datafiles::openStore(data, nullptr);
    auto f = store->file(datafiles::kMenuFile, data);
    ASSERT_TRUE(f->open(datafiles::OpenMode::kInputOutput).ok());
    MenuRecord r;
    r.setKey(menu, entry);
    r.setVersionStamp(stamp);
    r.setText(text);
    r.setProgram(program);
    r.setAccessClass(access);
    r.setEntryFlag(flag);
    if (!f->write(r.bytes()).ok()) {
      ASSERT_TRUE(f->rewrite(r.bytes()).ok());
    }
    (void)f->close();
  }
  // Every record of a data file, by key.
  Records records(const datafiles::FileSpec& spec) {
    const auto store = datafiles::openStore(data, nullptr);
    auto f = store->file(spec, data);
    EXPECT_TRUE(f->open(datafiles::OpenMode::kInput).ok());
    Records out;
    std::string r(spec.recordLength, '\0');
    if (f->start(datafiles::StartMode::kNotLessThan, r, spec.keyLength).ok())
      while (f->readNext(r).ok()) out[r.substr(0, spec.keyLength)] = r;
    (void)f->close();
    return out;
  }
  std::string menuRecord(int menu, int entry) {
    return records(datafiles::kMenuFile)[std::string(MenuRecord::key(menu, entry).data(), 6)];
  }

  // Runs px01 for `user` with the screen-set `script`; its transcript.
  std::vector<std::string> px01(const std::string& user, const std::string& script,
                                const std::string& name = "run") {
    std::ofstream(root + "/" + name + ".script") << script;
    const std::string b = buildDir(), transcript = root + "/" + name + ".jsonl";
    std::filesystem::remove(transcript);
    const std::string cmd = "cd '" + data + "' && env PX_PROGRAM_PATH=" + b +
                            "/lib/px01/scripted DSGRUN_SCRIPT=" + root + "/" + name +
                            ".script DSGRUN_TRANSCRIPT=" + transcript + " XDG_CONFIG_HOME=" +
                            root + "/config " + b + "/bin/px01 " + user + " </dev/null >" + root +
                            "/" + name + ".out 2>&1";
    (void)std::system(cmd.c_str());
    return lines(readFile(transcript));
  }
  static std::vector<std::string> callsOf(const std::vector<std::string>& transcript,
                                          const std::string& procedure) {
    std::vector<std::string> out;
    for (const auto& l : transcript)
      if (l.find("\"procedure\":\"" + procedure + "\"") != std::string::npos) out.push_back(l);
    return out;
  }
  static bool contains(const std::vector<std::string>& calls, const std::string& text) {
    return std::any_of(calls.begin(), calls.end(),
                       [&](const std::string& c) { return c.find(text) != std::string::npos; });
  }

  // The launcher's way to PX03 and back out of the launcher afterwards.
  static constexpr const char* kToPX03 =
      "find Systemverwaltung\nkey ENTER\nfind Pflege der Menüdatei\nkey ENTER\n";
  static constexpr const char* kLeave = "key ESC\nkey ESC\nreply J\n";

  testing_support::TempDir temp{"px-px03-e2e"};
  std::string root, data;
  std::filesystem::path saved;
};

TEST_P(MenuMaintenanceEndToEnd, GrantAndRevokeFromTheMenuChangeOnePermissionRecord) {
  const Records before = records(datafiles::kPermissionFile);
  const std::string script = std::string(kToPX03) +
                             "key F6\nfind NORBERT\nkey ENTER\nfind Aufgabenverwaltung\n"
                             "key ENTER\nfind [PA62]\nkey F5\n"
                             "key ESC\nkey ESC\nkey ESC\nkey ESC\n" + kLeave;
  auto t = px01("ADMIN", script);
  Records after = records(datafiles::kPermissionFile);
  ASSERT_EQ(after.size(), before.size() + 1) << readFile(root + "/run.jsonl");
  const std::string key(datafiles::PermissionRecord::key(0, "NORBERT", "PA62").data(), 17);
  ASSERT_TRUE(after.count(key));
  EXPECT_EQ(after[key].substr(23, 2), "1J");  // level and flag
  after.erase(key);
  EXPECT_EQ(after, before);
  EXPECT_TRUE(contains(callsOf(t, "LISTE"), "\"message\":\"NORBERT darf PA62 aufrufen.\""));

  t = px01("ADMIN", script);  // the same key again takes it away
  EXPECT_EQ(records(datafiles::kPermissionFile), before);
  EXPECT_TRUE(contains(callsOf(t, "LISTE"), "NORBERT darf PA62 nicht mehr aufrufen."));
  EXPECT_NE(t.back().find("\"command\":\"Q\""), std::string::npos);  // the launcher ended in order
}

TEST_P(MenuMaintenanceEndToEnd, ClassHOrNChoosingPX03IsRefusedAsForAClassMEntry) {
  // An entry that lets others reach PX03 by name.
  put(0, 19, "Verträge", "    ", 'N');
  put(19, 5, "Menüpflege", "PX03", 'N');
  ASSERT_EQ(admin("grant NORBERT PX03 --dir " + data), 0);
  const Records menus = records(datafiles::kMenuFile),
                permissions = records(datafiles::kPermissionFile);
  for (const char* user : {"HELGA", "NORBERT"}) {
    const auto t = px01(user, "find Verträge\nkey ENTER\nfind Menüpflege\nkey ENTER\n" +
                                  std::string(kLeave));
    const auto warnings = callsOf(t, "BOX-WARNUNG");
    ASSERT_EQ(warnings.size(), 1u) << user << "\n" << readFile(root + "/run.jsonl");
    EXPECT_NE(warnings[0].find("\"message\":\"Sie sind nicht berechtigt!\""), std::string::npos);
    EXPECT_TRUE(callsOf(t, "LISTE").empty()) << user;
    EXPECT_EQ(records(datafiles::kMenuFile), menus);
    EXPECT_EQ(records(datafiles::kPermissionFile), permissions);
  }
}

TEST_P(MenuMaintenanceEndToEnd, AnEditedEntryKeepsEveryByteItDoesNotOwn) {
  put(17, 20, "Dauerauftrag", "PA62", 'N', std::string("\x01\xFE\x00Z\x7F ", 6), 'X');
  const std::string before = menuRecord(17, 20);
  px01("ADMIN", std::string(kToPX03) +
                    "find Aufgabenverwaltung\nkey ENTER\nfind Dauerauftrag\nkey F2\n"
                    "field 1 Daueraufträge\nreply J\nkey ESC\nkey ESC\n" + kLeave);
  std::string want = before;
  MenuRecord text;
  text.setText("Daueraufträge");
  want.replace(13, 40, std::string(text.view().substr(13, 40)));
  EXPECT_EQ(menuRecord(17, 20), want);
}

// Process A is this test, running PX03 on the same data files; while its
// form holds the entry, process B (px01) tries to edit the same entry.
TEST_P(MenuMaintenanceEndToEnd, TwoAdministratorsOnOneEntryOneWaitsNothingIsLost) {
  const std::string editInB = std::string(kToPX03) +
                              "find Aufgabenverwaltung\nkey ENTER\nfind Dauerauftrag\nkey F2\n";
  std::vector<std::string> first;
  testing_support::FakeScreenSet a;
  auto list = [](const char* text, std::uint16_t event) {
    testing_support::FakeScreenSet::Answer x;
    x.procedure = "LISTE";
    x.find = encoding::cp850::fromUtf8(text);
    x.event = event;
    return x;
  };
  a.then(list("Aufgabenverwaltung", 48)).then(list("Dauerauftrag", 2));
  testing_support::FakeScreenSet::Answer form;
  form.procedure = "MASKE";
  form.fields[1] = "Dauerauftrag A";
  form.action = [&](pxabi::ScreenControlBlock&, std::span<char, pxabi::kScreenDataSize>) {
    // B meets the lock and gives up waiting; its script goes on.
    first = px01("ADMIN", editInB + "reply C\nkey ESC\nkey ESC\n" + kLeave, "b1");
  };
  a.then(form);
  pxabi::CommonArea area;
  area.setUserClass('M');
  encoding::putRaw(area.userName(), "ADMIN");
  testing_support::FakeProgramLoader loader;
  const auto store = datafiles::openStore(data, nullptr);
  EXPECT_EQ(programs::maintainMenus(area, a, *store, loader), 0);

  const auto waits = callsOf(first, "BOX-FEHLER-RC");
  ASSERT_EQ(waits.size(), 1u) << readFile(root + "/b1.jsonl");
  EXPECT_NE(waits[0].find("\"message\":\"Datei zur Zeit gesperrt - bitte warten!\",\"file\":"
                          "\"FX01\",\"operation\":\"READ\",\"status_code\":\"9/068\""),
            std::string::npos)
      << waits[0];
  EXPECT_TRUE(callsOf(first, "MASKE").empty());
  EXPECT_TRUE(contains(callsOf(first, "LISTE"), "Abgebrochen: FX01 ist gesperrt."));

  // Afterwards B edits the entry as A left it: both changes stand.
  const auto second = px01("ADMIN", editInB + "field 4 B\nreply J\nkey ESC\nkey ESC\n" + kLeave, "b2");
  ASSERT_EQ(callsOf(second, "MASKE").size(), 1u);
  EXPECT_NE(callsOf(second, "MASKE")[0].find("\"form_values\":[\"Dauerauftrag A\""),
            std::string::npos);
  MenuRecord both;
  const std::string r = menuRecord(17, 20);
  std::copy(r.begin(), r.end(), both.data());
  EXPECT_EQ(both.text(), "Dauerauftrag A");
  EXPECT_EQ(both.entryFlag(), 'B');
}

TEST_P(MenuMaintenanceEndToEnd, WhyIsTheSameInPX03U000AndPxadmin) {
  // pxadmin gives the system's own German words under a German locale.
  if (!testing_support::germanInstalled())
    GTEST_SKIP() << "de_DE.UTF-8 is not installed (scripts/install-deps makes it)";
  const auto tree = testing_support::runCommand(std::string(testing_support::kInGerman) +
                                                buildDir() +
                                                "/bin/pxadmin menu tree --user NORBERT --all --dir " +
                                                data);
  ASSERT_EQ(tree.exitCode, 0) << tree.out;
  // The reasons pxadmin gives for the two entries NORBERT does not get.
  auto reasonOf = [&](const std::string& entry) {
    for (const auto& l : lines(tree.out))
      if (l.find(entry) != std::string::npos && l.find("  -- ") != std::string::npos)
        return l.substr(l.find("  -- ") + 5);
    return std::string();
  };
  const std::string notInstalled = reasonOf("Finanzbuchhaltung");
  const std::string noPermission = reasonOf("[PA62]");
  ASSERT_FALSE(notInstalled.empty()) << tree.out;
  ASSERT_FALSE(noPermission.empty()) << tree.out;

  // PX03, an administrator asking for NORBERT.
  const auto admin = px01("ADMIN", std::string(kToPX03) +
                                       "key F6\nfind NORBERT\nkey ENTER\n"
                                       "find Finanzbuchhaltung\nkey F7\n"
                                       "find Aufgabenverwaltung\nkey ENTER\nfind [PA62]\nkey F7\n"
                                       "key ESC\nkey ESC\nkey ESC\nkey ESC\n" + kLeave);
  const auto pages = callsOf(admin, "TEXT-ANZEIGEN");
  ASSERT_EQ(pages.size(), 2u) << readFile(root + "/run.jsonl");
  EXPECT_NE(pages[0].find("\"  " + notInstalled + "\""), std::string::npos) << pages[0];
  EXPECT_NE(pages[1].find("\"  " + noPermission + "\""), std::string::npos) << pages[1];

  // U000, NORBERT asking about the row she sees but cannot open.
  const auto help = px01("NORBERT", "find Finanzbuchhaltung\nkey F2\nkey ESC\nreply J\n");
  const auto info = callsOf(help, "TEXT-ANZEIGEN");
  ASSERT_EQ(info.size(), 1u) << readFile(root + "/run.jsonl");
  EXPECT_NE(info[0].find("\"Aufruf:   nicht für NORBERT: " + notInstalled + "\""), std::string::npos)
      << info[0];
  EXPECT_NE(info[0].find("\"Zugriff:  Zugriffsklasse N\""), std::string::npos) << info[0];
}

INSTANTIATE_TEST_SUITE_P(Stores, MenuMaintenanceEndToEnd,
                         ::testing::Values(Store::kFiles, Store::kServer),
                         [](const auto& info) { return testing_support::storeKindName(info.param); });

}  // namespace
