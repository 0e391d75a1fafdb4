#include "platform/terminal.h"

#include <unistd.h>

#include <csignal>

namespace platform {
namespace {

volatile sig_atomic_t holds = 0;       // EndSignalHolds that exist now
volatile sig_atomic_t heldSignal = 0;  // a signal that came during one of them
volatile sig_atomic_t ending = 0;
std::function<void()>* closer = nullptr;
termios startTerminal{};
bool haveTerminal = false;

[[noreturn]] void endNow(int sig) {
  if (ending) ::_exit(128 + sig);  // a second signal while closing
  ending = 1;
  heldSignal = 0;
  if (closer != nullptr && *closer) (*closer)();
  if (haveTerminal) (void)::tcsetattr(STDIN_FILENO, TCSANOW, &startTerminal);
  // No exit handlers: whatever the signal interrupted stays untouched; the
  // kernel releases the remaining files and their locks.
  ::_exit(128 + sig);
}

extern "C" void onEndSignal(int sig) {
  if (holds > 0) {
    heldSignal = sig;
    return;
  }
  endNow(sig);
}

}  // namespace

EchoOff::EchoOff(int fd, bool echoLineEnd) : fd_(fd) {
  if (!::isatty(fd) || ::tcgetattr(fd, &saved_) != 0) return;
  termios quiet = saved_;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  if (echoLineEnd) quiet.c_lflag |= ECHONL;
  active_ = ::tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
}

void EchoOff::restore() {
  if (!active_) return;
  (void)::tcsetattr(fd_, TCSAFLUSH, &saved_);
  active_ = false;
}

void catchEndSignals(std::function<void()> closeFiles) {
  static std::function<void()> kept;
  kept = std::move(closeFiles);
  closer = &kept;
  haveTerminal = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &startTerminal) == 0;
  struct sigaction sa {};
  sa.sa_handler = onEndSignal;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGTERM, SIGHUP, SIGINT}) sigaddset(&sa.sa_mask, sig);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGHUP, SIGINT}) sigaction(sig, &sa, nullptr);
}

void forgetEndSignalFiles() { closer = nullptr; }

EndSignalHold::EndSignalHold() { holds = holds + 1; }

EndSignalHold::~EndSignalHold() {
  holds = holds - 1;
  if (holds == 0 && heldSignal != 0) endNow(heldSignal);
}

}  // namespace platform
