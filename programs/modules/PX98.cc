// PX98: a small calculator.
#include "platform/call_by_name.h"
#include "programs/module.h"
#include "abi/program.h"
#include "programs/screens.h"

PX_PROGRAM(PX98) {
  (void)record2;
  return programs::withCommonArea(record1, [](pxabi::CommonArea& area) {
    platform::LoadedScreenSet screen(platform::processLoader());
    return programs::runCalculator(area, screen);
  });
}
