// The data-file work of UX01L (menu header) and UT00S (application set-up).
// Both open their file in the current directory through the given store.
#pragma once

#include "abi/utility_blocks.h"
#include "datafiles/keyed_file.h"
#include "datafiles/records.h"

namespace programs {

// UX01L: reads the menu file's header record (key 0/0/0, taken from the
// area's key) into `area`, a menu-file record area. When there is none or the
// file cannot be read, the area keeps its key and gets a blank version stamp;
// its other bytes stay as they were.
datafiles::FileStatus readMenuHeader(datafiles::FileStore& store, datafiles::MenuRecord& area);

// UT00S: writes the application record for the image's client and
// application number with the image's application name. An existing record
// keeps every other byte; a new one gets type "1" and blank reserved bytes.
// The image's type and other bytes are not used.
datafiles::FileStatus setUpApplication(datafiles::FileStore& store,
                                       const pxabi::ApplicationImage& image);

}  // namespace programs
