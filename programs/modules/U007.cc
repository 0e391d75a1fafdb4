// U007: window title. Block: function "Z", length (2-byte binary), text (100).
#include "programs/module.h"
#include "abi/program.h"
#include "programs/title.h"

PX_PROGRAM(U007) {
  (void)record2;
  return programs::withBlock<programs::title::kBlockSize>(record1, [](auto block) {
    return programs::title::apply(block) ? programs::kDone : programs::kBadCall;
  });
}
