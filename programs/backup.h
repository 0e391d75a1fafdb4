// PX00P: before the catalogue changes the menus, a dated copy of the menu
// and permission files that the store can open again.
#pragma once

#include <ctime>
#include <functional>
#include <string>

#include "datafiles/keyed_file.h"

namespace programs {

// Copies one file of the current directory to `targetPath` (which does not
// exist yet); the store's consistent copy.
using CopyFile =
    std::function<datafiles::FileStatus(const datafiles::FileSpec&, const std::string& targetPath)>;

struct BackupResult {
  datafiles::FileStatus status;  // "00", or the first failing copy's status
  std::string directory;  // backup/YYYYMMDD-HHMMSS[-N], relative to the data directory
  int copied = 0;
};

// Makes backup/YYYYMMDD-HHMMSS (a "-2", "-3" ... when that exists) below
// `dataDirectory` and copies FX01.DAT and FX02.DAT into it. A file that does
// not exist yet (first installation) is no failure.
BackupResult backUpMenuFiles(const std::string& dataDirectory, const std::tm& now,
                             const CopyFile& copy);

}  // namespace programs
