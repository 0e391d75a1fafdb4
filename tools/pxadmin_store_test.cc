// pxadmin init, dump, lock, unlock and status, run as the administrator runs
// them.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"
#include "testing/temp_dir.h"
#include "testing/test_files.h"

namespace {

using Result = testing_support::CommandResult;

// pxadmin sits beside this test in the build tree.
Result pxadmin(const std::string& args) {
  const std::string tool =
      (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "pxadmin").string();
  return testing_support::runCommand(tool + " " + args);
}

class PxadminStore : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp.path().empty());
    dir = temp.path();
  }
  datafiles::ControlRecord control() {
    datafiles::SqliteStore store;
    auto f = store.file(datafiles::kInstallationFile, dir + "/inst");
    datafiles::ControlRecord r;
    EXPECT_EQ(f->open(datafiles::OpenMode::kInput), datafiles::kOk);
    EXPECT_EQ(f->read(r.bytes()), datafiles::kOk);
    return r;
  }
  testing_support::TempDir temp{"pxadmin"};
  std::string dir;
};

TEST_F(PxadminStore, InitLockAndDump) {
  const std::string inst = dir + "/inst";
  struct Step {
    std::string args;
    int exitCode;
    std::string output;  // expected somewhere in the output
  };
  const Step steps[] = {
      {"init " + inst + " --id GILDAX --club 'Verein Müller' --installation 12345 --client 3", 0,
       "created"},
      {"init " + inst, 1, "refusing"},
      {"status --dir " + inst, 0, "not locked"},
      {"lock --dir " + inst, 0, "flag \"J\""},
      {"status --dir " + inst, 0, "System locked"},
      {"dump " + inst + "/FT00.DAT --json", 0, "\"club\": \"Verein Müller\""},
      {"dump " + inst + "/FT00.DAT --csv", 0, "0,0,0,GILDAX,Verein Müller,,,12345,,,3,,J,"},
      {"unlock --dir " + inst, 0, "flag \"N\""},
      {"dump " + inst + "/FX01.DAT", 0, ""},
      {"dump " + inst + "/FX09.DAT", 2, "cannot tell the layout"},
      {"status --dir " + dir + "/nowhere", 1, "status 35"},
      {"init " + dir + "/other --installation 12a45", 2, "--installation"},
      // Overlong values are refused, never cut: a cut code is another edition's.
      {"init " + dir + "/other --id GILDAX2", 2, "--id takes at most 6 characters"},
      {"init " + dir + "/other --club " + std::string(41, 'x'), 2, "--club takes at most 40"},
      {"init " + dir + "/other --option1 NB", 2, "--option1 takes at most 1 character"},
      {"init " + dir + "/other --option2 VB", 2, "--option2 takes at most 1 character"},
      {"init " + dir + "/other --region BAYR", 2, "--region takes at most 3"},
  };
  datafiles::ControlRecord before;
  for (const Step& s : steps) {
    SCOPED_TRACE(s.args);
    const Result r = pxadmin(s.args);
    EXPECT_EQ(r.exitCode, s.exitCode) << r.out;
    EXPECT_NE(r.out.find(s.output), std::string::npos) << r.out;
    if (s.args.rfind("status", 0) == 0 && r.exitCode == 0 && before.view().empty()) before = control();
    if (s.args.rfind("init " + inst + " --id", 0) == 0) before = control();
  }
  // Locking and unlocking changed byte 160 only, and back.
  EXPECT_EQ(control(), before);
  EXPECT_EQ(control().lockFlag(), 'N');
  EXPECT_EQ(control().client(), 0);
  EXPECT_FALSE(std::filesystem::exists(dir + "/other"));
  // 40 characters of code page 850 fit, whatever their UTF-8 length.
  const Result club = pxadmin("init " + dir + "/club --club 'Grün-Weiß Süd Übungsgemeinschaft 1897 äö'");
  EXPECT_EQ(club.exitCode, 0) << club.out;
}

// init killed at any moment leaves either nothing or a whole installation
// that opens and holds its control record, and no half-built files.
TEST_F(PxadminStore, InitKilledAtAnyMomentLeavesNothingOrAWholeInstallation) {
  const std::string tool =
      (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "pxadmin").string();
  const std::string inst = dir + "/inst";
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(pxadmin("init " + inst + " --id GILDAX").exitCode, 0);
  const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now() - t0)
                        .count();
  std::mt19937 random(1207);
  int whole = 0, nothing = 0;
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::filesystem::remove_all(inst);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::freopen("/dev/null", "w", stdout);
      ::execl(tool.c_str(), "pxadmin", "init", inst.c_str(), "--id", "GILDAX",
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::usleep(static_cast<useconds_t>(random() % (took + 1)));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!std::filesystem::exists(inst)) {
      ++nothing;
      continue;
    }
    ++whole;
    datafiles::SqliteStore store;
    for (const auto* spec : {&datafiles::kInstallationFile, &datafiles::kUserFile,
                             &datafiles::kMenuFile, &datafiles::kPermissionFile})
      EXPECT_EQ(store.checkIntegrity(*spec, inst, nullptr), datafiles::kOk) << spec->name;
    EXPECT_EQ(control().identification()[0], 'G');
    for (const auto& e : std::filesystem::directory_iterator(inst))
      EXPECT_EQ(e.path().filename().string().find(".new-"), std::string::npos) << e.path();
  }
  EXPECT_EQ(whole + nothing, 50);
  // What killed runs left beside the target goes with the next init.
  std::filesystem::remove_all(inst);
  ASSERT_EQ(pxadmin("init " + inst).exitCode, 0);
  for (const auto& e : std::filesystem::directory_iterator(dir))
    EXPECT_EQ(e.path().filename().string().find(".init-"), std::string::npos) << e.path();
}

// A dump shows whether a user has a password, never the hash itself, in
// every format.
TEST_F(PxadminStore, DumpNeverShowsPasswordHash) {
  const std::string inst = dir + "/inst";
  ASSERT_EQ(pxadmin("init " + inst).exitCode, 0);
  const std::string hash = "$y$j9T$SECRETSALT$SECRETHASHVALUE";
  {
    datafiles::SqliteStore store;
    auto f = store.file(datafiles::kUserFile, inst);
    ASSERT_EQ(f->open(datafiles::OpenMode::kInputOutput), datafiles::kOk);
    datafiles::UserRecord withHash, without;
    withHash.setClient(3);
    withHash.setEncodedName("AAAAAAAAAA");
    withHash.setUserClass('N');
    withHash.setPasswordHash(hash);
    without.setClient(3);
    without.setEncodedName("BBBBBBBBBB");
    without.setUserClass('N');
    ASSERT_EQ(f->write(withHash.bytes()), datafiles::kOk);
    ASSERT_EQ(f->write(without.bytes()), datafiles::kOk);
  }
  const struct {
    const char* option;
    const char* set;
    const char* none;
  } formats[] = {
      {"", " | set | ", " | none | "},
      {" --json", "\"password\": \"set\"", "\"password\": \"none\""},
      {" --csv", ",set,", ",none,"},
  };
  for (const auto& f : formats) {
    SCOPED_TRACE(f.option);
    const Result r = pxadmin("dump " + inst + "/FX00.DAT" + f.option);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.out.find("SECRET"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(f.set), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(f.none), std::string::npos) << r.out;
  }
}

}  // namespace
