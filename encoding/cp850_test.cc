#include "encoding/cp850.h"

#include <gtest/gtest.h>

namespace encoding {
namespace {

TEST(Cp850, EveryByteRoundTripsThroughUtf8) {
  for (int b = 0; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    const std::string utf8 = cp850::toUtf8(one);
    EXPECT_EQ(cp850::fromUtf8(utf8), one) << "byte " << b;
  }
}

TEST(Cp850, GermanLettersHaveTheirCodePageBytes) {
  EXPECT_EQ(cp850::fromUtf8("äöüÄÖÜß"), "\x84\x94\x81\x8E\x99\x9A\xE1");
  EXPECT_EQ(cp850::toUtf8("Men\x81"), "Menü");
}

TEST(Cp850, MissingCharactersBecomeQuestionMarks) {
  EXPECT_EQ(cp850::fromUtf8("€"), "?");
  EXPECT_EQ(cp850::fromUtf8("a😀b"), "a?b");
  EXPECT_EQ(cp850::fromUtf8("日本"), "??");
}

TEST(Cp850, MalformedUtf8NeverYieldsABrokenByte) {
  // A lone continuation byte, a truncated sequence and an invalid lead byte.
  EXPECT_EQ(cp850::fromUtf8("a\x80z"), "a?z");
  EXPECT_EQ(cp850::fromUtf8("x\xC3"), "x?");
  EXPECT_EQ(cp850::fromUtf8("\xFFok"), "?ok");
}

TEST(Cp850, CompileTimeTextCountsCharactersNotBytes) {
  // 40 characters in code page 850 but 41 bytes of UTF-8.
  constexpr cp850::Text<40> t("Erstellen ADRESSEN.DOC für AUFKLEBER.DOC");
  static_assert(cp850::lengthOf("Erstellen ADRESSEN.DOC für AUFKLEBER.DOC") == 40);
  EXPECT_EQ(t.bytes[24], '\x81');
  constexpr cp850::Text<10> pad("Menü");
  EXPECT_EQ(pad.view(), std::string_view("Men\x81      ", 10));
}

}  // namespace
}  // namespace encoding
