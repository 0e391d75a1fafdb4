#include "datafiles/lock_wait.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "testing/fake_clock.h"

namespace datafiles {
namespace {

using std::chrono::milliseconds;

using testing_support::FakeClock;

// An operation that meets `locks` lock statuses (9/068), then returns `last`.
struct Operation {
  int locks;
  FileStatus last = kOk;
  int runs = 0;
  FileStatus operator()() {
    ++runs;
    return runs <= locks ? kRecordLocked : last;
  }
};

TEST(LockWait, TheLoopAsksThePolicyAtEveryLockAndOnlyThen) {
  struct Case {
    const char* name;
    int locks;
    FileStatus last;
    std::vector<bool> answers;  // the policy's answers, in order
    int runs;
    FileStatus result;
  } cases[] = {
      {"success at once", 0, kOk, {}, 1, kOk},
      {"other failure at once", 0, kNotFound, {}, 1, kNotFound},
      {"lock cleared on retry", 2, kOk, {true, true}, 3, kOk},
      {"failure after a lock", 1, kFileMissing, {true}, 2, kFileMissing},
      {"policy gives up", 5, kOk, {true, false}, 2, kRecordLocked},
  };
  for (const Case& c : cases) {
    std::deque<bool> answers(c.answers.begin(), c.answers.end());
    std::vector<int> attempts;
    struct Scripted final : LockWaitPolicy {
      std::deque<bool>* answers;
      std::vector<int>* attempts;
      bool retry(FileStatus status, int attempt) override {
        EXPECT_TRUE(status.locked());
        attempts->push_back(attempt);
        const bool a = answers->front();
        answers->pop_front();
        return a;
      }
    } policy;
    policy.answers = &answers;
    policy.attempts = &attempts;
    Operation op{c.locks, c.last};
    EXPECT_EQ(runWaitingForLocks(policy, std::ref(op)), c.result) << c.name;
    EXPECT_EQ(op.runs, c.runs) << c.name;
    EXPECT_TRUE(answers.empty()) << c.name << ": the policy was asked too seldom";
    for (std::size_t i = 0; i < attempts.size(); ++i) EXPECT_EQ(attempts[i], int(i) + 1) << c.name;
  }
}

TEST(LockWait, AskEveryTimeHandsTheStatusToTheQuestion) {
  std::vector<FileStatus> asked;
  AskEveryTime policy([&](FileStatus s) {
    asked.push_back(s);
    return asked.size() < 3;
  });
  Operation op{10};
  EXPECT_EQ(runWaitingForLocks(policy, std::ref(op)), kRecordLocked);
  EXPECT_EQ(op.runs, 3);
  EXPECT_EQ(asked, (std::vector<FileStatus>(3, kRecordLocked)));
}

TEST(LockWait, BoundedWaitRetriesUntilTheLimitHasPassed) {
  struct Case {
    const char* name;
    milliseconds limit, pause;
    int locks;
    int runs;
    FileStatus result;
    milliseconds slept;
  } cases[] = {
      {"no time at all", milliseconds(0), milliseconds(20), 3, 1, kRecordLocked, milliseconds(0)},
      {"lock clears in time", milliseconds(100), milliseconds(20), 2, 3, kOk, milliseconds(40)},
      {"lock outlasts the limit", milliseconds(100), milliseconds(20), 99, 6, kRecordLocked,
       milliseconds(100)},
      {"the catalogue's ten seconds", milliseconds(10000), milliseconds(20), 1000, 501,
       kRecordLocked, milliseconds(10000)},
  };
  for (const Case& c : cases) {
    FakeClock clock;
    BoundedWait policy(c.limit, c.pause, clock);
    Operation op{c.locks};
    EXPECT_EQ(runWaitingForLocks(policy, std::ref(op)), c.result) << c.name;
    EXPECT_EQ(op.runs, c.runs) << c.name;
    EXPECT_EQ(clock.slept(), c.slept) << c.name;
  }
}

TEST(LockWait, OneBoundedWaitSharesItsLimitBetweenOperations) {
  FakeClock clock;
  BoundedWait policy(milliseconds(100), milliseconds(10), clock);
  Operation first{6};
  EXPECT_TRUE(runWaitingForLocks(policy, std::ref(first)).ok());
  Operation second{99};
  EXPECT_EQ(runWaitingForLocks(policy, std::ref(second)), kRecordLocked);
  EXPECT_EQ(second.runs, 5);  // the 40 ms left of the 100
  EXPECT_EQ(clock.slept(), milliseconds(100));
}

TEST(LockWait, RetryTimesPausesBetweenAttemptsAndTellsOnce) {
  struct Case {
    const char* name;
    int times, locks;
    int runs, pauses, notices;
    FileStatus result;
  } cases[] = {
      {"no lock", 30, 0, 1, 0, 0, kOk},
      {"two locks", 30, 2, 3, 2, 1, kOk},
      {"exactly the retries", 30, 30, 31, 30, 1, kOk},
      {"one lock too many", 30, 31, 31, 30, 1, kRecordLocked},
      {"no retries", 0, 1, 1, 0, 0, kRecordLocked},
  };
  for (const Case& c : cases) {
    int pauses = 0, notices = 0;
    RetryTimes policy(
        c.times, [&] { ++pauses; }, [&] { ++notices; });
    Operation op{c.locks};
    EXPECT_EQ(runWaitingForLocks(policy, std::ref(op)), c.result) << c.name;
    EXPECT_EQ(op.runs, c.runs) << c.name;
    EXPECT_EQ(pauses, c.pauses) << c.name;
    EXPECT_EQ(notices, c.notices) << c.name;
  }
}

TEST(LockWait, EveryLockStatusCountsAndNothingElse) {
  for (FileStatus s : {kFileLocked, kRecordLocked, kTooManyLocks}) {
    RetryTimes policy(1, [] {});
    int runs = 0;
    EXPECT_TRUE(runWaitingForLocks(policy,
                                   [&] {
                                     ++runs;
                                     return runs == 1 ? s : kOk;
                                   })
                    .ok())
        << s.toString();
    EXPECT_EQ(runs, 2) << s.toString();
  }
  for (FileStatus s : {kIndexDamaged, kPermanentError, FileStatus::handler(66)}) {
    RetryTimes policy(5, [] {});
    int runs = 0;
    EXPECT_EQ(runWaitingForLocks(policy,
                                 [&] {
                                   ++runs;
                                   return s;
                                 }),
              s);
    EXPECT_EQ(runs, 1) << s.toString();
  }
}

}  // namespace
}  // namespace datafiles
