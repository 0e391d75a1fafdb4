// UM30: the addresses count of the status line (offset 1566, 4-byte
// big-endian). Without selection data it is 0.
#include "programs/module.h"
#include "abi/program.h"

PX_PROGRAM(UM30) {
  (void)record2;
  return programs::withCommonArea(record1, [](pxabi::CommonArea& area) {
    encoding::putBigEndian(area.addressesCount(), 0);
    return programs::kDone;
  });
}
