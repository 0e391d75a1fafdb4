// The data-file work of UX01L (menu header) and UT00S (application set-up).
// Both open their file in the current directory through the given store.
#pragma once

#include <span>

#include "datafiles/keyed_file.h"

namespace programs {

// UX01L: reads the menu file's header record (key 0/0/0, taken from the
// area's first six bytes) into `area`. When there is none or the file cannot
// be read, the area keeps its key and gets a blank version stamp; its other
// bytes stay as they were.
datafiles::FileStatus readMenuHeader(datafiles::FileStore& store, std::span<char, 58> area);

// UT00S: writes the application record for the image's client number
// (offset 1) and application number (offset 3) with the image's application
// name (offset 47, 40 characters). An existing record keeps every other byte;
// a new one gets type "1" and blank reserved bytes. Byte 0 and the other
// bytes of the image are not used.
datafiles::FileStatus setUpApplication(datafiles::FileStore& store,
                                       std::span<const char, 200> image);

}  // namespace programs
