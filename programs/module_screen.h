// The screen set as a called program uses it: the launcher's control block
// from the common area (offset 1621) and the carried values (offset 2121) go
// into the program's own blocks for its calls of DSGRUN and are put back
// when the program is done, so that the launcher continues the same set.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "abi/common_area.h"
#include "abi/screen_control_block.h"
#include "abi/screen_data_block.h"
#include "datafiles/status.h"
#include "platform/program_loader.h"
#include "platform/screen_set.h"

namespace programs {

// What "LISTE" shows (UTF-8; rows cut to 78 characters, at most 400).
struct ListScreen {
  std::string title, header;
  std::array<std::string, 10> keys;  // captions of F1..F10
  std::vector<std::string> rows;
};
// What the user did in a list: the event (low byte) and the row (from 1; 0
// for an empty list).
struct ListChoice {
  int event = 0;
  int row = 0;
};
// One field of "MASKE": label (UTF-8), width (1..40) and value (code page
// 850, trailing blanks trimmed).
struct FormField {
  std::string label;
  int width = 40;
  std::string value;
};

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
  // A box whose message area names a file, an operation and its status.
  bool runFileBox(std::string_view procedure, std::string_view text, std::string_view fileCode,
                  std::string_view operation, datafiles::FileStatus status);
  // "LISTE" with `message` as its note; nothing once the screen set failed.
  // The selection and the first row in view stay from the previous list
  // unless set with setListPosition.
  std::optional<ListChoice> showList(const ListScreen& list, std::string_view message = {});
  void setListPosition(int selection, int top);
  int listSelection() const;
  int listTop() const;
  // "MASKE": the reply ("J" saved, "C" cancelled); on "J" the values come
  // back into `fields`. Nothing once the screen set failed.
  std::optional<char> showForm(std::string_view title, std::vector<FormField>& fields,
                               std::string_view message = {}, int focus = 1);

 private:
  pxabi::CommonArea& area_;
  platform::ScreenSet& screen_;
  pxabi::ScreenControlBlock control_;
  std::unique_ptr<pxabi::ScreenDataBlock> data_;
  bool failed_ = false;
};

}  // namespace programs
