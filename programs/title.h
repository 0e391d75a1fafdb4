// U007's window title: function "Z" centres the text in the given length.
#pragma once

#include "abi/utility_blocks.h"

namespace programs::title {

// False for an unknown function; the block is then unchanged. With "Z" the
// text, stripped of outer blanks and cut to the length, is centred in the
// first `length` characters (at most 100); the rest is blank.
bool apply(pxabi::TitleBlock& block);

}  // namespace programs::title
