#include "tools/csv.h"

#include <gtest/gtest.h>

namespace tools {
namespace {

TEST(Csv, EveryFieldComesBackFromTheToolsOwnImport) {
  const std::vector<std::string> fields = {
      "",          "plain", "a,b", "say \"hi\"", "two\nlines", "cr\r",       " leading",
      "trailing ", "  ",    ",",   "\"",         "Menü",       "\"quoted\"", "x\r\ny",
  };
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::string written = csvField(fields[i]);
    line += (i ? "," : "") + written;
    if (fields[i].empty()) continue;  // alone, an empty field is an empty line
    std::string error;
    const auto one = parseCsv(written + "\n", &error);
    ASSERT_TRUE(one) << error;
    ASSERT_EQ(one->size(), 1u) << written;
    EXPECT_EQ((*one)[0], std::vector<std::string>{fields[i]}) << written;
  }
  std::string error;
  const auto all = parseCsv("h\r\n" + line + "\r\n", &error);
  ASSERT_TRUE(all) << error;
  ASSERT_EQ(all->size(), 2u);
  EXPECT_EQ((*all)[1], fields);
}

TEST(Csv, QuotesOnlyWhatNeedsIt) {
  struct Case {
    std::string field, written;
  } cases[] = {
      {"Mitglieder", "Mitglieder"},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      // A leading blank is quoted: other programs trim unquoted fields.
      {"  System", "\"  System\""},
      {"trailing ", "trailing "},
  };
  for (const Case& c : cases) EXPECT_EQ(csvField(c.field), c.written) << c.field;
}

TEST(Csv, AnUnterminatedQuoteIsAnError) {
  std::string error;
  EXPECT_FALSE(parseCsv("a,\"open\nnext,line\n", &error));
  EXPECT_NE(error.find("unterminated quote"), std::string::npos) << error;
}

}  // namespace
}  // namespace tools
