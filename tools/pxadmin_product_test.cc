// The administrator's daily verbs run as the administrator runs them, on an
// installation made by the demo set-up: permissions, the menu tree as a user
// sees it, export/import, applications, check, backup and restore.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <set>
#include <string>
#include <vector>

#include "testing/temp_dir.h"
#include "testing/test_files.h"

namespace {

using Result = testing_support::CommandResult;
Result sh(const std::string& command) { return testing_support::runCommand(command); }

std::string binDir() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

class PxadminProduct : public ::testing::Test {
 protected:
  // The installation is made once; a failure shows in every test rather than
  // turning them all into skips.
  void SetUp() override {
    if (!ready) {
      makeInstallation();
      ready = true;
    }
    ASSERT_FALSE(root.empty());
  }
  static void makeInstallation() {
    temp = std::make_unique<testing_support::TempDir>("pxadmin-product");
    const std::string tmpl = temp->path();
    ASSERT_FALSE(tmpl.empty());
    const char* source = std::getenv("PX_SOURCE_DIR");
    ASSERT_NE(source, nullptr) << "PX_SOURCE_DIR names the source tree";
    const Result setup = sh("PX_BIN=" + binDir() + " bash " + source + "/scripts/demo-setup " +
                            tmpl + "/demo");
    ASSERT_EQ(setup.exitCode, 0) << setup.out;
    root = tmpl;
  }
  static void TearDownTestSuite() { temp.reset(); }
  static Result pxadmin(const std::string& args) {
    return sh(binDir() + "/pxadmin " + args + " --dir " + root + "/demo");
  }
  // pxadmin in the environment `env` ("env LANG=... "); `args` name the
  // installation themselves.
  static Result pxadminIn(const std::string& env, const std::string& args) {
    return sh(env + binDir() + "/pxadmin " + args);
  }
  static std::unique_ptr<testing_support::TempDir> temp;
  static std::string root;
  static bool ready;
};
std::unique_ptr<testing_support::TempDir> PxadminProduct::temp;
std::string PxadminProduct::root;
bool PxadminProduct::ready = false;

TEST_F(PxadminProduct, MenuTreeShowsWhatEachClassSeesAndWhy) {
  const Result norbert = pxadmin("menu tree --user NORBERT");
  ASSERT_EQ(norbert.exitCode, 0) << norbert.out;
  EXPECT_NE(norbert.out.find("class N"), std::string::npos);
  EXPECT_NE(norbert.out.find("Aufgabenliste  [PA64]"), std::string::npos);
  EXPECT_EQ(norbert.out.find("[PA62]"), std::string::npos);       // revoked by the set-up
  EXPECT_EQ(norbert.out.find("Systemverwaltung"), std::string::npos);  // access class M
  EXPECT_EQ(norbert.out.find("Finanzbuchhaltung"), std::string::npos);  // not installed

  const Result why = pxadmin("menu tree --user NORBERT --all");
  EXPECT_NE(why.out.find("[PA62]  -- no permission record for program PA62"), std::string::npos);
  EXPECT_NE(why.out.find("Finanzbuchhaltung  -- application not installed!"), std::string::npos);
  EXPECT_NE(why.out.find("Systemverwaltung  -- access class M: for user class M only"),
            std::string::npos);

  const Result helga = pxadmin("menu tree --user HELGA");
  EXPECT_NE(helga.out.find("[PA62]"), std::string::npos);  // class H needs no permission
  EXPECT_EQ(helga.out.find("Systemverwaltung"), std::string::npos);
  const Result admin = pxadmin("menu tree --user ADMIN");
  EXPECT_NE(admin.out.find("Pflege der Menüdatei  [PX03]"), std::string::npos);
  EXPECT_NE(admin.out.find("Finanzbuchhaltung"), std::string::npos);

  EXPECT_EQ(pxadmin("menu tree --user NOBODY").exitCode, 1);
}

TEST_F(PxadminProduct, GrantRevokeAndPermissions) {
  struct Step {
    std::string args;
    int exitCode;
    std::string output;
  } steps[] = {
      {"grant NORBERT PA62 --flag N --text 'nur lesen'", 0, "granted"},
      {"permissions NORBERT", 0, "PA62     N"},
      {"grant NORBERT PA62 --flag J", 0, "updated"},
      {"menu tree --user NORBERT", 0, "[PA62]"},
      {"revoke NORBERT PA62", 0, "revoked"},
      {"revoke NORBERT PA62", 1, "holds no permission"},
      {"grant 'TOO LONG NAME' PA62", 2, "1 to 10 characters"},
      {"grant NORBERT PROGRAM", 2, "up to 4 characters"},
  };
  for (const auto& s : steps) {
    const Result r = pxadmin(s.args);
    EXPECT_EQ(r.exitCode, s.exitCode) << s.args << "\n" << r.out;
    EXPECT_NE(r.out.find(s.output), std::string::npos) << s.args << "\n" << r.out;
  }
}

TEST_F(PxadminProduct, ApplicationsInstallAndRemove) {
  EXPECT_EQ(pxadmin("app install 30 --name Finanzen").exitCode, 0);
  EXPECT_NE(pxadmin("app list").out.find(" 30  Finanzen"), std::string::npos);
  EXPECT_NE(pxadmin("menu tree --user NORBERT").out.find("Finanzbuchhaltung"), std::string::npos);
  EXPECT_EQ(pxadmin("app remove 30").exitCode, 0);
  const Result again = pxadmin("app remove 30");
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_NE(again.out.find("not installed"), std::string::npos);
}

TEST_F(PxadminProduct, ExportImportRoundTripsAndAFailedImportChangesNothing) {
  const std::string csv = root + "/menu.csv", json = root + "/menu.json";
  ASSERT_EQ(pxadmin("menu export -o " + csv).exitCode, 0);
  ASSERT_EQ(pxadmin("menu export -o " + json).exitCode, 0);
  const std::string before = sh(binDir() + "/pxadmin dump " + root + "/demo/FX01.DAT").out;
  // Change one text, then import the export back with --replace.
  ASSERT_EQ(sh("printf '0,17,99,,Neuer Eintrag,PA64,N,000000000000\\n' >> " + csv).exitCode, 0);
  const Result added = pxadmin("menu import " + csv);
  EXPECT_EQ(added.exitCode, 0) << added.out;
  EXPECT_NE(added.out.find("1 added"), std::string::npos) << added.out;
  const Result back = pxadmin("menu import " + json + " --replace --yes");
  EXPECT_EQ(back.exitCode, 0) << back.out;
  EXPECT_NE(back.out.find("1 removed"), std::string::npos) << back.out;
  // dump takes no --dir; it names the file.
  EXPECT_EQ(sh(binDir() + "/pxadmin dump " + root + "/demo/FX01.DAT").out, before);

  std::ofstream(root + "/bad.csv") << "set,menu,entry,flag,text,program,access,stamp\n"
                                   << "0,17,98,,fine,,N,\n0,17,97,,bad,TOOLONG,N,\n";
  const Result bad = pxadmin("menu import " + root + "/bad.csv");
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_EQ(sh(binDir() + "/pxadmin dump " + root + "/demo/FX01.DAT").out, before);
}

TEST_F(PxadminProduct, CheckBackupAndRestore) {
  const Result check = pxadmin("check");
  EXPECT_EQ(check.exitCode, 0) << check.out;
  EXPECT_NE(check.out.find("FX02.DAT: ok"), std::string::npos);
  std::filesystem::create_directories(root + "/backups");
  const Result backup = pxadmin("backup " + root + "/backups");
  ASSERT_EQ(backup.exitCode, 0) << backup.out;
  const std::string folder = backup.out.substr(0, backup.out.find('\n'));
  // Backups taken in the same second get folders of their own.
  std::set<std::string> folders{folder};
  for (int i = 0; i < 3; ++i) {
    const Result again = pxadmin("backup " + root + "/backups");
    ASSERT_EQ(again.exitCode, 0) << again.out;
    EXPECT_TRUE(folders.insert(again.out.substr(0, again.out.find('\n'))).second) << again.out;
  }
  const std::string before = sh(binDir() + "/pxadmin dump " + root + "/demo/FX02.DAT").out;
  ASSERT_EQ(pxadmin("revoke NORBERT PA64").exitCode, 0);
  ASSERT_NE(sh(binDir() + "/pxadmin dump " + root + "/demo/FX02.DAT").out, before);
  const Result restore = pxadmin("restore " + folder);
  EXPECT_EQ(restore.exitCode, 0) << restore.out;
  EXPECT_EQ(sh(binDir() + "/pxadmin dump " + root + "/demo/FX02.DAT").out, before);

  // A damaged backup is refused before anything changes.
  std::ofstream(folder + "/FX01.DAT", std::ios::trunc) << "not a data file";
  std::filesystem::remove(folder + "/FX01.DAT-wal");
  const Result refused = pxadmin("restore " + folder);
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.out.find("not usable"), std::string::npos) << refused.out;
  EXPECT_EQ(pxadmin("check").exitCode, 0);
}

}  // namespace

// The ways a run chooses its language; a locale that is not installed
// leaves English.
const std::string kByLang = "env -u LC_ALL -u LC_MESSAGES -u LANGUAGE LANG=";
const std::string kGermanEnvironments[] = {testing_support::kInGerman,
                                           kByLang + "de_DE.UTF-8 "};
const std::string kEnglishEnvironments[] = {"", kByLang + "C ", kByLang + "en_US.UTF-8 ",
                                            kByLang + "xx_YY.UTF-8 ",
                                            "env -u LANGUAGE LC_ALL=C LANG=de_DE.UTF-8 "};

TEST_F(PxadminProduct, AnswersInTheLanguageTheEnvironmentChooses) {
  // scripts/install-deps makes the locale: without it these tests fail, never skip.
  ASSERT_TRUE(testing_support::germanInstalled())
      << "de_DE.UTF-8 is not installed (scripts/install-deps makes it)";
  const std::string dir = " --dir " + root + "/demo";
  const std::string exported = root + "/language.csv";
  struct Case {
    std::string args;
    int exitCode;
    std::vector<std::string> english, german;
  };
  const Case cases[] = {
      {"revoke NORBERT ZZZZ", 1, {"pxadmin: NORBERT holds no permission for ZZZZ"},
       {"pxadmin: NORBERT hat keine Berechtigung für ZZZZ"}},
      {"user add OTTO --class Q --no-password", 2, {"pxadmin: a user class is N, H or M"},
       {"pxadmin: eine Benutzerklasse ist N, H oder M"}},
      {"menu export -o " + exported, 0, {" menu records exported to " + exported},
       {" Menüsätze nach " + exported + " exportiert"}},
      {"check", 0, {"FX02.DAT: ok\n", " records\n"}, {"FX02.DAT: ok\n", " Sätze\n"}},
      {"permissions NORBERT", 0, {"program  flag  granted  level  text\n"},
       {"Programm Kz.   erteilt  Stufe  Text\n"}},
      {"user list", 0, {"client  user        class  signed-on  password\n"},
       {"Mandant Benutzer    Klasse angemeldet Kennwort\n"}},
      {"menu tree --user NORBERT --all", 0,
       {"Menu tree for NORBERT (class N, client 0)",
        "[PA62]  -- no permission record for program PA62",
        "Finanzbuchhaltung  -- application not installed!",
        "Systemverwaltung  -- access class M: for user class M only"},
       // The system's own words, as the menu maintenance and the help say them.
       {"Menübaum für NORBERT (Klasse N, Mandant 0)",
        "[PA62]  -- kein Berechtigungssatz für Programm PA62",
        "Finanzbuchhaltung  -- Anwendung nicht installiert!",
        "Systemverwaltung  -- Zugriffsklasse M: nur für Benutzerklasse M"}},
      // The command line's own complaints.
      {"grant --client 1000 NORBERT PA64", 2,
       {"--client: Value 1000 not in range 0 to 999\nRun with --help for more information.\n"},
       {"--client: Wert 1000 nicht im Bereich 0 bis 999\nMehr dazu mit --help.\n"}},
      {"menu tree --nonsense", 2, {"The following argument was not expected: --nonsense"},
       {"Dieses Argument war nicht erwartet: --nonsense"}},
      {"audit prune", 2, {"--before is required"}, {"--before fehlt"}},
      {"grant --help", 0, {"Allow a user to call a program", "Options:\n  -h,--help"},
       {"Einem Benutzer den Aufruf eines Programms erlauben", "Optionen:\n  -h,--help"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    for (const std::string& env : kGermanEnvironments) {
      SCOPED_TRACE(env);
      const Result r = pxadminIn(env, c.args + dir);
      EXPECT_EQ(r.exitCode, c.exitCode) << r.out;
      for (const std::string& text : c.german) EXPECT_NE(r.out.find(text), std::string::npos) << r.out;
      for (const std::string& text : c.english) {
        if (std::find(c.german.begin(), c.german.end(), text) == c.german.end()) {
          EXPECT_EQ(r.out.find(text), std::string::npos) << r.out;
        }
      }
    }
    for (const std::string& env : kEnglishEnvironments) {
      SCOPED_TRACE(env);
      const Result r = pxadminIn(env, c.args + dir);
      EXPECT_EQ(r.exitCode, c.exitCode) << r.out;
      for (const std::string& text : c.english)
        EXPECT_NE(r.out.find(text), std::string::npos) << r.out;
    }
  }
}

// Dumps, exports and JSON are data: the same bytes in every language, and
// numbers, dates and texts as the "C" locale writes them.
TEST_F(PxadminProduct, MachineOutputIsTheSameInEveryLanguage) {
  // scripts/install-deps makes the locale: without it these tests fail, never skip.
  ASSERT_TRUE(testing_support::germanInstalled())
      << "de_DE.UTF-8 is not installed (scripts/install-deps makes it)";
  const std::string demo = root + "/demo";
  const std::string commands[] = {
      "dump " + demo + "/FT00.DAT --json", "dump " + demo + "/FX00.DAT --csv",
      "dump " + demo + "/FX01.DAT",        "dump " + demo + "/FX02.DAT --csv",
      "menu export --format csv --dir " + demo, "menu export --format json --dir " + demo,
      "audit --json --event GRANT,REVOKE --dir " + demo};
  for (const std::string& args : commands) {
    SCOPED_TRACE(args);
    const Result english = pxadminIn(kByLang + "C ", args);
    ASSERT_EQ(english.exitCode, 0) << english.out;
    EXPECT_GT(english.out.size(), 100u);
    for (const std::string& env : kGermanEnvironments) {
      const Result german = pxadminIn(env, args);
      EXPECT_EQ(german.exitCode, 0) << german.out;
      EXPECT_EQ(german.out, english.out);
    }
  }
}
