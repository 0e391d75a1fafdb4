// The user-name encoding behind U001: the user file keys a user by the
// encoded name. Deterministic and reversible for every 10-byte name; bytes
// printable in code page 850 (0x20-0x7E, 0x80-0xFF) stay printable, all
// other bytes pass unchanged.
#pragma once

#include <array>
#include <span>

#include "abi/utility_blocks.h"

namespace programs::user_name {

inline constexpr std::size_t kWidth = 10;

std::array<char, kWidth> encode(std::span<const char, kWidth> plain);
std::array<char, kWidth> decode(std::span<const char, kWidth> encoded);

// U001 on its block: encodes or decodes the name; the other 30 characters are
// left as they are. False for an unknown function; the block is then unchanged.
bool apply(pxabi::UserNameBlock& block);

}  // namespace programs::user_name
