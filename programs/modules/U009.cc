// U009: the workstation's settings store. Block of 258 bytes, "L" or "S".
#include "programs/module.h"
#include "abi/program.h"
#include "programs/settings_store.h"

PX_PROGRAM(U009) {
  (void)record2;
  return programs::withBlock<programs::SettingsBlock::kSize>(record1, [](auto block) {
    const programs::SettingsStore store(programs::SettingsStore::defaultDirectory());
    return store.apply(block) ? programs::kDone : programs::kRefused;
  });
}
