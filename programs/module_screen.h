// The screen set as a called program uses it: the launcher's control block
// from the common area (offset 1621) and the carried values (offset 2121) go
// into the program's own blocks for its calls of DSGRUN and are put back
// when the program is done, so that the launcher continues the same set.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "abi/common_area.h"
#include "abi/screen_control_block.h"
#include "abi/screen_data_block.h"
#include "platform/program_loader.h"
#include "platform/screen_set.h"

namespace programs {

class ModuleScreen {
 public:
  // Takes the control block and carried values from `area`.
  ModuleScreen(pxabi::CommonArea& area, platform::ScreenSet& screen);
  // Puts them back.
  ~ModuleScreen();
  ModuleScreen(const ModuleScreen&) = delete;
  ModuleScreen& operator=(const ModuleScreen&) = delete;

  pxabi::ScreenDataBlock& data() { return *data_; }
  // Runs `procedure` with the message text `message` (UTF-8); false once the
  // screen set has reported an error, after which nothing more is shown.
  bool run(std::string_view procedure, std::string_view message = {});
  bool failed() const { return failed_; }
  char reply() const { return data_->reply(); }
  // Shows text lines with "TEXT-ANZEIGEN" (UTF-8, cut to 40 lines of 78).
  bool showPage(std::string_view title, const std::vector<std::string>& lines);

 private:
  pxabi::CommonArea& area_;
  platform::ScreenSet& screen_;
  pxabi::ScreenControlBlock control_;
  std::unique_ptr<pxabi::ScreenDataBlock> data_;
  bool failed_ = false;
};

}  // namespace programs
