#include "launcher/screen_data_block.h"

namespace px {

void ScreenDataBlock::reset() {
  rec::blank(bytes());
  rec::zero(at<kCarriedValues>());
  rec::zero(at<kScreenValueA>());
  rec::zero(at<kScreenValueB>());
  rec::putDigits(at<kMenuValue>(), 0);
  rec::zero(at<kEventCode>());
  rec::putDigits(at<kClient>(), 0);
  rec::putDigits(at<kEntryCount>(), 0);
  rec::putDigits(at<kSelection>(), 0);
  rec::putDigits(at<kChosenRow>(), 0);
  rec::putDigits(at<kListPosition>(), 0);
  rec::putDigits(at<kPageUsed>(), 0);
}

}  // namespace px
