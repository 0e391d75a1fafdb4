// The real px01 on a temporary installation made with pxadmin, driven by the
// scripted screen set, with recording programs in place of function
// programs and of PX00P/PX07. Checks what the transcripts and the data files
// show.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"
#include "testing/temp_dir.h"
#include "testing/test_files.h"

namespace {

using testing_support::buildDir;
using testing_support::readFile;
using testing_support::lines;

class LauncherEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    root = temp.path();
    data = root + "/daten";
    ASSERT_EQ(admin("init " + data + " --id GILDAX --club 'TV Test' --client 1 --header 7"), 0);
    ASSERT_EQ(admin("user add ADMIN --class M --no-password --dir " + data), 0);
    ASSERT_EQ(admin("user add NORMAL --class N --no-password --dir " + data), 0);
    saved = std::filesystem::current_path();
    std::filesystem::current_path(data);
    putMenu(0, 19, "Prüfung", "    ");
    putMenu(19, 1, "Recorder", "PXRA");
  }
  void TearDown() override { std::filesystem::current_path(saved); }

  int admin(const std::string& args) {
    const std::string cmd = buildDir() + "/bin/pxadmin " + args + " >/dev/null 2>&1";
    return std::system(cmd.c_str());
  }
  void putMenu(int menu, int entry, std::string_view text, std::string_view program) {
    datafiles::SqliteStore store;
    auto f = store.file(datafiles::kMenuFile);
    ASSERT_TRUE(f->open(datafiles::OpenMode::kInputOutput).ok());
    datafiles::MenuRecord r;
    r.setKey(menu, entry);
    r.setText(text);
    r.setProgram(program);
    r.setAccessClass('N');
    if (!f->write(r.bytes()).ok()) {
      ASSERT_TRUE(f->rewrite(r.bytes()).ok());
    }
    (void)f->close();
  }
  void stampMenus(std::string_view stamp) {
    datafiles::SqliteStore store;
    auto f = store.file(datafiles::kMenuFile);
    ASSERT_TRUE(f->open(datafiles::OpenMode::kInputOutput).ok());
    datafiles::MenuRecord r;
    r.setKey(0, 0);
    r.setVersionStamp(stamp);
    if (!f->write(r.bytes()).ok()) {
      ASSERT_TRUE(f->rewrite(r.bytes()).ok());
    }
    (void)f->close();
  }
  // Sign-on flags of all users in key order.
  std::string signOnFlags() {
    datafiles::SqliteStore store;
    auto f = store.file(datafiles::kUserFile);
    EXPECT_TRUE(f->open(datafiles::OpenMode::kInput).ok());
    datafiles::UserRecord u;
    encoding::zero(u.clientField());
    std::string flags;
    if (f->start(datafiles::StartMode::kNotLessThan, u.bytes(), 12).ok())
      while (f->readNext(u.bytes()).ok()) flags += u.signOnFlag();
    (void)f->close();
    return flags;
  }
  // Runs px01 with `args` and the screen-set `script`; the exit status.
  int px01(const std::string& args, const std::string& script, const std::string& commands = "") {
    std::ofstream(root + "/run.script") << script;
    std::ofstream(data + "/PXREC.cmd") << commands;
    std::filesystem::remove(root + "/run.jsonl");
    const std::string b = buildDir();
    const std::string cmd = "cd '" + data + "' && env PX_PROGRAM_PATH=" + b +
                            "/lib/px01/scripted:" + b + "/lib/px01/e2e DSGRUN_SCRIPT=" + root +
                            "/run.script DSGRUN_TRANSCRIPT=" + root +
                            "/run.jsonl XDG_CONFIG_HOME=" + root + "/config " + b + "/bin/px01 " +
                            args + " </dev/null >" + root + "/out.txt 2>&1";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::vector<std::string> transcript() { return lines(readFile(root + "/run.jsonl")); }
  std::vector<std::string> callsOf(const std::string& procedure) {
    std::vector<std::string> out;
    for (const auto& l : transcript())
      if (l.find("\"procedure\":\"" + procedure + "\"") != std::string::npos) out.push_back(l);
    return out;
  }
  std::vector<std::string> recorded() { return lines(readFile(data + "/PXREC.log")); }

  testing_support::TempDir temp{"px-e2e"};
  std::string root, data;
  std::filesystem::path saved;
};

TEST_F(LauncherEndToEnd, UnknownUserEndsWithoutScreenOrFiles) {
  stampMenus("034 - ");
  const std::string before = signOnFlags();
  px01("NIEMAND", "");
  EXPECT_TRUE(transcript().empty());
  EXPECT_TRUE(recorded().empty());
  EXPECT_EQ(signOnFlags(), before);
}

// A px-store.conf that must not be used (a password others may read) ends
// the launcher before anything is shown, saying why; it never falls back to
// the embedded files beside it.
TEST_F(LauncherEndToEnd, UnusableStoreConfigurationEndsBeforeAnything) {
  stampMenus("034 - ");
  const std::string before = signOnFlags();
  const std::string conf = data + "/px-store.conf";
  std::ofstream(conf) << "host=/nonexistent dbname=club password=geheim\n";
  std::filesystem::permissions(conf, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::owner_write |
                                         std::filesystem::perms::others_read);
  EXPECT_EQ(px01("ADMIN", "key ESC\nreply J\n"), 1);
  EXPECT_NE(readFile(root + "/out.txt").find("px-store.conf: holds a password"), std::string::npos)
      << readFile(root + "/out.txt");
  EXPECT_TRUE(transcript().empty());
  EXPECT_TRUE(recorded().empty());
  std::filesystem::remove(conf);
  EXPECT_EQ(signOnFlags(), before);
}

TEST_F(LauncherEndToEnd, StaleStampRunsPX00PThenPX07OnceOnly) {
  stampMenus("033 - ");
  px01("ADMIN", "key ESC\nreply J\n", "PX07 stamp\n");
  const auto first = recorded();
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0].substr(0, 11), "PX00P call=");
  EXPECT_EQ(first[1].substr(0, 10), "PX07 call=");
  px01("ADMIN", "key ESC\nreply J\n", "PX07 stamp\n");
  EXPECT_EQ(recorded().size(), 2u);  // neither ran again
}

TEST_F(LauncherEndToEnd, SignOnFlagAndFollowUpsThroughTheMenu) {
  stampMenus("034 - ");
  EXPECT_EQ(signOnFlags(), "NN");
  // PXRA moves away and asks for PXRB; PXRB finds the launcher's data directory.
  px01("ADMIN", "select 1\nselect 1\nkey ESC\nkey ESC\nreply J\n",
       "PXRA chdir /\nPXRA next1 PXRB\n");
  const auto log = recorded();
  ASSERT_EQ(log.size(), 2u) << readFile(root + "/out.txt");
  EXPECT_NE(log[0].find("PXRA call=PXRA dir=" + data), std::string::npos) << log[0];
  EXPECT_NE(log[0].find("perm=J"), std::string::npos);
  EXPECT_NE(log[1].find("PXRB call=PXRB dir=" + data), std::string::npos) << log[1];
  // One user signed on while the menu is shown, nobody after the orderly end.
  const std::string shown = log[0].substr(log[0].find("flags=") + 6);
  EXPECT_EQ(std::count(shown.begin(), shown.end(), 'J'), 1) << log[0];
  EXPECT_EQ(signOnFlags(), "NN");
  EXPECT_EQ(callsOf("SETZEN-DESKTOP-WINDOW").size(), 2u);
  EXPECT_NE(transcript().back().find("\"command\":\"Q\""), std::string::npos);
}

TEST_F(LauncherEndToEnd, MissingMenuFileGivesFehlerAndEndsInOrder) {
  stampMenus("034 - ");
  for (const auto& e : std::filesystem::directory_iterator(data))
    if (e.path().filename().string().rfind("FX01.DAT", 0) == 0) std::filesystem::remove(e.path());
  px01("ADMIN", "");
  const auto boxes = callsOf("BOX-FEHLER-OK");
  ASSERT_EQ(boxes.size(), 1u) << readFile(root + "/run.jsonl");
  EXPECT_NE(boxes[0].find("\"message\":\"Fehler\""), std::string::npos) << boxes[0];
  EXPECT_NE(boxes[0].find("\"file\":\"FX01\""), std::string::npos) << boxes[0];
  EXPECT_NE(boxes[0].find("\"operation\":\"OPEN\""), std::string::npos);
  EXPECT_EQ(boxes[0].find("\"status_code\":\"00\""), std::string::npos);
  EXPECT_TRUE(callsOf("NEUSTART").empty());
  EXPECT_EQ(signOnFlags(), "NN");
  EXPECT_NE(transcript().back().find("\"command\":\"Q\""), std::string::npos);
}

TEST_F(LauncherEndToEnd, FileHeldExclusivelyWaitsRetriesAndCancelKeepsSignOn) {
  stampMenus("034 - ");
  datafiles::SqliteStore store;
  auto held = store.file(datafiles::kPermissionFile);
  ASSERT_TRUE(held->open(datafiles::OpenMode::kExclusive).ok());
  px01("ADMIN", "reply W\nreply W\nreply C\n");
  (void)held->close();
  const auto waits = callsOf("BOX-FEHLER-RC");
  ASSERT_EQ(waits.size(), 3u) << readFile(root + "/run.jsonl");
  for (const auto& w : waits) {
    EXPECT_NE(w.find("Datei zur Zeit gesperrt - bitte warten!"), std::string::npos) << w;
    EXPECT_NE(w.find("\"file\":\"FX02\""), std::string::npos) << w;  // the same file each time
    EXPECT_NE(w.find("\"operation\":\"OPEN\""), std::string::npos) << w;
  }
  EXPECT_TRUE(callsOf("NEUSTART").empty());
  const std::string flags = signOnFlags();
  EXPECT_EQ(std::count(flags.begin(), flags.end(), 'J'), 1);  // no orderly end: still signed on
  EXPECT_EQ(transcript().back().find("\"command\":\"Q\""), std::string::npos);
}

TEST_F(LauncherEndToEnd, LockedSystemStopsANormalUserAndAdminsSeeTheBanner) {
  stampMenus("034 - ");
  ASSERT_EQ(admin("lock --dir " + data), 0);
  px01("NORMAL", "");
  const auto info = callsOf("BOX-INFO");
  ASSERT_EQ(info.size(), 1u) << readFile(root + "/run.jsonl");
  EXPECT_NE(info[0].find("Programmaufruf durch Administrator z.Z. gesperrt."), std::string::npos);
  EXPECT_TRUE(callsOf("NEUSTART").empty());
  EXPECT_EQ(signOnFlags(), "NN");

  px01("ADMIN", "key ESC\nreply J\n");
  const auto menus = callsOf("NEUSTART");
  ASSERT_EQ(menus.size(), 1u);
  EXPECT_NE(menus[0].find("\"banner\":\"  System für Normalbenutzer gesperrt!\""),
            std::string::npos)
      << menus[0];
}

TEST_F(LauncherEndToEnd, ProgramMayBlankTheUserAndChangeTheControlBlock) {
  stampMenus("034 - ");
  // The set command (byte 96) is never written again after the start: what
  // the program left in the copy comes back with the launcher's next call.
  px01("ADMIN", "select 1\nselect 1\nkey ESC\nkey ESC\nreply J\n",
       "PXRA blankuser\nPXRA control 96 Z\n");
  EXPECT_EQ(recorded().size(), 1u);
  const auto desk = callsOf("SETZEN-DESKTOP-WINDOW");
  ASSERT_EQ(desk.size(), 1u);
  EXPECT_NE(desk[0].find("\"command\":\"Z\""), std::string::npos) << desk[0];
  EXPECT_EQ(callsOf("NEUSTART").size(), 4u);  // the launcher went on
  EXPECT_EQ(signOnFlags(), "NN");
}

TEST_F(LauncherEndToEnd, EndedFromOutsideClosesAndExitsWithTheSignal) {
  stampMenus("034 - ");
  const int rc = px01("ADMIN", "select 1\nselect 1\n", "PXRA signal 15\n");
  EXPECT_EQ(rc, 128 + 15);
  const std::string flags = signOnFlags();
  EXPECT_EQ(std::count(flags.begin(), flags.end(), 'J'), 1);
}

}  // namespace
