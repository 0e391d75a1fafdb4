// A sample function program, built under the names PA60 to PA69
// (PX_SAMPLE_NAME); PX_SAMPLE_FOLLOW_UP names a program to run next.
#include "programs/module.h"
#include "abi/program.h"
#include "programs/screens.h"

#define PX_STRING2(x) #x
#define PX_STRING(x) PX_STRING2(x)
#ifndef PX_SAMPLE_FOLLOW_UP
#define PX_SAMPLE_FOLLOW_UP ""
#endif

PX_PROGRAM(PX_SAMPLE_NAME) {
  (void)record2;
  return programs::withCommonArea(record1, [](pxabi::CommonArea& area) {
    platform::LoadedScreenSet screen(programs::moduleEnvironment().loader);
    return programs::showReceived(area, screen, PX_STRING(PX_SAMPLE_NAME), PX_SAMPLE_FOLLOW_UP);
  });
}
