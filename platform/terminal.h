// The terminal and the process's end from outside, in one place: echo off
// while a secret is typed, the terminal settings saved at start and given
// back at the end, and the end signals (SIGTERM, SIGHUP when the terminal
// goes away, SIGINT).
//
// An end signal runs the owner's closing function once (it must only close
// data files), gives the terminal the settings it had when the signals were
// caught, and ends the process with 128 + the signal, without exit handlers:
// whatever the signal interrupted stays untouched and the kernel releases
// the rest. A signal that arrives while an EndSignalHold exists is held
// until the last hold ends, so that files are never closed under a running
// operation. What happens at a signal is decided here alone; its owners only
// hold it back and name what to close.
#pragma once

#include <termios.h>

#include <functional>

namespace platform {

// While it exists, `fd` does not echo what is typed, when it is a terminal.
// `echoLineEnd`: the line end is still echoed, so that the next output starts
// on a line of its own.
class EchoOff {
 public:
  explicit EchoOff(int fd, bool echoLineEnd = true);
  ~EchoOff() { restore(); }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

  // Whether echo was turned off (false for a pipe or a file).
  bool active() const { return active_; }
  // Gives `fd` its settings back now; later calls do nothing.
  void restore();

 private:
  int fd_;
  bool active_ = false;
  termios saved_{};
};

// Installs the end-signal handlers and saves the settings of standard input
// when it is a terminal. `closeFiles` runs once, when a signal ends the
// process.
void catchEndSignals(std::function<void()> closeFiles);
// From here on a signal closes nothing (the files' owner is gone); it still
// gives the terminal back and ends the process.
void forgetEndSignalFiles();

// Holds end signals back while it exists (a file operation runs); a signal
// held meanwhile ends the process when the last hold goes.
class EndSignalHold {
 public:
  EndSignalHold();
  ~EndSignalHold();
  EndSignalHold(const EndSignalHold&) = delete;
  EndSignalHold& operator=(const EndSignalHold&) = delete;
};

}  // namespace platform
