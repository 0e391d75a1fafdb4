// PX98: a small calculator.
#include "programs/module.h"
#include "abi/program.h"
#include "programs/screens.h"

PX_PROGRAM(PX98) {
  (void)record2;
  return programs::withCommonArea(record1, [](pxabi::CommonArea& area) {
    platform::LoadedScreenSet screen(programs::moduleEnvironment().loader);
    return programs::runCalculator(area, screen);
  });
}
