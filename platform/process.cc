#include "platform/process.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/terminal.h"

namespace platform {

std::string joinArguments(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  return line;
}

PosixProcess::PosixProcess(int argc, char** argv) : commandLine_(joinArguments(argc, argv)) {}

void PosixProcess::writeConsoleLine(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

char PosixProcess::readKey() {
  for (;;) {
    const Wake w = waitForInput(STDIN_FILENO);
    if (w == Wake::kEndSignal) return ' ';
    if (w == Wake::kInterrupted) continue;
    char c;
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    return n == 1 ? c : ' ';
  }
}

int PosixProcess::endSignal() { return platform::endSignal(); }

int PosixProcess::changeDirectory(std::string_view path) {
  const std::string p(path);
  return ::chdir(p.c_str()) == 0 ? 0 : errno;
}

}  // namespace platform
