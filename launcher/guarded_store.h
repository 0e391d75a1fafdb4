// The launcher's store as it is ended from outside: every operation of its
// files holds the end signals back (platform/terminal.h), so that a signal
// that comes during one ends the process right after it, and the files are
// never closed under a running operation.
#pragma once

#include <memory>

#include "datafiles/keyed_file.h"

namespace launcher {

// Wraps `inner` so that its files' operations hold end signals back.
std::unique_ptr<datafiles::FileStore> guardedStore(datafiles::FileStore& inner);

}  // namespace launcher
