// PX03, "Pflege der Menüdatei": the menu file and the permissions, kept by an
// administrator of class M from the menu through the screen set.
//
// - The menu tree as the administrator walks through it, each entry with its
//   program, access class, entry flag and what the catalogue's next run does
//   with it (from UX07: "*" rewrites it, "+" makes it again when it is
//   missing, "-" moves it away or deletes it).
// - Entries and submenus edited, added and deleted. Each change is one keyed
//   operation: an entry being edited or deleted is read for update, so that
//   it stays locked for every other workstation until the change is written
//   (another administrator gets the lock box with 9/068, and no change is
//   lost); an edit writes back only the fields the administrator changed, so
//   every other byte of the record stays as it was read.
// - Permissions both ways: the users of the client for a program entry, and
//   for a user her menu tree with what she does not see and why (the words
//   of datafiles/menu_access.h, as in the help and in `pxadmin menu tree
//   --all`), and her permission records; a permission is granted or taken
//   away with one key.
//
// Users of any other class than "M" are refused with "Sie sind nicht
// berechtigt!", also when PX03 is reached by name from elsewhere.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <utility>

#include "abi/common_area.h"
#include "datafiles/keyed_file.h"
#include "platform/program_loader.h"
#include "platform/screen_set.h"

namespace programs {

// Return value: kDone, kRefused (not class M, or a file cannot be opened).
std::int32_t maintainMenus(pxabi::CommonArea& area, platform::ScreenSet& screen,
                           datafiles::FileStore& store, platform::ProgramLoader& loader);

// What the catalogue's next run does with each key, by UX07 for the
// installation in the common area ('R', 'N', 'D' of pxabi::CatalogueKeysBlock);
// nothing when UX07 cannot be loaded.
std::optional<std::map<std::pair<int, int>, char>> catalogueMarks(pxabi::CommonArea& area,
                                                                  platform::ProgramLoader& loader);

}  // namespace programs
