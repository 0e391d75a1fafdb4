// The real px01 calling COBOL programs from its menu, driven by the scripted
// screen set: the sample PC02 changes the permission file as it should, a
// record held by another process is left alone, PC01 shows the user's
// permissions through the screen set, and a COBOL unit that px01
// does not live to finish (killed, or ended from outside while the COBOL
// run-time is loaded) leaves the files as they were. On an installation of
// embedded files and on one on the database server.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <thread>

#include "datafiles/records.h"
#include "datafiles/store_config.h"
#include "testing/cobol_support.h"
#include "testing/pg_server.h"
#include "testing/temp_dir.h"
#include "testing/test_files.h"

namespace {

using testing_support::buildDir;
using testing_support::Child;
using testing_support::readFile;

constexpr int kClient = 1;

using Store = testing_support::StoreKind;

class CobolEndToEnd : public ::testing::TestWithParam<Store> {
 protected:
  void SetUp() override {
    root = temp.path();
    data = root + "/daten";
    std::string conninfo, error;
    const std::string onServer = testing_support::initStoreWords(GetParam(), conninfo, error);
    ASSERT_TRUE(error.empty()) << error;
    ASSERT_EQ(
        admin("init " + data + onServer + " --id GILDAX --club 'TV Test' --client 1 --header 7"),
        0);
    ASSERT_EQ(admin("user add ADMIN --class M --no-password --dir " + data), 0);
    ASSERT_EQ(admin("user add NORMAL --class N --no-password --dir " + data), 0);
    saved = std::filesystem::current_path();
    std::filesystem::current_path(data);
    putMenu(0, 0, "", "    ", "034 - ");  // the current release: no catalogue run
    putMenu(0, 19, "Prüfung", "    ");
    putMenu(19, 1, "Berechtigungen", "PC01");
    putMenu(19, 2, "Bestätigen", "PC02");
    putMenu(19, 3, "Recorder", "PXRA");
  }
  void TearDown() override {
    std::filesystem::current_path(saved);
    if (HasFailure()) std::cerr << transcript() << readFile(root + "/out.txt");
  }

  int admin(const std::string& args) {
    return std::system((buildDir() + "/bin/pxadmin " + args + " >/dev/null 2>&1").c_str());
  }
  void putMenu(int menu, int entry, std::string_view text, std::string_view program,
               std::string_view stamp = {}) {
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
    (void)f->close();
  }
  // The permission record of `user` for `program`, if there is one.
  std::optional<datafiles::PermissionRecord> permission(std::string_view user,
                                                        std::string_view program) {
    const auto store = datafiles::openStore(data, nullptr);
    auto f = store->file(datafiles::kPermissionFile, data);
    EXPECT_TRUE(f->open(datafiles::OpenMode::kInput).ok());
    datafiles::PermissionRecord r;
    r.setKey(kClient, user, program);
    const bool found = f->read(r.bytes()).ok();
    (void)f->close();
    if (!found) return std::nullopt;
    return r;
  }
  void setGrantDate(std::string_view user, std::string_view program, std::string_view date) {
    const auto store = datafiles::openStore(data, nullptr);
    auto f = store->file(datafiles::kPermissionFile, data);
    ASSERT_TRUE(f->open(datafiles::OpenMode::kInputOutput).ok());
    datafiles::PermissionRecord r;
    r.setKey(kClient, user, program);
    ASSERT_TRUE(f->read(r.bytes()).ok());
    r.setGrantDate(date);
    ASSERT_TRUE(f->rewrite(r.bytes()).ok());
    (void)f->close();
  }
  std::string px01Command(const std::string& args, const std::string& script,
                          const std::string& commands) {
    std::ofstream(root + "/run.script") << script;
    std::ofstream(data + "/PXREC.cmd") << commands;
    const std::string b = buildDir();
    return "cd '" + data + "' && exec env PX_PROGRAM_PATH=" + b + "/lib/px01/scripted:" + b +
           "/lib/px01/e2e:" + b + "/lib/px01/testprograms DSGRUN_SCRIPT=" + root +
           "/run.script DSGRUN_TRANSCRIPT=" + root + "/run.jsonl XDG_CONFIG_HOME=" + root +
           "/config " + b + "/bin/px01 " + args + " </dev/null >" + root + "/out.txt 2>&1";
  }
  // Runs px01 to its end; the exit status.
  int px01(const std::string& args, const std::string& script, const std::string& commands = "") {
    const int status = std::system(px01Command(args, script, commands).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string transcript() { return readFile(root + "/run.jsonl"); }
  // Sign-on flags of all users in key order.
  std::string signOnFlags() {
    const auto store = datafiles::openStore(data, nullptr);
    auto f = store->file(datafiles::kUserFile, data);
    EXPECT_TRUE(f->open(datafiles::OpenMode::kInput).ok());
    datafiles::UserRecord u;
    encoding::zero(u.clientField());
    std::string flags;
    if (f->start(datafiles::StartMode::kNotLessThan, u.bytes(), datafiles::UserRecord::kKeyLength)
            .ok())
      while (f->readNext(u.bytes()).ok()) flags += u.signOnFlag();
    (void)f->close();
    return flags;
  }
  std::string today() {
    const std::time_t now = std::time(nullptr);
    char buf[8];
    std::strftime(buf, sizeof buf, "%y%m%d", std::localtime(&now));
    return buf;
  }

  testing_support::TempDir temp{"px-cobol-e2e"};
  std::string root, data;
  std::filesystem::path saved;
};

// An administrator sees every entry; a normal user only those she may call.
constexpr const char* kAdminCallsPC02 = "select 1\nselect 2\nkey ESC\nkey ESC\nreply J\n";
constexpr const char* kUserCallsFirst = "select 1\nselect 1\nkey ESC\nkey ESC\nreply J\n";

TEST_P(CobolEndToEnd, SampleFromTheMenuStampsThePermissionUnderLock) {
  // An administrator needs no permission record: PC02 writes one.
  ASSERT_FALSE(permission("ADMIN", "PC02"));
  EXPECT_EQ(px01("ADMIN", kAdminCallsPC02), 0) << readFile(root + "/out.txt");
  auto written = permission("ADMIN", "PC02");
  ASSERT_TRUE(written);
  EXPECT_EQ(written->grantDate(), today());
  EXPECT_EQ(written->flag(), 'J');
  EXPECT_EQ(written->text(), "COBOL     ");
  EXPECT_NE(transcript().find("\"command\":\"Q\""), std::string::npos);  // orderly end

  // A normal user's own record is rewritten: the date changes, nothing else.
  ASSERT_EQ(admin("grant NORMAL PC02 --client 1 --flag J --text 'nur lesen' --dir " + data), 0);
  setGrantDate("NORMAL", "PC02", "990101");
  EXPECT_EQ(px01("NORMAL", kUserCallsFirst), 0) << readFile(root + "/out.txt");
  auto rewritten = permission("NORMAL", "PC02");
  ASSERT_TRUE(rewritten);
  EXPECT_EQ(rewritten->grantDate(), today());
  EXPECT_EQ(rewritten->text(), "nur lesen ");

  // Held by another process: PC02 leaves it alone, the launcher goes on.
  setGrantDate("NORMAL", "PC02", "990101");
  const auto key = datafiles::PermissionRecord::key(kClient, "NORMAL    ", "PC02");
  Child holder(
      testing_support::probeCommand(datafiles::kPermissionFile, "hold", {key.data(), key.size()}));
  ASSERT_EQ(holder.readLine(), "00");
  EXPECT_EQ(px01("NORMAL", kUserCallsFirst), 0) << readFile(root + "/out.txt");
  holder.writeLine("");
  EXPECT_EQ(holder.wait(), 0);
  EXPECT_EQ(permission("NORMAL", "PC02")->grantDate(), "990101");
  EXPECT_NE(transcript().find("\"command\":\"Q\""), std::string::npos);
}

TEST_P(CobolEndToEnd, ListingSampleShowsTheUsersPermissionsInABox) {
  ASSERT_EQ(admin("grant NORMAL PC01 --client 1 --dir " + data), 0);
  ASSERT_EQ(admin("grant NORMAL PXRA --client 1 --dir " + data), 0);
  EXPECT_EQ(px01("NORMAL", kUserCallsFirst), 0);
  const std::string t = transcript();
  const auto box = t.find("\"procedure\":\"BOX-INFO\"");
  ASSERT_NE(box, std::string::npos) << t;
  const std::string line = t.substr(t.rfind('\n', box) + 1, t.find('\n', box) - t.rfind('\n', box));
  EXPECT_NE(line.find("\"message\":\"Berechtigungen von NORMAL: 2 - PC01 PXRA\""),
            std::string::npos)
      << line;
  EXPECT_NE(t.find("\"command\":\"Q\""), std::string::npos);  // the launcher went on to its end
}

// PXRA asks for the COBOL test program TUNIT as its follow-up: TUNIT writes
// 100 permission records in a unit and waits (second command-line word
// "S"); px01 does not outlive it.
class CobolUnitEnds : public CobolEndToEnd {
 protected:
  int permissions() { return testing_support::countRecords(datafiles::kPermissionFile); }
  // Starts px01, waits until TUNIT's unit is written, then sends `signal`;
  // px01's status as waitpid gives it.
  int runAndEnd(int signal) {
    Child px(std::vector<std::string>{
        "/bin/sh", "-c", px01Command("ADMIN S", "select 1\nselect 3\n", "PXRA next1 TUNIT\n")});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!std::filesystem::exists(data + "/READY.TXT") &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(std::filesystem::exists(data + "/READY.TXT")) << readFile(root + "/out.txt");
    ::kill(px.pid(), signal);
    return px.waitStatus();
  }
};

TEST_P(CobolUnitEnds, KilledMidUnitLeavesTheFilesAsBefore) {
  const int before = permissions();
  const int status = runAndEnd(SIGKILL);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  const std::string flags = signOnFlags();
  EXPECT_EQ(std::count(flags.begin(), flags.end(), 'J'), 1);  // no end at all
  EXPECT_EQ(permissions(), before);
  EXPECT_EQ(testing_support::probe(datafiles::kPermissionFile, "read-update"), "23");  // usable
}

// libcob installs its own handlers at its start (they would end the process
// by the signal itself, past the launcher); px01's own must still see the
// signal: the COBOL program's wait ends, it closes its file (its unit is
// undone), and px01 ends in order with 128 + the signal.
TEST_P(CobolUnitEnds, EndedFromOutsideWhileCobolRunsEndsAsPx01Does) {
  const int before = permissions();
  const int status = runAndEnd(SIGTERM);
  ASSERT_TRUE(WIFEXITED(status)) << readFile(root + "/out.txt");
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
  EXPECT_EQ(signOnFlags(), "NN");  // the orderly end ran
  EXPECT_EQ(permissions(), before);
}

auto storeName = [](const ::testing::TestParamInfo<Store>& info) {
  return testing_support::storeKindName(info.param);
};
INSTANTIATE_TEST_SUITE_P(Stores, CobolEndToEnd, ::testing::Values(Store::kFiles, Store::kServer),
                         storeName);
INSTANTIATE_TEST_SUITE_P(Stores, CobolUnitEnds, ::testing::Values(Store::kFiles, Store::kServer),
                         storeName);

}  // namespace
