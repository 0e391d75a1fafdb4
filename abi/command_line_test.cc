#include "abi/command_line.h"

#include <gtest/gtest.h>

namespace {

struct Split {
  std::string user, second;
};

Split split(std::string_view line) {
  pxabi::CommonArea area;
  pxabi::applyCommandLine(line, area);
  return {std::string(encoding::view(area.userName())),
          std::string(encoding::view(area.secondWord()))};
}

TEST(CommandLine, SplitsAtSingleBlanks) {
  struct Case {
    std::string_view line, user, second;
  } cases[] = {
      {"", "          ", "     "},
      {"   ", "          ", "     "},
      {"MAIER", "MAIER     ", "     "},
      {"MAIER 2", "MAIER     ", "2    "},
      {"MAIER  2", "MAIER     ", "     "},     // two blanks: second word empty
      {" 2", "          ", "2    "},          // leading blank
      {"VERYLONGUSERNAME 123456", "VERYLONGUS", "123  "},  // cut at 20 characters first
      {"ABCDEFGHIJKL 123456", "ABCDEFGHIJ", "123456"},
  };
  for (const auto& c : cases) {
    const Split s = split(c.line);
    EXPECT_EQ(s.user, c.user) << '"' << c.line << '"';
    if (c.second.size() == 5) {
      EXPECT_EQ(s.second, c.second) << '"' << c.line << '"';
    }
  }
  EXPECT_EQ(split("ABCDEFGHIJKL 123456").second, "12345");
}

TEST(CommandLine, UmlautsReachTheFieldInCodePage850) {
  const Split s = split("Jürgen Köln");
  EXPECT_EQ(s.user, "J\x81rgen    ");
  EXPECT_EQ(s.second, "K\x94ln ");
}

}  // namespace
