// The terminal and the process's end from outside, in one place: echo off
// while a secret is typed, the terminal settings saved at start and given
// back at the end, and the end signals (SIGTERM, SIGHUP when the terminal
// goes away, SIGINT).
//
// An end signal only asks the process to end. Its handler records the signal
// and wakes whoever waits for input through waitForInput (a self-pipe);
// nothing else runs inside it, so that a signal that lands in malloc, in
// curses or in a file operation cannot harm them. The process's owner looks
// at endSignal() at its safe points and runs its ordinary orderly end; the
// screen set answers its waits as if the user had cancelled. A second end
// signal ends the process at once: the terminal gets its settings back by
// async-signal-safe calls only (the screen set's restorer, then standard
// input's settings saved at start), and _exit(128 + signal).
#pragma once

#include <termios.h>

#include <chrono>

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

// Installs the end-signal handlers (a signal ignored at start, as under
// nohup, stays ignored) and saves the settings of standard input when it is
// a terminal. Once per process.
void catchEndSignals();
// Whether catchEndSignals ran: someone ends the process in order, and the
// screen set leaves the signals to it.
bool endSignalsCaught();
// The end signal that came, 0 while none did. Stays set.
int endSignal();

// Gives the terminal that the screen set draws on back; must be
// async-signal-safe. A second end signal calls it before the process ends.
// Null removes it.
using TerminalRestorer = void (*)();
void setTerminalRestorer(TerminalRestorer restore);
// Gives standard input the settings it had when the signals were caught.
void restoreStartTerminal();

enum class Wake {
  kReady,        // `fd` has input, is at its end or failed: read it now
  kEndSignal,    // an end signal came (or had come before the wait)
  kTimeout,      // the time ran out
  kInterrupted,  // another signal (a window size change): look again
};
// Waits until `fd` can be read or an end signal comes, at most `timeout`
// (negative: without limit). `fd` -1 waits for the signal or the time only.
Wake waitForInput(int fd, std::chrono::milliseconds timeout = std::chrono::milliseconds(-1));
// Sleeps for `pause`, cut short by an end signal; false when it was.
bool sleepUnlessEnded(std::chrono::milliseconds pause);

}  // namespace platform
