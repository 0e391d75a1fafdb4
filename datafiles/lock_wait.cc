#include "datafiles/lock_wait.h"

#include <thread>

namespace datafiles {
namespace {

class SteadyClock final : public WaitClock {
 public:
  TimePoint now() override { return std::chrono::steady_clock::now(); }
  void sleep(std::chrono::milliseconds pause) override { std::this_thread::sleep_for(pause); }
};

}  // namespace

WaitClock& WaitClock::steady() {
  static SteadyClock clock;
  return clock;
}

FileStatus runWaitingForLocks(LockWaitPolicy& policy, const std::function<FileStatus()>& op) {
  FileStatus s = op();
  for (int attempt = 1; s.locked() && policy.retry(s, attempt); ++attempt) s = op();
  return s;
}

bool BoundedWait::retry(FileStatus, int) {
  if (clock_.now() >= deadline_) return false;
  clock_.sleep(pause_);
  return true;
}

bool RetryTimes::retry(FileStatus, int attempt) {
  if (attempt > times_) return false;
  if (attempt == 1 && onFirstLock_) onFirstLock_();
  if (pause_) pause_();
  return true;
}

}  // namespace datafiles
