#include "tools/i18n.h"

#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "platform/dl_program_loader.h"

namespace tools {

void chooseLanguage() {
  std::setlocale(LC_MESSAGES, "");
  const std::string dir = platform::installationRoot() + "/share/locale";
  ::bindtextdomain("pxadmin", dir.c_str());
  // The tool writes UTF-8 whatever the character type says, like its
  // listings of the files' texts.
  ::bind_textdomain_codeset("pxadmin", "UTF-8");
  ::textdomain("pxadmin");
}

std::string textf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string out;
  if (n > 0) {
    std::vector<char> buf(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), format, again);
    out.assign(buf.data(), static_cast<std::size_t>(n));
  }
  va_end(again);
  return out;
}

}  // namespace tools
