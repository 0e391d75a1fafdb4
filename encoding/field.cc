#include "encoding/field.h"

#include "encoding/cp850.h"

namespace encoding {

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

}  // namespace encoding
