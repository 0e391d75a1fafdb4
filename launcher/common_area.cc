#include "launcher/common_area.h"

namespace px {

void CommonArea::reset() {
  rec::blank(bytes());
  setClient(0);
  rec::putDigits(at<kHeaderNumber>(), 0);
  rec::putDigits(at<kStatusValue>(), 0);
  rec::putDigits(at<kWorkingDate>(), 0);
  rec::zero(at<kFunctionKeys>());
  rec::putDigits(at<kCalendarStart>(), 0);
  rec::zero(at<kPositionsCount>());
  rec::putDigits(at<kMenuValue>(), 0);
  rec::putDigits(at<kCheckValue>(), 0);
  rec::zero(at<kAddressesCount>());
  rec::zero(at<kCarriedValues>());
}

int CommonArea::client() const { return rec::packed3::decode(at<kClient>()).value_or(0); }

}  // namespace px
