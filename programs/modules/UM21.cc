// UM21: the positions count of the status line (offset 936, 2-byte
// big-endian). Without selection data it is 0.
#include "programs/module.h"
#include "abi/program.h"

PX_PROGRAM(UM21) {
  (void)record2;
  return programs::withCommonArea(record1, [](pxabi::CommonArea& area) {
    encoding::putBigEndian(area.positionsCount(), 0);
    return programs::kDone;
  });
}
