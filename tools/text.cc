#include "tools/text.h"

#include <algorithm>

#include "encoding/cp850.h"
#include "encoding/field.h"

namespace tools {
namespace {

constexpr char32_t kPictures = 0x2400;  // U+2400 stands for 0x00, ... U+241F for 0x1F
constexpr char32_t kDeletePicture = 0x2421;

}  // namespace

std::string shown(std::span<const char> cp850) {
  std::string out;
  for (char c : encoding::trimmed(cp850)) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20)
      encoding::cp850::appendUtf8(out, kPictures + b);
    else if (b == 0x7F)
      encoding::cp850::appendUtf8(out, kDeletePicture);
    else
      encoding::cp850::appendUtf8(out, encoding::cp850::toCodePoint(b));
  }
  return out;
}

void putShown(std::span<char> field, std::string_view utf8) {
  std::size_t i = 0;
  for (std::size_t pos = 0; pos < utf8.size() && i < field.size();) {
    const char32_t cp = encoding::cp850::nextCodePoint(utf8, pos);
    if (cp >= kPictures && cp < kPictures + 0x20)
      field[i++] = static_cast<char>(cp - kPictures);
    else if (cp == kDeletePicture)
      field[i++] = 0x7F;
    else
      field[i++] = static_cast<char>(encoding::cp850::fromCodePoint(cp));
  }
  std::fill(field.begin() + static_cast<std::ptrdiff_t>(i), field.end(), ' ');
}

}  // namespace tools
