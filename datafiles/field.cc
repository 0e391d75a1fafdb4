#include "datafiles/field.h"

#include "datafiles/cp850.h"

namespace rec {

void putText(std::span<char> field, std::string_view utf8) {
  // Convert character by character so that a multi-byte character is never
  // cut in half at the field's end.
  std::size_t i = 0;
  for (std::size_t pos = 0; pos < utf8.size() && i < field.size();)
    field[i++] = static_cast<char>(cp850::fromCodePoint(cp850::nextCodePoint(utf8, pos)));
  std::fill(field.begin() + i, field.end(), ' ');
}

std::string getText(std::span<const char> field) { return cp850::toUtf8(trimmed(field)); }

bool putDigits(std::span<char> field, long long value) {
  if (value < 0) return false;
  std::array<char, 24> tmp{};
  std::size_t n = 0;
  do {
    tmp[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0 && n < tmp.size());
  if (n > field.size()) return false;
  std::size_t i = field.size();
  for (std::size_t k = 0; k < n; ++k) field[--i] = tmp[k];
  while (i > 0) field[--i] = '0';
  return true;
}

std::optional<long long> getDigits(std::span<const char> field) {
  if (field.empty() || field.size() > 18) return std::nullopt;
  long long v = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

namespace packed3 {

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

}  // namespace packed3
}  // namespace rec
