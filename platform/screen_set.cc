#include "platform/screen_set.h"

namespace platform {

std::int32_t LoadedScreenSet::call(pxabi::ScreenControlBlock& control,
                                   std::span<char, pxabi::kScreenDataSize> data) {
  const CallOutcome out = loader_.call("DSGRUN", control.data(), data.data());
  if (!out.loaded) {
    control.setError(kNotLoadable, 0, 0);
    return kNotLoadable;
  }
  return out.returnCode;
}

}  // namespace platform
