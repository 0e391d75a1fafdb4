// Texts of the data files as the tool shows and exports them. A control
// character in a user name or menu text (0x00-0x1F, 0x7F) would act on a
// terminal or break a line of an export: it is shown as its Unicode control
// picture (U+2400-U+241F, U+2421 for 0x7F). Code page 850 has none of those
// pictures, so an export read back gives the same bytes.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace tools {

// Code page 850 bytes as UTF-8, trailing blanks dropped, control characters
// as their pictures.
std::string shown(std::span<const char> cp850);
inline std::string shown(const std::string& cp850) { return shown(std::span<const char>(cp850)); }
// UTF-8 from an export or the command line into a field: control pictures
// become the control characters again, other characters that code page 850
// lacks become '?'; cut to the width and blank-padded.
void putShown(std::span<char> field, std::string_view utf8);

}  // namespace tools
