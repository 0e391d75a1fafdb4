// The embedded store's connections to its SQLite databases: opening a data
// file and checking that it is one of ours with the caller's layout, the log
// mode, the translation of SQLite's result codes into file statuses, and the
// pool of connections kept for reopening. Used by the store's file handles
// and whole-file operations only.
#pragma once

#include <sqlite3.h>
#include <sys/types.h>

#include <array>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "datafiles/keyed_file.h"

namespace datafiles::sqlite {

constexpr const char* kSchema =
    "CREATE TABLE records(key BLOB PRIMARY KEY, data BLOB NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE layout(record_length INTEGER NOT NULL, key_length INTEGER NOT NULL);";
inline constexpr const char* kReadSql = "SELECT data FROM records WHERE key=?1";

// SQLite's result code as a file status: busy and locked become 9/065,
// damage 9/041, the rest "30".
FileStatus fromSqlite(int rc);

enum class Presence { kFile, kMissing, kOther };
Presence presence(const std::string& path);
// "00" for a regular file, "35" when there is none, "30" otherwise.
FileStatus presenceStatus(const std::string& path);

// "00" when the file's layout table matches `spec`; 9/043 without one, "39"
// for another record or key length, 9/041 for damage.
FileStatus checkLayout(sqlite3* db, const FileSpec& spec);
// Opens an existing data file and checks that it is one of ours with the
// caller's layout. On success `*out` is the connection and, when asked,
// `*readStmt` the prepared read-by-key statement and `*wal` whether the file
// is in WAL mode.
FileStatus openDatabase(const std::string& path, const FileSpec& spec, sqlite3** out,
                        sqlite3_stmt** readStmt, bool* wal = nullptr);
// Closes a connection. The last one out copies the log into the file and
// empties it; the log file itself stays.
void closeDatabase(sqlite3* db);

// Connections of closed handles, kept for the next open of the same file in
// this process. The first connection to a file sets up the log index
// (truncate, grow, map) and every connection loads the schema; the launcher
// reopens its files around every program call, so a closed handle's
// connection is parked here instead. A parked connection holds no lock of
// the lock file and no transaction; its page cache is emptied, so that the
// next open reads the file as a new connection would. It is used again only
// by the process that parked it and only while the name still leads to the
// same file.
inline constexpr std::size_t kStmtSlots = 8;
using Statements = std::array<sqlite3_stmt*, kStmtSlots>;

struct FileId {
  dev_t dev;
  ino_t ino;
  bool operator==(const FileId&) const = default;
};
// The file under `path`, when it is a regular file.
std::optional<FileId> fileId(const std::string& path);

struct Parked {
  std::string path;
  FileId id;
  pid_t pid;
  sqlite3* db;
  Statements stmts;
  bool wal;
};
// Finalizes the statements and closes the connection, unless another
// process (a child) parked it.
void closeParked(Parked& p);

// One store's pool; its handles share it and keep it alive, so that a handle
// closed after its store is gone still closes its connection properly.
class ConnectionPool {
 public:
  static constexpr std::size_t kMaxParked = 12;
  // Closes every parked connection, so that the last one out copies the log
  // into the file. Connections parked later are closed at once.
  void drain();
  void park(Parked p);
  // The connection parked for `path` when it still leads to the same file;
  // connections to a file since replaced are closed, leaving that file alone.
  std::optional<Parked> take(const std::string& path, const FileId& id);

 private:
  std::mutex mutex_;
  std::vector<Parked> parked_;
  bool draining_ = false;
};

}  // namespace datafiles::sqlite
