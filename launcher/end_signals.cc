#include "launcher/end_signals.h"

#include <termios.h>
#include <unistd.h>

#include <csignal>

namespace launcher {
namespace {

volatile sig_atomic_t fileOperations = 0;  // launcher file operations running now
volatile sig_atomic_t heldSignal = 0;      // a signal that came during one of them
std::function<void()>* closer = nullptr;
termios startTerminal{};
bool haveTerminal = false;

volatile sig_atomic_t ending = 0;

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
  if (fileOperations > 0) {
    heldSignal = sig;
    return;
  }
  endNow(sig);
}

// Counts an operation in and out; a signal held meanwhile ends the process
// right after it.
class Guard {
 public:
  Guard() { fileOperations = fileOperations + 1; }
  ~Guard() {
    fileOperations = fileOperations - 1;
    if (fileOperations == 0 && heldSignal != 0) endNow(heldSignal);
  }
};

class GuardedFile : public datafiles::KeyedFile {
 public:
  explicit GuardedFile(std::unique_ptr<datafiles::KeyedFile> inner) : inner_(std::move(inner)) {}
  datafiles::FileStatus open(datafiles::OpenMode mode) override {
    Guard g;
    return inner_->open(mode);
  }
  datafiles::FileStatus close() override { Guard g; return inner_->close(); }
  bool isOpen() const override { return inner_->isOpen(); }
  datafiles::FileStatus read(std::span<char> r) override { Guard g; return inner_->read(r); }
  datafiles::FileStatus start(datafiles::StartMode m, std::span<const char> r,
                              std::size_t n) override {
    Guard g;
    return inner_->start(m, r, n);
  }
  datafiles::FileStatus readNext(std::span<char> r) override {
    Guard g;
    return inner_->readNext(r);
  }
  datafiles::FileStatus write(std::span<const char> r) override {
    Guard g;
    return inner_->write(r);
  }
  datafiles::FileStatus rewrite(std::span<const char> r) override {
    Guard g;
    return inner_->rewrite(r);
  }
  datafiles::FileStatus remove(std::span<const char> r) override {
    Guard g;
    return inner_->remove(r);
  }
  datafiles::FileStatus begin() override { Guard g; return inner_->begin(); }
  datafiles::FileStatus commit() override { Guard g; return inner_->commit(); }
  datafiles::FileStatus rollback() override { Guard g; return inner_->rollback(); }
  const datafiles::FileSpec& spec() const override { return inner_->spec(); }

 private:
  std::unique_ptr<datafiles::KeyedFile> inner_;
};

class GuardedStore : public datafiles::FileStore {
 public:
  explicit GuardedStore(datafiles::FileStore& inner) : inner_(inner) {}
  std::unique_ptr<datafiles::KeyedFile> file(const datafiles::FileSpec& spec,
                                      std::string_view directory) override {
    return std::make_unique<GuardedFile>(inner_.file(spec, directory));
  }
  datafiles::FileStatus create(const datafiles::FileSpec& spec,
                               std::string_view directory) override {
    Guard g;
    return inner_.create(spec, directory);
  }

 private:
  datafiles::FileStore& inner_;
};

}  // namespace

std::unique_ptr<datafiles::FileStore> guardedStore(datafiles::FileStore& inner) {
  return std::make_unique<GuardedStore>(inner);
}

void forgetEndSignalFiles() { closer = nullptr; }

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

}  // namespace launcher
