#include "platform/call_by_name.h"

#include <memory>

#include "platform/dl_program_loader.h"

namespace platform {
namespace {
ProgramLoader* installed = nullptr;
}

ProgramLoader& processLoader() {
  if (installed != nullptr) return *installed;
  static DlProgramLoader fallback(defaultProgramPath());
  return fallback;
}

void setProcessLoader(ProgramLoader* loader) { installed = loader; }

}  // namespace platform
