// The row tables of the groups, defined in groups_*.cc.
#pragma once

#include <span>

#include "catalogue/entry.h"

namespace catalogue {

extern const std::span<const Entry> kAdministrationRows;
extern const std::span<const Entry> kCommonRows;
extern const std::span<const Entry> kMemberRows;
extern const std::span<const Entry> kSelectionRows;
extern const std::span<const Entry> kAddressRows;
extern const std::span<const Entry> kStateAssociationRows;
extern const std::span<const Entry> kCyclingFederationRows;
extern const std::span<const Entry> kTravelRows;
extern const std::span<const Entry> kCensusRows;
extern const std::span<const Entry> kCyclingClubRows;
extern const std::span<const Entry> kHonoursRows;
extern const std::span<const Entry> kDonationsRows;
extern const std::span<const Entry> kSportsEventsRows;
extern const std::span<const Entry> kStateImportRows;
extern const std::span<const Entry> kInventoryRows;
extern const std::span<const Entry> kTaskManagementRows;
extern const std::span<const Entry> kEventsRows;
extern const std::span<const Entry> kHallManagementRows;
extern const std::span<const Entry> kOrderManagementRows;

}  // namespace catalogue
