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
