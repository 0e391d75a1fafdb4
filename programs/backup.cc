#include "programs/backup.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

namespace programs {

BackupResult backUpMenuFiles(const std::string& dataDirectory, const std::tm& now,
                             const CopyFile& copy) {
  BackupResult result{datafiles::kOk, {}, 0};
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", now.tm_year + 1900,
                now.tm_mon + 1, now.tm_mday, now.tm_hour, now.tm_min, now.tm_sec);
  const std::string base = dataDirectory + "/backup";
  (void)::mkdir(base.c_str(), 0777);
  // mkdir, not exists-then-create: two workstations may back up in the same second.
  for (int n = 1; n < 100 && result.directory.empty(); ++n) {
    std::string name = std::string("backup/") + stamp;
    if (n > 1) name += "-" + std::to_string(n);
    if (::mkdir((dataDirectory + "/" + name).c_str(), 0777) == 0) result.directory = name;
    else if (errno != EEXIST) break;
  }
  if (result.directory.empty()) {
    result.status = datafiles::kPermanentError;
    return result;
  }
  for (const datafiles::FileSpec* spec : {&datafiles::kMenuFile, &datafiles::kPermissionFile}) {
    const std::string target =
        dataDirectory + "/" + result.directory + "/" + std::string(spec->name);
    const datafiles::FileStatus s = copy(*spec, target);
    if (s.ok()) {
      ++result.copied;
    } else if (s != datafiles::kFileMissing && result.status.ok()) {
      result.status = s;
    }
  }
  return result;
}

}  // namespace programs
