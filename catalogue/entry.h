// One built-in menu entry of the catalogue: where it stands, what it shows and
// calls, who sees it, which permission flag new entries hand to the normal
// users, and the condition on the single entry.
#pragma once

#include <cstdint>
#include <string_view>

#include "encoding/cp850.h"

namespace catalogue {

// The permission flag a new entry gives every normal user; kNone: the entry
// gets no permission records.
enum class Grant : char { kYes = 'J', kNo = 'N', kBlank = ' ', kNone = '\0' };

struct Condition {
  enum Kind : std::uint8_t {
    kAlways,
    kInstallation,     // only for installation number `value`
    kNotInstallation,  // not for installation number `value`
    kRegion,           // only for region code `value`
    kOnlyIfNew,        // written only if new: an existing entry is not rewritten
    kEditionProgram,   // calls `program` instead for identification code `value`
  };
  Kind kind = kAlways;
  std::string_view value = {};
  std::string_view program = {};
};

struct Entry {
  std::uint16_t menu, entry;
  encoding::cp850::Text<40> text;      // code page 850, blank-padded, made at compile time
  std::string_view program;  // up to 4 characters; empty: opens menu `entry`
  char access;               // 'M', 'H' or 'N'
  Grant grant;
  Condition condition = {};
};

// Spellings for the tables, so that rows read like the catalogue's columns.
namespace rows {
inline constexpr Grant J = Grant::kYes, N = Grant::kNo, blank = Grant::kBlank,
                       none = Grant::kNone;
inline constexpr Condition kOnlyIfNew{Condition::kOnlyIfNew};
constexpr Condition installation(std::string_view number) {
  return {Condition::kInstallation, number};
}
constexpr Condition notInstallation(std::string_view number) {
  return {Condition::kNotInstallation, number};
}
constexpr Condition region(std::string_view code) { return {Condition::kRegion, code}; }
constexpr Condition editionProgram(std::string_view identification, std::string_view program) {
  return {Condition::kEditionProgram, identification, program};
}
}  // namespace rows

}  // namespace catalogue
