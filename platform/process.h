// The process as the launcher sees it: the command line, the console (one
// line out, one key in), the current directory, and whether it was asked to
// end from outside. Kept behind an interface so that the launcher's logic
// runs in tests without a terminal. Ending the process is main()'s alone.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

class Process {
 public:
  virtual ~Process() = default;
  // The command-line words after the program name, joined by single blanks (UTF-8).
  virtual std::string commandLine() = 0;
  virtual void writeConsoleLine(std::string_view line) = 0;
  // One character from the keyboard; blank at end of input, and at once
  // when an end signal came.
  virtual char readKey() = 0;
  // 0 on success, otherwise an error number.
  virtual int changeDirectory(std::string_view path) = 0;
  // The signal that asked the process to end (SIGTERM, SIGHUP, SIGINT); 0
  // while none did.
  virtual int endSignal() = 0;
};

class PosixProcess : public Process {
 public:
  PosixProcess(int argc, char** argv);
  std::string commandLine() override { return commandLine_; }
  void writeConsoleLine(std::string_view line) override;
  char readKey() override;
  int changeDirectory(std::string_view path) override;
  int endSignal() override;

 private:
  std::string commandLine_;
};

// Joins argv[1..] with single blanks.
std::string joinArguments(int argc, char** argv);

}  // namespace platform
