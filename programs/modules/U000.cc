// U000: help. Mode "1" the topic's help text, mode "I" the row's information.
#include "programs/module.h"
#include "abi/program.h"
#include "programs/screens.h"

PX_PROGRAM(U000) {
  (void)record2;
  return programs::withCommonArea(record1, [](pxabi::CommonArea& area) {
    const programs::ModuleEnvironment env = programs::moduleEnvironment();
    platform::LoadedScreenSet screen(env.loader);
    return programs::showHelp(area, screen, programs::installedHelpDirectory(), env.store);
  });
}
