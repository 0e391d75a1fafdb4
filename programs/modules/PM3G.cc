// PM3G: called once when the stored check value differs from this release's.
// Nothing needs converting in this release.
#include "programs/module.h"
#include "abi/program.h"

PX_PROGRAM(PM3G) {
  (void)record2;
  return record1 == nullptr ? programs::kBadCall : programs::kDone;
}
