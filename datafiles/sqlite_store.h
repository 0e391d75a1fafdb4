// The embedded default store: each data file is one SQLite database under
// its own name, with the tables
//   records(key BLOB PRIMARY KEY, data BLOB NOT NULL) WITHOUT ROWID
//   layout(record_length INTEGER NOT NULL, key_length INTEGER NOT NULL)
// in WAL mode, so that every write is atomic, visible to the other
// workstations when it returns, and survives a killed process. Opens and
// record locks are kept in a sidecar file NAME-lock (see lock_file.h).
//
// Lock statuses: 9/065 when the file is held exclusively by someone else (or
// the store's own short wait for another writer ran out), 9/068 when another
// input-output handle holds the record. Nothing waits longer than the bounded
// writer wait (kBusyTimeoutMs).
//
// A handle is used by one thread at a time; handles are independent. The
// store keeps the connections of closed handles for the next open of the same
// file (sqlite_connection.h): the launcher and the programs it calls by name
// share one store, so that its files reopen cheaply around every call.
// Files: sqlite_connection.* (open, layout, log mode, the pool),
// sqlite_file.* (the handle), this file (the whole-file operations).
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "datafiles/installation_store.h"

namespace datafiles {

namespace sqlite {
class ConnectionPool;
}

class SqliteStore : public InstallationStore {
 public:
  // How long an operation waits for another connection's write to finish
  // before it reports 9/065.
  static constexpr int kBusyTimeoutMs = 1500;

  SqliteStore();
  ~SqliteStore() override;
  SqliteStore(const SqliteStore&) = delete;
  SqliteStore& operator=(const SqliteStore&) = delete;

  std::unique_ptr<KeyedFile> file(const FileSpec& spec, std::string_view directory = {}) override;
  // "00" created; "22" the file exists already; "30" it cannot be written.
  // The file appears under its name complete or not at all.
  FileStatus create(const FileSpec& spec, std::string_view directory = {}) override;

  // A consistent copy of the file, taken while others keep working, that
  // this store opens again. `targetPath` must not exist; the copy is written
  // under a temporary name beside it and appears under `targetPath` only
  // when complete. Refused with 9/065 while someone holds the file
  // exclusively.
  FileStatus copyTo(const FileSpec& spec, std::string_view directory,
                    const std::string& targetPath) override;
  // The store's integrity check plus the layout and record shape checks.
  // "00" clean; 9/041 with the findings in `problems` (may be null);
  // otherwise the status the open would give.
  FileStatus checkIntegrity(const FileSpec& spec, std::string_view directory,
                            std::vector<std::string>* problems) override;
  // The directory ("." for the current one).
  std::string location(std::string_view directory) const override;

  // Makes a new data file at `targetPath` (which must not exist) filled by
  // `fill` as one unit on a handle opened exclusively. It is built under a
  // temporary name beside the target and linked into place when complete,
  // so that the file appears whole or not at all. "22" when the target
  // exists; otherwise the first failing status, that of `fill` included.
  static FileStatus buildFile(const FileSpec& spec, const std::string& targetPath,
                              const std::function<FileStatus(KeyedFile&)>& fill);

  // Replaces the files `specs` in `directory` as a whole by the files of the
  // same names in `from` (see InstallationStore). A copy of each file of
  // `from` is written and checked beside the file it replaces, then renamed
  // over it, so that a process killed at any moment leaves each file either
  // old or new, never torn.
  FileStatus replaceFiles(std::span<const FileSpec* const> specs, std::string_view directory,
                          std::string_view from, std::vector<Replacement>* done,
                          std::string* failedName) override;

  // DIRECTORY/NAME, or NAME when the directory is empty.
  static std::string pathOf(std::string_view name, std::string_view directory);

 private:
  std::shared_ptr<sqlite::ConnectionPool> pool_;
};

}  // namespace datafiles
