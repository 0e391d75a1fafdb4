#include "encoding/packed.h"

namespace encoding::packed3 {

bool encode(int value, std::span<char, 2> field) {
  if (value < 0 || value > 999) return false;
  const int h = value / 100, t = value / 10 % 10, u = value % 10;
  field[0] = static_cast<char>((h << 4) | t);
  field[1] = static_cast<char>((u << 4) | kSignPositive);
  return true;
}

std::array<char, 2> encode(int value) {
  std::array<char, 2> out{};
  encode(value, std::span<char, 2>(out));
  return out;
}

std::optional<int> decode(std::span<const char, 2> field) {
  const auto b0 = static_cast<unsigned char>(field[0]);
  const auto b1 = static_cast<unsigned char>(field[1]);
  const int h = b0 >> 4, t = b0 & 0x0F, u = b1 >> 4, sign = b1 & 0x0F;
  if (h > 9 || t > 9 || u > 9 || sign < 0x0A) return std::nullopt;
  return h * 100 + t * 10 + u;
}

bool isZero(std::span<const char, 2> field) {
  return static_cast<unsigned char>(field[0]) == 0 &&
         (static_cast<unsigned char>(field[1]) & 0xF0) == 0;
}

}  // namespace encoding::packed3
