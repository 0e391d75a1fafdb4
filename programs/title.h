// U007's window title: function "Z" centres the text in the given length.
#pragma once

#include <span>

namespace programs::title {

// Block: function (1), length (2-byte big-endian binary), text (100).
inline constexpr std::size_t kBlockSize = 103;
inline constexpr std::size_t kTextWidth = 100;

// False for an unknown function; the block is then unchanged. With "Z" the
// text, stripped of outer blanks and cut to the length, is centred in the
// first `length` characters (at most 100); the rest is blank.
bool apply(std::span<char, kBlockSize> block);

}  // namespace programs::title
