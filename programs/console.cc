#include "programs/console.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "platform/terminal.h"

namespace programs {

void FdConsole::write(std::string_view text) {
  while (!text.empty()) {
    const ssize_t w = ::write(out_, text.data(), text.size());
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(w));
  }
}

void FdConsole::tell(std::string_view line) {
  write(line);
  write("\n");
}

std::optional<std::string> FdConsole::readLine(std::string_view prompt, bool hidden) {
  write(prompt);
  std::optional<platform::EchoOff> quiet;
  if (hidden) quiet.emplace(in_);
  // Byte by byte, so that nothing after the line end is taken from a pipe.
  std::string line;
  line.reserve(kMaxLineBytes);  // no reallocation leaves a copy of a password behind
  bool any = false;
  for (;;) {
    // An end signal ends the typing as the end of input would.
    const platform::Wake w = platform::waitForInput(in_);
    if (w == platform::Wake::kEndSignal) {
      std::fill(line.begin(), line.end(), '\0');  // it may hold part of a password
      write("\n");
      return std::nullopt;  // `quiet` gives the echo back
    }
    if (w == platform::Wake::kInterrupted) continue;
    char c;
    const ssize_t r = ::read(in_, &c, 1);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    any = true;
    if (c == '\n') break;
    if (line.size() < kMaxLineBytes) line += c;
  }
  quiet.reset();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (!any) return std::nullopt;
  return line;
}

}  // namespace programs
