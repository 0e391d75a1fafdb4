// Three-digit packed decimal in 2 bytes: the form of every number in the keys
// of the data files (client, menu, entry and application numbers).
#pragma once

#include <array>
#include <optional>
#include <span>

namespace encoding::packed3 {

// First byte: hundreds and tens; second byte: units and the sign nibble,
// written as hexadecimal C so that byte order equals numeric order.
inline constexpr unsigned char kSignPositive = 0x0C;
// False (field untouched) when the value is outside 0..999.
bool encode(int value, std::span<char, 2> field);
std::array<char, 2> encode(int value);
// The number, or nothing when a digit nibble is not 0-9 or the sign nibble
// is not a sign (A-F). The sign is not otherwise interpreted.
std::optional<int> decode(std::span<const char, 2> field);
// Zero test on the three digit nibbles alone, whatever the sign nibble.
bool isZero(std::span<const char, 2> field);

}  // namespace encoding::packed3
