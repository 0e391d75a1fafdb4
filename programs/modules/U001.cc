// U001: the user-name encoding. Block: function "V"/"E" and 40 characters.
#include "programs/module.h"
#include "abi/program.h"
#include "programs/user_name_code.h"

PX_PROGRAM(U001) {
  (void)record2;
  return programs::withBlock<programs::user_name::kBlockSize>(record1, [](auto block) {
    return programs::user_name::apply(block) ? programs::kDone : programs::kBadCall;
  });
}
