#include "platform/screen_control_block.h"

namespace platform {

void ScreenControlBlock::reset() {
  rec::zero(bytes());
  rec::blank(at<kSetCommand>());
  rec::blank(at<kProcedure>());
  rec::blank(at<kSetName>());
}

}  // namespace platform
