// The store that holds an installation's data files, as the choice of store
// (store_config.h) hands it out: the embedded files in the data directory or
// the tables on a database server. Besides keyed access it offers the
// operations on whole files that backups and checks need, which each store
// does its own way; whoever uses them never learns which store runs.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "datafiles/keyed_file.h"

namespace datafiles {

class InstallationStore : public FileStore {
 public:
  // A consistent copy of the file, taken while others keep working, as an
  // embedded data file at `targetPath` (which must not exist), so that a
  // backup of either store is a folder of embedded files. "22" when the
  // target exists; 9/065 while someone holds the file exclusively;
  // otherwise the status an open would give, or 9/041 for a damaged file.
  virtual FileStatus copyTo(const FileSpec& spec, std::string_view directory,
                            const std::string& targetPath) = 0;
  // The store's own integrity check plus the layout and record shape
  // checks. "00" clean; 9/041 with the findings in `problems` (may be
  // null); otherwise the status the open would give.
  virtual FileStatus checkIntegrity(const FileSpec& spec, std::string_view directory,
                                    std::vector<std::string>* problems) = 0;
  // One file replaced by replaceFiles.
  struct Replacement {
    std::string name;
    // The file before: "00" sound, "35" missing, 9/041 damaged or holding
    // malformed records, 9/043 or "39" another system's or release's file.
    FileStatus before;
    std::size_t records = 0;  // records of the file that replaced it
  };
  // Replaces the files `specs` in `directory` as a whole by the embedded
  // files of the same names in the folder `from` (a backup): all of them or,
  // on any failure, none. Every file is held exclusively before any is
  // changed: one in use gives 9/065 with its name in `*failedName`. A
  // missing, damaged or foreign file is replaced like a sound one.
  virtual FileStatus replaceFiles(std::span<const FileSpec* const> specs,
                                  std::string_view directory, std::string_view from,
                                  std::vector<Replacement>* done, std::string* failedName) = 0;
  // Where the files are, for messages: "the data directory" or the server.
  virtual std::string location(std::string_view directory) const = 0;
  // The store's own message for its last failure (the server's, say), for
  // the administrator; empty when it has none.
  virtual std::string lastError() const { return {}; }
};

}  // namespace datafiles
