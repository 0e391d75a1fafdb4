#include "datafiles/process_store.h"

#include <memory>

#include "datafiles/store_config.h"

namespace datafiles {
namespace {
FileStore* installed = nullptr;
}

FileStore& processStore() {
  if (installed != nullptr) return *installed;
  // The store the current directory asks for, as the launcher would choose.
  static const std::unique_ptr<InstallationStore> fallback = openStore({}, nullptr);
  return *fallback;
}

void setProcessStore(FileStore* store) { installed = store; }

}  // namespace datafiles
