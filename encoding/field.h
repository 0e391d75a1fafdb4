// Fields of fixed-layout records: a named offset and width, a check that a
// field table covers a record exactly, and the codecs of the field forms
// (code page 850 text, digits, big-endian binary; packed decimal is in
// packed.h).
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace encoding {

struct Field {
  std::size_t offset, width;
  constexpr std::size_t end() const { return offset + width; }
  constexpr bool operator==(const Field&) const = default;
};

// True when `fields`, in order, cover [0, size) with no gap and no overlap.
consteval bool tiles(std::initializer_list<Field> fields, std::size_t size) {
  std::size_t next = 0;
  for (Field f : fields) {
    if (f.offset != next) return false;
    next = f.end();
  }
  return next == size;
}

// Owned bytes of one record; subclasses name the fields. Bytes that no
// accessor touches stay as they were read. Access by field table (at<F>) is
// for the subclasses; everyone else reads and writes a record through the
// names it gives its fields (PX_FIELD).
template <std::size_t Size>
class FixedRecord {
 public:
  static constexpr std::size_t kSize = Size;
  FixedRecord() { bytes_.fill(' '); }
  std::span<char, Size> bytes() { return bytes_; }
  std::span<const char, Size> bytes() const { return bytes_; }
  char* data() { return bytes_.data(); }
  const char* data() const { return bytes_.data(); }
  std::string_view view() const { return {bytes_.data(), Size}; }
  bool operator==(const FixedRecord&) const = default;

 protected:
  template <Field F>
  std::span<char, F.width> at() {
    static_assert(F.end() <= Size, "field runs past the record");
    return std::span<char, Size>(bytes_).template subspan<F.offset, F.width>();
  }
  template <Field F>
  std::span<const char, F.width> at() const {
    static_assert(F.end() <= Size, "field runs past the record");
    return std::span<const char, Size>(bytes_).template subspan<F.offset, F.width>();
  }

 private:
  std::array<char, Size> bytes_;
};

// Declares `name()`, the bytes of field `F`, in a mutable and a const form.
#define PX_FIELD(name, F)                               \
  std::span<char, (F).width> name() { return at<F>(); } \
  std::span<const char, (F).width> name() const { return at<F>(); }

inline std::string_view view(std::span<const char> s) { return {s.data(), s.size()}; }

// ---- text: code page 850, blank-padded ---------------------------------

// Puts code page 850 bytes, cut to the width and blank-padded.
inline void putRaw(std::span<char> field, std::string_view cp850) {
  const std::size_t n = std::min(field.size(), cp850.size());
  std::copy_n(cp850.begin(), n, field.begin());
  std::fill(field.begin() + n, field.end(), ' ');
}
// The field's code page 850 bytes without trailing blanks.
inline std::string_view trimmed(std::span<const char> field) {
  std::size_t n = field.size();
  while (n > 0 && field[n - 1] == ' ') --n;
  return {field.data(), n};
}
inline bool isBlank(std::span<const char> field) {
  return std::all_of(field.begin(), field.end(), [](char c) { return c == ' '; });
}
inline void blank(std::span<char> field) { std::fill(field.begin(), field.end(), ' '); }
inline void zero(std::span<char> field) { std::fill(field.begin(), field.end(), '\0'); }

// UTF-8 in: converted to code page 850, cut to the width, blank-padded.
void putText(std::span<char> field, std::string_view utf8);
// UTF-8 out, trailing blanks trimmed.
std::string getText(std::span<const char> field);

// ---- digits: unsigned decimal digits as characters ---------------------

// Writes `value` right-aligned with leading zeros; false (field untouched)
// when it does not fit or is negative.
bool putDigits(std::span<char> field, long long value);
// The number, or nothing when a byte is not a digit.
std::optional<long long> getDigits(std::span<const char> field);


// ---- big-endian unsigned binary ------------------------------------------
inline std::uint32_t getBigEndian(std::span<const char> field) {
  std::uint32_t v = 0;
  for (char c : field) v = (v << 8) | static_cast<unsigned char>(c);
  return v;
}
inline void putBigEndian(std::span<char> field, std::uint32_t value) {
  for (std::size_t i = field.size(); i-- > 0;) {
    field[i] = static_cast<char>(value & 0xFF);
    value >>= 8;
  }
}

}  // namespace encoding
