// A child process for tests of several workstations: it runs a body, tells
// the parent that it is ready, and waits to be killed (SIGKILL, as when a
// workstation dies).
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace testing_support {

// Runs `body` in a child process that reports readiness through a pipe (by
// calling `ready`, or by returning true) and then waits to be killed. A body
// that returns false before it called `ready` reports failure, so that the
// parent never waits for it. The child touches only handles it opens itself
// and never returns.
class ForkedChild {
 public:
  using Body = std::function<bool(const std::function<void()>& ready)>;
  explicit ForkedChild(const Body& body) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(fds[0]);
      bool told = false;
      auto ready = [&] {
        if (!told) (void)!::write(fds[1], "y", 1);
        told = true;
      };
      if (body(ready))
        ready();
      else if (!told)
        (void)!::write(fds[1], "n", 1);
      for (;;) ::pause();
    }
    ::close(fds[1]);
    char c = 0;
    ready_ = pid_ > 0 && ::read(fds[0], &c, 1) == 1 && c == 'y';
    ::close(fds[0]);
  }
  ~ForkedChild() { kill(); }
  ForkedChild(const ForkedChild&) = delete;
  ForkedChild& operator=(const ForkedChild&) = delete;
  bool ready() const { return ready_; }
  void kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  bool ready_ = false;
};

}  // namespace testing_support
