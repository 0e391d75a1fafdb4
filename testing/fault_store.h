// A FileStore wrapper for tests: every operation goes to the store inside,
// except the ones chosen to fail, which return the chosen status without
// reaching it. Faults are chosen by file name and operation, for a number of
// calls (a lock that clears) or for good (one that stays). Every operation is
// counted and logged, so that tests see what reached the files and in which
// order. Wraps any store: the in-memory one for quick tests, the embedded
// store and the server store for the real thing.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "datafiles/keyed_file.h"

namespace testing_support {

enum class Op {
  kOpen,
  kClose,
  kRead,
  kStart,
  kReadNext,
  kWrite,
  kRewrite,
  kRemove,
  kUnlock,
  kBegin,
  kCommit,
  kRollback
};

class FaultStore : public datafiles::FileStore {
 public:
  // `directory`, when given, is where files opened without a directory are.
  explicit FaultStore(datafiles::FileStore& inner, std::string directory = {})
      : inner_(inner), directory_(std::move(directory)) {}

  std::unique_ptr<datafiles::KeyedFile> file(const datafiles::FileSpec& spec,
                                             std::string_view directory = {}) override;
  datafiles::FileStatus create(const datafiles::FileSpec& spec,
                               std::string_view directory = {}) override;

  // After `after` calls that pass, the next `times` calls (-1: every call)
  // of `op` on file `name` return `status` without reaching the store inside.
  void fail(std::string_view name, Op op, datafiles::FileStatus status, int times = 1,
            int after = 0);
  // How often `op` was called on `name`, failed or not.
  int calls(std::string_view name, Op op) const;
  // Every operation in order, as "FX01 open".
  const std::vector<std::string>& log() const { return log_; }

  // Used by the handles: counts the call and gives the fault, if one is due.
  std::optional<datafiles::FileStatus> intercept(std::string_view name, Op op);

 private:
  struct Fault {
    std::string name;
    Op op;
    datafiles::FileStatus status;
    int times;
    int after;
  };
  datafiles::FileStore& inner_;
  std::string directory_;
  std::vector<Fault> faults_;
  std::map<std::pair<std::string, Op>, int> calls_;
  std::vector<std::string> log_;
};

}  // namespace testing_support
