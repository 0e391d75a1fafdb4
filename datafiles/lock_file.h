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
  bool holdsRecord() const { return !held_.empty() || wide_; }
  bool holdsRecord(std::span<const char> key) const;
  std::size_t recordLocks() const { return held_.size(); }

  // The system keeps every lock of a file in one list that each lock call
  // walks: a unit holding thousands of record locks would make each further
  // one slower (16,000 rewrites in one unit took 4 s). Allowed (inside a
  // unit), the lock file therefore takes every record byte at once when it
  // holds kWideAfter of them and no other handle holds a record lock, and
  // from then on every record counts as held until unlockRecords: more than
  // was asked for, never less. Other handles' record locks then wait for
  // the unit's end, as their writes do anyway while a unit runs.
  static constexpr std::size_t kWideAfter = 512;
  void allowWide(bool allow) { allowWide_ = allow; }
  bool wide() const { return wide_; }

  // The byte that stands for `key`: a 62-bit hash above byte 0.
  static std::int64_t recordByte(std::span<const char> key);

 private:
  enum Kind : short { kRead, kWrite, kUnlock };
  static constexpr std::int64_t kFileByte = 0;
  Result set(std::int64_t byte, Kind kind);

  void widen();

  int fd_ = -1;
  std::vector<std::int64_t> held_;  // record bytes held, sorted
  bool allowWide_ = false;
  bool wide_ = false;  // every record byte held
};

}  // namespace datafiles
