#include "datafiles/process_store.h"

#include "datafiles/sqlite_store.h"

namespace datafiles {
namespace {
FileStore* installed = nullptr;
}

FileStore& processStore() {
  if (installed != nullptr) return *installed;
  static SqliteStore fallback;
  return fallback;
}

void setProcessStore(FileStore* store) { installed = store; }

}  // namespace datafiles
