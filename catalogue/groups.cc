#include "catalogue/groups.h"

#include <algorithm>
#include <map>

#include "abi/common_area.h"
#include "catalogue/group_tables.h"

namespace catalogue {
namespace {

// Compares a raw field with a value blank-padded to the field's width.
bool fieldIs(std::string_view field, std::string_view value) {
  if (value.size() > field.size()) return false;
  return field.substr(0, value.size()) == value &&
         std::all_of(field.begin() + value.size(), field.end(), [](char c) { return c == ' '; });
}

std::string rawField(std::span<const char> f) { return std::string(f.data(), f.size()); }

}  // namespace

std::span<const Entry> rowsOf(Group group) {
  switch (group) {
    case Group::kAdministration: return kAdministrationRows;
    case Group::kCommon: return kCommonRows;
    case Group::kMember: return kMemberRows;
    case Group::kSelection: return kSelectionRows;
    case Group::kAddress: return kAddressRows;
    case Group::kStateAssociation: return kStateAssociationRows;
    case Group::kCyclingFederation: return kCyclingFederationRows;
    case Group::kTravel: return kTravelRows;
    case Group::kCensus: return kCensusRows;
    case Group::kCyclingClub: return kCyclingClubRows;
    case Group::kHonours: return kHonoursRows;
    case Group::kDonations: return kDonationsRows;
    case Group::kSportsEvents: return kSportsEventsRows;
    case Group::kStateImport: return kStateImportRows;
    case Group::kInventory: return kInventoryRows;
    case Group::kTaskManagement: return kTaskManagementRows;
    case Group::kEvents: return kEventsRows;
    case Group::kHallManagement: return kHallManagementRows;
    case Group::kOrderManagement: return kOrderManagementRows;
  }
  return {};
}

std::string_view nameOf(Group group) {
  switch (group) {
    case Group::kAdministration: return "administration";
    case Group::kCommon: return "common";
    case Group::kMember: return "member";
    case Group::kSelection: return "selection";
    case Group::kAddress: return "address";
    case Group::kStateAssociation: return "state-association";
    case Group::kCyclingFederation: return "cycling-federation";
    case Group::kTravel: return "travel";
    case Group::kCensus: return "census";
    case Group::kCyclingClub: return "cycling-club";
    case Group::kHonours: return "honours";
    case Group::kDonations: return "donations";
    case Group::kSportsEvents: return "sports-events";
    case Group::kStateImport: return "state-import";
    case Group::kInventory: return "inventory";
    case Group::kTaskManagement: return "task-management";
    case Group::kEvents: return "events";
    case Group::kHallManagement: return "hall-management";
    case Group::kOrderManagement: return "order-management";
  }
  return "?";
}

std::optional<Application> applicationOf(Group group) {
  switch (group) {
    case Group::kTaskManagement: return Application{17, "Aufgaben"};
    case Group::kEvents: return Application{12, "Veranstaltungen"};
    case Group::kHallManagement: return Application{18, "Hallenverwaltung"};
    default: return std::nullopt;
  }
}

Installation Installation::from(const pxabi::CommonArea& common) {
  Installation inst;
  inst.identification = rawField(common.identification());
  inst.option1 = common.editionOption1();
  inst.option2 = common.editionOption2();
  inst.number = rawField(common.installationNumber());
  inst.region = rawField(common.regionCode());
  return inst;
}

bool Installation::isEdition(std::string_view code) const {
  return fieldIs(identification, code);
}
bool Installation::isNumber(std::string_view n) const { return fieldIs(number, n); }
bool Installation::isRegion(std::string_view r) const { return fieldIs(region, r); }

std::vector<Group> editionGroups(const Installation& inst) {
  using G = Group;
  std::vector<G> out;
  auto add = [&out](std::initializer_list<G> gs) { out.insert(out.end(), gs); };
  if (inst.isEdition("GILDAX")) {
    add({G::kTaskManagement, G::kInventory, G::kEvents});
    if (inst.option1 == 'N') {
      add({G::kMember, G::kDonations});
      if (inst.isNumber("00111"))
        add({G::kCyclingClub, G::kSportsEvents});
      else
        add({G::kCensus});
    } else if (inst.option2 == 'N') {
      add({G::kAddress, G::kDonations});
    } else if (inst.option2 == 'V') {
      add({G::kAddress, G::kHonours, G::kDonations});
    } else if (inst.option2 == 'B') {
      add({G::kAddress, G::kStateAssociation, G::kHonours, G::kDonations});
    }
  } else if (inst.isEdition("PEDRIX")) {
    add({G::kTaskManagement, G::kInventory, G::kEvents});
    if (inst.option1 == 'N') {
      add({G::kMember, G::kCyclingClub, G::kDonations, G::kSportsEvents});
    } else if (inst.option2 == 'V') {
      add({G::kAddress, G::kCyclingFederation, G::kHonours, G::kDonations});
    } else if (inst.option2 == 'B') {
      add({G::kAddress, G::kHonours, G::kDonations, G::kSportsEvents, G::kStateImport});
    }
  } else if (inst.isEdition("DONAMO")) {
    add({G::kMember, G::kDonations, G::kTaskManagement, G::kInventory, G::kEvents});
  } else if (inst.isEdition("FRAKTO")) {
    add({G::kTaskManagement, G::kInventory, G::kEvents});
  } else if (inst.isEdition("TOURAL")) {
    add({G::kAddress, G::kTravel, G::kTaskManagement, G::kInventory});
  }
  return out;
}

std::vector<Group> runGroups(const Installation& inst) {
  std::vector<Group> out{Group::kAdministration};
  const std::vector<Group> editions = editionGroups(inst);
  out.insert(out.end(), editions.begin(), editions.end());
  out.push_back(Group::kCommon);
  if (inst.isNumber("30005") || inst.isNumber("00003") || inst.isNumber("99998"))
    out.push_back(Group::kHallManagement);
  if (inst.isEdition("VESKAN") || inst.isNumber("99999")) out.push_back(Group::kOrderManagement);
  return out;
}

bool isWritten(const Entry& e, const Installation& inst) {
  switch (e.condition.kind) {
    case Condition::kInstallation: return inst.isNumber(e.condition.value);
    case Condition::kNotInstallation: return !inst.isNumber(e.condition.value);
    case Condition::kRegion: return inst.isRegion(e.condition.value);
    case Condition::kAlways:
    case Condition::kOnlyIfNew:
    case Condition::kEditionProgram: return true;
  }
  return true;
}

std::string programFor(const Entry& e, const Installation& inst) {
  std::string_view p = e.program;
  if (e.condition.kind == Condition::kEditionProgram && inst.isEdition(e.condition.value))
    p = e.condition.program;
  std::string out(p);
  out.resize(4, ' ');
  return out;
}

std::vector<OwnedKey> ownedKeys(const Installation& inst) {
  // The run's steps in its order (catalogue_run.cc): the moves, then each
  // group's rows, the selection rows behind the first row of the member and
  // address groups, and the hall group's deletion before its 510/300.
  std::map<std::pair<int, int>, Ownership> keys;
  auto removed = [&](int menu, int entry) { keys[{menu, entry}] = Ownership::kRemoved; };
  auto written = [&](const Entry& e) {
    if (!isWritten(e, inst)) return;
    auto [at, added] = keys.try_emplace({e.menu, e.entry}, Ownership::kRewritten);
    // Written only if new: kept when it is there, but made afresh when an
    // earlier step took it away.
    if (e.condition.kind == Condition::kOnlyIfNew && (added || at->second == Ownership::kOnlyIfNew))
      at->second = Ownership::kOnlyIfNew;
    else
      at->second = Ownership::kRewritten;
  };
  for (const Move& m : kMoves) removed(m.menu, m.entry);
  for (Group g : runGroups(inst)) {
    const std::span<const Entry> rows = rowsOf(g);
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const Entry& e = rows[i];
      if (g == Group::kHallManagement && e.menu == kHallRemovalBefore.menu &&
          e.entry == kHallRemovalBefore.entry)
        removed(kHallRemoval.menu, kHallRemoval.entry);
      written(e);
      if (i == 0 && (g == Group::kMember || g == Group::kAddress))
        for (const Entry& s : rowsOf(Group::kSelection)) written(s);
    }
  }
  std::vector<OwnedKey> out;
  for (const auto& [key, what] : keys) out.push_back({key.first, key.second, what});
  return out;
}

}  // namespace catalogue
