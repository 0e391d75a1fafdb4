// U007: window title. Block: function "Z", length (2-byte binary), text (100).
#include "abi/program.h"
#include "abi/utility_blocks.h"
#include "programs/module.h"
#include "programs/title.h"

PX_PROGRAM(U007) {
  (void)record2;
  return programs::withRecord<pxabi::TitleBlock>(record1, [](pxabi::TitleBlock& block) {
    return programs::title::apply(block) ? programs::kDone : programs::kBadCall;
  });
}
