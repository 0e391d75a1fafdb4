#include "platform/dl_program_loader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

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

}  // namespace
