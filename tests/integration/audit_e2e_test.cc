// The audit trail and the live sessions with the real px01 and pxadmin on a
// temporary installation: px01 driven by the scripted screen set, with
// recording programs as function programs (tests/modules/recorder.cc).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "datafiles/audit_records.h"
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

// On an installation of embedded files and on one on the database server.
using Store = testing_support::StoreKind;

class AuditEndToEnd : public ::testing::TestWithParam<Store> {
 protected:
  void SetUp() override {
    root = temp.path();
    data = root + "/daten";
    std::string error;
    const std::string onServer = testing_support::initStoreWords(GetParam(), conninfo, error);
    ASSERT_TRUE(error.empty()) << error;
    ASSERT_EQ(
        admin("init " + data + onServer + " --id GILDAX --club 'TV Test' --client 1").exitCode, 0);
    ASSERT_EQ(admin("user add NORMAL --class N --no-password --dir " + data).exitCode, 0);
    ASSERT_EQ(admin("grant NORMAL PXRA --client 1 --dir " + data).exitCode, 0);
    putMenu(0, 0, "", "    ", "034 - ");
    putMenu(0, 17, "Aufgaben", "    ");
    putMenu(0, 19, "Prüfung", "    ");
    putMenu(19, 1, "Recorder", "PXRA");
  }

  testing_support::CommandResult admin(const std::string& args, const std::string& input = "") {
    const std::string tool = buildDir() + "/bin/pxadmin";
    if (input.empty()) return testing_support::runCommand(tool + " " + args + " </dev/null");
    return testing_support::runCommand("printf '" + input + "' | " + tool + " " + args);
  }
  void putMenu(int menu, int entry, std::string_view text, std::string_view program,
               std::string_view stamp = "") {
    const auto store = datafiles::openStore(data, nullptr);
    auto f = store->file(datafiles::kMenuFile, data);
    ASSERT_TRUE(f->open(datafiles::OpenMode::kInputOutput).ok());
    datafiles::MenuRecord r;
    r.setKey(menu, entry);
    r.setText(text);
    r.setProgram(program);
    r.setAccessClass('N');
    if (!stamp.empty()) r.setVersionStamp(stamp);
    if (!f->write(r.bytes()).ok()) {
      ASSERT_TRUE(f->rewrite(r.bytes()).ok());
    }
  }
  // px01 USER in the data directory with the screen-set `script`, `stdin`
  // as its input, and the recorders' commands; without waiting when `wait`
  // is false (the process id then).
  pid_t px01(const std::string& user, const std::string& script, const std::string& stdinText = "",
             const std::string& commands = "", bool wait = true) {
    std::ofstream(root + "/run.script") << script;
    std::ofstream(root + "/stdin") << stdinText;
    std::ofstream(data + "/PXREC.cmd") << commands;
    const std::string b = buildDir();
    const std::map<std::string, std::string> vars = {
        {"PX_PROGRAM_PATH",
         b + "/lib/px01/scripted:" + b + "/lib/px01/e2e:" + b + "/lib/px01/programs"},
        {"DSGRUN_SCRIPT", root + "/run.script"},
        {"DSGRUN_TRANSCRIPT", root + "/run.jsonl"},
        {"XDG_CONFIG_HOME", root + "/config"}};
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry(*e);
      if (vars.count(entry.substr(0, entry.find('='))) == 0) env.push_back(entry);
    }
    for (const auto& [name, value] : vars) env.push_back(name + "=" + value);
    const std::string exe = b + "/bin/px01", in = root + "/stdin", out = root + "/out.txt";
    std::vector<char*> argv{const_cast<char*>(exe.c_str()), const_cast<char*>(user.c_str()),
                            nullptr};
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int i = ::open(in.c_str(), O_RDONLY);
      const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (i < 0 || o < 0 || ::chdir(data.c_str()) != 0) ::_exit(120);
      ::dup2(i, 0);
      ::dup2(o, 1);
      ::dup2(o, 2);
      ::execve(exe.c_str(), argv.data(), envp.data());
      ::_exit(121);
    }
    if (wait) {
      int status = 0;
      ::waitpid(pid, &status, 0);
    }
    return pid;
  }
  // The trail's events of `user` as "EVENT object result detail".
  std::vector<std::string> trailOf(const std::string& user) {
    std::vector<std::string> out;
    for (const datafiles::AuditRecord& r : events()) {
      if (encoding::trimmed(r.user()) != user) continue;
      std::string line(encoding::trimmed(r.event()));
      for (const std::string& part : {std::string(encoding::trimmed(r.object())),
                                      std::string(encoding::trimmed(r.result())),
                                      encoding::getText(r.detail())})
        if (!part.empty()) line += " " + part;
      out.push_back(line);
    }
    return out;
  }
  std::vector<datafiles::AuditRecord> events() {
    std::vector<datafiles::AuditRecord> out;
    for (const std::string& record : allTrailRecords()) {
      datafiles::AuditRecord r;
      encoding::putRaw(r.bytes(), record);
      if (r.kind() == datafiles::AuditRecord::kEventKind) out.push_back(r);
    }
    return out;
  }
  // Every record of the trail, of every kind, as its bytes.
  std::vector<std::string> allTrailRecords() {
    std::vector<std::string> out;
    const auto store = datafiles::openStore(data, nullptr);
    auto f = store->file(datafiles::kAuditFile, data);
    EXPECT_TRUE(f->open(datafiles::OpenMode::kInput).ok());
    datafiles::AuditRecord r;
    datafiles::FileStatus s = f->start(datafiles::StartMode::kNotLessThan, r.bytes(), 1);
    while (s.ok() && (s = f->readNext(r.bytes())).ok()) out.emplace_back(r.view());
    return out;
  }
  // The sign-on flag of `name` as pxadmin user list shows it.
  char signOnFlagOf(const std::string& name) {
    for (const std::string& line : testing_support::lines(admin("user list --dir " + data).out)) {
      std::istringstream in(line);
      std::string client, user, cls, flag;
      in >> client >> user >> cls >> flag;
      if (user == name && flag.size() == 1) return flag[0];
    }
    return '?';
  }
  bool waitUntil(const std::function<bool()>& ready, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
      if (ready()) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  // The trail gone, as in an installation made before it.
  void dropTrail() {
    if (GetParam() == Store::kServer) {
      const std::string e = testing_support::PgTestServer::get().sql(
          conninfo, "DROP TABLE fxau; DELETE FROM px_layout WHERE file = 'fxau'");
      ASSERT_EQ(e, "");
      return;
    }
    for (const char* suffix : {"", "-wal", "-shm", "-lock"})
      std::filesystem::remove(data + "/FXAU.DAT" + suffix);
  }

  testing_support::TempDir temp{"px-audit-e2e"};
  std::string root, data, conninfo;
};

// Sign-on (one wrong password first), a call, a refusal, the lock toggled
// twice and the sign-off leave exactly these records, in this order; no
// record holds a password or a hash.
TEST_P(AuditEndToEnd, AScriptedRunLeavesExactlyItsTrail) {
  ASSERT_EQ(admin("user add HELGA --class H --password-stdin --dir " + data, "erstesPW1\\n")
                .exitCode,
            0);
  ASSERT_EQ(admin("user passwd HELGA --password-stdin --dir " + data, "helgas-Kennwort\\n")
                .exitCode,
            0);
  // Into 19 and PXRA; back up; application 17 (not installed); F3 twice;
  // Escape at the top and yes.
  px01("HELGA", "select 2\nselect 1\nkey ESC\nselect 1\nkey F3\nkey F3\nkey ESC\nreply J\n",
       "falsch\nhelgas-Kennwort\n");
  EXPECT_EQ(trailOf("HELGA"), (std::vector<std::string>{
                                  "SIGNON PX00 OK class H, password",
                                  "CALL PXRA menu 19/1 Recorder",
                                  "RETURN PXRA 0",
                                  "NOTINST 17 23 Anwendung nicht installiert!",
                                  "LOCK FT00 00 key Sperre",
                                  "UNLOCK FT00 00 key Sperre",
                                  "SIGNOFF OK",
                              }))
      << readFile(root + "/out.txt");
  // One workstation and process for the whole run, the client, no losses.
  for (const datafiles::AuditRecord& r : events()) {
    if (encoding::trimmed(r.user()) != "HELGA") continue;
    EXPECT_EQ(encoding::view(r.client()), "001");
    EXPECT_EQ(encoding::view(r.pid()), encoding::view(events().back().pid()));
    EXPECT_EQ(encoding::view(r.lost()), "000000");
  }
  // No password, typed or set, and no hash in any record.
  const auto store = datafiles::openStore(data, nullptr);
  auto fx00 = store->file(datafiles::kUserFile, data);
  ASSERT_TRUE(fx00->open(datafiles::OpenMode::kInput).ok());
  std::vector<std::string> hashes;
  datafiles::UserRecord u;
  std::fill(u.bytes().begin(), u.bytes().end(), '\0');
  datafiles::FileStatus s = fx00->start(datafiles::StartMode::kNotLessThan, u.bytes(), 1);
  while (s.ok() && (s = fx00->readNext(u.bytes())).ok())
    if (!u.passwordHash().empty()) hashes.emplace_back(u.passwordHash());
  ASSERT_EQ(hashes.size(), 1u);
  const auto records = allTrailRecords();
  ASSERT_FALSE(records.empty());
  for (const std::string& record : records)
    for (const std::string& secret :
         {std::string("erstesPW1"), std::string("helgas-Kennwort"), std::string("falsch\n"),
          hashes[0], hashes[0].substr(0, 20), hashes[0].substr(hashes[0].size() - 20)})
      EXPECT_EQ(record.find(secret), std::string::npos) << secret;
  // The administrator's changes are there too, and pxadmin audit shows it.
  const auto listed = admin("audit --event PASSWD,USERADD --user helga --dir " + data);
  EXPECT_EQ(listed.exitCode, 0);
  EXPECT_NE(listed.out.find("PASSWD"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("password changed"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("2 records"), std::string::npos) << listed.out;
}

// PX13 from the menu shows the trail, newest last: the administrator's own
// sign-on and its call of PX13 are in it, and looking at it adds nothing.
TEST_P(AuditEndToEnd, TheTrailFromTheMenu) {
  ASSERT_EQ(admin("user add HELGA --class H --no-password --dir " + data).exitCode, 0);
  ASSERT_EQ(admin("grant HELGA PX13 --client 1 --dir " + data).exitCode, 0);
  putMenu(19, 2, "Logdatei anzeigen", "PX13");
  px01("HELGA", "select 2\nselect 2\nkey ESC\nkey ESC\nkey ESC\nreply J\n");
  std::vector<std::string> lists;
  {
    std::ifstream in(root + "/run.jsonl");
    for (std::string line; std::getline(in, line);)
      if (line.find("\"LISTE\"") != std::string::npos) lists.push_back(line);
  }
  ASSERT_EQ(lists.size(), 1u) << readFile(root + "/out.txt");
  EXPECT_NE(lists[0].find("HELGA      SIGNON   PX00"), std::string::npos) << lists[0];
  EXPECT_NE(lists[0].find("HELGA      CALL     PX13"), std::string::npos) << lists[0];
  EXPECT_NE(lists[0].find("GRANT"), std::string::npos) << lists[0];
  EXPECT_EQ(trailOf("HELGA"), (std::vector<std::string>{"SIGNON PX00 OK class H, no password",
                                                        "CALL PX13 menu 19/2 Logdatei anzeigen",
                                                        "RETURN PX13 0", "SIGNOFF OK"}));
}

// While px01 runs its session is live; killed with SIGKILL, it shows as
// stale (its flag "J" with no session behind it) until who --clear-stale
// resets the flag, which the trail records. A restore meanwhile names the
// session and changes nothing.
TEST_P(AuditEndToEnd, AKilledLauncherIsLiveWhileItRunsAndStaleAfter) {
  const auto backup = admin("backup " + root + " --dir " + data);
  ASSERT_EQ(backup.exitCode, 0) << backup.out;
  const std::string backupDir = testing_support::lines(backup.out).back();
  const pid_t pid = px01("NORMAL", "pause 600000\nkey ESC\n", "", "", /*wait=*/false);
  ASSERT_TRUE(waitUntil(
      [&] { return admin("who --dir " + data).out.find("Signed on now: 1") != std::string::npos; },
      10s))
      << admin("who --dir " + data).out << readFile(root + "/out.txt");
  const auto live = admin("who --dir " + data);
  EXPECT_NE(live.out.find("NORMAL (client 1) on "), std::string::npos) << live.out;
  EXPECT_NE(live.out.find("process " + std::to_string(pid)), std::string::npos) << live.out;
  EXPECT_NE(live.out.find("without a live session: 0"), std::string::npos) << live.out;
  const auto refused = admin("restore " + backupDir + " --dir " + data);
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.out.find("NORMAL (client 1) on "), std::string::npos) << refused.out;
  EXPECT_NE(refused.out.find("Nothing changed."), std::string::npos) << refused.out;
  const auto notMoved =
      admin("migrate --dir " + data +
            (GetParam() == Store::kServer ? std::string(" --to-files")
                                          : " --to-server 'host=/nonexistent dbname=none'"));
  EXPECT_EQ(notMoved.exitCode, 1);
  EXPECT_NE(notMoved.out.find("NORMAL (client 1) on "), std::string::npos) << notMoved.out;
  EXPECT_NE(notMoved.out.find("Nothing changed."), std::string::npos) << notMoved.out;

  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  // A server notices the dead client's session a moment later. The first
  // who that finds the session dead reports its record, and removes it.
  testing_support::CommandResult stale;
  EXPECT_TRUE(waitUntil(
      [&] {
        stale = admin("who --dir " + data);
        return stale.out.find("Signed on now: 0") != std::string::npos;
      },
      5s));
  EXPECT_NE(stale.out.find("Signed on now: 0"), std::string::npos) << stale.out;
  EXPECT_NE(stale.out.find("1 session record of launchers that ended without signing off"),
            std::string::npos)
      << stale.out;
  EXPECT_NE(stale.out.find("without a live session: 1\n  NORMAL (client 1)"), std::string::npos)
      << stale.out;
  EXPECT_EQ(signOnFlagOf("NORMAL"), 'J');
  const auto cleared = admin("who --clear-stale --dir " + data);
  EXPECT_EQ(cleared.exitCode, 0);
  EXPECT_NE(cleared.out.find("1 sign-on flag reset"), std::string::npos) << cleared.out;
  EXPECT_EQ(signOnFlagOf("NORMAL"), 'N');
  const auto after = admin("who --dir " + data);
  EXPECT_NE(after.out.find("without a live session: 0"), std::string::npos) << after.out;
  const auto trail = admin("audit --event CLEARSTL --dir " + data);
  EXPECT_NE(trail.out.find("NORMAL"), std::string::npos) << trail.out;
  // The killed run: signed on, never signed off.
  const auto mine = trailOf("NORMAL");
  ASSERT_FALSE(mine.empty());
  EXPECT_EQ(mine.front(), "SIGNON PX00 OK class N, no password");
  EXPECT_EQ(std::count(mine.begin(), mine.end(), "SIGNOFF OK"), 0);
  // Nobody signed on: the restore goes ahead now.
  EXPECT_EQ(admin("restore " + backupDir + " --dir " + data).exitCode, 0);
}

// Another process holds the trail in a unit of its own while the user signs
// on and calls a program: the user is neither stopped nor kept waiting (the
// store's wait is 1.5 s a write, three writes fail), and the first record
// written after the trail is free again says how many were lost, as do
// pxadmin audit and pxadmin check.
TEST_P(AuditEndToEnd, ATrailHeldElsewhereNeitherStopsNorDelaysTheUserAndIsReported) {
  const auto store = datafiles::openStore(data, nullptr);
  auto holder = store->file(datafiles::kAuditFile, data);
  ASSERT_TRUE(holder->open(datafiles::OpenMode::kInputOutput).ok());
  ASSERT_TRUE(holder->begin().ok());
  datafiles::AuditRecord mark;
  encoding::putRaw(mark.time(), "19990101000000000000");
  ASSERT_TRUE(holder->write(mark.bytes()).ok());  // the unit now holds the file for writing

  const std::string go = root + "/go";
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t pid = px01("NORMAL", "select 2\nselect 1\nkey ESC\nkey ESC\nreply J\n", "",
                         "PXRA waitfor " + go + "\n", /*wait=*/false);
  ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(data + "/PXREC.log"); }, 10s))
      << readFile(root + "/out.txt");
  // Sign-on, session and the call's record have failed by now, at once.
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 4500ms);
  ASSERT_TRUE(holder->rollback().ok());
  std::ofstream(go) << "go";
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << readFile(root + "/out.txt");
  EXPECT_EQ(trailOf("NORMAL"), (std::vector<std::string>{"RETURN PXRA 0", "SIGNOFF OK"}));
  const auto listed = admin("audit --user NORMAL --dir " + data);
  EXPECT_NE(listed.out.find("[3 records not written before this one]"), std::string::npos)
      << listed.out;
  const auto json = admin("audit --user NORMAL --json --dir " + data);
  EXPECT_NE(json.out.find("\"lost_before\":3"), std::string::npos) << json.out;
  const auto check = admin("check --dir " + data);
  EXPECT_EQ(check.exitCode, 0) << check.out;
  EXPECT_NE(check.out.find("3 records could not be written"), std::string::npos) << check.out;
}

// pxadmin audit's filters and prune; an installation made before the
// trail gets it from check --repair, or from the first start.
TEST_P(AuditEndToEnd, FiltersPruneAndRepair) {
  px01("NORMAL", "select 2\nselect 1\nkey ESC\nkey ESC\nreply J\n");
  struct Case {
    std::string args;
    std::vector<std::string> wanted, unwanted;
  } cases[] = {
      {"--event call,return", {"CALL", "RETURN", "2 records"}, {"SIGNON", "GRANT"}},
      {"--program PXRA", {"GRANT", "CALL", "RETURN", "3 records"}, {"SIGNON"}},
      {"--user NORMAL", {"USERADD", "GRANT", "SIGNON", "SIGNOFF"}, {"INIT"}},
      {"--client 2", {"0 records"}, {"SIGNON"}},
      {"--since 2000-01-01 --until 2000-12-31", {"0 records"}, {"INIT"}},
      {"--since 2000-01-01", {"INIT", "SIGNOFF"}, {}},
  };
  for (const Case& c : cases) {
    const auto r = admin("audit " + c.args + " --dir " + data);
    EXPECT_EQ(r.exitCode, 0) << c.args << r.out;
    for (const auto& w : c.wanted) EXPECT_NE(r.out.find(w), std::string::npos) << c.args << r.out;
    for (const auto& w : c.unwanted) EXPECT_EQ(r.out.find(w), std::string::npos) << c.args << r.out;
  }
  // Newest last, in the JSON lines too.
  const auto json = testing_support::lines(admin("audit --json --dir " + data).out);
  ASSERT_GE(json.size(), 5u);
  EXPECT_NE(json.front().find("\"event\":\"INIT\""), std::string::npos) << json.front();
  EXPECT_NE(json.back().find("\"event\":\"SIGNOFF\""), std::string::npos) << json.back();
  EXPECT_EQ(admin("audit --since yesterday --dir " + data).exitCode, 2);
  EXPECT_EQ(admin("audit prune --before 2300-01-01 --dir " + data).exitCode, 2);

  const std::size_t before = events().size();
  const auto pruned = admin("audit prune --before 2000-01-01 --dir " + data);
  EXPECT_EQ(pruned.exitCode, 0) << pruned.out;
  EXPECT_NE(pruned.out.find("0 records before"), std::string::npos) << pruned.out;
  EXPECT_EQ(events().size(), before + 1);  // the prune itself
  const std::string tomorrow = [] {
    const std::time_t t = std::time(nullptr) + 86400;
    std::tm tm{};
    ::localtime_r(&t, &tm);
    char buf[16];
    std::strftime(buf, sizeof buf, "%Y-%m-%d", &tm);
    return std::string(buf);
  }();
  EXPECT_EQ(admin("audit prune --before " + tomorrow + " --dir " + data).exitCode, 2);
  // Everything up to now goes, in one unit; the prune's own record stays.
  std::this_thread::sleep_for(1100ms);
  const std::string now = [] {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return std::string(buf);
  }();
  const auto all = admin("audit prune --before '" + now + "' --dir " + data);
  EXPECT_EQ(all.exitCode, 0) << all.out;
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(encoding::trimmed(events()[0].event()), "PRUNE");
  // Sessions and refused-password counts are not events: prune leaves them.

  // An installation made before the trail.
  dropTrail();
  const auto missing = admin("check --dir " + data);
  EXPECT_EQ(missing.exitCode, 0) << missing.out;
  EXPECT_NE(missing.out.find("FXAU.DAT: missing"), std::string::npos) << missing.out;
  EXPECT_EQ(admin("audit --dir " + data).exitCode, 1);
  const auto repaired = admin("check --repair --dir " + data);
  EXPECT_EQ(repaired.exitCode, 0) << repaired.out;
  EXPECT_NE(repaired.out.find("FXAU.DAT: was missing, made now"), std::string::npos)
      << repaired.out;
  EXPECT_NE(admin("audit --dir " + data).out.find("REPAIR"), std::string::npos);
  // Or the first start makes it.
  dropTrail();
  px01("NORMAL", "key ESC\nreply J\n");
  EXPECT_EQ(trailOf("NORMAL"),
            (std::vector<std::string>{"SIGNON PX00 OK class N, no password", "SIGNOFF OK"}));
}

INSTANTIATE_TEST_SUITE_P(Stores, AuditEndToEnd, ::testing::Values(Store::kFiles, Store::kServer),
                         [](const auto& info) { return testing_support::storeKindName(info.param); });

}  // namespace
