// The keyed store our programs open the data files with: the installation's
// embedded store, opened in the current directory.
#pragma once

#include <memory>

#include "datafiles/sqlite_store.h"

namespace programs {

inline std::unique_ptr<datafiles::SqliteStore> openDataStore() {
  return std::make_unique<datafiles::SqliteStore>();
}

}  // namespace programs
