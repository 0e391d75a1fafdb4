// Which store an installation uses. A data directory that holds the file
// px-store.conf keeps its data files on a database server; one without it
// keeps them as embedded files in the directory itself.
//
// px-store.conf holds one libpq connection string, as psql takes it: a URI
// (postgresql://...) or key=value pairs, including service=NAME for
// pg_service.conf and options=-csearch_path=SCHEMA to keep several
// installations apart on one server. Blank lines and lines starting with "#"
// are ignored. Passwords belong in libpq's own password file (~/.pgpass or
// PGPASSFILE); a px-store.conf that holds one is refused unless only its
// owner can read it.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "datafiles/installation_store.h"

namespace datafiles {

inline constexpr std::string_view kStoreConfigName = "px-store.conf";

struct StoreChoice {
  enum class Kind { kEmbedded, kServer, kInvalid };
  Kind kind = Kind::kEmbedded;
  std::string conninfo;  // kServer: the connection string
  std::string error;     // kInvalid: why, for the administrator
};

// The text of px-store.conf; `readableByOthers` when its group or others
// may read it.
StoreChoice parseStoreConfig(std::string_view text, bool readableByOthers);

// Looks for px-store.conf in `directory` (empty: the current directory).
StoreChoice chooseStore(std::string_view directory);

// The store that `directory` asks for: the one function that picks the
// store of an installation. `*error` (may be null) is empty when the choice
// could be made. When px-store.conf is unusable it says why, and the store
// returned refuses every open and create with "30" (its lastError() says
// why too): never a silent fallback to embedded files.
std::unique_ptr<InstallationStore> openStore(std::string_view directory, std::string* error);

}  // namespace datafiles
