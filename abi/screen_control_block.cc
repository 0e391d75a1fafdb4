#include "abi/screen_control_block.h"

namespace pxabi {

void ScreenControlBlock::reset() {
  encoding::zero(bytes());
  encoding::blank(at<kSetCommand>());
  encoding::blank(at<kProcedure>());
  encoding::blank(at<kSetName>());
}

}  // namespace pxabi
