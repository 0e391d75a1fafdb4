// The process's one program loader. The launcher installs its loader at
// start; modules loaded by name reach DSGRUN and the utilities through the
// same loader, so that one process holds one copy of every loaded program.
// Without an installed loader (a module driven by a test or a tool) the first
// use makes one on the default program path. Programs reach it only through
// their environment (programs/module.h); everyone else passes a loader on.
#pragma once

#include "platform/program_loader.h"

namespace platform {

ProgramLoader& processLoader();
// Installs `loader` (not owned) as the process's loader; null restores the default.
void setProcessLoader(ProgramLoader* loader);

}  // namespace platform
