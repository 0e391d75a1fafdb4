// Waiting for locks held by other workstations. A file operation that meets
// a lock returns a lock status (9/065, 9/068, 9/213) at once; whether and how
// long to try again is the caller's choice, made by a policy:
//   AskEveryTime  the launcher asks the user in a box: retry or cancel;
//   BoundedWait   the catalogue tries again for a bounded time, then gives up;
//   RetryTimes    the sign-on tries again a fixed number of times.
// runWaitingForLocks is the one loop that puts an operation and a policy
// together.
#pragma once

#include <chrono>
#include <functional>

#include "datafiles/status.h"

namespace datafiles {

// The time of the waiting policies: the steady clock and a sleep, replaced
// in tests so that nothing really waits.
class WaitClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~WaitClock() = default;
  virtual TimePoint now() = 0;
  virtual void sleep(std::chrono::milliseconds pause) = 0;
  // The real clock.
  static WaitClock& steady();
};

class LockWaitPolicy {
 public:
  virtual ~LockWaitPolicy() = default;
  // The operation returned the lock status `status` for the `attempt`-th
  // time in this wait (from 1): true to run it again, false to give up.
  virtual bool retry(FileStatus status, int attempt) = 0;
};

// Runs `op`; while it returns a lock status and `policy` says so, runs it
// again. Returns the last status: success, another failure, or the lock
// status the policy gave up on.
FileStatus runWaitingForLocks(LockWaitPolicy& policy, const std::function<FileStatus()>& op);

// Asks `ask` at every lock; it answers whether to try again.
class AskEveryTime final : public LockWaitPolicy {
 public:
  explicit AskEveryTime(std::function<bool(FileStatus)> ask) : ask_(std::move(ask)) {}
  bool retry(FileStatus status, int) override { return ask_(status); }

 private:
  std::function<bool(FileStatus)> ask_;
};

// Tries again after `pause` until `limit` has passed since the policy was
// made; one policy can serve several operations that share the limit.
class BoundedWait final : public LockWaitPolicy {
 public:
  BoundedWait(std::chrono::milliseconds limit, std::chrono::milliseconds pause,
              WaitClock& clock = WaitClock::steady())
      : clock_(clock), deadline_(clock.now() + limit), pause_(pause) {}
  bool retry(FileStatus status, int attempt) override;

 private:
  WaitClock& clock_;
  WaitClock::TimePoint deadline_;
  std::chrono::milliseconds pause_;
};

// Tries again `times` times, running `pause` before each retry;
// `onFirstLock`, when given, runs once at the first lock (to tell the user).
class RetryTimes final : public LockWaitPolicy {
 public:
  RetryTimes(int times, std::function<void()> pause, std::function<void()> onFirstLock = {})
      : times_(times), pause_(std::move(pause)), onFirstLock_(std::move(onFirstLock)) {}
  bool retry(FileStatus status, int attempt) override;

 private:
  int times_;
  std::function<void()> pause_, onFirstLock_;
};

}  // namespace datafiles
