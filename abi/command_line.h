// The launcher's command line: the first 20 characters, split at single
// blanks into the user name (10 characters) and a second word (5).
#pragma once

#include <string_view>

#include "abi/common_area.h"

namespace pxabi {

inline constexpr std::size_t kCommandLineWidth = 20;

// `utf8Line` is the arguments joined by single blanks. A blank line leaves
// both fields as they are. One blank is one delimiter: two blanks in a row
// make the second word empty; a leading blank leaves the user name empty and
// puts the first word into the second field. Words reach the fields in code
// page 850, cut to their width and blank-padded.
void applyCommandLine(std::string_view utf8Line, CommonArea& area);

}  // namespace pxabi
