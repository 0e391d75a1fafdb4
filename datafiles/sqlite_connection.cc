#include "datafiles/sqlite_connection.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "datafiles/sqlite_store.h"

namespace datafiles::sqlite {
namespace {

// Per connection. synchronous=NORMAL in WAL mode: a commit is an append to the
// log without a flush, which a killed process cannot tear.
// Reads run in a held read transaction from the store's own cache, so
// mapping the file would only make every open and close dearer.
constexpr const char* kConnectionSettings = "PRAGMA synchronous=NORMAL;PRAGMA cache_size=-65536";
// The journal mode is stored in the file; setting it again costs nothing once
// it is WAL, and it converts files that another tool created with a rollback
// journal.
constexpr const char* kWalMode = "PRAGMA journal_mode=WAL";

}  // namespace

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

Presence presence(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0)
    return S_ISREG(st.st_mode) ? Presence::kFile : Presence::kOther;
  return errno == ENOENT ? Presence::kMissing : Presence::kOther;
}

FileStatus presenceStatus(const std::string& path) {
  switch (presence(path)) {
    case Presence::kFile:
      return kOk;
    case Presence::kMissing:
      return kFileMissing;
    case Presence::kOther:
      return kPermanentError;
  }
  return kPermanentError;
}

namespace {

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

}  // namespace

FileStatus checkLayout(sqlite3* db, const FileSpec& spec) {
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db, "SELECT record_length, key_length FROM layout", -1, &st, nullptr);
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

namespace {

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

}  // namespace

void closeDatabase(sqlite3* db) {
  if (db == nullptr) return;
  (void)sqlite3_exec(db, "PRAGMA journal_size_limit=0", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

FileStatus openDatabase(const std::string& path, const FileSpec& spec, sqlite3** out,
                        sqlite3_stmt** readStmt, bool* wal) {
  *out = nullptr;
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
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

void closeParked(Parked& p) {
  // A child of the process that parked it must not touch it: closing
  // could copy the log into the file under another process's feet.
  if (p.pid != ::getpid()) return;
  for (sqlite3_stmt* st : p.stmts) sqlite3_finalize(st);
  closeDatabase(p.db);
}

void ConnectionPool::drain() {
  std::vector<Parked> all;
  {
    std::lock_guard<std::mutex> g(mutex_);
    all.swap(parked_);
    draining_ = true;
  }
  for (Parked& p : all) closeParked(p);
}

void ConnectionPool::park(Parked p) {
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

std::optional<Parked> ConnectionPool::take(const std::string& path, const FileId& id) {
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

std::optional<FileId> fileId(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return FileId{st.st_dev, st.st_ino};
}

}  // namespace datafiles::sqlite
