#include "platform/terminal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>

namespace platform {
namespace {

using Wake = platform::Wake;

// Runs `body` in a child process whose output goes into a pipe; returns the
// child's exit code and what it wrote.
std::pair<int, std::string> inChild(void (*body)(int fd)) {
  int fds[2];
  if (::pipe(fds) != 0) return {-1, ""};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    body(fds[1]);
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string out;
  char buf[256];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

int outFd = -1;
void say(const char* s) { (void)!::write(outFd, s, std::char_traits<char>::length(s)); }

bool cookedTerminal(int fd) {
  termios t{};
  return ::tcgetattr(fd, &t) == 0 && (t.c_lflag & ICANON) && (t.c_lflag & ECHO);
}

TEST(EndSignals, TheFirstIsOnlyNotedAndEndsEveryWait) {
  const auto [code, out] = inChild([](int fd) {
    outFd = fd;
    ::alarm(20);  // a wait that is not woken fails the test instead of hanging it
    platform::catchEndSignals();
    if (platform::endSignal() != 0) say("signal before;");
    int quiet[2];
    if (::pipe(quiet) != 0) return;
    if (platform::waitForInput(quiet[0], std::chrono::milliseconds(1)) == Wake::kTimeout)
      say("timeout;");
    ::raise(SIGTERM);  // the process goes on
    if (platform::endSignal() == SIGTERM) say("noted;");
    if (platform::waitForInput(quiet[0]) == Wake::kEndSignal) say("wait ended;");
    if (!platform::sleepUnlessEnded(std::chrono::seconds(60))) say("sleep ended;");
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(out, "timeout;noted;wait ended;sleep ended;");
}

TEST(EndSignals, AWaitUnderWayIsWoken) {
  const auto [code, out] = inChild([](int fd) {
    outFd = fd;
    ::alarm(20);
    platform::catchEndSignals();
    int quiet[2];
    if (::pipe(quiet) != 0) return;
    // From another thread, so that the signal may land anywhere, also just
    // before the wait begins.
    std::thread sender([] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      ::kill(::getpid(), SIGHUP);
    });
    const Wake w = platform::waitForInput(quiet[0]);
    sender.join();
    if (w == Wake::kEndSignal && platform::endSignal() == SIGHUP) say("woken;");
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(out, "woken;");
}

TEST(EndSignals, AnIgnoredSignalStaysIgnored) {
  const auto [code, out] = inChild([](int fd) {
    outFd = fd;
    ::signal(SIGHUP, SIG_IGN);  // as under nohup
    platform::catchEndSignals();
    ::raise(SIGHUP);
    if (platform::endSignal() == 0) say("ignored;");
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(out, "ignored;");
}

// The second signal ends the process at once, the terminal given back: the
// screen set's restorer, then standard input's settings of the start.
TEST(EndSignals, TheSecondEndsAtOnceWithTheTerminalGivenBack) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  static std::string slave;
  slave = ::ptsname(master);
  const auto [code, out] = inChild([](int fd) {
    outFd = fd;
    const int tty = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
    if (tty < 0 || ::dup2(tty, STDIN_FILENO) < 0) return;
    platform::catchEndSignals();
    termios raw{};
    ::tcgetattr(STDIN_FILENO, &raw);
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    platform::setTerminalRestorer([] { say("restored;"); });
    ::raise(SIGTERM);
    say("went on;");
    ::raise(SIGINT);
    say("not reached;");
  });
  EXPECT_EQ(code, 128 + SIGINT);
  EXPECT_EQ(out, "went on;restored;");
  const int tty = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(tty, 0);
  EXPECT_TRUE(cookedTerminal(tty));
  ::close(tty);
  ::close(master);
}

// A pseudo-terminal stands in for the user's terminal.
TEST(EchoOff, OnATerminalOnlyWhileItExists) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const int tty = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(tty, 0);
  termios before{};
  ASSERT_EQ(::tcgetattr(tty, &before), 0);
  ASSERT_TRUE(before.c_lflag & ECHO);
  for (bool lineEnd : {true, false}) {
    {
      EchoOff quiet(tty, lineEnd);
      EXPECT_TRUE(quiet.active());
      termios during{};
      ASSERT_EQ(::tcgetattr(tty, &during), 0);
      EXPECT_FALSE(during.c_lflag & ECHO);
      EXPECT_EQ(static_cast<bool>(during.c_lflag & ECHONL), lineEnd);
    }
    termios after{};
    ASSERT_EQ(::tcgetattr(tty, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
  }
  ::close(tty);
  ::close(master);
}

TEST(EchoOff, NothingOnAPipe) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  EchoOff quiet(fds[0]);
  EXPECT_FALSE(quiet.active());
  quiet.restore();
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace
}  // namespace platform
