#include "datafiles/sqlite_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "datafiles/lock_file.h"
#include "datafiles/sqlite_connection.h"
#include "datafiles/sqlite_file.h"

namespace datafiles {
namespace {

std::atomic<unsigned> tempCounter{0};

std::string uniqueSuffix() {
  return std::to_string(::getpid()) + "-" + std::to_string(tempCounter.fetch_add(1));
}

void removeWithLog(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) ::unlink((path + suffix).c_str());
}

// Flushes a file or a directory (the names in it) to the disk.
bool flushToDisk(const std::string& path, bool directory) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (directory ? O_DIRECTORY : 0));
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

std::string directoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Links `from` to the new name `to`, never over another file; where the file
// system has no hard links, a rename checked just before. "22" when `to`
// exists.
FileStatus linkInto(const std::string& from, const std::string& to) {
  if (::link(from.c_str(), to.c_str()) == 0) return kOk;
  if (errno == EEXIST || sqlite::presence(to) != sqlite::Presence::kMissing) return kDuplicateKey;
  return ::rename(from.c_str(), to.c_str()) == 0 ? kOk : kPermanentError;
}

// The integrity check on an open connection (see checkIntegrity).
std::vector<std::string> findings(sqlite3* db, const FileSpec& spec) {
  std::vector<std::string> found;
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
  return found;
}

// Opens the file at `path` and checks it; the lock file is the caller's.
FileStatus inspect(const std::string& path, const FileSpec& spec,
                   std::vector<std::string>* problems, std::size_t* records = nullptr) {
  if (const FileStatus p = sqlite::presenceStatus(path); !p.ok()) return p;
  sqlite3* db = nullptr;
  if (const FileStatus s = sqlite::openDatabase(path, spec, &db, nullptr); !s.ok()) {
    if (problems != nullptr) problems->push_back("cannot open: status " + s.toString());
    return s;
  }
  const std::vector<std::string> found = findings(db, spec);
  if (records != nullptr) {
    sqlite3_stmt* st = nullptr;
    *records = 0;
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM records", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      *records = static_cast<std::size_t>(sqlite3_column_int64(st, 0));
    sqlite3_finalize(st);
  }
  sqlite::closeDatabase(db);
  if (problems != nullptr) problems->insert(problems->end(), found.begin(), found.end());
  return found.empty() ? kOk : kIndexDamaged;
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
  const std::string temp = path + ".new-" + uniqueSuffix();
  auto removeTemp = [&] { removeWithLog(temp); };
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
  const FileStatus s = linkInto(temp, path);
  removeTemp();
  return s;
}

std::string SqliteStore::location(std::string_view directory) const {
  return directory.empty() ? std::string(".") : std::string(directory);
}

FileStatus SqliteStore::buildFile(const FileSpec& spec, const std::string& targetPath,
                                  const std::function<FileStatus(KeyedFile&)>& fill) {
  if (sqlite::presence(targetPath) != sqlite::Presence::kMissing) return kDuplicateKey;
  const std::string temp = targetPath + ".part-" + uniqueSuffix();
  const std::string directory = directoryOf(temp);
  const FileSpec tempSpec{std::string_view(temp).substr(temp.rfind('/') + 1), spec.recordLength,
                          spec.keyLength};
  auto removeTemp = [&] {
    removeWithLog(temp);
    ::unlink((temp + "-lock").c_str());
  };
  removeTemp();
  FileStatus s = kOk;
  {
    // A store of its own, gone before the file is linked into place: its
    // kept connections close with it, copying the log into the file.
    SqliteStore store;
    const std::string_view dir = temp.find('/') == std::string::npos ? std::string_view() : directory;
    s = store.create(tempSpec, dir);
    if (s.ok()) {
      auto f = store.file(tempSpec, dir);
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
    int rc = sqlite3_open_v2(temp.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc == SQLITE_OK)
      rc = sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    if (sqlite3_close(db) != SQLITE_OK || rc != SQLITE_OK) s = kPermanentError;
    struct stat st {};
    if (::stat((temp + "-wal").c_str(), &st) == 0 && st.st_size != 0) s = kPermanentError;
  }
  if (s.ok()) {
    for (const char* suffix : {"-wal", "-shm", "-lock"}) ::unlink((temp + suffix).c_str());
    s = flushToDisk(temp, false) ? linkInto(temp, targetPath) : kPermanentError;
    if (s.ok()) (void)flushToDisk(directoryOf(targetPath), true);
  }
  removeTemp();
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
  // Written under a temporary name beside the target and linked into place
  // when complete: a process killed meanwhile leaves no partial copy under
  // the target's name.
  const std::string part = targetPath + ".part-" + uniqueSuffix();
  removeWithLog(part);
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db, "VACUUM INTO ?1", -1, &st, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_bind_text(st, 1, part.c_str(), -1, SQLITE_TRANSIENT);
    rc = sqlite3_step(st);
    if (rc == SQLITE_DONE) rc = SQLITE_OK;
  }
  sqlite3_finalize(st);
  sqlite::closeDatabase(db);
  if (rc == SQLITE_OK) {
    // The copy is written with a rollback journal; give it the store's mode.
    sqlite3* copy = nullptr;
    const int openRc = sqlite3_open_v2(part.c_str(), &copy,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    const int modeRc =
        openRc == SQLITE_OK
            ? sqlite3_exec(copy, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr)
            : openRc;
    const int closeRc = sqlite3_close(copy);
    FileStatus s = modeRc == SQLITE_OK && closeRc == SQLITE_OK && flushToDisk(part, false)
                       ? linkInto(part, targetPath)
                       : kPermanentError;
    if (s.ok()) (void)flushToDisk(directoryOf(targetPath), true);
    removeWithLog(part);
    return s;
  }
  removeWithLog(part);
  return sqlite::fromSqlite(rc) == kFileLocked ? kFileLocked : kPermanentError;
}

FileStatus SqliteStore::checkIntegrity(const FileSpec& spec, std::string_view directory,
                                       std::vector<std::string>* problems) {
  const std::string path = pathOf(spec.name, directory);
  if (const FileStatus p = sqlite::presenceStatus(path); !p.ok()) return p;
  LockFile lock;
  if (lock.open(path + "-lock") != LockFile::Result::kOk) return kPermanentError;
  if (const auto r = lock.lockFile(false); r != LockFile::Result::kOk)
    return r == LockFile::Result::kBusy ? kFileLocked : kPermanentError;
  return inspect(path, spec, problems);
}

namespace {

// The files of one replaceFiles call, with what it made for each.
struct Target {
  const FileSpec* spec;
  std::string path, fresh, old;  // the file, its replacement, a second name for the old file
  LockFile lock;
  bool existed = false;
  bool replaced = false;
};

// Files a killed replacement left beside `path`.
void removeLeftovers(const std::string& path) {
  const std::string dir = directoryOf(path);
  const std::string prefix = path.substr(path.rfind('/') + 1) + ".restore-";
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec))
    if (e.path().filename().string().rfind(prefix, 0) == 0) ::unlink(e.path().c_str());
}

// The old file's log copied into it and emptied, so that the file alone is
// whole; no one else has the file open. A file that is no database of ours
// keeps whatever it has.
void settleLog(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) ==
      SQLITE_OK)
    (void)sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

// Puts the files renamed so far back as they were.
void undoReplacements(std::vector<Target>& targets) {
  for (Target& t : targets) {
    if (!t.replaced) continue;
    ::unlink((t.path + "-wal").c_str());
    ::unlink((t.path + "-shm").c_str());
    if (t.existed)
      (void)::rename(t.old.c_str(), t.path.c_str());
    else
      (void)::unlink(t.path.c_str());
    t.replaced = false;
  }
}

}  // namespace

FileStatus SqliteStore::replaceFiles(std::span<const FileSpec* const> specs,
                                     std::string_view directory, std::string_view from,
                                     std::vector<Replacement>* done, std::string* failedName) {
  std::vector<Target> targets(specs.size());
  std::vector<Replacement> result;
  auto failAt = [&](const Target& t, FileStatus s) {
    if (failedName != nullptr) *failedName = std::string(t.spec->name);
    for (const Target& u : targets) {
      if (!u.fresh.empty()) removeWithLog(u.fresh);
      if (!u.old.empty()) ::unlink(u.old.c_str());
    }
    return s;
  };
  // Every file held exclusively first, or nothing is touched.
  for (std::size_t i = 0; i < specs.size(); ++i) {
    Target& t = targets[i];
    t.spec = specs[i];
    t.path = pathOf(t.spec->name, directory);
    if (t.lock.open(t.path + "-lock") != LockFile::Result::kOk) return failAt(t, kPermanentError);
    if (const auto r = t.lock.lockFile(true); r != LockFile::Result::kOk)
      return failAt(t, r == LockFile::Result::kBusy ? kFileLocked : kPermanentError);
  }
  // What each file is now, and its replacement written and checked beside it.
  for (Target& t : targets) {
    removeLeftovers(t.path);
    Replacement r{std::string(t.spec->name), kOk, 0};
    const sqlite::Presence presence = sqlite::presence(t.path);
    if (presence == sqlite::Presence::kOther) return failAt(t, kPermanentError);
    t.existed = presence == sqlite::Presence::kFile;
    r.before = t.existed ? inspect(t.path, *t.spec, nullptr) : kFileMissing;
    const std::string fresh = t.path + ".restore-new-" + uniqueSuffix();
    if (const FileStatus s = copyTo(*t.spec, from, fresh); !s.ok()) return failAt(t, s);
    t.fresh = fresh;
    if (const FileStatus s = inspect(t.fresh, *t.spec, nullptr, &r.records); !s.ok())
      return failAt(t, s);
    // The check's log is empty again (its connection was the last): the new
    // file stands alone, as it will under its name.
    struct stat log {};
    if (::stat((t.fresh + "-wal").c_str(), &log) == 0 && log.st_size != 0)
      return failAt(t, kPermanentError);
    ::unlink((t.fresh + "-wal").c_str());
    ::unlink((t.fresh + "-shm").c_str());
    struct stat st {};
    if (t.existed && ::stat(t.path.c_str(), &st) == 0) {
      // The replacement keeps the old file's owner and permissions.
      (void)::chmod(t.fresh.c_str(), st.st_mode & 07777);
      if (::chown(t.fresh.c_str(), st.st_uid, st.st_gid) != 0) {
        // Only the owner's group may be out of reach; the permissions stay.
      }
    }
    if (t.existed) {
      settleLog(t.path);
      t.old = t.path + ".restore-old-" + uniqueSuffix();
      if (::link(t.path.c_str(), t.old.c_str()) != 0) {
        t.old.clear();
        return failAt(t, kPermanentError);
      }
    }
    result.push_back(std::move(r));
  }
  // The replacements renamed into place; any failure puts back the old files.
  for (Target& t : targets) {
    // The old file's log and its index belong to it, not to the new file.
    ::unlink((t.path + "-wal").c_str());
    ::unlink((t.path + "-shm").c_str());
    if (::rename(t.fresh.c_str(), t.path.c_str()) != 0) {
      undoReplacements(targets);
      (void)flushToDisk(directoryOf(t.path), true);
      return failAt(t, kPermanentError);
    }
    t.replaced = true;
    t.fresh.clear();
  }
  if (!targets.empty()) (void)flushToDisk(directoryOf(targets.front().path), true);
  for (Target& t : targets)
    if (!t.old.empty()) ::unlink(t.old.c_str());
  if (done != nullptr) *done = std::move(result);
  return kOk;
}

}  // namespace datafiles
