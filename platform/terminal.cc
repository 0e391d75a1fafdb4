#include "platform/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>

namespace platform {
namespace {

constexpr int kEndSignals[] = {SIGTERM, SIGHUP, SIGINT};

// What the handler reads and writes: plain data set up before the handlers
// exist, the signal, and a lock-free pointer.
volatile sig_atomic_t gSignal = 0;
int gWakeRead = -1, gWakeWrite = -1;  // the self-pipe
std::atomic<TerminalRestorer> gRestorer{nullptr};
static_assert(std::atomic<TerminalRestorer>::is_always_lock_free);
termios gStartTerminal{};
bool gHaveTerminal = false;
bool gCaught = false;

extern "C" void onEndSignal(int sig) {
  const int savedErrno = errno;
  if (gSignal != 0) {
    // The second one: the orderly end takes too long for whoever sent it.
    if (const TerminalRestorer restore = gRestorer.load()) restore();
    if (gHaveTerminal) (void)::tcsetattr(STDIN_FILENO, TCSANOW, &gStartTerminal);
    ::_exit(128 + sig);
  }
  gSignal = sig;
  if (gWakeWrite >= 0) {
    // Never drained: the pipe stays readable, so no later wait can miss it.
    const ssize_t ignored = ::write(gWakeWrite, "!", 1);
    (void)ignored;
  }
  errno = savedErrno;
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

void catchEndSignals() {
  if (gCaught) return;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    gWakeRead = fds[0];
    gWakeWrite = fds[1];
  }
  gHaveTerminal = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &gStartTerminal) == 0;
  struct sigaction sa {};
  sa.sa_handler = onEndSignal;
  sigemptyset(&sa.sa_mask);
  for (int sig : kEndSignals) sigaddset(&sa.sa_mask, sig);
  sa.sa_flags = SA_RESTART;
  for (int sig : kEndSignals) {
    struct sigaction before {};
    if (::sigaction(sig, nullptr, &before) == 0 && (before.sa_flags & SA_SIGINFO) == 0 &&
        before.sa_handler == SIG_IGN)
      continue;
    ::sigaction(sig, &sa, nullptr);
  }
  gCaught = true;
}

bool endSignalsCaught() { return gCaught; }

int endSignal() { return gSignal; }

void setTerminalRestorer(TerminalRestorer restore) { gRestorer.store(restore); }

void restoreStartTerminal() {
  if (gHaveTerminal) (void)::tcsetattr(STDIN_FILENO, TCSANOW, &gStartTerminal);
}

Wake waitForInput(int fd, std::chrono::milliseconds timeout) {
  if (gSignal != 0) return Wake::kEndSignal;
  pollfd fds[2];
  nfds_t n = 0;
  if (fd >= 0) fds[n++] = pollfd{fd, POLLIN, 0};
  if (gWakeRead >= 0) fds[n++] = pollfd{gWakeRead, POLLIN, 0};
  const int ms = timeout.count() < 0 ? -1
                                     : static_cast<int>(std::min<long long>(timeout.count(), INT_MAX));
  const int rc = ::poll(fds, n, ms);
  if (gSignal != 0) return Wake::kEndSignal;
  if (rc < 0) return errno == EINTR ? Wake::kInterrupted : Wake::kReady;
  if (rc == 0) return Wake::kTimeout;
  return Wake::kReady;
}

bool sleepUnlessEnded(std::chrono::milliseconds pause) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point until = Clock::now() + pause;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    if (left.count() <= 0) return gSignal == 0;
    if (waitForInput(-1, left) == Wake::kEndSignal) return false;
  }
}

}  // namespace platform
