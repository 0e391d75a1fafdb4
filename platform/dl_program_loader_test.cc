#include "platform/dl_program_loader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "testing/temp_dir.h"

namespace {

platform::DlProgramLoader testLoader() {
  const char* build = std::getenv("PX_BUILD_DIR");
  return platform::DlProgramLoader({std::string(build ? build : ".") + "/lib/px01/testprograms"});
}

TEST(ProgramLoader, KeepsStateUntilUnloadedThenStartsFresh) {
  auto loader = testLoader();
  char rec = ' ';
  EXPECT_EQ(loader.call("PXTST1    ", &rec).returnCode, 1);
  EXPECT_EQ(loader.call("PXTST1", &rec).returnCode, 2);
  EXPECT_EQ(rec, '2');
  EXPECT_EQ(loader.call("PXTST2", &rec).returnCode, 1);  // its own state
  loader.unload("PXTST1    ");
  EXPECT_FALSE(loader.isLoaded("PXTST1"));
  EXPECT_EQ(loader.call("PXTST1", &rec).returnCode, 1);
  EXPECT_EQ(loader.call("PXTST2", &rec).returnCode, 2);
}

TEST(ProgramLoader, MissingProgramIsReportedNotCrashed) {
  auto loader = testLoader();
  const auto out = loader.call("NOSUCH", nullptr);
  EXPECT_FALSE(out.loaded);
  EXPECT_NE(loader.lastError().find("NOSUCH"), std::string::npos);
  loader.unload("NOSUCH");  // harmless
}

TEST(ProgramLoader, NamesThatAreNotPlainNamesNeverReachTheLoader) {
  auto loader = testLoader();
  for (std::string_view bad : {"", "          ", "../PXTST1", "PXTST1.so", "PX TST1", "PXTST1\n",
                               "/tmp/x", "ABCDEFGHIJK", "PX\x81"}) {
    EXPECT_FALSE(platform::isLoadableName(bad)) << bad;
    EXPECT_FALSE(loader.call(bad, nullptr).loaded) << bad;
  }
  EXPECT_TRUE(platform::isLoadableName("PXTST1    "));
}

TEST(ProgramLoader, FirstDirectoryOfThePathWins) {
  const char* build = std::getenv("PX_BUILD_DIR");
  const std::string dir = std::string(build ? build : ".") + "/lib/px01/testprograms";
  platform::DlProgramLoader loader({"/nonexistent", dir, "/also/missing"});
  EXPECT_TRUE(loader.call("PXTST1", nullptr).loaded);
}

// A relative entry of PX_PROGRAM_PATH means the directory where the path was
// read, whatever the current directory is when a program is loaded later.
TEST(ProgramPath, RelativeEntriesAreTakenWhereThePathIsRead) {
  namespace fs = std::filesystem;
  const char* build = std::getenv("PX_BUILD_DIR");
  const std::string programs = std::string(build ? build : ".") + "/lib/px01/testprograms";
  testing_support::TempDir start("px-path-start"), elsewhere("px-path-data");
  fs::create_directories(start / "progs");
  fs::create_directories(elsewhere / "progs");
  fs::copy_file(programs + "/PXTST1.so", start / "progs/PXTST1.so");
  // Under the same relative name elsewhere: a file that is no PXTST1.
  fs::copy_file(programs + "/PXTST2.so", elsewhere / "progs/PXTST1.so");

  const std::optional<std::string> before =
      std::getenv("PX_PROGRAM_PATH") ? std::optional<std::string>(std::getenv("PX_PROGRAM_PATH"))
                                     : std::nullopt;
  const fs::path cwd = fs::current_path();
  ::setenv("PX_PROGRAM_PATH", "progs::/opt/px/programs:./more", 1);
  fs::current_path(start.path());
  const std::string here = fs::current_path().string();
  const std::vector<std::string> path = platform::defaultProgramPath();
  fs::current_path(elsewhere.path());
  platform::DlProgramLoader loader(path);
  const bool loaded = loader.call("PXTST1", nullptr).loaded;
  fs::current_path(cwd);
  if (before) ::setenv("PX_PROGRAM_PATH", before->c_str(), 1);
  else ::unsetenv("PX_PROGRAM_PATH");

  ASSERT_EQ(path.size(), 4u);
  EXPECT_EQ(path[0], here + "/progs");
  EXPECT_EQ(path[1], "/opt/px/programs");
  EXPECT_EQ(path[2], here + "/./more");
  EXPECT_EQ(path[3], platform::installationRoot() + "/lib/px01/programs");
  EXPECT_TRUE(loaded) << loader.lastError();
}

}  // namespace
