// The keyed file handler EXTFH: an indexed file with fixed-length records and
// one unique prime key at byte 0. Every operation returns the two-character
// file status; nothing throws. Backends (the embedded store, the server
// store) implement FileStore; callers see only these interfaces, and get
// their store from the choice of store_config.h.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "datafiles/status.h"

namespace datafiles {

enum class OpenMode { kInput, kInputOutput, kExclusive };
enum class StartMode { kNotLessThan, kEqual, kGreaterThan };

struct FileSpec {
  std::string_view name;  // file name, opened relative to the current directory
  std::size_t recordLength;
  std::size_t keyLength;
};

inline constexpr FileSpec kInstallationFile{"FT00.DAT", 200, 5};
inline constexpr FileSpec kUserFile{"FX00.DAT", 210, 12};
inline constexpr FileSpec kMenuFile{"FX01.DAT", 58, 6};
inline constexpr FileSpec kPermissionFile{"FX02.DAT", 35, 17};

// One open handle on one file. Record areas are exactly recordLength bytes;
// keyed operations take the key from the head of the record area.
class KeyedFile {
 public:
  virtual ~KeyedFile() = default;
  // Shared opens (kInput, kInputOutput) may be held by many handles at once;
  // kExclusive is for maintenance and excludes every other open.
  virtual FileStatus open(OpenMode mode) = 0;
  virtual FileStatus close() = 0;
  virtual bool isOpen() const = 0;
  virtual FileStatus read(std::span<char> record) = 0;
  virtual FileStatus start(StartMode mode, std::span<const char> record,
                           std::size_t keyLength) = 0;
  virtual FileStatus readNext(std::span<char> record) = 0;
  virtual FileStatus write(std::span<const char> record) = 0;
  virtual FileStatus rewrite(std::span<const char> record) = 0;
  virtual FileStatus remove(std::span<const char> record) = 0;  // "delete"
  // Lets go of the record lock the handle holds (COBOL's UNLOCK) and keeps
  // its position. Inside a unit the locks stay until commit or rollback, so
  // that nobody changes a record the unit may have changed: a no-op there.
  // "00", or "42" when the handle is not open.
  virtual FileStatus unlock() = 0;
  // An atomic unit of many operations: other handles see all of it or none.
  // Every record the unit reads, rewrites or deletes stays locked against
  // the other handles (9/068) until commit or rollback; outside a unit a
  // record lock ends with the handle's next operation.
  virtual FileStatus begin() = 0;
  virtual FileStatus commit() = 0;
  virtual FileStatus rollback() = 0;
  virtual const FileSpec& spec() const = 0;
  // From now on no operation of this handle waits for another
  // workstation's write in progress: it returns 9/065 at once where it
  // would otherwise wait briefly. For records that must never keep a user
  // waiting (the audit trail). A store that never waits ignores it.
  virtual void setNoWait() {}
};

class FileStore {
 public:
  virtual ~FileStore() = default;
  // A closed handle on the file `spec.name` in `directory` (empty: the
  // current directory). Opening it never creates the file.
  virtual std::unique_ptr<KeyedFile> file(const FileSpec& spec,
                                          std::string_view directory = {}) = 0;
  // Creates an empty file with its layout; false if it exists or fails.
  virtual FileStatus create(const FileSpec& spec, std::string_view directory = {}) = 0;
};

}  // namespace datafiles
