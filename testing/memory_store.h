// An in-memory FileStore for quick tests: files are sorted maps of key bytes
// to records, shared by every handle of the store. It keeps the status rules
// of the real store (missing file "35", duplicate "22", not found "23", end
// "10", mode checks) but takes no record locks. Faults come from wrapping it
// in a FaultStore (fault_store.h), as any other store.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "datafiles/keyed_file.h"

namespace testing_support {

class MemoryStore : public datafiles::FileStore {
 public:
  struct File {
    datafiles::FileSpec spec;
    std::map<std::string, std::string> records;  // key bytes -> whole record
  };

  std::unique_ptr<datafiles::KeyedFile> file(const datafiles::FileSpec& spec,
                                      std::string_view directory = {}) override;
  datafiles::FileStatus create(const datafiles::FileSpec& spec,
                               std::string_view directory = {}) override;

  // Direct access for arranging and checking test data.
  File& contents(std::string_view name);
  bool exists(std::string_view name) const { return files_.count(std::string(name)) != 0; }
  void removeFile(std::string_view name) { files_.erase(std::string(name)); }
  void put(std::string_view name, std::string_view record);

 private:
  std::map<std::string, File> files_;
};

}  // namespace testing_support
