#include "datafiles/sqlite_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "datafiles/lock_file.h"
#include "datafiles/sqlite_connection.h"
#include "datafiles/sqlite_file.h"

namespace datafiles {
namespace {

std::atomic<unsigned> tempCounter{0};

// A name beside `path` that no other file has: PATH.new-PID-N.
std::string temporaryName(const std::string& path) {
  return path + ".new-" + std::to_string(::getpid()) + "-" +
         std::to_string(tempCounter.fetch_add(1));
}

// Removes the file at `path` with everything the store keeps beside it.
void removeWithSideFiles(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal", "-lock"})
    ::unlink((path + suffix).c_str());
}

}  // namespace

std::string SqliteStore::pathOf(std::string_view name, std::string_view directory) {
  if (directory.empty()) return std::string(name);
  std::string p(directory);
  if (p.back() != '/') p += '/';
  p += name;
  return p;
}

SqliteStore::SqliteStore() : pool_(std::make_shared<sqlite::ConnectionPool>()) {}

// The parked connections close now, so that the last one out copies the log
// into its file; handles still open close theirs when they close.
SqliteStore::~SqliteStore() { pool_->drain(); }

std::unique_ptr<KeyedFile> SqliteStore::file(const FileSpec& spec, std::string_view directory) {
  return sqlite::makeFileHandle(spec, pathOf(spec.name, directory), pool_);
}

FileStatus SqliteStore::create(const FileSpec& spec, std::string_view directory) {
  const std::string path = pathOf(spec.name, directory);
  switch (sqlite::presence(path)) {
    case sqlite::Presence::kFile:
      return kDuplicateKey;
    case sqlite::Presence::kOther:
      return kPermanentError;
    case sqlite::Presence::kMissing:
      break;
  }
  // Built under a temporary name and linked into place, so that the file
  // appears complete or not at all, and never over another one.
  const std::string temp = temporaryName(path);
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
                  sqlite::kSchema, spec.recordLength, spec.keyLength);
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
    } else if (sqlite::presence(path) == sqlite::Presence::kMissing) {
      // A file system without hard links: a plain rename, checked just before.
      if (::rename(temp.c_str(), path.c_str()) != 0) s = kPermanentError;
    } else {
      s = kDuplicateKey;
    }
  }
  removeTemp();
  return s;
}

std::string SqliteStore::location(std::string_view directory) const {
  return directory.empty() ? std::string(".") : std::string(directory);
}

FileStatus SqliteStore::buildFile(const FileSpec& spec, const std::string& targetPath,
                                  const std::function<FileStatus(KeyedFile&)>& fill) {
  if (sqlite::presence(targetPath) != sqlite::Presence::kMissing) return kDuplicateKey;
  const std::string temp = temporaryName(targetPath);
  const std::size_t slash = temp.rfind('/');
  const std::string directory = slash == std::string::npos ? std::string() : temp.substr(0, slash);
  const std::string name = slash == std::string::npos ? temp : temp.substr(slash + 1);
  const FileSpec tempSpec{name, spec.recordLength, spec.keyLength};
  FileStatus s = kOk;
  {
    // A store of its own, gone before the file is linked into place: its
    // kept connections close with it, copying the log into the file.
    SqliteStore store;
    s = store.create(tempSpec, directory);
    if (s.ok()) {
      auto f = store.file(tempSpec, directory);
      s = f->open(OpenMode::kExclusive);
      if (s.ok()) s = f->begin();
      if (s.ok()) s = fill(*f);
      if (s.ok()) {
        s = f->commit();
      } else if (f->isOpen()) {
        (void)f->rollback();
      }
      if (f->isOpen()) (void)f->close();
    }
  }
  if (s.ok()) {
    // The last connection of a file in log mode that does not keep its log
    // copies the log into the file and removes it: the new file stands
    // alone, without a log or an index beside it.
    sqlite3* db = nullptr;
    int rc =
        sqlite3_open_v2(temp.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc == SQLITE_OK)
      rc = sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    if (sqlite3_close(db) != SQLITE_OK || rc != SQLITE_OK) s = kPermanentError;
    struct stat st {};
    if (::stat((temp + "-wal").c_str(), &st) == 0 && st.st_size != 0) s = kPermanentError;
  }
  if (s.ok()) {
    for (const char* suffix : {"-wal", "-shm", "-lock"}) ::unlink((temp + suffix).c_str());
    if (::link(temp.c_str(), targetPath.c_str()) != 0) {
      if (errno == EEXIST) {
        s = kDuplicateKey;
      } else if (sqlite::presence(targetPath) == sqlite::Presence::kMissing) {
        // A file system without hard links: a plain rename, checked just before.
        if (::rename(temp.c_str(), targetPath.c_str()) != 0) s = kPermanentError;
      } else {
        s = kDuplicateKey;
      }
    }
  }
  removeWithSideFiles(temp);
  return s;
}

FileStatus SqliteStore::copyTo(const FileSpec& spec, std::string_view directory,
                               const std::string& targetPath) {
  const std::string path = pathOf(spec.name, directory);
  if (const FileStatus p = sqlite::presenceStatus(path); !p.ok()) return p;
  if (sqlite::presence(targetPath) != sqlite::Presence::kMissing) return kDuplicateKey;
  LockFile lock;
  if (lock.open(path + "-lock") != LockFile::Result::kOk) return kPermanentError;
  if (const auto r = lock.lockFile(false); r != LockFile::Result::kOk)
    return r == LockFile::Result::kBusy ? kFileLocked : kPermanentError;
  sqlite3* db = nullptr;
  if (const FileStatus s = sqlite::openDatabase(path, spec, &db, nullptr); !s.ok()) return s;
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db, "VACUUM INTO ?1", -1, &st, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_bind_text(st, 1, targetPath.c_str(), -1, SQLITE_TRANSIENT);
    rc = sqlite3_step(st);
    if (rc == SQLITE_DONE) rc = SQLITE_OK;
  }
  sqlite3_finalize(st);
  sqlite::closeDatabase(db);
  if (rc != SQLITE_OK) {
    ::unlink(targetPath.c_str());
    return sqlite::fromSqlite(rc) == kFileLocked ? kFileLocked : kPermanentError;
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
  if (const FileStatus p = sqlite::presenceStatus(path); !p.ok()) return p;
  LockFile lock;
  if (lock.open(path + "-lock") != LockFile::Result::kOk) return kPermanentError;
  if (const auto r = lock.lockFile(false); r != LockFile::Result::kOk)
    return r == LockFile::Result::kBusy ? kFileLocked : kPermanentError;
  sqlite3* db = nullptr;
  if (const FileStatus s = sqlite::openDatabase(path, spec, &db, nullptr); !s.ok()) {
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
  sqlite::closeDatabase(db);
  const bool clean = found.empty();
  if (problems != nullptr) problems->insert(problems->end(), found.begin(), found.end());
  return clean ? kOk : kIndexDamaged;
}

}  // namespace datafiles
