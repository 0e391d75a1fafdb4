// U001: the user-name encoding. Block: function "V"/"E" and 40 characters.
#include "abi/program.h"
#include "abi/utility_blocks.h"
#include "programs/module.h"
#include "programs/user_name_code.h"

PX_PROGRAM(U001) {
  (void)record2;
  return programs::withRecord<pxabi::UserNameBlock>(record1, [](pxabi::UserNameBlock& block) {
    return programs::user_name::apply(block) ? programs::kDone : programs::kBadCall;
  });
}
