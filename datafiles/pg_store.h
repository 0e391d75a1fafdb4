// The server store: the data files of an installation as tables on a
// PostgreSQL server that every workstation reaches. In the schema that the
// connection's search path names first:
//   one table per data file, named after the file in lower case without its
//   extension (FX01.DAT: fx01):  key bytea PRIMARY KEY, data bytea NOT NULL
//   px_layout(file text PRIMARY KEY, record_length integer NOT NULL,
//             key_length integer NOT NULL), one row per table (file = the
//             table's name)
// data is the whole record, key a copy of its head; bytea compares bytes
// unsigned, so keys order as in the embedded store.
//
// Statuses, locks and units are the embedded store's (sqlite_store.h):
//  - every handle has a server session of its own, so that two handles of
//    one process exclude each other as two workstations do; the sessions of
//    closed handles are kept for the next open (without locks or
//    transaction);
//  - opens take a session advisory lock on the table (shared, or exclusive
//    for maintenance): 9/065 when it cannot be had;
//  - a record read for update is locked (a session advisory lock keyed by a
//    64-bit hash of table and key) until the handle's next operation, inside
//    a unit until the unit ends; every other handle gets 9/068 at once. A
//    session that ends (its process died) drops all its locks;
//  - a unit is one server transaction that holds the table against other
//    writers; a writer that meets it waits at most kLockTimeoutMs, then gets
//    9/065. A unit decides the outcome of its writes from the table's key
//    set, read once, and sends them in batches, before anything that could
//    see them and at commit;
//  - an input handle reads ahead in batches, dropped on any change of the
//    table through this process and after kFetchAheadLifetime;
//  - a lost connection gives 30 on every operation of the handle until it is
//    closed (never "00", never a record); the next open connects again.
//
// The directory passed to file() and create() is not used: the connection
// string names the installation.
//
// A handle is used by one thread at a time; handles are independent.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "datafiles/installation_store.h"

namespace datafiles {

class PgStore : public InstallationStore {
 public:
  // How long a statement waits for a lock held by another session (another
  // workstation's unit, mostly) before it reports 9/065.
  static constexpr int kLockTimeoutMs = 1500;
  // How long records read ahead are served without asking the server again.
  // Changes made through this process drop them at once; changes made
  // elsewhere are seen at most this late by a listing in progress.
  static constexpr std::chrono::milliseconds kFetchAheadLifetime{20};

  // `conninfo`: a libpq connection string (see store_config.h).
  explicit PgStore(std::string conninfo);
  ~PgStore() override;
  PgStore(const PgStore&) = delete;
  PgStore& operator=(const PgStore&) = delete;

  std::unique_ptr<KeyedFile> file(const FileSpec& spec, std::string_view directory = {}) override;
  // "00" created (table and layout row, in one transaction); "22" the table
  // exists already; "30" it cannot be created.
  FileStatus create(const FileSpec& spec, std::string_view directory = {}) override;

  // The files of createFiles: a layout, and the records, which `records`
  // hands one by one (in any order) to the sink it is given; a status other
  // than "00" from the sink or from `records` stops it.
  using RecordSink = std::function<FileStatus(std::string_view record)>;
  struct FileContents {
    FileSpec spec;
    std::function<FileStatus(const RecordSink&)> records;
  };
  // Makes the files with their records in one transaction: they appear
  // together or not at all. Without `replace`, a file that exists already
  // (a table or anything else of its name) refuses with "22"; with it, each
  // one that exists is replaced whole (dropped and made anew, whatever its
  // shape), once all of them were taken exclusively: one in use refuses
  // with 9/065 and nothing changes. A record of the wrong length: 9/041; a
  // key twice: "22". `*failedFile` (may be null) names the file a refusal
  // is about.
  FileStatus createFiles(const std::vector<FileContents>& files, bool replace,
                         std::string* failedFile);
  // Every record in key order, from one consistent snapshot taken while
  // others keep working; `onRecord` returning false stops early. Refused
  // with 9/065 while someone holds the file exclusively; otherwise the
  // status an open would give, or 9/041 at a malformed record.
  FileStatus exportRecords(const FileSpec& spec,
                           const std::function<bool(std::string_view record)>& onRecord);
  // A copy of the file, record for record from one snapshot, into a new
  // embedded data file at `targetPath`, which appears whole or not at all.
  FileStatus copyTo(const FileSpec& spec, std::string_view directory,
                    const std::string& targetPath) override;
  // The layout row, the table's shape, and records of the wrong length or
  // whose key differs from the record's head. "00" clean; 9/041 with the
  // findings in `problems` (may be null); otherwise the status the open
  // would give.
  FileStatus checkIntegrity(const FileSpec& spec, std::string_view directory,
                            std::vector<std::string>* problems) override;
  // Replaces the tables of `specs` by the embedded files of the same names
  // in `from`, all of them in one transaction (createFiles with replace).
  FileStatus replaceFiles(std::span<const FileSpec* const> specs, std::string_view directory,
                          std::string_view from, std::vector<Replacement>* done,
                          std::string* failedName) override;
  // "the database server (host ..., database ..., ...)", without secrets.
  std::string location(std::string_view directory) const override;

  // The server's message for the last failure of any handle of this store,
  // for the administrator; empty when there was none.
  std::string lastError() const override;

  // The table that holds the file `fileName`: FX01.DAT -> fx01.
  static std::string tableName(std::string_view fileName);

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
};

}  // namespace datafiles
