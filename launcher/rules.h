// The launcher's pure decisions: who sees a menu entry, what an event code
// means, how the status line and the menu header are made, whether the
// settings store takes the menu value. No files, no calls: table-tested.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "abi/common_area.h"
#include "datafiles/menu_access.h"

namespace launcher {

inline constexpr std::size_t kStatusLineWidth = 20;  // 19 characters and a blank

// Who sees an entry, and whether an administrator is one: the rule the menu
// maintenance, the help and the administration tool explain, kept with the
// data files so that all of them apply the same one.
using datafiles::entryVisibility;
using datafiles::isAdministrator;
using datafiles::Visibility;

// The action for an event code after "NEUSTART". Only the low byte counts;
// F1..F10 (and 53, 54 as F7, F8) take the function-key assignment.
int actionForEvent(std::uint16_t eventCode, const pxabi::CommonArea& area);

enum class StatusGroup { kTextAndValue, kValue, kPositions, kAddresses, kUnchanged };
// `program5` is the program name as the status line knows it: 5 characters.
StatusGroup statusGroup(std::string_view program5);
// The status line (20 characters, code page 850) for one group from the
// common area as the program (and UM21/UM30) left it; kUnchanged gives `current`.
std::string statusLineFor(StatusGroup group, const pxabi::CommonArea& area,
                          std::string_view current);

// YYMMDD -> DD.MM.YY; a field that is not six characters comes back blank-padded.
std::string displayDate(std::string_view yymmdd);
// Identification code, the header number, "- " and the version text's first 16 characters.
std::string headerLine(const pxabi::CommonArea& area);
// The settings store keeps the menu value unless its first four digits are
// greater than 3000; blanks count as lower.
bool storesMenuValue(std::string_view menuValue);

}  // namespace launcher
