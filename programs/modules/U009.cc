// U009: the workstation's settings store. Block of 258 bytes, "L" or "S".
#include "abi/program.h"
#include "abi/utility_blocks.h"
#include "programs/module.h"
#include "programs/settings_store.h"

PX_PROGRAM(U009) {
  (void)record2;
  return programs::withRecord<pxabi::SettingsBlock>(record1, [](pxabi::SettingsBlock& block) {
    const programs::SettingsStore store(programs::SettingsStore::defaultDirectory());
    return store.apply(block) ? programs::kDone : programs::kRefused;
  });
}
