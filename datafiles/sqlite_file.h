// The embedded store's handle on one data file: opens and closes through the
// store's connection pool, takes the file lock and the record locks in the
// sidecar lock file, and runs every keyed operation on the file's SQLite
// database (see sqlite_store.h for the rules all handles keep).
#pragma once

#include <memory>
#include <string>

#include "datafiles/keyed_file.h"
#include "datafiles/sqlite_connection.h"

namespace datafiles::sqlite {

// A closed handle on the data file at `path` with the layout `spec`.
std::unique_ptr<KeyedFile> makeFileHandle(const FileSpec& spec, std::string path,
                                          std::shared_ptr<ConnectionPool> pool);

}  // namespace datafiles::sqlite
