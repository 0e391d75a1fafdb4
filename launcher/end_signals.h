// Ending from outside (SIGTERM, SIGHUP when the terminal goes away, SIGINT):
// the launcher's open data files are closed, the terminal gets back the
// settings it had at start, and the process ends with 128 + the signal.
// A signal that arrives while one of the launcher's file operations runs is
// held until that operation has finished, so that the files are never closed
// under a running operation. The screen set restores its own screen first
// (its handler runs before this one and then passes the signal on).
#pragma once

#include <functional>
#include <memory>

#include "datafiles/keyed_file.h"

namespace launcher {

// Wraps `inner` so that its files' operations hold end signals back.
std::unique_ptr<datafiles::FileStore> guardedStore(datafiles::FileStore& inner);

// Installs the handlers. `closeFiles` runs once, when the process ends by a
// signal; it must only close data files.
void catchEndSignals(std::function<void()> closeFiles);
// From here on a signal closes nothing (the files' owner is gone).
void forgetEndSignalFiles();

}  // namespace launcher
