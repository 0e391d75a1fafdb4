#include "datafiles/field.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using rec::packed3::decode;
using rec::packed3::encode;
using rec::packed3::isZero;

std::array<char, 2> bytes(unsigned b0, unsigned b1) {
  return {static_cast<char>(b0), static_cast<char>(b1)};
}

TEST(Packed3, KnownEncodings) {
  EXPECT_EQ(encode(0), bytes(0x00, 0x0C));
  EXPECT_EQ(encode(10), bytes(0x01, 0x0C));
  EXPECT_EQ(encode(99), bytes(0x09, 0x9C));
  EXPECT_EQ(encode(280), bytes(0x28, 0x0C));
  EXPECT_EQ(encode(999), bytes(0x99, 0x9C));
}

TEST(Packed3, RoundTripAndByteOrderEqualsNumericOrder) {
  for (int a = 0; a <= 999; ++a) {
    const auto ea = encode(a);
    ASSERT_EQ(decode(ea), a);
    if (a < 999) {
      const auto eb = encode(a + 1);
      ASSERT_LT(std::memcmp(ea.data(), eb.data(), 2), 0) << a;
    }
  }
}

TEST(Packed3, OutOfRangeIsRefusedAndLeavesTheField) {
  std::array<char, 2> f = bytes(0x12, 0x3C);
  EXPECT_FALSE(encode(1000, std::span<char, 2>(f)));
  EXPECT_FALSE(encode(-1, std::span<char, 2>(f)));
  EXPECT_EQ(f, bytes(0x12, 0x3C));
}

TEST(Packed3, ZeroTestIgnoresTheSignNibble) {
  for (unsigned sign = 0; sign < 16; ++sign) EXPECT_TRUE(isZero(bytes(0x00, sign)));
  EXPECT_FALSE(isZero(bytes(0x00, 0x1C)));
  EXPECT_FALSE(isZero(bytes(0x01, 0x0C)));
}

TEST(Packed3, NonDigitNibblesAreInvalidNotAWrongNumber) {
  EXPECT_FALSE(decode(bytes(0xA0, 0x0C)).has_value());  // hundreds nibble A
  EXPECT_FALSE(decode(bytes(0x0F, 0x0C)).has_value());  // tens nibble F
  EXPECT_FALSE(decode(bytes(0x00, 0xBC)).has_value());  // units nibble B
  EXPECT_FALSE(decode(bytes(0x00, 0x05)).has_value());  // sign nibble is a digit
  EXPECT_EQ(decode(bytes(0x12, 0x3F)), 123);            // F: unsigned
  EXPECT_EQ(decode(bytes(0x12, 0x3D)), 123);            // D: sign is not a digit
}

TEST(TextField, ConvertsCutsAndPads) {
  std::array<char, 6> f{};
  rec::putText(f, "Menü");
  EXPECT_EQ(std::string(f.data(), 6), std::string("Men\x81  ", 6));
  EXPECT_EQ(rec::getText(f), "Menü");
  rec::putText(f, "Größenänderung");
  EXPECT_EQ(std::string(f.data(), 6), "Gr\x94\xE1""en");
  rec::putText(f, "");
  EXPECT_TRUE(rec::isBlank(f));
}

TEST(DigitField, WritesLeadingZerosAndRejectsWhatDoesNotFit) {
  std::array<char, 4> f{};
  ASSERT_TRUE(rec::putDigits(f, 7));
  EXPECT_EQ(std::string(f.data(), 4), "0007");
  EXPECT_EQ(rec::getDigits(f), 7);
  EXPECT_FALSE(rec::putDigits(f, 12345));
  EXPECT_EQ(std::string(f.data(), 4), "0007");
  f = {'1', ' ', '3', '4'};
  EXPECT_FALSE(rec::getDigits(f).has_value());
}

TEST(BigEndianField, OneTwoAndFourBytes) {
  std::array<char, 4> f{};
  rec::putBigEndian(std::span<char>(f).first(1), 0xAB);
  EXPECT_EQ(static_cast<unsigned char>(f[0]), 0xAB);
  rec::putBigEndian(std::span<char>(f).first(2), 0x1234);
  EXPECT_EQ(f[0], 0x12);
  EXPECT_EQ(f[1], 0x34);
  rec::putBigEndian(f, 0xDEADBEEF);
  EXPECT_EQ(static_cast<unsigned char>(f[0]), 0xDE);
  EXPECT_EQ(static_cast<unsigned char>(f[3]), 0xEF);
  EXPECT_EQ(rec::getBigEndian(f), 0xDEADBEEFu);
}

}  // namespace
