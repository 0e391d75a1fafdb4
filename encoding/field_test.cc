#include "encoding/field.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace encoding {
namespace {

TEST(TextField, ConvertsCutsAndPads) {
  std::array<char, 6> f{};
  putText(f, "Menü");
  EXPECT_EQ(std::string(f.data(), 6), std::string("Men\x81  ", 6));
  EXPECT_EQ(getText(f), "Menü");
  putText(f, "Größenänderung");
  EXPECT_EQ(std::string(f.data(), 6), "Gr\x94\xE1""en");
  putText(f, "");
  EXPECT_TRUE(isBlank(f));
}

TEST(DigitField, WritesLeadingZerosAndRejectsWhatDoesNotFit) {
  std::array<char, 4> f{};
  ASSERT_TRUE(putDigits(f, 7));
  EXPECT_EQ(std::string(f.data(), 4), "0007");
  EXPECT_EQ(getDigits(f), 7);
  EXPECT_FALSE(putDigits(f, 12345));
  EXPECT_EQ(std::string(f.data(), 4), "0007");
  f = {'1', ' ', '3', '4'};
  EXPECT_FALSE(getDigits(f).has_value());
}

TEST(BigEndianField, OneTwoAndFourBytes) {
  std::array<char, 4> f{};
  putBigEndian(std::span<char>(f).first(1), 0xAB);
  EXPECT_EQ(static_cast<unsigned char>(f[0]), 0xAB);
  putBigEndian(std::span<char>(f).first(2), 0x1234);
  EXPECT_EQ(f[0], 0x12);
  EXPECT_EQ(f[1], 0x34);
  putBigEndian(f, 0xDEADBEEF);
  EXPECT_EQ(static_cast<unsigned char>(f[0]), 0xDE);
  EXPECT_EQ(static_cast<unsigned char>(f[3]), 0xEF);
  EXPECT_EQ(getBigEndian(f), 0xDEADBEEFu);
}

}  // namespace
}  // namespace encoding
