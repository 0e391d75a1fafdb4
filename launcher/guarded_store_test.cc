#include "launcher/guarded_store.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "platform/terminal.h"
#include "testing/memory_store.h"

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

TEST(GuardedStore, ASignalDuringAFileOperationEndsRightAfterIt) {
  const auto [code, out] = inChild([](int fd) {
    outFd = fd;
    // An inner file whose read raises the signal in the middle of the read.
    struct InnerStore : datafiles::FileStore {
      struct File : datafiles::KeyedFile {
        datafiles::FileStatus open(datafiles::OpenMode) override { return datafiles::kOk; }
        datafiles::FileStatus close() override { return datafiles::kOk; }
        bool isOpen() const override { return true; }
        datafiles::FileStatus read(std::span<char>) override {
          ::raise(SIGTERM);
          say("read finished;");
          return datafiles::kOk;
        }
        datafiles::FileStatus start(datafiles::StartMode, std::span<const char>,
                                    std::size_t) override {
          return datafiles::kOk;
        }
        datafiles::FileStatus readNext(std::span<char>) override { return datafiles::kOk; }
        datafiles::FileStatus write(std::span<const char>) override { return datafiles::kOk; }
        datafiles::FileStatus rewrite(std::span<const char>) override { return datafiles::kOk; }
        datafiles::FileStatus remove(std::span<const char>) override { return datafiles::kOk; }
        datafiles::FileStatus unlock() override { return datafiles::kOk; }
        datafiles::FileStatus begin() override { return datafiles::kOk; }
        datafiles::FileStatus commit() override { return datafiles::kOk; }
        datafiles::FileStatus rollback() override { return datafiles::kOk; }
        const datafiles::FileSpec& spec() const override { return datafiles::kMenuFile; }
      };
      std::unique_ptr<datafiles::KeyedFile> file(const datafiles::FileSpec&,
                                                 std::string_view) override {
        return std::make_unique<File>();
      }
      datafiles::FileStatus create(const datafiles::FileSpec&, std::string_view) override {
        return datafiles::kOk;
      }
    } inner;
    const auto store = launcher::guardedStore(inner);
    auto file = store->file(datafiles::kMenuFile);
    platform::catchEndSignals([] { say("closed;"); });
    std::string record(58, ' ');
    (void)file->read(std::span<char>(record));
    say("went on;");
  });
  EXPECT_EQ(code, 128 + SIGTERM);
  EXPECT_EQ(out, "read finished;closed;");
}

}  // namespace
