// Recognising a COBOL module from its file, before anything is loaded.
#include "platform/elf_deps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "testing/cobol_support.h"

namespace {

using testing_support::testProgramDir;

TEST(ElfDeps, CobolModuleNeedsLibcobAndEntersTheRuntime) {
  const auto deps = platform::readElfDependencies(testProgramDir() + "/TWS.so");
  ASSERT_TRUE(deps.valid);
  EXPECT_TRUE(std::any_of(deps.needed.begin(), deps.needed.end(),
                          [](const std::string& n) { return n.rfind("libcob.so", 0) == 0; }));
  EXPECT_TRUE(platform::isCobolModule(deps));
}

// The launcher, the administration tool and the core library must run on a
// machine without the COBOL run-time: only libpxextfh.so needs it.
TEST(ElfDeps, LauncherToolAndCoreNeverNeedTheCobolRuntime) {
  const std::string build = testing_support::buildDir();
  for (const std::string& file :
       {build + "/bin/px01", build + "/bin/pxadmin", build + "/lib/libpxcore.so"}) {
    SCOPED_TRACE(file);
    const auto deps = platform::readElfDependencies(file);
    ASSERT_TRUE(deps.valid);
    EXPECT_FALSE(platform::isCobolModule(deps));
    for (const std::string& n : deps.needed) EXPECT_EQ(n.find("libcob"), std::string::npos);
    for (const std::string& u : deps.undefined) EXPECT_NE(u.rfind("cob_", 0), 0u) << u;
  }
  const auto handler = platform::readElfDependencies(testing_support::cobolHandler());
  EXPECT_TRUE(std::any_of(handler.needed.begin(), handler.needed.end(),
                          [](const std::string& n) { return n.rfind("libcob.so", 0) == 0; }));
}

TEST(ElfDeps, OtherFilesAreNotCobol) {
  // A C++ module, the handler library (needs libcob but is no program), a
  // text file, a truncated ELF header and a missing file.
  EXPECT_FALSE(platform::isCobolModule(testProgramDir() + "/TPLAIN.so"));
  EXPECT_FALSE(platform::isCobolModule(testing_support::cobolHandler()));
  testing_support::TempDir dir("px-elf");
  const std::string junk = dir / "junk.so";
  std::ofstream(junk) << "not an ELF file";
  EXPECT_FALSE(platform::readElfDependencies(junk).valid);
  {
    std::ifstream in(testProgramDir() + "/TWS.so", std::ios::binary);
    std::string head(100, '\0');
    in.read(head.data(), 100);
    std::ofstream(junk, std::ios::binary | std::ios::trunc) << head;
  }
  EXPECT_FALSE(platform::isCobolModule(junk));
  EXPECT_FALSE(platform::readElfDependencies("/nonexistent.so").valid);
}

}  // namespace
