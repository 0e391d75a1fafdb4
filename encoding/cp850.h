// Code page 850: the character set of every text in the data files and the
// shared records. Conversion to and from UTF-8, at run time and at compile
// time (for the built-in texts of the catalogue).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace encoding::cp850 {

// Unicode code point of each byte 0x80..0xFF; bytes below 0x80 are ASCII.
inline constexpr std::array<char32_t, 128> kHighHalf = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,
};

constexpr char32_t toCodePoint(unsigned char byte) {
  return byte < 0x80 ? char32_t{byte} : kHighHalf[byte - 0x80];
}

// The byte for a code point, or '?' when code page 850 lacks it.
constexpr unsigned char fromCodePoint(char32_t cp) {
  if (cp < 0x80) return static_cast<unsigned char>(cp);
  for (std::size_t i = 0; i < kHighHalf.size(); ++i)
    if (kHighHalf[i] == cp) return static_cast<unsigned char>(0x80 + i);
  return '?';
}

// Decodes one UTF-8 sequence at `pos`, advancing it. A malformed sequence
// yields U+FFFD and consumes one byte, so the caller never stalls.
constexpr char32_t nextCodePoint(std::string_view utf8, std::size_t& pos) {
  const auto b0 = static_cast<unsigned char>(utf8[pos]);
  int extra = 0;
  char32_t cp = 0;
  if (b0 < 0x80) { ++pos; return b0; }
  if ((b0 & 0xE0) == 0xC0) { extra = 1; cp = b0 & 0x1F; }
  else if ((b0 & 0xF0) == 0xE0) { extra = 2; cp = b0 & 0x0F; }
  else if ((b0 & 0xF8) == 0xF0) { extra = 3; cp = b0 & 0x07; }
  else { ++pos; return 0xFFFD; }
  for (int i = 1; i <= extra; ++i) {
    if (pos + i >= utf8.size()) { ++pos; return 0xFFFD; }
    const auto b = static_cast<unsigned char>(utf8[pos + i]);
    if ((b & 0xC0) != 0x80) { ++pos; return 0xFFFD; }
    cp = (cp << 6) | (b & 0x3F);
  }
  pos += extra + 1;
  return cp;
}

// UTF-8 text to code page 850; characters the code page lacks become '?'.
std::string fromUtf8(std::string_view utf8);
// Code page 850 bytes to UTF-8. Every byte has a character, so this never fails.
std::string toUtf8(std::string_view cp850);
// Appends the UTF-8 form of one code point.
void appendUtf8(std::string& out, char32_t cp);

// Number of code page 850 characters a UTF-8 text becomes.
constexpr std::size_t lengthOf(std::string_view utf8) {
  std::size_t n = 0;
  for (std::size_t pos = 0; pos < utf8.size(); ++n) nextCodePoint(utf8, pos);
  return n;
}

// Undefined on purpose: reaching it in a constant expression makes the
// compiler reject a built-in text that is too long or not in code page 850.
void text_is_too_long_or_not_in_code_page_850();

// A fixed-width, blank-padded code page 850 text made at compile time from a
// UTF-8 literal.
template <std::size_t N>
struct Text {
  std::array<char, N> bytes{};
  consteval Text(const char* utf8) {
    bytes.fill(' ');
    std::string_view s(utf8);
    std::size_t pos = 0, i = 0;
    while (pos < s.size()) {
      const char32_t cp = nextCodePoint(s, pos);
      const unsigned char b = fromCodePoint(cp);
      if (i >= N || (b == '?' && cp != U'?')) text_is_too_long_or_not_in_code_page_850();
      bytes[i++] = static_cast<char>(b);
    }
  }
  constexpr std::string_view view() const { return {bytes.data(), N}; }
};

}  // namespace encoding::cp850
