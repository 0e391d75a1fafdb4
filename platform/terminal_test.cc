#include "platform/terminal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>

namespace platform {
namespace {

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

TEST(EndSignals, ASignalOutsideAHoldClosesAndEnds) {
  const auto [code, out] = inChild([](int fd) {
    outFd = fd;
    platform::catchEndSignals([] { say("closed;"); });
    { platform::EndSignalHold hold; }  // a hold that has ended holds nothing back
    ::raise(SIGTERM);                  // outside any hold: ends at once
    say("not reached;");
  });
  EXPECT_EQ(code, 128 + SIGTERM);
  EXPECT_EQ(out, "closed;");
}

TEST(EndSignals, HeldUntilTheLastHoldEnds) {
  const auto [code, out] = inChild([](int fd) {
    outFd = fd;
    platform::catchEndSignals([] { say("closed;"); });
    {
      platform::EndSignalHold outer;
      {
        platform::EndSignalHold inner;
        ::raise(SIGHUP);
        say("inner done;");
      }
      say("outer done;");
    }
    say("not reached;");
  });
  EXPECT_EQ(code, 128 + SIGHUP);
  EXPECT_EQ(out, "inner done;outer done;closed;");
}

TEST(EndSignals, AfterTheLauncherIsGoneNothingIsClosed) {
  const auto [code, out] = inChild([](int fd) {
    outFd = fd;
    platform::catchEndSignals([] { say("closed;"); });
    platform::forgetEndSignalFiles();
    ::raise(SIGHUP);
  });
  EXPECT_EQ(code, 128 + SIGHUP);
  EXPECT_EQ(out, "");
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
