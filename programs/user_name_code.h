// The user-name encoding behind U001: the user file keys a user by the
// encoded name. Deterministic and reversible for every 10-byte name; bytes
// printable in code page 850 (0x20-0x7E, 0x80-0xFF) stay printable, all
// other bytes pass unchanged.
#pragma once

#include <array>
#include <span>

namespace programs::user_name {

inline constexpr std::size_t kWidth = 10;

std::array<char, kWidth> encode(std::span<const char, kWidth> plain);
std::array<char, kWidth> decode(std::span<const char, kWidth> encoded);

// U001's block: function "V" (encode) or "E" (decode), then 40 characters
// whose first 10 are the name; the other 30 are left as they are.
inline constexpr std::size_t kBlockSize = 41;
// False for an unknown function; the block is then unchanged.
bool apply(std::span<char, kBlockSize> block);

}  // namespace programs::user_name
