// The store of the programs called by name in this process. The launcher
// installs its own, so that the programs it calls work on the same store as
// it does, with the connections the store keeps for reopening. Without one
// installed (a program driven by a test or by the administration tool) the
// first use makes the store that the current directory asks for
// (store_config.h). Programs reach it only through their
// environment (programs/module.h).
#pragma once

#include "datafiles/keyed_file.h"

namespace datafiles {

FileStore& processStore();
// Installs `store` (not owned) as the process's store; null restores the default.
void setProcessStore(FileStore* store);

}  // namespace datafiles
