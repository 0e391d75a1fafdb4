// The groups of built-in entries, which installation gets which of them, and
// in which order a run writes them.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/entry.h"

namespace pxabi {
class CommonArea;
}

namespace catalogue {

enum class Group {
  kAdministration,
  kCommon,
  kMember,
  kSelection,
  kAddress,
  kStateAssociation,
  kCyclingFederation,
  kTravel,
  kCensus,
  kCyclingClub,
  kHonours,
  kDonations,
  kSportsEvents,
  kStateImport,
  kInventory,
  kTaskManagement,
  kEvents,
  kHallManagement,
  kOrderManagement,
};
inline constexpr int kGroupCount = 19;

// The rows of a group in table order (groups_*.cc).
std::span<const Entry> rowsOf(Group group);
// "task-management", for reports and tests.
std::string_view nameOf(Group group);

// An application that a group sets up through UT00S before its top-level
// entry. The name handed over may differ from the entry text.
struct Application {
  int number;
  encoding::cp850::Text<40> name;
};
std::optional<Application> applicationOf(Group group);

// The fields of the common area that choose groups and entries, as raw code
// page 850 bytes of their full width.
struct Installation {
  std::string identification = std::string(6, ' ');
  char option1 = ' ';
  char option2 = ' ';
  std::string number = std::string(5, ' ');
  std::string region = std::string(3, ' ');

  static Installation from(const pxabi::CommonArea& common);
  bool isEdition(std::string_view code) const;  // identification code, 6 characters
  bool isNumber(std::string_view n) const;      // installation number, 5 characters
  bool isRegion(std::string_view r) const;      // region code, 3 characters
};

// The groups chosen by identification code and edition options, in order.
std::vector<Group> editionGroups(const Installation& inst);
// Every group of a run, in order: administration, the edition groups, the
// common group, then hall and order management where their conditions hold.
std::vector<Group> runGroups(const Installation& inst);

// Whether an entry is written for this installation at all.
bool isWritten(const Entry& e, const Installation& inst);
// The program an entry calls for this installation, 4 characters blank-padded.
std::string programFor(const Entry& e, const Installation& inst);

}  // namespace catalogue
