#include "datafiles/sqlite_file.h"

#include <atomic>
#include <chrono>
#include <cstring>

#include "datafiles/lock_file.h"
#include "datafiles/sqlite_store.h"

namespace datafiles::sqlite {
namespace {

// Without a log index to watch (a file left in rollback mode), a live
// read-next statement keeps its snapshot at most this long.
constexpr auto kLiveSnapshotLimit = std::chrono::milliseconds(20);

// The smallest byte string above every string that starts with `prefix`;
// false when there is none (all bytes 0xFF).
bool nextPrefix(std::string& prefix) {
  while (!prefix.empty()) {
    auto& last = reinterpret_cast<unsigned char&>(prefix.back());
    if (last != 0xFF) {
      ++last;
      return true;
    }
    prefix.pop_back();
  }
  return false;
}

class FileHandle final : public KeyedFile {
 public:
  FileHandle(const FileSpec& spec, std::string path, std::shared_ptr<ConnectionPool> pool)
      : name_(spec.name),
        spec_{name_, spec.recordLength, spec.keyLength},
        path_(std::move(path)),
        pool_(std::move(pool)) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() override { (void)close(); }

  FileStatus open(OpenMode mode) override;
  FileStatus close() override;
  bool isOpen() const override { return db_ != nullptr; }
  FileStatus read(std::span<char> record) override;
  FileStatus start(StartMode mode, std::span<const char> record, std::size_t keyLength) override;
  FileStatus readNext(std::span<char> record) override;
  FileStatus write(std::span<const char> record) override;
  FileStatus rewrite(std::span<const char> record) override;
  FileStatus remove(std::span<const char> record) override;
  FileStatus unlock() override;
  FileStatus begin() override;
  FileStatus commit() override;
  FileStatus rollback() override;
  const FileSpec& spec() const override { return spec_; }
  void setNoWait() override {
    noWait_ = true;
    if (db_ != nullptr) sqlite3_busy_timeout(db_, 0);
  }

 private:
  enum Stmt {
    kRead,
    kSeekGe,
    kSeekGt,
    kInsert,
    kUpdate,
    kDelete,
    kBeginRead,
    kEndRead,
    kStmtCount
  };
  static_assert(kStmtCount == kStmtSlots);
  static constexpr std::array<const char*, kStmtCount> kSql = {
      kReadSql,
      "SELECT key, data FROM records WHERE key>=?1 ORDER BY key",
      "SELECT key, data FROM records WHERE key>?1 ORDER BY key",
      "INSERT OR IGNORE INTO records(key, data) VALUES(?1, ?2)",
      "UPDATE records SET data=?2 WHERE key=?1",
      "DELETE FROM records WHERE key=?1",
      "BEGIN",
      "COMMIT",
  };

  // Every operation but read-next starts here: outside a unit, the handle's
  // record lock ends with its next operation; inside a unit, every record
  // lock lasts until commit or rollback, since the changes it guards are not
  // visible to anyone before. Changes end the held read snapshot first.
  // An operation that locks the record it names (read, rewrite, delete)
  // passes it with the length it needs: a lock already held on it is kept
  // rather than dropped and taken again, which saves two system calls on
  // read-then-rewrite. The operation ends or drops that lock as before.
  FileStatus prologue(bool reading, std::span<const char> record = {}, std::size_t need = 0) {
    if (db_ == nullptr) return kNotOpen;
    if (!inUnit_) {
      const bool keep = need != 0 && updating() && record.size() >= need &&
                        lock_.holdsRecord(record.first(spec_.keyLength));
      if (!keep) lock_.unlockRecords();
    }
    if (reading)
      dropLive();
    else
      endRead();
    return kOk;
  }
  // Reads outside a unit share one read transaction, kept for as long as
  // no one has committed since it began: opening a transaction per read
  // costs system calls, while comparing the log index header costs nothing.
  // Any commit, by any process, changes that header, so a read never sees
  // an older state than the last commit before it.
  FileStatus freshen();
  void endRead();
  void mapLogIndex();
  // From the log index: the last frame in the log (in the header) against
  // the last frame copied into the file (after the header's two copies).
  // Without the index mapped, assume there is something to copy.
  bool logHasUncopiedFrames() {
    mapLogIndex();
    if (logHeader_ == nullptr) return true;
    std::atomic_thread_fence(std::memory_order_acquire);
    return logHeader_[4] != logHeader_[24];
  }
  bool logUnchanged() const {
    for (std::size_t i = 0; i < snapshot_.size(); ++i)
      if (logHeader_[i] != snapshot_[i]) return false;
    return true;
  }
  bool updating() const { return mode_ != OpenMode::kInput; }
  // Record locks keep other handles off a record; a handle that holds the
  // file exclusively has nobody to keep off.
  bool locking() const { return mode_ == OpenMode::kInputOutput; }
  // After a record was read for update outside a unit: its lock stays, but
  // the read snapshot goes, so that a handle that holds a record while it
  // waits (for a user, or for good, as a session does) never keeps the log
  // from being copied into the file and emptied. A rewrite would end it
  // next anyway.
  void endReadAfterLocking() {
    if (!inUnit_ && locking()) endRead();
  }
  sqlite3_stmt* stmt(Stmt which, int* rc);
  void dropLive() {
    if (live_ != nullptr) sqlite3_reset(live_);
    live_ = nullptr;
    pending_ = false;
  }
  // A row of a seek statement: key in column 0, record in column 1.
  bool rowIsWhole(sqlite3_stmt* st, int keyCol, int dataCol) const;
  FileStatus lockStatus(LockFile::Result r) const {
    return r == LockFile::Result::kOk     ? kOk
           : r == LockFile::Result::kBusy ? kRecordLocked
                                          : kPermanentError;
  }
  // After a failed step: a unit that the store rolled back on its own must
  // not go on as single operations.
  FileStatus failed(int rc) {
    if (inUnit_ && sqlite3_get_autocommit(db_)) unitLost_ = true;
    return fromSqlite(rc);
  }
  // After an operation on the record `key` that took its lock: outside a
  // unit the lock ends with a change or a failure; inside a unit it stays,
  // unless the operation failed and the lock was not held before it.
  void release(std::span<const char> key, bool heldBefore, bool failed) {
    if (!inUnit_ || (failed && !heldBefore)) lock_.unlockRecord(key);
  }
  FileStatus change(Stmt which, std::span<const char> record, bool bindData);
  FileStatus readNextLocked(std::span<char> record);

  std::string name_;
  FileSpec spec_;
  std::string path_;
  std::shared_ptr<ConnectionPool> pool_;
  sqlite3* db_ = nullptr;
  LockFile lock_;
  OpenMode mode_ = OpenMode::kInput;
  Statements stmts_{};
  FileId id_{};
  sqlite3_stmt* live_ = nullptr;  // a seek statement stepping through the file
  bool pending_ = false;          // live_ stands on a row not yet returned
  std::chrono::steady_clock::time_point liveSince_;
  std::string position_;  // key of the record last returned or found
  bool hasPosition_ = false;
  bool positionedBefore_ = false;  // read-next returns the record at position_ itself
  std::string seekKey_;
  bool inUnit_ = false;
  bool unitLost_ = false;
  bool wal_ = false;
  bool readTxn_ = false;
  bool noWait_ = false;  // operations never wait for another connection's write
  // The first copy of the log index header (48 bytes), mapped by the store,
  // and its value when the held read transaction began.
  const volatile std::uint32_t* logHeader_ = nullptr;
  std::array<std::uint32_t, 12> snapshot_{};
};

void FileHandle::mapLogIndex() {
  if (!wal_ || logHeader_ != nullptr) return;
  sqlite3_file* file = nullptr;
  if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK ||
      file == nullptr || file->pMethods == nullptr || file->pMethods->iVersion < 2 ||
      file->pMethods->xShmMap == nullptr)
    return;
  void volatile* region = nullptr;
  if (file->pMethods->xShmMap(file, 0, 32768, 0, &region) == SQLITE_OK && region != nullptr)
    logHeader_ = static_cast<const volatile std::uint32_t*>(region);
}

FileStatus FileHandle::freshen() {
  if (inUnit_) return kOk;  // the unit's own transaction is the snapshot
  if (readTxn_ && sqlite3_get_autocommit(db_)) readTxn_ = false;
  if (readTxn_) {
    if (logUnchanged()) return kOk;
    endRead();
  }
  mapLogIndex();
  if (logHeader_ == nullptr) return kOk;  // each statement takes its own snapshot
  // Taken before the transaction begins: a commit in between only makes the
  // next comparison fail once more.
  std::atomic_thread_fence(std::memory_order_acquire);
  for (std::size_t i = 0; i < snapshot_.size(); ++i) snapshot_[i] = logHeader_[i];
  int rc;
  sqlite3_stmt* st = stmt(kBeginRead, &rc);
  if (st == nullptr) return failed(rc);
  rc = sqlite3_step(st);
  sqlite3_reset(st);
  if (rc != SQLITE_DONE) return fromSqlite(rc);
  readTxn_ = true;
  return kOk;
}

void FileHandle::endRead() {
  dropLive();
  if (!readTxn_) return;
  readTxn_ = false;
  if (sqlite3_get_autocommit(db_)) return;
  int rc;
  sqlite3_stmt* st = stmt(kEndRead, &rc);
  if (st != nullptr) {
    rc = sqlite3_step(st);
    sqlite3_reset(st);
  }
  if (rc != SQLITE_DONE && !sqlite3_get_autocommit(db_))
    (void)sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

sqlite3_stmt* FileHandle::stmt(Stmt which, int* rc) {
  *rc = SQLITE_OK;
  if (stmts_[which] == nullptr)
    *rc = sqlite3_prepare_v3(db_, kSql[which], -1, SQLITE_PREPARE_PERSISTENT, &stmts_[which],
                             nullptr);
  return stmts_[which];
}

bool FileHandle::rowIsWhole(sqlite3_stmt* st, int keyCol, int dataCol) const {
  const void* data = sqlite3_column_blob(st, dataCol);
  if (data == nullptr ||
      static_cast<std::size_t>(sqlite3_column_bytes(st, dataCol)) != spec_.recordLength)
    return false;
  if (keyCol < 0) return true;
  const void* key = sqlite3_column_blob(st, keyCol);
  return key != nullptr &&
         static_cast<std::size_t>(sqlite3_column_bytes(st, keyCol)) == spec_.keyLength &&
         std::memcmp(key, data, spec_.keyLength) == 0;
}

FileStatus FileHandle::open(OpenMode mode) {
  if (db_ != nullptr) return kAlreadyOpen;
  const std::optional<FileId> id = fileId(path_);
  if (!id) return presenceStatus(path_);
  if (lock_.open(path_ + "-lock") != LockFile::Result::kOk) return kPermanentError;
  if (const auto r = lock_.lockFile(mode == OpenMode::kExclusive); r != LockFile::Result::kOk) {
    lock_.close();
    return r == LockFile::Result::kBusy ? kFileLocked : kPermanentError;
  }
  id_ = *id;
  if (std::optional<Parked> p = pool_->take(path_, id_)) {
    // The layout is checked again: the file may have changed meanwhile.
    if (checkLayout(p->db, spec_).ok()) {
      db_ = p->db;
      stmts_ = p->stmts;
      wal_ = p->wal;
    } else {
      closeParked(*p);  // the fresh open below tells what is wrong
    }
  }
  const FileStatus s =
      db_ != nullptr ? kOk : openDatabase(path_, spec_, &db_, &stmts_[kRead], &wal_);
  if (!s.ok()) {
    lock_.close();
    return s;
  }
  if (noWait_) sqlite3_busy_timeout(db_, 0);
  mode_ = mode;
  hasPosition_ = false;
  inUnit_ = unitLost_ = readTxn_ = false;
  logHeader_ = nullptr;
  return kOk;
}

FileStatus FileHandle::close() {
  if (db_ == nullptr) return kNotOpen;
  endRead();
  // An unfinished unit is rolled back, as if the process had died.
  bool parkable = true;
  if (!sqlite3_get_autocommit(db_))
    parkable = sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr) == SQLITE_OK &&
               sqlite3_get_autocommit(db_);
  if (parkable) {
    for (sqlite3_stmt* st : stmts_) sqlite3_reset(st);
    // A parked connection keeps the log index alive, so the log is copied
    // into the file now, as a last close did: a file left alone holds all
    // its records itself (a copy of it alone is whole). The copy does not
    // wait for readers; it is skipped when everything is copied already.
    if (wal_ && logHasUncopiedFrames())
      (void)sqlite3_wal_checkpoint_v2(db_, "main", SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    (void)sqlite3_db_release_memory(db_);
    // The next handle on this connection waits as handles do by default.
    if (noWait_) sqlite3_busy_timeout(db_, SqliteStore::kBusyTimeoutMs);
    pool_->park(Parked{path_, id_, ::getpid(), db_, stmts_, wal_});
  } else {
    for (auto& st : stmts_) sqlite3_finalize(st);
    closeDatabase(db_);
  }
  logHeader_ = nullptr;
  stmts_ = {};
  db_ = nullptr;
  lock_.close();
  inUnit_ = unitLost_ = false;
  hasPosition_ = false;
  return kOk;
}

FileStatus FileHandle::read(std::span<char> record) {
  if (const FileStatus s = prologue(true, record, spec_.recordLength); !s.ok()) return s;
  if (unitLost_) return kPermanentError;
  if (record.size() < spec_.recordLength) return kPermanentError;
  const std::span<const char> key(record.data(), spec_.keyLength);
  const bool held = lock_.holdsRecord(key);
  if (locking()) {
    if (const FileStatus s = lockStatus(lock_.lockRecord(key)); !s.ok()) return s;
  }
  if (const FileStatus s = freshen(); !s.ok()) {
    release(key, held, true);
    return s;
  }
  int rc;
  sqlite3_stmt* st = stmt(kRead, &rc);
  if (st == nullptr) return failed(rc);
  sqlite3_bind_blob(st, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
  rc = sqlite3_step(st);
  FileStatus s = kOk;
  if (rc == SQLITE_ROW) {
    if (rowIsWhole(st, -1, 0) &&
        std::memcmp(sqlite3_column_blob(st, 0), key.data(), spec_.keyLength) == 0) {
      position_.assign(key.data(), key.size());
      std::memcpy(record.data(), sqlite3_column_blob(st, 0), spec_.recordLength);
      hasPosition_ = true;
      positionedBefore_ = false;
    } else {
      s = kIndexDamaged;
    }
  } else {
    s = rc == SQLITE_DONE ? kNotFound : failed(rc);
    hasPosition_ = false;
  }
  sqlite3_reset(st);
  if (!s.ok())
    release(key, held, true);
  else
    endReadAfterLocking();
  return s;
}

FileStatus FileHandle::start(StartMode mode, std::span<const char> record, std::size_t keyLength) {
  if (const FileStatus s = prologue(true); !s.ok()) return s;
  if (unitLost_) return kPermanentError;
  if (const FileStatus s = freshen(); !s.ok()) return s;
  const std::size_t n = std::min(keyLength, spec_.keyLength);
  if (record.size() < n) return kPermanentError;
  hasPosition_ = false;
  seekKey_.assign(record.data(), n);
  if (mode == StartMode::kGreaterThan && !nextPrefix(seekKey_)) return kNotFound;
  int rc;
  sqlite3_stmt* st = stmt(kSeekGe, &rc);
  if (st == nullptr) return failed(rc);
  sqlite3_bind_blob(st, 1, seekKey_.data(), static_cast<int>(seekKey_.size()), SQLITE_STATIC);
  rc = sqlite3_step(st);
  if (rc != SQLITE_ROW) {
    sqlite3_reset(st);
    return rc == SQLITE_DONE ? kNotFound : failed(rc);
  }
  if (!rowIsWhole(st, 0, 1)) {
    sqlite3_reset(st);
    return kIndexDamaged;
  }
  const char* found = static_cast<const char*>(sqlite3_column_blob(st, 0));
  if (mode == StartMode::kEqual && std::memcmp(found, record.data(), n) != 0) {
    sqlite3_reset(st);
    return kNotFound;
  }
  position_.assign(found, spec_.keyLength);
  hasPosition_ = true;
  positionedBefore_ = true;
  live_ = st;
  pending_ = true;
  liveSince_ = std::chrono::steady_clock::now();
  return kOk;
}

FileStatus FileHandle::readNext(std::span<char> record) {
  if (db_ == nullptr) return kNotOpen;
  if (!inUnit_) lock_.unlockRecords();
  if (unitLost_) return kPermanentError;
  if (record.size() < spec_.recordLength) return kPermanentError;
  if (!hasPosition_) {
    dropLive();
    return kNoPosition;
  }
  if (locking()) return readNextLocked(record);
  if (const FileStatus s = freshen(); !s.ok()) return s;  // drops a stale live statement
  int rc;
  if (live_ != nullptr &&
      (readTxn_ || std::chrono::steady_clock::now() - liveSince_ < kLiveSnapshotLimit)) {
    if (pending_) {
      pending_ = false;
      rc = SQLITE_ROW;
    } else {
      rc = sqlite3_step(live_);
    }
  } else {
    dropLive();
    sqlite3_stmt* st = stmt(positionedBefore_ ? kSeekGe : kSeekGt, &rc);
    if (st == nullptr) return failed(rc);
    sqlite3_bind_blob(st, 1, position_.data(), static_cast<int>(position_.size()), SQLITE_STATIC);
    rc = sqlite3_step(st);
    live_ = st;
    liveSince_ = std::chrono::steady_clock::now();
  }
  if (rc != SQLITE_ROW) {
    dropLive();
    return rc == SQLITE_DONE ? kEndOfFile : failed(rc);
  }
  if (!rowIsWhole(live_, 0, 1)) {
    dropLive();
    return kIndexDamaged;
  }
  // The statement's key buffer outlives the next step only until then:
  // keep our own copy of the position.
  position_.assign(static_cast<const char*>(sqlite3_column_blob(live_, 0)), spec_.keyLength);
  positionedBefore_ = false;
  std::memcpy(record.data(), sqlite3_column_blob(live_, 1), spec_.recordLength);
  return kOk;
}

// Read-next on an input-output handle: find the next key, lock it, then
// read the record in a fresh snapshot, so that the record returned is the
// current one for as long as the lock holds.
FileStatus FileHandle::readNextLocked(std::span<char> record) {
  dropLive();
  for (;;) {
    if (const FileStatus s = freshen(); !s.ok()) return s;
    int rc;
    sqlite3_stmt* seek = stmt(positionedBefore_ ? kSeekGe : kSeekGt, &rc);
    if (seek == nullptr) return failed(rc);
    sqlite3_bind_blob(seek, 1, position_.data(), static_cast<int>(position_.size()), SQLITE_STATIC);
    rc = sqlite3_step(seek);
    if (rc != SQLITE_ROW) {
      sqlite3_reset(seek);
      return rc == SQLITE_DONE ? kEndOfFile : failed(rc);
    }
    if (!rowIsWhole(seek, 0, 1)) {
      sqlite3_reset(seek);
      return kIndexDamaged;
    }
    std::string key(static_cast<const char*>(sqlite3_column_blob(seek, 0)), spec_.keyLength);
    sqlite3_reset(seek);
    const bool held = lock_.holdsRecord(key);
    if (const FileStatus s = lockStatus(lock_.lockRecord(key)); !s.ok()) {
      // The next read-next tries the same record again.
      position_ = std::move(key);
      positionedBefore_ = true;
      return s;
    }
    if (const FileStatus s = freshen(); !s.ok()) {
      release(key, held, true);
      return s;
    }
    sqlite3_stmt* st = stmt(kRead, &rc);
    if (st == nullptr) return failed(rc);
    sqlite3_bind_blob(st, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    rc = sqlite3_step(st);
    FileStatus s = kOk;
    if (rc == SQLITE_ROW) {
      if (rowIsWhole(st, -1, 0) &&
          std::memcmp(sqlite3_column_blob(st, 0), key.data(), spec_.keyLength) == 0)
        std::memcpy(record.data(), sqlite3_column_blob(st, 0), spec_.recordLength);
      else
        s = kIndexDamaged;
    } else if (rc != SQLITE_DONE) {
      s = failed(rc);
    }
    sqlite3_reset(st);
    position_ = std::move(key);
    positionedBefore_ = false;
    if (rc == SQLITE_DONE) {  // deleted in between: go on after it
      release(position_, held, true);
      continue;
    }
    if (!s.ok())
      release(position_, held, true);
    else
      endReadAfterLocking();
    return s;
  }
}

FileStatus FileHandle::change(Stmt which, std::span<const char> record, bool bindData) {
  int rc;
  sqlite3_stmt* st = stmt(which, &rc);
  if (st == nullptr) return failed(rc);
  sqlite3_bind_blob(st, 1, record.data(), static_cast<int>(spec_.keyLength), SQLITE_STATIC);
  if (bindData)
    sqlite3_bind_blob(st, 2, record.data(), static_cast<int>(spec_.recordLength), SQLITE_STATIC);
  rc = sqlite3_step(st);
  sqlite3_reset(st);
  if (rc != SQLITE_DONE) return failed(rc);
  if (sqlite3_changes(db_) == 0) return which == kInsert ? kDuplicateKey : kNotFound;
  return kOk;
}

FileStatus FileHandle::write(std::span<const char> record) {
  if (const FileStatus s = prologue(false); !s.ok()) return s;
  if (!updating()) return kNotOpenForOutput;
  if (unitLost_ || record.size() < spec_.recordLength) return kPermanentError;
  return change(kInsert, record, true);
}

FileStatus FileHandle::rewrite(std::span<const char> record) {
  if (const FileStatus s = prologue(false, record, spec_.recordLength); !s.ok()) return s;
  if (!updating()) return kNotOpenForUpdate;
  if (unitLost_ || record.size() < spec_.recordLength) return kPermanentError;
  const std::span<const char> key(record.data(), spec_.keyLength);
  const bool held = lock_.holdsRecord(key);
  if (locking()) {
    if (const FileStatus s = lockStatus(lock_.lockRecord(key)); !s.ok()) return s;
  }
  const FileStatus s = change(kUpdate, record, true);
  release(key, held, !s.ok());
  return s;
}

FileStatus FileHandle::remove(std::span<const char> record) {
  if (const FileStatus s = prologue(false, record, spec_.keyLength); !s.ok()) return s;
  if (!updating()) return kNotOpenForUpdate;
  if (unitLost_ || record.size() < spec_.keyLength) return kPermanentError;
  const std::span<const char> key(record.data(), spec_.keyLength);
  const bool held = lock_.holdsRecord(key);
  if (locking()) {
    if (const FileStatus s = lockStatus(lock_.lockRecord(key)); !s.ok()) return s;
  }
  const FileStatus s = change(kDelete, record, false);
  release(key, held, !s.ok());
  return s;
}

FileStatus FileHandle::unlock() {
  if (db_ == nullptr) return kNotOpen;
  if (!inUnit_) lock_.unlockRecords();
  return kOk;
}

FileStatus FileHandle::begin() {
  if (const FileStatus s = prologue(false); !s.ok()) return s;
  if (!updating()) return kNotOpenForOutput;
  if (inUnit_) return kAlreadyOpen;
  const int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return fromSqlite(rc);
  inUnit_ = true;
  unitLost_ = false;
  lock_.allowWide(true);
  return kOk;
}

FileStatus FileHandle::commit() {
  if (const FileStatus s = prologue(false); !s.ok()) return s;
  if (!inUnit_) return updating() ? kOk : kNotOpenForOutput;
  if (unitLost_) {
    inUnit_ = unitLost_ = false;
    lock_.allowWide(false);
    lock_.unlockRecords();
    return kPermanentError;  // the store rolled the unit back already
  }
  const int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK && !sqlite3_get_autocommit(db_)) {
    // Still open (a reader held the log): give the caller the choice to
    // commit again or roll back.
    return fromSqlite(rc);
  }
  inUnit_ = false;
  lock_.allowWide(false);
  lock_.unlockRecords();
  return fromSqlite(rc);
}

FileStatus FileHandle::rollback() {
  if (const FileStatus s = prologue(false); !s.ok()) return s;
  if (!inUnit_) return updating() ? kOk : kNotOpenForOutput;
  if (!sqlite3_get_autocommit(db_)) (void)sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  inUnit_ = unitLost_ = false;
  lock_.allowWide(false);
  lock_.unlockRecords();
  return kOk;
}

}  // namespace

std::unique_ptr<KeyedFile> makeFileHandle(const FileSpec& spec, std::string path,
                                          std::shared_ptr<ConnectionPool> pool) {
  return std::make_unique<FileHandle>(spec, std::move(path), std::move(pool));
}

}  // namespace datafiles::sqlite
