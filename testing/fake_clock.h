// A clock for the waiting policies in which time passes only by sleeping, so
// that tests of lock waits never really wait.
#pragma once

#include <chrono>

#include "datafiles/lock_wait.h"

namespace testing_support {

class FakeClock final : public datafiles::WaitClock {
 public:
  TimePoint now() override { return now_; }
  void sleep(std::chrono::milliseconds pause) override {
    now_ += pause;
    slept_ += pause;
  }
  std::chrono::milliseconds slept() const { return slept_; }

 private:
  TimePoint now_{};
  std::chrono::milliseconds slept_{0};
};

}  // namespace testing_support
