#include "abi/screen_data_block.h"

namespace pxabi {

void ScreenDataBlock::reset() {
  encoding::blank(bytes());
  encoding::zero(at<kCarriedValues>());
  encoding::zero(at<kScreenValueA>());
  encoding::zero(at<kScreenValueB>());
  encoding::putDigits(at<kMenuValue>(), 0);
  encoding::zero(at<kEventCode>());
  encoding::putDigits(at<kClient>(), 0);
  encoding::putDigits(at<kEntryCount>(), 0);
  encoding::putDigits(at<kSelection>(), 0);
  encoding::putDigits(at<kChosenRow>(), 0);
  encoding::putDigits(at<kListPosition>(), 0);
  encoding::putDigits(at<kPageUsed>(), 0);
}

}  // namespace pxabi
