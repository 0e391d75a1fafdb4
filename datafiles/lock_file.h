// Locks of one handle on a data file, held in a sidecar file next to it
// ("FX01.DAT-lock"). Open file description locks belong to the descriptor, not
// the process: two handles of one process exclude each other like two
// workstations do, closing the descriptor (or dying) drops every lock at once,
// and no descriptor of the database file itself is ever touched, so the
// store's own locks on it survive. Nothing here waits for a lock.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace datafiles {

class LockFile {
 public:
  enum class Result { kOk, kBusy, kError };

  LockFile() = default;
  ~LockFile() { close(); }
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  // Opens (creating on demand) the lock file at `path`.
  Result open(const std::string& path);
  void close();
  bool isOpen() const { return fd_ >= 0; }

  // The whole-file lock on byte 0: shared for normal opens, exclusive for
  // maintenance.
  Result lockFile(bool exclusive) { return set(kFileByte, exclusive ? kWrite : kRead); }
  // A record lock: one byte derived from the key, held until it is let go
  // or the lock file is closed. Taking one that is held already is allowed
  // and costs nothing. The handle decides how many it keeps: one outside a
  // unit, every one it took inside a unit.
  Result lockRecord(std::span<const char> key);
  void unlockRecord(std::span<const char> key);
  void unlockRecords();  // every record lock held
  bool holdsRecord() const { return !held_.empty(); }
  bool holdsRecord(std::span<const char> key) const;
  std::size_t recordLocks() const { return held_.size(); }

  // The byte that stands for `key`: a 62-bit hash above byte 0.
  static std::int64_t recordByte(std::span<const char> key);

 private:
  enum Kind : short { kRead, kWrite, kUnlock };
  static constexpr std::int64_t kFileByte = 0;
  Result set(std::int64_t byte, Kind kind);

  int fd_ = -1;
  std::vector<std::int64_t> held_;  // record bytes held, sorted
};

}  // namespace datafiles
