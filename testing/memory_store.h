// An in-memory FileStore for quick tests: files are sorted maps of key bytes
// to records, shared by every handle of the store. It keeps the status and
// lock rules of the real store: missing file "35", duplicate "22", not found
// "23", end "10", mode checks; an exclusive open excludes every other open
// (9/065); a record read, rewritten or deleted by an input-output handle is
// locked against the other handles (9/068) until that handle's next
// operation, or inside a unit until commit or rollback; a unit's changes are
// seen by the other handles only once committed, and while it runs their
// changes to the file get 9/065 at once (the real store waits a moment
// first). Faults come from wrapping it in a FaultStore (fault_store.h), as
// any other store.
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

  // Who holds what on a file; kept by the handles.
  struct Sharing {
    int opens = 0;
    bool exclusive = false;
    const void* unitOwner = nullptr;
    std::map<std::string, const void*> recordLocks;  // key -> holding handle
  };

  // Everything the store holds; its handles share it, so that a handle may
  // outlive its store as with the real one.
  struct State {
    std::map<std::string, File> files;
    std::map<std::string, Sharing> sharing;
  };

  // Direct access for arranging and checking test data: the committed records.
  File& contents(std::string_view name) { return state_->files.at(std::string(name)); }
  bool exists(std::string_view name) const { return state_->files.count(std::string(name)) != 0; }
  void removeFile(std::string_view name) { state_->files.erase(std::string(name)); }
  void put(std::string_view name, std::string_view record);

 private:
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace testing_support
