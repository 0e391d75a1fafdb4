#include "programs/user_name_code.h"

#include <algorithm>

namespace programs::user_name {
namespace {

// The printable bytes, numbered 0..222: 0x20-0x7E, then 0x80-0xFF.
constexpr int kPrintable = 95 + 128;

int indexOf(unsigned char b) {
  if (b >= 0x20 && b <= 0x7E) return b - 0x20;
  if (b >= 0x80) return 95 + (b - 0x80);
  return -1;
}
char byteOf(int index) {
  return static_cast<char>(index < 95 ? 0x20 + index : 0x80 + (index - 95));
}
// A shift per position, and each byte also shifted by the encoded byte
// before it, so that equal letters do not give equal codes.
int shift(std::size_t pos) { return static_cast<int>(61 + 17 * pos); }

}  // namespace

std::array<char, kWidth> encode(std::span<const char, kWidth> plain) {
  std::array<char, kWidth> out{};
  int previous = 0;
  for (std::size_t i = 0; i < kWidth; ++i) {
    const int x = indexOf(static_cast<unsigned char>(plain[i]));
    if (x < 0) {
      out[i] = plain[i];
      continue;
    }
    const int e = (x + shift(i) + previous) % kPrintable;
    out[i] = byteOf(e);
    previous = e;
  }
  return out;
}

std::array<char, kWidth> decode(std::span<const char, kWidth> encoded) {
  std::array<char, kWidth> out{};
  int previous = 0;
  for (std::size_t i = 0; i < kWidth; ++i) {
    const int e = indexOf(static_cast<unsigned char>(encoded[i]));
    if (e < 0) {
      out[i] = encoded[i];
      continue;
    }
    const int x = ((e - shift(i) - previous) % kPrintable + 2 * kPrintable) % kPrintable;
    out[i] = byteOf(x);
    previous = e;
  }
  return out;
}

bool apply(pxabi::UserNameBlock& block) {
  const auto name = block.name();
  std::array<char, kWidth> result{};
  switch (block.function()) {
    case pxabi::UserNameBlock::kEncode:
      result = encode(name);
      break;
    case pxabi::UserNameBlock::kDecode:
      result = decode(name);
      break;
    default: return false;
  }
  std::copy(result.begin(), result.end(), name.begin());
  return true;
}

}  // namespace programs::user_name
