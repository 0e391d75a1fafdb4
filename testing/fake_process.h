// A process for tests: a given command line, console lines recorded, keys
// played from a queue, directory changes recorded, an end signal set by the
// test whenever it likes (as if it had come from outside).
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/process.h"

namespace testing_support {

class FakeProcess : public platform::Process {
 public:
  explicit FakeProcess(std::string commandLine = {}) : commandLine_(std::move(commandLine)) {}

  std::string commandLine() override { return commandLine_; }
  void writeConsoleLine(std::string_view line) override { console_.emplace_back(line); }
  char readKey() override {
    if (keys_.empty()) return ' ';
    const char c = keys_.front();
    keys_.pop_front();
    return c;
  }
  int changeDirectory(std::string_view path) override {
    directories_.emplace_back(path);
    return changeResult_;
  }
  int endSignal() override { return endSignal_; }

  void setCommandLine(std::string line) { commandLine_ = std::move(line); }
  void pushKey(char c) { keys_.push_back(c); }
  void setChangeResult(int r) { changeResult_ = r; }
  void signal(int sig) { endSignal_ = sig; }
  const std::vector<std::string>& console() const { return console_; }
  const std::vector<std::string>& directories() const { return directories_; }

 private:
  std::string commandLine_;
  std::deque<char> keys_;
  int changeResult_ = 0;
  int endSignal_ = 0;
  std::vector<std::string> console_;
  std::vector<std::string> directories_;
};

}  // namespace testing_support
