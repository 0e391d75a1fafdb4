#include "datafiles/sqlite_store.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "datafiles/lock_file.h"

namespace datafiles {
namespace {

constexpr const char* kSchema =
    "CREATE TABLE records(key BLOB PRIMARY KEY, data BLOB NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE layout(record_length INTEGER NOT NULL, key_length INTEGER NOT NULL);";

// Per connection. synchronous=NORMAL in WAL mode: a commit is an append to the
// log without a flush, which a killed process cannot tear.
// Reads run in a held read transaction from the store's own cache, so
// mapping the file would only make every open and close dearer.
constexpr const char* kConnectionSettings = "PRAGMA synchronous=NORMAL;PRAGMA cache_size=-65536";
// The journal mode is stored in the file; setting it again costs nothing once
// it is WAL, and it converts files that another tool created with a rollback
// journal.
constexpr const char* kWalMode = "PRAGMA journal_mode=WAL";

// Without a log index to watch (a file left in rollback mode), a live
// read-next statement keeps its snapshot at most this long.
constexpr auto kLiveSnapshotLimit = std::chrono::milliseconds(20);

FileStatus fromSqlite(int rc) {
  switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return kOk;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return kFileLocked;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_SCHEMA:
      return kIndexDamaged;
    default:
      return kPermanentError;
  }
}

enum class Presence { kFile, kMissing, kOther };

Presence presence(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return S_ISREG(st.st_mode) ? Presence::kFile : Presence::kOther;
  return errno == ENOENT ? Presence::kMissing : Presence::kOther;
}

FileStatus presenceStatus(const std::string& path) {
  switch (presence(path)) {
    case Presence::kFile: return kOk;
    case Presence::kMissing: return kFileMissing;
    case Presence::kOther: return kPermanentError;
  }
  return kPermanentError;
}

// Whether the file holds a records table; any doubt counts as damage.
bool hasRecordsTable(sqlite3* db) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT key, data FROM records LIMIT 0", -1, &st, nullptr) !=
      SQLITE_OK) {
    sqlite3_finalize(st);
    return false;
  }
  sqlite3_finalize(st);
  return true;
}

FileStatus checkLayout(sqlite3* db, const FileSpec& spec) {
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db, "SELECT record_length, key_length FROM layout", -1, &st,
                              nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(st);
    if ((rc & 0xff) == SQLITE_ERROR) return hasRecordsTable(db) ? kIndexMissing : kIndexDamaged;
    return fromSqlite(rc);
  }
  rc = sqlite3_step(st);
  FileStatus s = kOk;
  if (rc == SQLITE_ROW) {
    if (sqlite3_column_type(st, 0) != SQLITE_INTEGER ||
        sqlite3_column_type(st, 1) != SQLITE_INTEGER)
      s = kIndexMissing;
    else if (static_cast<std::size_t>(sqlite3_column_int64(st, 0)) != spec.recordLength ||
             static_cast<std::size_t>(sqlite3_column_int64(st, 1)) != spec.keyLength)
      s = kAttributeMismatch;
  } else if (rc == SQLITE_DONE) {
    s = kIndexMissing;
  } else {
    s = fromSqlite(rc);
  }
  sqlite3_finalize(st);
  return s;
}

constexpr const char* kReadSql = "SELECT data FROM records WHERE key=?1";

// Whether the file is in WAL mode already, from its header (bytes 18 and 19
// are 2 then), so that the usual open needs no journal mode statement.
bool inWalMode(sqlite3* db) {
  sqlite3_file* file = nullptr;
  if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK ||
      file == nullptr || file->pMethods == nullptr)
    return false;
  unsigned char header[20] = {};
  if (file->pMethods->xRead(file, header, sizeof header, 0) != SQLITE_OK) return false;
  return header[18] == 2 && header[19] == 2;
}

// Closes a connection. The last one out copies the log into the file and
// empties it, as the store always did; the log file itself stays.
void closeDatabase(sqlite3* db) {
  if (db == nullptr) return;
  (void)sqlite3_exec(db, "PRAGMA journal_size_limit=0", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

// Opens an existing data file and checks that it is one of ours with the
// caller's layout. On success `*out` is the connection and, when asked,
// `*readStmt` the prepared read-by-key statement.
FileStatus openDatabase(const std::string& path, const FileSpec& spec, sqlite3** out,
                        sqlite3_stmt** readStmt, bool* wal = nullptr) {
  *out = nullptr;
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close(db);
    const FileStatus p = presenceStatus(path);
    return p.ok() ? fromSqlite(rc) : p;
  }
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, SqliteStore::kBusyTimeoutMs);
  // The log stays beside the file after the last close (emptied, see
  // closeDatabase): the next open need not create it and its index again.
  int persist = 1;
  (void)sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
  FileStatus s = checkLayout(db, spec);
  sqlite3_stmt* read = nullptr;
  if (s.ok()) {
    rc = sqlite3_prepare_v3(db, kReadSql, -1, SQLITE_PREPARE_PERSISTENT, &read, nullptr);
    if (rc != SQLITE_OK) s = (rc & 0xff) == SQLITE_ERROR ? kIndexDamaged : fromSqlite(rc);
  }
  if (s.ok()) {
    // Failures leave the defaults, which work, only slower (a read-only
    // share cannot switch the journal mode, for one).
    (void)sqlite3_exec(db, kConnectionSettings, nullptr, nullptr, nullptr);
    bool isWal = inWalMode(db);
    if (!isWal) {
      sqlite3_stmt* mode = nullptr;
      if (sqlite3_prepare_v2(db, kWalMode, -1, &mode, nullptr) == SQLITE_OK &&
          sqlite3_step(mode) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(mode, 0));
        isWal = text != nullptr && std::strcmp(text, "wal") == 0;
      }
      sqlite3_finalize(mode);
    }
    if (wal != nullptr) *wal = isWal;
  }
  if (!s.ok()) {
    sqlite3_finalize(read);
    closeDatabase(db);
    return s;
  }
  if (readStmt != nullptr)
    *readStmt = read;
  else
    sqlite3_finalize(read);
  *out = db;
  return kOk;
}

// Connections of closed handles, kept for the next open of the same file in
// this process. The first connection to a file sets up the log index
// (truncate, grow, map) and every connection loads the schema; the launcher
// reopens its files around every program call, so a closed handle's
// connection is parked here instead. A parked connection holds no lock of
// the lock file and no transaction; its page cache is emptied, so that the
// next open reads the file as a new connection would. It is used again only
// by the process that parked it and only while the name still leads to the
// same file.
constexpr std::size_t kStmtSlots = 8;
using Statements = std::array<sqlite3_stmt*, kStmtSlots>;

struct FileId {
  dev_t dev;
  ino_t ino;
  bool operator==(const FileId&) const = default;
};

struct Parked {
  std::string path;
  FileId id;
  pid_t pid;
  sqlite3* db;
  Statements stmts;
  bool wal;
};

void closeParked(Parked& p) {
  // A child of the process that parked it must not touch it: closing
  // could copy the log into the file under another process's feet.
  if (p.pid != ::getpid()) return;
  for (sqlite3_stmt* st : p.stmts) sqlite3_finalize(st);
  closeDatabase(p.db);
}

class ConnectionPool {
 public:
  static constexpr std::size_t kMaxParked = 12;
  // At exit: the connections are closed as handles close, so that the last
  // one out still copies the log into the file. Handles closed later (by
  // static destructors) are not parked any more.
  void drain() {
    std::vector<Parked> all;
    {
      std::lock_guard<std::mutex> g(mutex_);
      all.swap(parked_);
      draining_ = true;
    }
    for (Parked& p : all) closeParked(p);
  }
  void park(Parked p) {
    std::optional<Parked> evicted;
    {
      std::lock_guard<std::mutex> g(mutex_);
      if (draining_) {
        evicted = std::move(p);
      } else if (parked_.size() >= kMaxParked) {
        evicted = std::move(parked_.front());
        parked_.erase(parked_.begin());
        parked_.push_back(std::move(p));
      } else {
        parked_.push_back(std::move(p));
      }
    }
    if (evicted) closeParked(*evicted);
  }
  std::optional<Parked> take(const std::string& path, const FileId& id) {
    std::vector<Parked> stale;
    std::optional<Parked> found;
    {
      std::lock_guard<std::mutex> g(mutex_);
      const pid_t pid = ::getpid();
      for (std::size_t i = parked_.size(); i-- > 0;) {
        if (parked_[i].path != path) continue;
        if (parked_[i].pid != pid || !(parked_[i].id == id)) {
          stale.push_back(std::move(parked_[i]));
          parked_.erase(parked_.begin() + static_cast<std::ptrdiff_t>(i));
        } else if (!found) {
          found = std::move(parked_[i]);
          parked_.erase(parked_.begin() + static_cast<std::ptrdiff_t>(i));
        }
      }
    }
    for (Parked& p : stale) {
      // The file under this name was replaced: leave the old one as it is.
      if (p.pid == ::getpid()) {
        int one = 1;
        (void)sqlite3_db_config(p.db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, &one);
      }
      closeParked(p);
    }
    return found;
  }

 private:
  std::mutex mutex_;
  std::vector<Parked> parked_;
  bool draining_ = false;
};

// Never destroyed: a handle may close during static destruction.
ConnectionPool& pool() {
  static ConnectionPool* p = [] {
    auto* created = new ConnectionPool;
    std::atexit([] { pool().drain(); });
    return created;
  }();
  return *p;
}

std::optional<FileId> fileId(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return FileId{st.st_dev, st.st_ino};
}

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

class SqliteFile final : public KeyedFile {
 public:
  SqliteFile(const FileSpec& spec, std::string path)
      : name_(spec.name), spec_{name_, spec.recordLength, spec.keyLength},
        path_(std::move(path)) {}
  SqliteFile(const SqliteFile&) = delete;
  SqliteFile& operator=(const SqliteFile&) = delete;
  ~SqliteFile() override { (void)close(); }

  FileStatus open(OpenMode mode) override;
  FileStatus close() override;
  bool isOpen() const override { return db_ != nullptr; }
  FileStatus read(std::span<char> record) override;
  FileStatus start(StartMode mode, std::span<const char> record, std::size_t keyLength) override;
  FileStatus readNext(std::span<char> record) override;
  FileStatus write(std::span<const char> record) override;
  FileStatus rewrite(std::span<const char> record) override;
  FileStatus remove(std::span<const char> record) override;
  FileStatus begin() override;
  FileStatus commit() override;
  FileStatus rollback() override;
  const FileSpec& spec() const override { return spec_; }

 private:
  enum Stmt { kRead, kSeekGe, kSeekGt, kInsert, kUpdate, kDelete, kBeginRead, kEndRead, kStmtCount };
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

  // Every operation but read-next starts here: the handle's record lock ends
  // with its next operation. Changes end the held read snapshot first.
  // An operation that locks the record it names (read, rewrite, delete)
  // passes it with the length it needs: a lock already held on it is kept
  // rather than dropped and taken again, which saves two system calls on
  // read-then-rewrite. The operation ends or drops that lock as before.
  FileStatus prologue(bool reading, std::span<const char> record = {}, std::size_t need = 0) {
    if (db_ == nullptr) return kNotOpen;
    const bool keep = need != 0 && updating() && !unitLost_ && record.size() >= need &&
                      lock_.holdsRecord(record.first(spec_.keyLength));
    if (!keep) lock_.unlockRecord();
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
  FileStatus change(Stmt which, std::span<const char> record, bool bindData);
  FileStatus readNextLocked(std::span<char> record);

  std::string name_;
  FileSpec spec_;
  std::string path_;
  sqlite3* db_ = nullptr;
  LockFile lock_;
  OpenMode mode_ = OpenMode::kInput;
  Statements stmts_{};
  FileId id_{};
  sqlite3_stmt* live_ = nullptr;  // a seek statement stepping through the file
  bool pending_ = false;          // live_ stands on a row not yet returned
  std::chrono::steady_clock::time_point liveSince_;
  std::string position_;          // key of the record last returned or found
  bool hasPosition_ = false;
  bool positionedBefore_ = false;  // read-next returns the record at position_ itself
  std::string seekKey_;
  bool inUnit_ = false;
  bool unitLost_ = false;
  bool wal_ = false;
  bool readTxn_ = false;
  // The first copy of the log index header (48 bytes), mapped by the store,
  // and its value when the held read transaction began.
  const volatile std::uint32_t* logHeader_ = nullptr;
  std::array<std::uint32_t, 12> snapshot_{};
};

void SqliteFile::mapLogIndex() {
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

FileStatus SqliteFile::freshen() {
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

void SqliteFile::endRead() {
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

sqlite3_stmt* SqliteFile::stmt(Stmt which, int* rc) {
  *rc = SQLITE_OK;
  if (stmts_[which] == nullptr)
    *rc = sqlite3_prepare_v3(db_, kSql[which], -1, SQLITE_PREPARE_PERSISTENT, &stmts_[which],
                             nullptr);
  return stmts_[which];
}

bool SqliteFile::rowIsWhole(sqlite3_stmt* st, int keyCol, int dataCol) const {
  const void* data = sqlite3_column_blob(st, dataCol);
  if (data == nullptr || static_cast<std::size_t>(sqlite3_column_bytes(st, dataCol)) !=
                             spec_.recordLength)
    return false;
  if (keyCol < 0) return true;
  const void* key = sqlite3_column_blob(st, keyCol);
  return key != nullptr &&
         static_cast<std::size_t>(sqlite3_column_bytes(st, keyCol)) == spec_.keyLength &&
         std::memcmp(key, data, spec_.keyLength) == 0;
}

FileStatus SqliteFile::open(OpenMode mode) {
  if (db_ != nullptr) return kAlreadyOpen;
  const std::optional<FileId> id = fileId(path_);
  if (!id) return presenceStatus(path_);
  if (lock_.open(path_ + "-lock") != LockFile::Result::kOk) return kPermanentError;
  if (const auto r = lock_.lockFile(mode == OpenMode::kExclusive); r != LockFile::Result::kOk) {
    lock_.close();
    return r == LockFile::Result::kBusy ? kFileLocked : kPermanentError;
  }
  id_ = *id;
  if (std::optional<Parked> p = pool().take(path_, id_)) {
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
  mode_ = mode;
  hasPosition_ = false;
  inUnit_ = unitLost_ = readTxn_ = false;
  logHeader_ = nullptr;
  return kOk;
}

FileStatus SqliteFile::close() {
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
    pool().park(Parked{path_, id_, ::getpid(), db_, stmts_, wal_});
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

FileStatus SqliteFile::read(std::span<char> record) {
  if (const FileStatus s = prologue(true, record, spec_.recordLength); !s.ok()) return s;
  if (unitLost_) return kPermanentError;
  if (record.size() < spec_.recordLength) return kPermanentError;
  const std::span<const char> key(record.data(), spec_.keyLength);
  if (updating()) {
    if (const FileStatus s = lockStatus(lock_.lockRecord(key)); !s.ok()) return s;
  }
  if (const FileStatus s = freshen(); !s.ok()) {
    lock_.unlockRecord();
    return s;
  }
  int rc;
  sqlite3_stmt* st = stmt(kRead, &rc);
  if (st == nullptr) return failed(rc);
  sqlite3_bind_blob(st, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
  rc = sqlite3_step(st);
  FileStatus s = kOk;
  if (rc == SQLITE_ROW) {
    if (rowIsWhole(st, -1, 0) && std::memcmp(sqlite3_column_blob(st, 0), key.data(),
                                             spec_.keyLength) == 0) {
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
  if (!s.ok()) lock_.unlockRecord();
  return s;
}

FileStatus SqliteFile::start(StartMode mode, std::span<const char> record,
                             std::size_t keyLength) {
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

FileStatus SqliteFile::readNext(std::span<char> record) {
  if (db_ == nullptr) return kNotOpen;
  lock_.unlockRecord();
  if (unitLost_) return kPermanentError;
  if (record.size() < spec_.recordLength) return kPermanentError;
  if (!hasPosition_) {
    dropLive();
    return kNoPosition;
  }
  if (updating()) return readNextLocked(record);
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
    sqlite3_bind_blob(st, 1, position_.data(), static_cast<int>(position_.size()),
                      SQLITE_STATIC);
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
FileStatus SqliteFile::readNextLocked(std::span<char> record) {
  dropLive();
  for (;;) {
    if (const FileStatus s = freshen(); !s.ok()) return s;
    int rc;
    sqlite3_stmt* seek = stmt(positionedBefore_ ? kSeekGe : kSeekGt, &rc);
    if (seek == nullptr) return failed(rc);
    sqlite3_bind_blob(seek, 1, position_.data(), static_cast<int>(position_.size()),
                      SQLITE_STATIC);
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
    if (const FileStatus s = lockStatus(lock_.lockRecord(key)); !s.ok()) {
      // The next read-next tries the same record again.
      position_ = std::move(key);
      positionedBefore_ = true;
      return s;
    }
    if (const FileStatus s = freshen(); !s.ok()) {
      lock_.unlockRecord();
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
      lock_.unlockRecord();
      continue;
    }
    if (!s.ok()) lock_.unlockRecord();
    return s;
  }
}

FileStatus SqliteFile::change(Stmt which, std::span<const char> record, bool bindData) {
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

FileStatus SqliteFile::write(std::span<const char> record) {
  if (const FileStatus s = prologue(false); !s.ok()) return s;
  if (!updating()) return kNotOpenForOutput;
  if (unitLost_ || record.size() < spec_.recordLength) return kPermanentError;
  return change(kInsert, record, true);
}

FileStatus SqliteFile::rewrite(std::span<const char> record) {
  if (const FileStatus s = prologue(false, record, spec_.recordLength); !s.ok()) return s;
  if (!updating()) return kNotOpenForUpdate;
  if (unitLost_ || record.size() < spec_.recordLength) return kPermanentError;
  const std::span<const char> key(record.data(), spec_.keyLength);
  if (const FileStatus s = lockStatus(lock_.lockRecord(key)); !s.ok()) return s;
  const FileStatus s = change(kUpdate, record, true);
  lock_.unlockRecord();
  return s;
}

FileStatus SqliteFile::remove(std::span<const char> record) {
  if (const FileStatus s = prologue(false, record, spec_.keyLength); !s.ok()) return s;
  if (!updating()) return kNotOpenForUpdate;
  if (unitLost_ || record.size() < spec_.keyLength) return kPermanentError;
  const std::span<const char> key(record.data(), spec_.keyLength);
  if (const FileStatus s = lockStatus(lock_.lockRecord(key)); !s.ok()) return s;
  const FileStatus s = change(kDelete, record, false);
  lock_.unlockRecord();
  return s;
}

FileStatus SqliteFile::begin() {
  if (const FileStatus s = prologue(false); !s.ok()) return s;
  if (!updating()) return kNotOpenForOutput;
  if (inUnit_) return kAlreadyOpen;
  const int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return fromSqlite(rc);
  inUnit_ = true;
  unitLost_ = false;
  return kOk;
}

FileStatus SqliteFile::commit() {
  if (const FileStatus s = prologue(false); !s.ok()) return s;
  if (!inUnit_) return updating() ? kOk : kNotOpenForOutput;
  if (unitLost_) {
    inUnit_ = unitLost_ = false;
    return kPermanentError;  // the store rolled the unit back already
  }
  const int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK && !sqlite3_get_autocommit(db_)) {
    // Still open (a reader held the log): give the caller the choice to
    // commit again or roll back.
    return fromSqlite(rc);
  }
  inUnit_ = false;
  return fromSqlite(rc);
}

FileStatus SqliteFile::rollback() {
  if (const FileStatus s = prologue(false); !s.ok()) return s;
  if (!inUnit_) return updating() ? kOk : kNotOpenForOutput;
  if (!sqlite3_get_autocommit(db_))
    (void)sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  inUnit_ = unitLost_ = false;
  return kOk;
}

std::atomic<unsigned> tempCounter{0};

}  // namespace

std::string SqliteStore::pathOf(std::string_view name, std::string_view directory) {
  if (directory.empty()) return std::string(name);
  std::string p(directory);
  if (p.back() != '/') p += '/';
  p += name;
  return p;
}

std::unique_ptr<KeyedFile> SqliteStore::file(const FileSpec& spec, std::string_view directory) {
  return std::make_unique<SqliteFile>(spec, pathOf(spec.name, directory));
}

FileStatus SqliteStore::create(const FileSpec& spec, std::string_view directory) {
  const std::string path = pathOf(spec.name, directory);
  switch (presence(path)) {
    case Presence::kFile: return kDuplicateKey;
    case Presence::kOther: return kPermanentError;
    case Presence::kMissing: break;
  }
  // Built under a temporary name and linked into place, so that the file
  // appears complete or not at all, and never over another one.
  const std::string temp = path + ".new-" + std::to_string(::getpid()) + "-" +
                           std::to_string(tempCounter.fetch_add(1));
  auto removeTemp = [&] {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
      ::unlink((temp + suffix).c_str());
  };
  removeTemp();
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(temp.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc == SQLITE_OK) {
    char sql[512];
    // 4 KiB pages: every commit writes whole pages into the log and every
    // checkpoint copies them back, so small pages keep the single change and
    // the close after a short run cheap; the catalogue's bulk writes cost a
    // little more CPU than with 16 KiB pages and stay well inside their mark.
    std::snprintf(sql, sizeof sql,
                  "PRAGMA page_size=4096;PRAGMA journal_mode=WAL;BEGIN;%s"
                  "INSERT INTO layout VALUES(%zu, %zu);COMMIT;",
                  kSchema, spec.recordLength, spec.keyLength);
    rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  }
  const int closeRc = sqlite3_close(db);
  if (rc != SQLITE_OK || closeRc != SQLITE_OK) {
    removeTemp();
    return kPermanentError;
  }
  FileStatus s = kOk;
  if (::link(temp.c_str(), path.c_str()) != 0) {
    if (errno == EEXIST) {
      s = kDuplicateKey;
    } else if (presence(path) == Presence::kMissing) {
      // A file system without hard links: a plain rename, checked just before.
      if (::rename(temp.c_str(), path.c_str()) != 0) s = kPermanentError;
    } else {
      s = kDuplicateKey;
    }
  }
  removeTemp();
  return s;
}

FileStatus SqliteStore::copyTo(const FileSpec& spec, std::string_view directory,
                               const std::string& targetPath) {
  const std::string path = pathOf(spec.name, directory);
  if (const FileStatus p = presenceStatus(path); !p.ok()) return p;
  if (presence(targetPath) != Presence::kMissing) return kDuplicateKey;
  LockFile lock;
  if (lock.open(path + "-lock") != LockFile::Result::kOk) return kPermanentError;
  if (const auto r = lock.lockFile(false); r != LockFile::Result::kOk)
    return r == LockFile::Result::kBusy ? kFileLocked : kPermanentError;
  sqlite3* db = nullptr;
  if (const FileStatus s = openDatabase(path, spec, &db, nullptr); !s.ok()) return s;
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db, "VACUUM INTO ?1", -1, &st, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_bind_text(st, 1, targetPath.c_str(), -1, SQLITE_TRANSIENT);
    rc = sqlite3_step(st);
    if (rc == SQLITE_DONE) rc = SQLITE_OK;
  }
  sqlite3_finalize(st);
  closeDatabase(db);
  if (rc != SQLITE_OK) {
    ::unlink(targetPath.c_str());
    return fromSqlite(rc) == kFileLocked ? kFileLocked : kPermanentError;
  }
  // The copy is written with a rollback journal; give it the store's mode.
  sqlite3* copy = nullptr;
  rc = sqlite3_open_v2(targetPath.c_str(), &copy, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                       nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_exec(copy, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  sqlite3_close(copy);
  return rc == SQLITE_OK ? kOk : kPermanentError;
}

FileStatus SqliteStore::checkIntegrity(const FileSpec& spec, std::string_view directory,
                                       std::vector<std::string>* problems) {
  std::vector<std::string> found;
  const std::string path = pathOf(spec.name, directory);
  if (const FileStatus p = presenceStatus(path); !p.ok()) return p;
  LockFile lock;
  if (lock.open(path + "-lock") != LockFile::Result::kOk) return kPermanentError;
  if (const auto r = lock.lockFile(false); r != LockFile::Result::kOk)
    return r == LockFile::Result::kBusy ? kFileLocked : kPermanentError;
  sqlite3* db = nullptr;
  if (const FileStatus s = openDatabase(path, spec, &db, nullptr); !s.ok()) {
    if (problems != nullptr) problems->push_back("cannot open: status " + s.toString());
    return s;
  }
  auto query = [&](const char* sql, auto&& onRow) {
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
    if (rc == SQLITE_OK) {
      if (sqlite3_bind_parameter_count(st) == 2) {
        sqlite3_bind_int64(st, 1, static_cast<sqlite3_int64>(spec.recordLength));
        sqlite3_bind_int64(st, 2, static_cast<sqlite3_int64>(spec.keyLength));
      }
      while ((rc = sqlite3_step(st)) == SQLITE_ROW) onRow(st);
    }
    if (rc != SQLITE_DONE) found.push_back(std::string(sql) + ": " + sqlite3_errmsg(db));
    sqlite3_finalize(st);
  };
  query("PRAGMA integrity_check", [&](sqlite3_stmt* st) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    const std::string line = text != nullptr ? text : "";
    if (line != "ok") found.push_back(line);
  });
  query("SELECT count(*) FROM layout",
        [&](sqlite3_stmt* st) {
          const auto n = sqlite3_column_int64(st, 0);
          if (n != 1) found.push_back("layout holds " + std::to_string(n) + " rows, not 1");
        });
  query("SELECT count(*) FROM records WHERE typeof(data) != 'blob' OR length(data) != ?1 "
        "OR typeof(key) != 'blob' OR length(key) != ?2 OR substr(data, 1, ?2) != key",
        [&](sqlite3_stmt* st) {
          const auto n = sqlite3_column_int64(st, 0);
          if (n != 0)
            found.push_back(std::to_string(n) + " records of the wrong length or with a key "
                            "that differs from the record's head");
        });
  closeDatabase(db);
  const bool clean = found.empty();
  if (problems != nullptr) problems->insert(problems->end(), found.begin(), found.end());
  return clean ? kOk : kIndexDamaged;
}

}  // namespace datafiles
