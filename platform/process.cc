#include "platform/process.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

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
  const int c = std::getchar();
  return c == EOF ? ' ' : static_cast<char>(c);
}

int PosixProcess::changeDirectory(std::string_view path) {
  const std::string p(path);
  return ::chdir(p.c_str()) == 0 ? 0 : errno;
}

}  // namespace platform
