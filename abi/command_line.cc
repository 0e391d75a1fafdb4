#include "abi/command_line.h"

#include <string>

#include "encoding/cp850.h"

namespace pxabi {

void applyCommandLine(std::string_view utf8Line, CommonArea& area) {
  std::string line = encoding::cp850::fromUtf8(utf8Line);
  if (line.size() > kCommandLineWidth) line.resize(kCommandLineWidth);
  if (line.find_first_not_of(' ') == std::string::npos) return;

  const std::size_t first = line.find(' ');
  const std::string_view user = std::string_view(line).substr(0, first);
  std::string_view second;
  if (first != std::string::npos) {
    const std::string_view rest = std::string_view(line).substr(first + 1);
    second = rest.substr(0, rest.find(' '));
  }
  encoding::putRaw(area.userName(), user);
  encoding::putRaw(area.secondWord(), second);
}

}  // namespace pxabi
