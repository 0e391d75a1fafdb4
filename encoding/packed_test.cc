#include "encoding/packed.h"

#include <gtest/gtest.h>

#include <cstring>

namespace encoding::packed3 {
namespace {

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

}  // namespace
}  // namespace encoding::packed3
