#include "abi/common_area.h"

#include "encoding/packed.h"

namespace pxabi {

void CommonArea::reset() {
  encoding::blank(bytes());
  setClient(0);
  encoding::putDigits(at<kHeaderNumber>(), 0);
  encoding::putDigits(at<kStatusValue>(), 0);
  encoding::putDigits(at<kWorkingDate>(), 0);
  encoding::zero(at<kFunctionKeys>());
  encoding::putDigits(at<kCalendarStart>(), 0);
  encoding::zero(at<kPositionsCount>());
  encoding::putDigits(at<kMenuValue>(), 0);
  encoding::putDigits(at<kCheckValue>(), 0);
  encoding::zero(at<kAddressesCount>());
  encoding::zero(at<kCarriedValues>());
}

int CommonArea::client() const { return encoding::packed3::decode(at<kClient>()).value_or(0); }

}  // namespace pxabi
