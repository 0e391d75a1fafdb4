// UX10: prepares the window for the program about to be called: the
// terminal's title names it, when standard output is a terminal.
#include <unistd.h>

#include <string>

#include "abi/program.h"
#include "encoding/cp850.h"
#include "programs/module.h"

namespace {

std::string printable(std::string_view cp850) {
  std::string clean;
  for (char c : encoding::trimmed({cp850.data(), cp850.size()}))
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) clean += c;
  return encoding::cp850::toUtf8(clean);
}

}  // namespace

PX_PROGRAM(UX10) {
  (void)record2;
  return programs::withCommonArea(record1, [](pxabi::CommonArea& area) {
    if (!::isatty(STDOUT_FILENO)) return programs::kDone;
    std::string title = "px01 " + printable(encoding::view(area.callName()).substr(0, 10));
    const std::string window = printable(encoding::view(area.windowTitle()));
    if (!window.empty()) title += " - " + window;
    const std::string sequence = "\033]0;" + title + "\007";
    (void)!::write(STDOUT_FILENO, sequence.data(), sequence.size());
    return programs::kDone;
  });
}
