// The screen-set runtime DSGRUN as the launcher and the catalogue call it:
// one call per window or message box, with the screen control block and the
// 48,938-byte screen data block.
#pragma once

#include <cstdint>
#include <span>

#include "abi/screen_control_block.h"
#include "abi/screen_data_block.h"
#include "platform/program_loader.h"

namespace platform {

class ScreenSet {
 public:
  virtual ~ScreenSet() = default;
  // Returns the runtime's 32-bit result; failures show in the control
  // block's error code.
  virtual std::int32_t call(pxabi::ScreenControlBlock& control,
                            std::span<char, pxabi::kScreenDataSize> data) = 0;
};

// DSGRUN called by name through a program loader. When it cannot be loaded
// the control block gets error code kNotLoadable, so that the caller's
// error stop tells the user.
class LoadedScreenSet : public ScreenSet {
 public:
  static constexpr std::uint16_t kNotLoadable = 9001;
  explicit LoadedScreenSet(ProgramLoader& loader) : loader_(loader) {}
  std::int32_t call(pxabi::ScreenControlBlock& control,
                    std::span<char, pxabi::kScreenDataSize> data) override;

 private:
  ProgramLoader& loader_;
};

}  // namespace platform
