// Record locks across an operation that names the record it already holds,
// and the lock file's own bookkeeping.
#include "datafiles/lock_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"
#include "testing/temp_dir.h"

namespace {

using datafiles::OpenMode;

using Dir = testing_support::TempDir;

TEST(LockFile, RecordLocksAreHeldUntilLetGo) {
  Dir dir;
  ASSERT_FALSE(dir.path().empty());
  datafiles::LockFile a, b;
  ASSERT_EQ(a.open(dir.path() + "/F-lock"), datafiles::LockFile::Result::kOk);
  ASSERT_EQ(b.open(dir.path() + "/F-lock"), datafiles::LockFile::Result::kOk);
  const std::string k1 = "KEY001", k2 = "KEY002", k3 = "KEY003";
  ASSERT_EQ(a.lockRecord(k1), datafiles::LockFile::Result::kOk);
  EXPECT_TRUE(a.holdsRecord(k1));
  EXPECT_FALSE(a.holdsRecord(k2));
  EXPECT_EQ(a.lockRecord(k1), datafiles::LockFile::Result::kOk);
  EXPECT_EQ(a.recordLocks(), 1u);
  EXPECT_EQ(b.lockRecord(k1), datafiles::LockFile::Result::kBusy);
  // Another key adds a lock; the first stays.
  ASSERT_EQ(a.lockRecord(k2), datafiles::LockFile::Result::kOk);
  ASSERT_EQ(a.lockRecord(k3), datafiles::LockFile::Result::kOk);
  EXPECT_EQ(a.recordLocks(), 3u);
  EXPECT_EQ(b.lockRecord(k1), datafiles::LockFile::Result::kBusy);
  EXPECT_EQ(b.lockRecord(k2), datafiles::LockFile::Result::kBusy);
  a.unlockRecord(k2);  // only that one
  EXPECT_FALSE(a.holdsRecord(k2));
  EXPECT_TRUE(a.holdsRecord(k1));
  EXPECT_EQ(b.lockRecord(k2), datafiles::LockFile::Result::kOk);
  EXPECT_EQ(b.lockRecord(k3), datafiles::LockFile::Result::kBusy);
  a.unlockRecords();
  EXPECT_FALSE(a.holdsRecord());
  EXPECT_EQ(b.lockRecord(k1), datafiles::LockFile::Result::kOk);
  EXPECT_EQ(b.lockRecord(k3), datafiles::LockFile::Result::kOk);
  b.unlockRecords();
  // Letting go of every record keeps the file lock.
  ASSERT_EQ(a.lockFile(false), datafiles::LockFile::Result::kOk);
  ASSERT_EQ(a.lockRecord(k1), datafiles::LockFile::Result::kOk);
  ASSERT_EQ(a.lockRecord(k2), datafiles::LockFile::Result::kOk);
  a.unlockRecords();
  datafiles::LockFile x;
  ASSERT_EQ(x.open(dir.path() + "/F-lock"), datafiles::LockFile::Result::kOk);
  EXPECT_EQ(x.lockFile(true), datafiles::LockFile::Result::kBusy);
  EXPECT_EQ(b.lockRecord(k2), datafiles::LockFile::Result::kOk);
}

// Two input-output handles on one file. Each step is one handle's operation
// and the status it must get; the record lock must hold from a read through
// the rewrite or delete of that record, and end with the operation after.
TEST(StoreRecordLock, HeldFromReadThroughRewriteAndEndedAfter) {
  Dir dir;
  ASSERT_FALSE(dir.path().empty());
  datafiles::SqliteStore store;
  ASSERT_EQ(store.create(datafiles::kMenuFile, dir.path()), datafiles::kOk);
  auto a = store.file(datafiles::kMenuFile, dir.path());
  auto b = store.file(datafiles::kMenuFile, dir.path());
  ASSERT_EQ(a->open(OpenMode::kInputOutput), datafiles::kOk);
  ASSERT_EQ(b->open(OpenMode::kInputOutput), datafiles::kOk);
  auto menu = [](int entry, char flag = ' ') {
    datafiles::MenuRecord m;
    m.setKey(1, entry);
    m.bytes()[20] = flag;
    return m;
  };
  for (int e : {1, 2, 3}) ASSERT_EQ(a->write(menu(e).bytes()), datafiles::kOk);

  enum Op { kRead, kRewrite, kDelete, kShortRewrite };
  struct Step {
    datafiles::KeyedFile* who;
    Op op;
    int entry;
    datafiles::FileStatus expected;
  };
  datafiles::KeyedFile* A = a.get();
  datafiles::KeyedFile* B = b.get();
  const std::vector<Step> steps = {
      {A, kRead, 1, datafiles::kOk},
      {A, kRead, 1, datafiles::kOk},                // read again: still A's
      {B, kRead, 1, datafiles::kRecordLocked},
      {A, kRewrite, 1, datafiles::kOk},             // the lock from the read carries it
      {B, kRead, 1, datafiles::kOk},                // the rewrite ended A's lock
      {A, kRewrite, 1, datafiles::kRecordLocked},   // now B holds it
      {A, kRead, 2, datafiles::kOk},
      {B, kDelete, 2, datafiles::kRecordLocked},
      {A, kDelete, 2, datafiles::kOk},
      {B, kRead, 2, datafiles::kNotFound},
      {A, kRead, 3, datafiles::kOk},
      {A, kShortRewrite, 3, datafiles::kPermanentError},  // a failed operation still ends the lock
      {B, kRewrite, 3, datafiles::kOk},
  };
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const Step& s = steps[i];
    SCOPED_TRACE("step " + std::to_string(i));
    datafiles::MenuRecord m = menu(s.entry, 'X');
    datafiles::FileStatus got = datafiles::kOk;
    switch (s.op) {
      case kRead: got = s.who->read(m.bytes()); break;
      case kRewrite: got = s.who->rewrite(m.bytes()); break;
      case kDelete: got = s.who->remove(m.bytes()); break;
      case kShortRewrite:
        got = s.who->rewrite(std::span<const char>(m.bytes().data(), 10));
        break;
    }
    EXPECT_EQ(got, s.expected) << got.toString();
  }
}

}  // namespace

namespace {

// A handle's connection is kept for the next open of the same file in the
// process: that open must still see what happened to the file meanwhile.
TEST(StoreReopen, SeesWhatHappenedToTheFileSinceTheLastClose) {
  const datafiles::FileSpec other{"FX01.DAT", 40, 6};
  struct Case {
    const char* what;
    std::function<void(const std::string& dir)> change;
    datafiles::FileStatus expected;
  };
  const std::vector<Case> cases = {
      {"nothing", [](const std::string&) {}, datafiles::kOk},
      {"overwritten in place with junk",
       [](const std::string& dir) {
         std::FILE* f = std::fopen((dir + "/FX01.DAT").c_str(), "r+b");
         ASSERT_NE(f, nullptr);
         const std::string junk(200, 'J');
         std::fwrite(junk.data(), 1, junk.size(), f);
         std::fclose(f);
       },
       datafiles::kIndexDamaged},
      {"removed",
       [](const std::string& dir) {
         for (const char* suffix : {"", "-wal", "-shm"})
           std::filesystem::remove(dir + "/FX01.DAT" + suffix);
       },
       datafiles::kFileMissing},
      {"replaced by a file of another layout",
       [&](const std::string& dir) {
         for (const char* suffix : {"", "-wal", "-shm"})
           std::filesystem::remove(dir + "/FX01.DAT" + suffix);
         datafiles::SqliteStore store;
         ASSERT_EQ(store.create(other, dir), datafiles::kOk);
       },
       datafiles::kAttributeMismatch},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Dir dir;
    ASSERT_FALSE(dir.path().empty());
    datafiles::SqliteStore store;
    ASSERT_EQ(store.create(datafiles::kMenuFile, dir.path()), datafiles::kOk);
    datafiles::MenuRecord m;
    m.setKey(1, 1);
    {
      auto f = store.file(datafiles::kMenuFile, dir.path());
      ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
      ASSERT_EQ(f->write(m.bytes()), datafiles::kOk);
      ASSERT_EQ(f->close(), datafiles::kOk);
    }
    c.change(dir.path());
    auto f = store.file(datafiles::kMenuFile, dir.path());
    datafiles::FileStatus s = f->open(OpenMode::kInput);
    if (s.ok()) s = f->read(m.bytes());
    EXPECT_EQ(s, c.expected) << s.toString();
  }
}

}  // namespace
