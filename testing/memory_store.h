// An in-memory FileStore for tests: files are sorted maps of key bytes to
// records, shared by every handle of the store. It keeps the status rules of
// the real store (missing file "35", duplicate "22", not found "23", end "10",
// mode checks) but takes no record locks. Faults can be injected per file and
// operation, once or for good.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "datafiles/keyed_file.h"

namespace testing_support {

enum class Op { kOpen, kClose, kRead, kStart, kReadNext, kWrite, kRewrite, kRemove };

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

  // The next `times` calls (-1: every call) of `op` on file `name` return
  // `status` without doing anything.
  void fail(std::string_view name, Op op, datafiles::FileStatus status, int times = 1);
  // How often `op` was called on `name`.
  int calls(std::string_view name, Op op) const;
  // Every operation in order, as "FX01 open", for order checks.
  const std::vector<std::string>& log() const { return log_; }

  // Used by the handles.
  std::optional<datafiles::FileStatus> intercept(std::string_view name, Op op);

 private:
  struct Fault {
    std::string name;
    Op op;
    datafiles::FileStatus status;
    int times;
  };
  std::map<std::string, File> files_;
  std::vector<Fault> faults_;
  std::map<std::pair<std::string, Op>, int> calls_;
  std::vector<std::string> log_;
};

}  // namespace testing_support
