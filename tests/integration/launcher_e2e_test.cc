// The real px01 on a temporary installation made with pxadmin, driven by the
// scripted screen set, with recording programs in place of function
// programs and of PX00P/PX07. Checks what the transcripts and the data files
// show. The runs ended from outside also run in a pseudo-terminal with the
// terminal screen set. Every test runs on an installation of embedded files
// and on one whose files are on the database server.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "datafiles/pg_store.h"
#include "datafiles/records.h"
#include "datafiles/store_config.h"
#include "testing/pg_server.h"
#include "testing/temp_dir.h"
#include "testing/test_files.h"

extern "C" char** environ;

namespace {

using namespace std::chrono_literals;
using testing_support::buildDir;
using testing_support::readFile;
using testing_support::lines;

// One word for the shell (connection strings hold quotes themselves).
std::string shellWord(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// kOwnServer: on a server of the test's own, which it may stop and start.
enum class Store { kFiles, kServer, kOwnServer };

class LauncherEndToEnd : public ::testing::TestWithParam<Store> {
 protected:
  void SetUp() override {
    root = temp.path();
    data = root + "/daten";
    std::string onServer;
    if (GetParam() != Store::kFiles) {
      if (GetParam() == Store::kOwnServer) own = testing_support::PgTestServer::startOwn();
      auto& s = server();
      ASSERT_TRUE(s.ok()) << s.error();
      conninfo = s.freshSchema();
      ASSERT_FALSE(conninfo.empty());
      onServer = " --server " + shellWord(conninfo);
    }
    ASSERT_EQ(
        admin("init " + data + onServer + " --id GILDAX --club 'TV Test' --client 1 --header 7"),
        0);
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
  // The store of the installation, as px01 and pxadmin choose it.
  std::unique_ptr<datafiles::InstallationStore> store() {
    return datafiles::openStore(data, nullptr);
  }
  testing_support::PgTestServer& server() {
    return own ? *own : testing_support::PgTestServer::get();
  }
  // The menu file gone: the file removed, or the table dropped.
  void removeMenuFile() {
    if (GetParam() != Store::kFiles) {
      ASSERT_EQ(server().sql(conninfo, "DROP TABLE fx01"), "");
      return;
    }
    for (const auto& e : std::filesystem::directory_iterator(data))
      if (e.path().filename().string().rfind("FX01.DAT", 0) == 0) std::filesystem::remove(e.path());
  }
  void putMenu(int menu, int entry, std::string_view text, std::string_view program) {
    auto f = store()->file(datafiles::kMenuFile, data);
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
    auto f = store()->file(datafiles::kMenuFile, data);
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
    auto f = store()->file(datafiles::kUserFile, data);
    EXPECT_TRUE(f->open(datafiles::OpenMode::kInput).ok());
    datafiles::UserRecord u;
    encoding::zero(u.clientField());
    std::string flags;
    if (f->start(datafiles::StartMode::kNotLessThan, u.bytes(), 12).ok())
      while (f->readNext(u.bytes()).ok()) flags += u.signOnFlag();
    (void)f->close();
    return flags;
  }
  // Runs px01 with `args` and the screen-set `script`, started in `from`
  // (the data directory unless given); the exit status.
  int px01(const std::string& args, const std::string& script, const std::string& commands = "",
           const std::string& from = "", const std::string& programPath = "") {
    std::ofstream(root + "/run.script") << script;
    std::ofstream(data + "/PXREC.cmd") << commands;
    std::filesystem::remove(root + "/run.jsonl");
    const std::string b = buildDir();
    const std::string path =
        programPath.empty() ? b + "/lib/px01/scripted:" + b + "/lib/px01/e2e" : programPath;
    const std::string cmd = "cd '" + (from.empty() ? data : from) + "' && env PX_PROGRAM_PATH=" +
                            path + " DSGRUN_SCRIPT=" + root + "/run.script DSGRUN_TRANSCRIPT=" +
                            root + "/run.jsonl XDG_CONFIG_HOME=" + root + "/config " + b +
                            "/bin/px01 " + args + " </dev/null >" + root + "/out.txt 2>&1";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // Starts px01 in the data directory with `args` and `vars` added to the
  // environment, without waiting. On the pseudo-terminal `tty` (its
  // controlling terminal) when given, else reading nothing and writing to
  // out.txt.
  pid_t startPx01(const std::string& args, const std::map<std::string, std::string>& vars,
                  const std::string& tty = "") {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry(*e);
      if (vars.count(entry.substr(0, entry.find('='))) == 0) env.push_back(entry);
    }
    for (const auto& [name, value] : vars) env.push_back(name + "=" + value);
    const std::string exe = buildDir() + "/bin/px01", out = root + "/out.txt";
    std::vector<char*> argv{const_cast<char*>(exe.c_str()), const_cast<char*>(args.c_str()),
                            nullptr};
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    int in = -1, to = -1;
    if (!tty.empty()) {
      ::setsid();
      in = to = ::open(tty.c_str(), O_RDWR);
    } else {
      in = ::open("/dev/null", O_RDONLY);
      to = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    if (in < 0 || to < 0 || ::chdir(data.c_str()) != 0) ::_exit(120);
    ::dup2(in, 0);
    ::dup2(to, 1);
    ::dup2(to, 2);
    ::execve(exe.c_str(), argv.data(), envp.data());
    ::_exit(121);
  }
  std::map<std::string, std::string> scriptedRun(const std::string& script) {
    std::ofstream(root + "/run.script") << script;
    std::filesystem::remove(root + "/run.jsonl");
    const std::string b = buildDir();
    return {{"PX_PROGRAM_PATH", b + "/lib/px01/scripted:" + b + "/lib/px01/e2e"},
            {"DSGRUN_SCRIPT", root + "/run.script"},
            {"DSGRUN_TRANSCRIPT", root + "/run.jsonl"},
            {"XDG_CONFIG_HOME", root + "/config"}};
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
  std::string conninfo;  // the server's schema
  std::unique_ptr<testing_support::PgTestServer> own;
  std::filesystem::path saved;
};

TEST_P(LauncherEndToEnd, UnknownUserEndsWithoutScreenOrFiles) {
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
TEST_P(LauncherEndToEnd, UnusableStoreConfigurationEndsBeforeAnything) {
  stampMenus("034 - ");
  const std::string before = signOnFlags();
  const std::string conf = data + "/px-store.conf";
  const std::string kept = readFile(conf);
  std::ofstream(conf) << "host=/nonexistent dbname=club password=geheim\n";
  std::filesystem::permissions(conf, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::owner_write |
                                         std::filesystem::perms::others_read);
  EXPECT_EQ(px01("ADMIN", "key ESC\nreply J\n"), 1);
  EXPECT_NE(readFile(root + "/out.txt").find("px-store.conf: holds a password"), std::string::npos)
      << readFile(root + "/out.txt");
  EXPECT_TRUE(transcript().empty());
  EXPECT_TRUE(recorded().empty());
  if (kept.empty()) {
    std::filesystem::remove(conf);
  } else {
    std::ofstream(conf) << kept;
  }
  EXPECT_EQ(signOnFlags(), before);
}

TEST_P(LauncherEndToEnd, StaleStampRunsPX00PThenPX07OnceOnly) {
  stampMenus("033 - ");
  px01("ADMIN", "key ESC\nreply J\n", "PX07 stamp\n");
  const auto first = recorded();
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0].substr(0, 11), "PX00P call=");
  EXPECT_EQ(first[1].substr(0, 10), "PX07 call=");
  px01("ADMIN", "key ESC\nreply J\n", "PX07 stamp\n");
  EXPECT_EQ(recorded().size(), 2u);  // neither ran again
}

TEST_P(LauncherEndToEnd, SignOnFlagAndFollowUpsThroughTheMenu) {
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

TEST_P(LauncherEndToEnd, MissingMenuFileGivesFehlerAndEndsInOrder) {
  stampMenus("034 - ");
  removeMenuFile();
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

TEST_P(LauncherEndToEnd, FileHeldExclusivelyWaitsRetriesAndCancelKeepsSignOn) {
  stampMenus("034 - ");
  const auto files = store();
  auto held = files->file(datafiles::kPermissionFile, data);
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

TEST_P(LauncherEndToEnd, LockedSystemStopsANormalUserAndAdminsSeeTheBanner) {
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

TEST_P(LauncherEndToEnd, ProgramMayBlankTheUserAndChangeTheControlBlock) {
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

// ---- exit status and program path -----------------------------------------

// A process ends with 0 to 255 only: 1 to 125 stay, every other code ends as
// 125, never as 0 (256, 9216) nor as a death by a signal (141 for 9101).
TEST_P(LauncherEndToEnd, ExitStatusKeepsOneTo125AndMapsTheRestTo125) {
  stampMenus("034 - ");
  const struct {
    const char* script;
    int status;
    const char* console;
  } cases[] = {{"", 0, ""},
               {"error 1\n", 1, "Fehlernr. : 0001"},
               {"error 255\n", 125, "Fehlernr. : 0255"},
               {"error 256\n", 125, "Fehlernr. : 0256"},
               {"error 9216\n", 125, "Fehlernr. : 9216"},
               // after a program: the screen set fails when it repaints
               {"select 1\nselect 1\nerror 9101\n", 125, "Fehlernr. : 9101"}};
  for (const auto& c : cases) {
    EXPECT_EQ(px01("ADMIN", c.script), c.status) << c.script;
    EXPECT_NE(readFile(root + "/out.txt").find(c.console), std::string::npos) << c.script;
  }
  EXPECT_EQ(recorded().size(), 1u);  // PXRA ran in the last case

  // The terminal screen set without a terminal: 9101 for real.
  const std::string b = buildDir();
  const std::string cmd = "cd '" + data + "' && env PX_PROGRAM_PATH=" + b +
                          "/lib/px01/e2e TERM=xterm XDG_CONFIG_HOME=" + root +
                          "/config setsid -w " + b + "/bin/px01 ADMIN </dev/null >" + root +
                          "/out.txt 2>&1";
  const int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 125);
  EXPECT_NE(readFile(root + "/out.txt").find("Fehlernr. : 9101"), std::string::npos)
      << readFile(root + "/out.txt");
}

// A relative directory of the program path is taken in the directory px01
// was started in; a program of the same name under the same relative path
// in the shared data directory is never loaded.
TEST_P(LauncherEndToEnd, RelativeProgramPathIsTakenInTheStartDirectory) {
  namespace fs = std::filesystem;
  stampMenus("034 - ");
  // The workstation's start directory names the shared data directory.
  const std::string start = root + "/arbeitsplatz";
  if (GetParam() != Store::kFiles) {
    // On the server the workstation's directory names the same tables.
    fs::create_directories(start);
    fs::copy_file(data + "/px-store.conf", start + "/px-store.conf");
  } else {
    ASSERT_EQ(admin("init " + start + " --id GILDAX --club 'TV Test' --client 1 --header 7"), 0);
  }
  {
    const auto files = datafiles::openStore(start, nullptr);
    auto ft00 = files->file(datafiles::kInstallationFile, start);
    ASSERT_TRUE(ft00->open(datafiles::OpenMode::kInputOutput).ok());
    datafiles::ControlRecord control;
    ASSERT_TRUE(ft00->read(control.bytes()).ok());
    encoding::putText(control.dataDirectory(), data);
    ASSERT_TRUE(ft00->rewrite(control.bytes()).ok());
    (void)ft00->close();
  }
  const std::string b = buildDir();
  fs::create_directories(start + "/progs");
  fs::create_directories(data + "/progs");
  fs::copy_file(b + "/lib/px01/e2e/PXRA.so", start + "/progs/PXRA.so");
  fs::copy_file(b + "/lib/px01/e2e-planted/PXRA.so", data + "/progs/PXRA.so");

  EXPECT_EQ(px01("ADMIN", "select 1\nselect 1\nkey ESC\nkey ESC\nreply J\n", "", start,
                 b + "/lib/px01/scripted:progs"),
            0);
  const auto log = recorded();
  ASSERT_EQ(log.size(), 1u) << readFile(root + "/out.txt") << readFile(root + "/run.jsonl");
  EXPECT_EQ(log[0].rfind("PXRA call=PXRA dir=" + data, 0), 0u) << log[0];
  EXPECT_TRUE(callsOf("BOX-FEHLER-OK").empty());
}

// ---- ended from outside ------------------------------------------------------

// The signal comes while a called program runs: its screen-set calls answer
// as cancelled at once (the script's "reply J" stays unread), its follow-up
// does not run, and the launcher ends in order when it returns.
TEST_P(LauncherEndToEnd, EndedWhileAProgramRunsEndsInOrderWhenItReturns) {
  stampMenus("034 - ");
  const int rc = px01("ADMIN", "select 1\nselect 1\nreply J\n",
                      "PXRA signal 15\nPXRA ask\nPXRA next1 PXRB\n");
  EXPECT_EQ(rc, 128 + 15);
  const auto log = recorded();
  ASSERT_EQ(log.size(), 2u) << readFile(root + "/run.jsonl");
  EXPECT_EQ(log[1], "PXRA asked reply=N error=0");
  EXPECT_EQ(signOnFlags(), "NN");
  const auto t = transcript();
  ASSERT_FALSE(t.empty());
  EXPECT_NE(t.back().find("\"command\":\"Q\""), std::string::npos) << t.back();
  const auto asked = callsOf("BOX-FRAGE");
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_NE(asked[0].find("\"signal\":15"), std::string::npos) << asked[0];
  EXPECT_TRUE(callsOf("SETZEN-DESKTOP-WINDOW").empty());
}

// Waits up to `limit` for `pid` to end, calling `meanwhile` in between;
// the exit code, 1000 + signal for a death by a signal, -1 when it did not
// end (it is then killed).
int waitForEnd(pid_t pid, std::chrono::milliseconds limit,
               const std::function<void()>& meanwhile = [] {}) {
  const auto until = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > until) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    meanwhile();
    std::this_thread::sleep_for(1ms);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

// The run has reached the menu loop once the menu shows.
bool menuReached(const std::string& transcriptPath, std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < until) {
    if (readFile(transcriptPath).find("NEUSTART") != std::string::npos) return true;
    std::this_thread::sleep_for(1ms);
  }
  return false;
}

// SIGTERM at random moments of a busy menu loop (screen-set calls and the
// many file operations of a list a normal user may not see) ends the run in
// order every time: exit 143, the screen set ended last, nobody left signed
// on, the settings stored, the logs of the files emptied by their close.
TEST_P(LauncherEndToEnd, EndSignalAtRandomMomentsAlwaysEndsInOrder) {
  stampMenus("034 - ");
  for (int e = 2; e <= 40; ++e) putMenu(19, e, "Eintrag " + std::to_string(e), "PXRB");
  std::string script;
  for (int i = 0; i < 500; ++i) script += "select 1\nkey ESC\n";
  script += "pause 600000\n";
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> delayUs(0, 25000);
  constexpr int kRuns = 150;
  for (int run = 0; run < kRuns; ++run) {
    std::filesystem::remove_all(root + "/config");
    const pid_t pid = startPx01("NORMAL", scriptedRun(script));
    ASSERT_TRUE(menuReached(root + "/run.jsonl", 10s)) << readFile(root + "/out.txt");
    const int delay = delayUs(random);
    std::this_thread::sleep_for(std::chrono::microseconds(delay));
    ::kill(pid, SIGTERM);
    const std::string where = "run " + std::to_string(run) + ", seed " + std::to_string(seed) +
                              ", " + std::to_string(delay) + " us";
    ASSERT_EQ(waitForEnd(pid, 20s), 128 + SIGTERM) << where << "\n" << readFile(root + "/out.txt");
    const auto t = transcript();
    ASSERT_FALSE(t.empty()) << where;
    ASSERT_NE(t.back().find("\"command\":\"Q\""), std::string::npos) << where << "\n" << t.back();
    ASSERT_EQ(signOnFlags(), "NN") << where;
    std::error_code noSettings;
    ASSERT_FALSE(std::filesystem::is_empty(root + "/config/px01", noSettings) || noSettings)
        << where;
    for (const char* file : {"FT00.DAT", "FX00.DAT", "FX01.DAT", "FX02.DAT"}) {
      std::error_code ec;
      const auto size = std::filesystem::file_size(data + "/" + file + "-wal", ec);
      ASSERT_TRUE(ec || size == 0) << where << " " << file << " log " << size;
    }
  }
}

// A pseudo-terminal for px01 with the terminal screen set.
struct Pty {
  int master = -1;
  std::string slave;
  std::string output;  // everything px01 wrote
  Pty() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return;
    slave = ::ptsname(master);
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    termios t{};
    const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
    if (fd >= 0 && ::tcgetattr(fd, &t) == 0) {
      struct winsize size {};
      size.ws_row = 30;
      size.ws_col = 100;
      ::ioctl(fd, TIOCSWINSZ, &size);
    }
    if (fd >= 0) ::close(fd);
  }
  ~Pty() {
    if (master >= 0) ::close(master);
  }
  void drain() {
    char buf[4096];
    for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
      output.append(buf, static_cast<std::size_t>(n));
  }
  void type(std::string_view keys) { (void)!::write(master, keys.data(), keys.size()); }
  bool waitFor(std::string_view text, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
      drain();
      if (output.find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(1ms);
    }
    return false;
  }
  // Line mode with echo, as a shell expects the terminal back.
  bool cooked() const {
    const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    const bool ok =
        fd >= 0 && ::tcgetattr(fd, &t) == 0 && (t.c_lflag & ICANON) && (t.c_lflag & ECHO);
    if (fd >= 0) ::close(fd);
    return ok;
  }
  // The alternate screen left after it was last entered.
  bool screenLeft() const {
    const auto entered = output.rfind("\033[?1049h");
    const auto left = output.rfind("\033[?1049l");
    return entered != std::string::npos && left != std::string::npos && left > entered;
  }
};

std::map<std::string, std::string> terminalRun(const std::string& root) {
  return {{"PX_PROGRAM_PATH", buildDir() + "/lib/px01/e2e"},
          {"TERM", "xterm"},
          {"LANG", "C.UTF-8"},
          {"LC_ALL", "C.UTF-8"},
          {"XDG_CONFIG_HOME", root + "/config"}};
}

// The same in a real terminal, with keys coming in: the terminal is given
// back clean every time.
TEST_P(LauncherEndToEnd, EndSignalInARealTerminalGivesItBackEveryTime) {
  stampMenus("034 - ");
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> delayMs(0, 60);
  constexpr int kRuns = 50;
  for (int run = 0; run < kRuns; ++run) {
    Pty pty;
    ASSERT_FALSE(pty.slave.empty());
    const pid_t pid = startPx01("ADMIN", terminalRun(root), pty.slave);
    ASSERT_TRUE(pty.waitFor("Prüfung", 10s)) << pty.output;
    // Into the application and out again, over and over, until the signal.
    const int delay = delayMs(random);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(delay);
    for (int step = 0; std::chrono::steady_clock::now() < until; ++step) {
      pty.type(step % 2 == 0 ? "\r" : "\033");
      const auto pause = std::chrono::steady_clock::now() + (step % 2 == 0 ? 5ms : 40ms);
      while (std::chrono::steady_clock::now() < std::min(pause, until)) {
        pty.drain();
        std::this_thread::sleep_for(1ms);
      }
    }
    ::kill(pid, SIGTERM);
    const std::string where = "run " + std::to_string(run) + ", seed " + std::to_string(seed) +
                              ", " + std::to_string(delay) + " ms";
    ASSERT_EQ(waitForEnd(pid, 20s, [&] { pty.drain(); }), 128 + SIGTERM) << where;
    pty.drain();
    ASSERT_TRUE(pty.cooked()) << where;
    ASSERT_TRUE(pty.screenLeft()) << where;
    ASSERT_EQ(signOnFlags(), "NN") << where;
  }
}

// At the sign-on's password prompt (echo off) the signal ends the typing:
// the echo comes back and the process ends without a screen.
TEST_P(LauncherEndToEnd, EndSignalAtThePasswordPromptGivesTheEchoBack) {
  stampMenus("034 - ");
  ASSERT_EQ(std::system(("printf 'geheim\\n' | " + buildDir() +
                         "/bin/pxadmin user add GESCHUETZT --class N --password-stdin --dir " +
                         data + " >/dev/null 2>&1")
                            .c_str()),
            0);
  Pty pty;
  ASSERT_FALSE(pty.slave.empty());
  const pid_t pid = startPx01("GESCHUETZT", terminalRun(root), pty.slave);
  ASSERT_TRUE(pty.waitFor("Kennwort: ", 10s)) << pty.output;
  pty.type("geh");  // half typed
  std::this_thread::sleep_for(50ms);
  ::kill(pid, SIGINT);
  EXPECT_EQ(waitForEnd(pid, 5s, [&] { pty.drain(); }), 128 + SIGINT) << pty.output;
  EXPECT_TRUE(pty.cooked());
  EXPECT_EQ(pty.output.find("\033[?1049h"), std::string::npos);  // no screen was started
  EXPECT_EQ(signOnFlags().find('J'), std::string::npos);
}

// A second signal while the orderly end waits (here for the user file,
// held by another workstation) ends the process at once, the terminal given
// back by the signal handler; the sign-on mark stays, as after any end that
// is not the orderly one.
TEST_P(LauncherEndToEnd, SecondSignalEndsAtOnceWithTheTerminalGivenBack) {
  stampMenus("034 - ");
  Pty pty;
  ASSERT_FALSE(pty.slave.empty());
  const pid_t pid = startPx01("ADMIN", terminalRun(root), pty.slave);
  ASSERT_TRUE(pty.waitFor("Prüfung", 10s)) << pty.output;
  const auto files = store();
  auto held = files->file(datafiles::kUserFile, data);
  ASSERT_TRUE(held->open(datafiles::OpenMode::kExclusive).ok());
  ::kill(pid, SIGTERM);
  // The orderly end waits for the user file: still running a while later.
  int status = 0;
  for (const auto until = std::chrono::steady_clock::now() + 300ms;
       std::chrono::steady_clock::now() < until;) {
    pty.drain();
    ASSERT_EQ(::waitpid(pid, &status, WNOHANG), 0) << "ended before the second signal";
    std::this_thread::sleep_for(1ms);
  }
  ::kill(pid, SIGTERM);
  EXPECT_EQ(waitForEnd(pid, 1500ms, [&] { pty.drain(); }), 128 + SIGTERM);
  pty.drain();
  EXPECT_TRUE(pty.cooked());
  EXPECT_TRUE(pty.screenLeft());
  (void)held->close();
  const std::string flags = signOnFlags();
  EXPECT_EQ(std::count(flags.begin(), flags.end(), 'J'), 1);
}

INSTANTIATE_TEST_SUITE_P(Stores, LauncherEndToEnd, ::testing::Values(Store::kFiles, Store::kServer),
                         [](const ::testing::TestParamInfo<Store>& info) {
                           return info.param == Store::kFiles ? "Files" : "Server";
                         });

// ---- the server stopped and started again ------------------------------------

class LauncherServerRestart : public LauncherEndToEnd {};

// The server stops and starts again while px01 shows its menu: the next
// file operation reports the lost connection in the error box with its
// status (never a wrong or shortened menu, no program called), the launcher
// ends in order, and the next start works.
TEST_P(LauncherServerRestart, ErrorBoxWithTheStatusThenTheNextStartWorks) {
  stampMenus("034 - ");
  // The menu waits three seconds for its answer; the restart comes then.
  const pid_t pid = startPx01(
      "ADMIN", scriptedRun("pause 3000\nselect 1\nselect 1\nkey ESC\nkey ESC\nreply J\n"));
  std::this_thread::sleep_for(1s);
  ASSERT_TRUE(server().pause());
  ASSERT_TRUE(server().resume());
  const int status = waitForEnd(pid, 20s);
  EXPECT_GE(status, 0);
  EXPECT_LT(status, 126) << "not a crash";
  const auto boxes = callsOf("BOX-FEHLER-OK");
  ASSERT_EQ(boxes.size(), 1u) << readFile(root + "/run.jsonl") << readFile(root + "/out.txt");
  EXPECT_NE(boxes[0].find("\"message\":\"Fehler\""), std::string::npos) << boxes[0];
  EXPECT_NE(boxes[0].find("\"file\":\"FX01\""), std::string::npos) << boxes[0];
  EXPECT_NE(boxes[0].find("\"status_code\":\"30\""), std::string::npos) << boxes[0];
  EXPECT_EQ(callsOf("NEUSTART").size(), 1u);  // the first menu only, nothing after the loss
  EXPECT_TRUE(recorded().empty());
  EXPECT_NE(transcript().back().find("\"command\":\"Q\""), std::string::npos);
  EXPECT_EQ(signOnFlags(), "NN");  // the orderly end reached the server again

  EXPECT_EQ(px01("ADMIN", "select 1\nselect 1\nkey ESC\nkey ESC\nreply J\n"), 0);
  EXPECT_EQ(recorded().size(), 1u) << readFile(root + "/run.jsonl");
  EXPECT_TRUE(callsOf("BOX-FEHLER-OK").empty());
}

INSTANTIATE_TEST_SUITE_P(OwnServer, LauncherServerRestart, ::testing::Values(Store::kOwnServer),
                         [](const ::testing::TestParamInfo<Store>&) { return "OwnServer"; });

}  // namespace
