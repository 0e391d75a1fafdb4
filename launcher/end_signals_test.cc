#include "launcher/end_signals.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>

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

TEST(EndSignals, ASignalOutsideAFileOperationClosesAndEnds) {
  const auto [code, out] = inChild([](int fd) {
    outFd = fd;
    testing_support::MemoryStore memory;
    (void)memory.create(fs::kMenuFile);
    const auto store = px::guardedStore(memory);
    auto file = store->file(fs::kMenuFile);
    px::catchEndSignals([] { say("closed;"); });
    (void)file->open(fs::OpenMode::kInputOutput);
    ::raise(SIGTERM);  // outside any operation: ends at once
    say("not reached;");
  });
  EXPECT_EQ(code, 128 + SIGTERM);
  EXPECT_EQ(out, "closed;");
}

TEST(EndSignals, HeldSignalEndsRightAfterTheOperation) {
  const auto [code, out] = inChild([](int fd) {
    outFd = fd;
    // An inner file whose read raises the signal in the middle of the read.
    struct InnerStore : fs::FileStore {
      struct File : fs::KeyedFile {
        fs::FileStatus open(fs::OpenMode) override { return fs::kOk; }
        fs::FileStatus close() override { return fs::kOk; }
        bool isOpen() const override { return true; }
        fs::FileStatus read(std::span<char>) override {
          ::raise(SIGTERM);
          say("read finished;");
          return fs::kOk;
        }
        fs::FileStatus start(fs::StartMode, std::span<const char>, std::size_t) override {
          return fs::kOk;
        }
        fs::FileStatus readNext(std::span<char>) override { return fs::kOk; }
        fs::FileStatus write(std::span<const char>) override { return fs::kOk; }
        fs::FileStatus rewrite(std::span<const char>) override { return fs::kOk; }
        fs::FileStatus remove(std::span<const char>) override { return fs::kOk; }
        fs::FileStatus begin() override { return fs::kOk; }
        fs::FileStatus commit() override { return fs::kOk; }
        fs::FileStatus rollback() override { return fs::kOk; }
        const fs::FileSpec& spec() const override { return fs::kMenuFile; }
      };
      std::unique_ptr<fs::KeyedFile> file(const fs::FileSpec&, std::string_view) override {
        return std::make_unique<File>();
      }
      fs::FileStatus create(const fs::FileSpec&, std::string_view) override { return fs::kOk; }
    } inner;
    const auto store = px::guardedStore(inner);
    auto file = store->file(fs::kMenuFile);
    px::catchEndSignals([] { say("closed;"); });
    std::string record(58, ' ');
    (void)file->read(std::span<char>(record));
    say("went on;");
  });
  EXPECT_EQ(code, 128 + SIGTERM);
  EXPECT_EQ(out, "read finished;closed;");
}

TEST(EndSignals, AfterTheLauncherIsGoneNothingIsClosed) {
  const auto [code, out] = inChild([](int fd) {
    outFd = fd;
    px::catchEndSignals([] { say("closed;"); });
    px::forgetEndSignalFiles();
    ::raise(SIGHUP);
  });
  EXPECT_EQ(code, 128 + SIGHUP);
  EXPECT_EQ(out, "");
}

}  // namespace
