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

// The old entries a run moves to new keys before it writes the groups, in
// this order (menu 17 becomes 16, so that 17 is free for task management); a
// run stops moving at the first one that is not there.
struct Move {
  int menu, entry, newMenu, newEntry;
};
inline constexpr Move kMoves[] = {
    {100, 17, 100, 16}, {17, 10, 16, 10}, {17, 20, 16, 20}, {17, 30, 16, 30}};
// The entry the hall-management group deletes, just before it writes
// `kHallRemovalBefore`.
struct MenuKey {
  int menu, entry;
};
inline constexpr MenuKey kHallRemoval{510, 30}, kHallRemovalBefore{510, 300};

// Whether an entry is written for this installation at all.
bool isWritten(const Entry& e, const Installation& inst);
// The program an entry calls for this installation, 4 characters blank-padded.
std::string programFor(const Entry& e, const Installation& inst);

// What a run for an installation does to the entry under one key, once all
// its steps are done: rewrites it with the built-in content (also when it
// deleted or moved it first), writes it only when it is missing, or leaves it
// moved away or deleted.
enum class Ownership : char { kRewritten = 'R', kOnlyIfNew = 'N', kRemoved = 'D' };
struct OwnedKey {
  int menu, entry;
  Ownership what;
  bool operator==(const OwnedKey&) const = default;
};
// Every key a run for `inst` writes, moves away or deletes, in key order.
std::vector<OwnedKey> ownedKeys(const Installation& inst);

}  // namespace catalogue
