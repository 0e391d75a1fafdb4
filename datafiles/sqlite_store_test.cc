#include "datafiles/sqlite_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "datafiles/lock_file.h"
#include "datafiles/records.h"
#include "testing/child_process.h"
#include "testing/temp_dir.h"

namespace {

using datafiles::OpenMode;
using datafiles::StartMode;

using Child = testing_support::ForkedChild;
using testing_support::TempDir;

datafiles::MenuRecord menu(int menuNo, int entry, std::string_view text = "x") {
  datafiles::MenuRecord r;
  r.setKey(menuNo, entry);
  r.setText(text);
  return r;
}

// ---- the embedded store ----------------------------------------------------

class SqliteStoreTest : public ::testing::Test {
 protected:
  std::unique_ptr<datafiles::KeyedFile> file(
      const datafiles::FileSpec& spec = datafiles::kMenuFile) {
    return store.file(spec, dir.path());
  }
  // Runs SQL on a data file directly, as another tool would.
  void sql(std::string_view name, const std::string& text) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir / name).c_str(), &db), SQLITE_OK);
    char* err = nullptr;
    EXPECT_EQ(sqlite3_exec(db, text.c_str(), nullptr, nullptr, &err), SQLITE_OK)
        << (err ? err : "");
    sqlite3_free(err);
    sqlite3_close(db);
  }
  datafiles::SqliteStore store;
  TempDir dir;
};

TEST_F(SqliteStoreTest, FilesThatMustBeReorganised) {
  struct Case {
    const char* what;
    std::string setup;  // SQL, or "garbage"
    datafiles::FileStatus status;
  };
  const Case cases[] = {
      {"not a database", "garbage", datafiles::kIndexDamaged},
      {"empty database", "", datafiles::kIndexDamaged},
      {"no records table", "CREATE TABLE layout(record_length INTEGER NOT NULL, key_length INTEGER NOT NULL);"
                           "INSERT INTO layout VALUES(58, 6);",
       datafiles::kIndexDamaged},
      {"no layout table", "CREATE TABLE records(key BLOB PRIMARY KEY, data BLOB NOT NULL);",
       datafiles::kIndexMissing},
      {"no layout row", "CREATE TABLE records(key BLOB PRIMARY KEY, data BLOB NOT NULL);"
                        "CREATE TABLE layout(record_length INTEGER NOT NULL, key_length INTEGER NOT NULL);",
       datafiles::kIndexMissing},
      {"other record length", "CREATE TABLE records(key BLOB PRIMARY KEY, data BLOB NOT NULL);"
                              "CREATE TABLE layout(record_length INTEGER NOT NULL, key_length INTEGER NOT NULL);"
                              "INSERT INTO layout VALUES(60, 6);",
       datafiles::kAttributeMismatch},
      {"other key length", "CREATE TABLE records(key BLOB PRIMARY KEY, data BLOB NOT NULL);"
                           "CREATE TABLE layout(record_length INTEGER NOT NULL, key_length INTEGER NOT NULL);"
                           "INSERT INTO layout VALUES(58, 4);",
       datafiles::kAttributeMismatch},
      {"rowid table of another tool", "CREATE TABLE records(key BLOB PRIMARY KEY, data BLOB NOT NULL);"
                                      "CREATE TABLE layout(record_length INTEGER NOT NULL, key_length INTEGER NOT NULL);"
                                      "INSERT INTO layout VALUES(58, 6);",
       datafiles::kOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm", "-lock"})
      std::filesystem::remove(dir / (std::string("FX01.DAT") + suffix), ec);
    if (c.setup == "garbage")
      std::ofstream(dir / "FX01.DAT") << std::string(8192, 'G');
    else
      sql("FX01.DAT", c.setup);
    auto f = file();
    EXPECT_EQ(f->open(OpenMode::kInput), c.status);
    EXPECT_EQ(f->isOpen(), c.status.ok());
    std::vector<std::string> problems;
    EXPECT_EQ(store.checkIntegrity(datafiles::kMenuFile, dir.path(), &problems),
              c.status.ok() ? datafiles::kOk : c.status);
  }
}

TEST_F(SqliteStoreTest, RowidTableOfAnotherToolWorks) {
  sql("FX01.DAT",
      "CREATE TABLE records(key BLOB PRIMARY KEY, data BLOB NOT NULL);"
      "CREATE TABLE layout(record_length INTEGER NOT NULL, key_length INTEGER NOT NULL);"
      "INSERT INTO layout VALUES(58, 6);");
  auto f = file();
  ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
  EXPECT_EQ(f->write(menu(2, 1).bytes()), datafiles::kOk);
  EXPECT_EQ(f->write(menu(2, 1).bytes()), datafiles::kDuplicateKey);
  EXPECT_EQ(f->write(menu(1, 1).bytes()), datafiles::kOk);
  datafiles::MenuRecord r = menu(0, 0);
  ASSERT_EQ(f->start(StartMode::kNotLessThan, r.bytes(), 6), datafiles::kOk);
  ASSERT_EQ(f->readNext(r.bytes()), datafiles::kOk);
  EXPECT_EQ(r.menu(), 1);
}

TEST_F(SqliteStoreTest, DamagedRecordsAreNeverReturned) {
  ASSERT_EQ(store.create(datafiles::kMenuFile, dir.path()), datafiles::kOk);
  {
    auto f = file();
    ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
    for (int e = 1; e <= 3; ++e) ASSERT_EQ(f->write(menu(1, e).bytes()), datafiles::kOk);
  }
  // Entry 2 cut short, entry 3 with a head that differs from its key.
  const auto k2 = datafiles::MenuRecord::key(1, 2), k3 = datafiles::MenuRecord::key(1, 3);
  auto hex = [](const auto& k) {
    std::string h;
    char b[3];
    for (char c : k) {
      std::snprintf(b, sizeof b, "%02X", static_cast<unsigned char>(c));
      h += b;
    }
    return h;
  };
  sql("FX01.DAT", "UPDATE records SET data=substr(data,1,20) WHERE key=x'" + hex(k2) + "';" +
                      "UPDATE records SET data=x'FFFF'||substr(data,3) WHERE key=x'" + hex(k3) +
                      "';");
  auto f = file();
  ASSERT_EQ(f->open(OpenMode::kInput), datafiles::kOk);
  datafiles::MenuRecord r = menu(1, 2);
  EXPECT_EQ(f->read(r.bytes()), datafiles::kIndexDamaged);
  r = menu(1, 3);
  EXPECT_EQ(f->read(r.bytes()), datafiles::kIndexDamaged);
  r = menu(1, 1);
  ASSERT_EQ(f->start(StartMode::kNotLessThan, r.bytes(), 6), datafiles::kOk);
  EXPECT_EQ(f->readNext(r.bytes()), datafiles::kOk);
  EXPECT_EQ(f->readNext(r.bytes()), datafiles::kIndexDamaged);
  std::vector<std::string> problems;
  EXPECT_EQ(store.checkIntegrity(datafiles::kMenuFile, dir.path(), &problems),
            datafiles::kIndexDamaged);
  EXPECT_EQ(problems.size(), 1u);
}

TEST_F(SqliteStoreTest, OtherPermanentErrors) {
  // A directory where the file should be; a record area too short.
  std::filesystem::create_directory(dir / "FX01.DAT");
  auto f = file();
  EXPECT_EQ(f->open(OpenMode::kInput), datafiles::kPermanentError);
  EXPECT_EQ(store.create(datafiles::kMenuFile, dir.path()), datafiles::kPermanentError);
  std::filesystem::remove(dir / "FX01.DAT");
  ASSERT_EQ(store.create(datafiles::kMenuFile, dir.path()), datafiles::kOk);
  ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
  std::vector<char> small(10, ' ');
  EXPECT_EQ(f->write(small), datafiles::kPermanentError);
  EXPECT_EQ(f->read(small), datafiles::kPermanentError);
}

TEST_F(SqliteStoreTest, CopyOpensAgainAndRefusesToOverwrite) {
  ASSERT_EQ(store.create(datafiles::kPermissionFile, dir.path()), datafiles::kOk);
  auto f = file(datafiles::kPermissionFile);
  ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
  datafiles::PermissionRecord p;
  p.setKey(0, "MEIER", "PA64");
  ASSERT_EQ(f->write(p.bytes()), datafiles::kOk);
  std::filesystem::create_directory(dir / "backup");
  // Taken while the handle is open, with the write still in the log.
  ASSERT_EQ(store.copyTo(datafiles::kPermissionFile, dir.path(), dir / "backup/FX02.DAT"),
            datafiles::kOk);
  EXPECT_EQ(store.copyTo(datafiles::kPermissionFile, dir.path(), dir / "backup/FX02.DAT"),
            datafiles::kDuplicateKey);
  auto c = store.file(datafiles::kPermissionFile, dir / "backup");
  ASSERT_EQ(c->open(OpenMode::kInput), datafiles::kOk);
  datafiles::PermissionRecord q;
  q.setKey(0, "MEIER", "PA64");
  ASSERT_EQ(c->read(q.bytes()), datafiles::kOk);
  EXPECT_EQ(q, p);
  EXPECT_EQ(store.checkIntegrity(datafiles::kPermissionFile, dir / "backup", nullptr),
            datafiles::kOk);
}

// A copy killed at any moment leaves nothing under the target's name, or the
// whole copy: never a partial file that looks like a backup.
TEST_F(SqliteStoreTest, CopyKilledMidwayLeavesNoPartialCopy) {
  ASSERT_EQ(store.create(datafiles::kPermissionFile, dir.path()), datafiles::kOk);
  {
    auto f = file(datafiles::kPermissionFile);
    ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
    ASSERT_EQ(f->begin(), datafiles::kOk);
    for (int n = 0; n < 20000; ++n) {
      datafiles::PermissionRecord p;
      p.setKey(n % 1000, "USER" + std::to_string(n / 1000), "PA64");
      ASSERT_EQ(f->write(p.bytes()), datafiles::kOk);
    }
    ASSERT_EQ(f->commit(), datafiles::kOk);
  }
  const std::string into = dir / "backup", target = into + "/FX02.DAT";
  std::filesystem::create_directory(into);
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(store.copyTo(datafiles::kPermissionFile, dir.path(), target), datafiles::kOk);
  const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now() - t0)
                        .count();
  const std::string from = dir.path();
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    std::filesystem::remove_all(into);
    std::filesystem::create_directory(into);
    const pid_t pid = ::fork();
    if (pid == 0) {
      datafiles::SqliteStore s;
      ::_exit(s.copyTo(datafiles::kPermissionFile, from, target).ok() ? 0 : 1);
    }
    ::usleep(static_cast<useconds_t>(took * round / 20));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!std::filesystem::exists(target)) continue;
    EXPECT_EQ(store.checkIntegrity(datafiles::kPermissionFile, into, nullptr), datafiles::kOk);
    auto c = store.file(datafiles::kPermissionFile, into);
    ASSERT_EQ(c->open(OpenMode::kInput), datafiles::kOk);
    datafiles::PermissionRecord r;
    std::fill(r.data(), r.data() + r.kSize, '\0');
    int count = 0;
    if (c->start(StartMode::kNotLessThan, r.bytes(), 17).ok())
      while (c->readNext(r.bytes()).ok()) ++count;
    EXPECT_EQ(count, 20000);
  }
}

// ---- sharing and locks -----------------------------------------------------

class LockTest : public SqliteStoreTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(store.create(datafiles::kMenuFile, dir.path()), datafiles::kOk);
    auto f = file();
    ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
    for (int e = 1; e <= 3; ++e) ASSERT_EQ(f->write(menu(1, e, "old").bytes()), datafiles::kOk);
  }
};

// A unit that takes many record locks takes every record at once (each
// single lock would cost more the more there are): never fewer locks than
// asked for, all of them ending with the unit.
TEST_F(LockTest, UnitWithManyLocksHoldsEveryRecordUntilItEnds) {
  auto a = file(), b = file();
  ASSERT_EQ(a->open(OpenMode::kInputOutput), datafiles::kOk);
  ASSERT_EQ(b->open(OpenMode::kInputOutput), datafiles::kOk);
  const int many = static_cast<int>(datafiles::LockFile::kWideAfter) + 8;
  for (int e = 1; e <= many; ++e) ASSERT_EQ(a->write(menu(2, e).bytes()), datafiles::kOk);
  ASSERT_EQ(a->begin(), datafiles::kOk);
  for (int e = 1; e <= many; ++e) ASSERT_EQ(a->rewrite(menu(2, e, "u").bytes()), datafiles::kOk);
  datafiles::MenuRecord r = menu(1, 1);  // never touched by the unit
  EXPECT_EQ(b->read(r.bytes()), datafiles::kRecordLocked);
  ASSERT_EQ(a->commit(), datafiles::kOk);
  EXPECT_EQ(b->read(r.bytes()), datafiles::kOk);
  ASSERT_EQ(b->unlock(), datafiles::kOk);
  // Rolled back just the same.
  ASSERT_EQ(a->begin(), datafiles::kOk);
  for (int e = 1; e <= many; ++e) ASSERT_EQ(a->rewrite(menu(2, e, "v").bytes()), datafiles::kOk);
  EXPECT_EQ(b->read(r.bytes()), datafiles::kRecordLocked);
  ASSERT_EQ(a->rollback(), datafiles::kOk);
  EXPECT_EQ(b->read(r.bytes()), datafiles::kOk);
}

// While another handle holds a record lock, the unit's locks stay single:
// the other handle keeps working on the records the unit has not touched.
TEST_F(LockTest, ManyLocksStaySingleWhileAnotherHandleHoldsOne) {
  auto a = file(), b = file();
  ASSERT_EQ(a->open(OpenMode::kInputOutput), datafiles::kOk);
  ASSERT_EQ(b->open(OpenMode::kInputOutput), datafiles::kOk);
  const int many = static_cast<int>(datafiles::LockFile::kWideAfter) + 8;
  for (int e = 1; e <= many; ++e) ASSERT_EQ(a->write(menu(2, e).bytes()), datafiles::kOk);
  datafiles::MenuRecord held = menu(1, 1);
  ASSERT_EQ(b->read(held.bytes()), datafiles::kOk);
  ASSERT_EQ(a->begin(), datafiles::kOk);
  for (int e = 1; e <= many; ++e) ASSERT_EQ(a->rewrite(menu(2, e, "u").bytes()), datafiles::kOk);
  datafiles::MenuRecord r = menu(1, 2);
  EXPECT_EQ(b->read(r.bytes()), datafiles::kOk);
  r = menu(2, many);
  EXPECT_EQ(b->read(r.bytes()), datafiles::kRecordLocked);
  ASSERT_EQ(a->commit(), datafiles::kOk);
  EXPECT_EQ(b->read(r.bytes()), datafiles::kOk);
}

TEST_F(LockTest, ExclusiveOpenExcludesEveryOtherOpen) {
  auto x = file(), a = file(), b = file();
  ASSERT_EQ(a->open(OpenMode::kInput), datafiles::kOk);
  EXPECT_EQ(x->open(OpenMode::kExclusive), datafiles::kFileLocked);
  EXPECT_FALSE(x->isOpen());
  ASSERT_EQ(a->close(), datafiles::kOk);
  ASSERT_EQ(x->open(OpenMode::kExclusive), datafiles::kOk);
  EXPECT_EQ(a->open(OpenMode::kInput), datafiles::kFileLocked);
  EXPECT_EQ(b->open(OpenMode::kInputOutput), datafiles::kFileLocked);
  EXPECT_EQ(store.copyTo(datafiles::kMenuFile, dir.path(), dir / "copy.DAT"),
            datafiles::kFileLocked);
  EXPECT_EQ(x->write(menu(2, 1).bytes()), datafiles::kOk);
  ASSERT_EQ(x->close(), datafiles::kOk);
  EXPECT_EQ(a->open(OpenMode::kInput), datafiles::kOk);
}

TEST_F(LockTest, UnitIsSeenWholeOrNotAndHonoursRecordLocks) {
  auto unit = file(), reader = file(), holder = file();
  ASSERT_EQ(unit->open(OpenMode::kInputOutput), datafiles::kOk);
  ASSERT_EQ(reader->open(OpenMode::kInputOutput), datafiles::kOk);
  ASSERT_EQ(holder->open(OpenMode::kInputOutput), datafiles::kOk);
  datafiles::MenuRecord held = menu(1, 3);
  ASSERT_EQ(holder->read(held.bytes()), datafiles::kOk);
  ASSERT_EQ(unit->begin(), datafiles::kOk);
  EXPECT_EQ(unit->begin(), datafiles::kAlreadyOpen);
  for (int e = 10; e < 20; ++e) ASSERT_EQ(unit->write(menu(1, e).bytes()), datafiles::kOk);
  EXPECT_EQ(unit->rewrite(menu(1, 3, "new").bytes()), datafiles::kRecordLocked);
  datafiles::MenuRecord r = menu(1, 10);
  EXPECT_EQ(reader->read(r.bytes()), datafiles::kNotFound);
  // Another writer waits the bounded time, then gets a lock status.
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(reader->write(menu(1, 30).bytes()), datafiles::kFileLocked);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(30));
  ASSERT_EQ(unit->commit(), datafiles::kOk);
  for (int e = 10; e < 20; ++e) {
    r = menu(1, e);
    EXPECT_EQ(reader->read(r.bytes()), datafiles::kOk);
  }
  // Closing inside a unit rolls it back.
  ASSERT_EQ(unit->begin(), datafiles::kOk);
  ASSERT_EQ(unit->write(menu(1, 40).bytes()), datafiles::kOk);
  ASSERT_EQ(unit->close(), datafiles::kOk);
  r = menu(1, 40);
  EXPECT_EQ(reader->read(r.bytes()), datafiles::kNotFound);
}

TEST_F(LockTest, LocksOfAnotherProcessVanishWhenItIsKilled) {
  const std::string path = dir.path();
  {
    Child holder([&](const auto&) {
      datafiles::SqliteStore s;
      auto f = s.file(datafiles::kMenuFile, path).release();  // kept until killed
      datafiles::MenuRecord r = menu(1, 2);
      return f->open(OpenMode::kInputOutput).ok() && f->read(r.bytes()).ok();
    });
    ASSERT_TRUE(holder.ready());
    auto f = file(), in = file();
    ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
    ASSERT_EQ(in->open(OpenMode::kInput), datafiles::kOk);
    datafiles::MenuRecord r = menu(1, 2);
    EXPECT_EQ(f->read(r.bytes()), datafiles::kRecordLocked);
    EXPECT_EQ(f->rewrite(menu(1, 2, "new").bytes()), datafiles::kRecordLocked);
    EXPECT_EQ(f->remove(menu(1, 2).bytes()), datafiles::kRecordLocked);
    EXPECT_EQ(in->read(r.bytes()), datafiles::kOk);
    auto x = file();
    EXPECT_EQ(x->open(OpenMode::kExclusive), datafiles::kFileLocked);
    holder.kill();
    EXPECT_EQ(f->read(r.bytes()), datafiles::kOk);
    EXPECT_EQ(f->remove(menu(1, 2).bytes()), datafiles::kOk);
  }
  {
    Child exclusive([&](const auto&) {
      datafiles::SqliteStore s;
      return s.file(datafiles::kMenuFile, path).release()->open(OpenMode::kExclusive).ok();
    });
    ASSERT_TRUE(exclusive.ready());
    auto f = file();
    EXPECT_EQ(f->open(OpenMode::kInput), datafiles::kFileLocked);
    exclusive.kill();
    EXPECT_EQ(f->open(OpenMode::kInput), datafiles::kOk);
  }
}

// Two processes count up one record, each by read for update and rewrite;
// the first does it inside a unit and commits only when told. The second must
// get 9/068 until then, not the old count, or one of the two counts is lost.
TEST_F(LockTest, UnitOfAnotherProcessHoldsItsRecordsUntilCommit) {
  const std::string path = dir.path();
  auto count = [](const datafiles::MenuRecord& r) { return std::stoi(std::string(r.text())); };
  {
    auto f = file();
    ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
    ASSERT_EQ(f->rewrite(menu(1, 2, "0").bytes()), datafiles::kOk);
  }
  int go[2], done[2];
  ASSERT_EQ(::pipe(go), 0);
  ASSERT_EQ(::pipe(done), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    datafiles::SqliteStore s;
    auto f = s.file(datafiles::kMenuFile, path);
    datafiles::MenuRecord r = menu(1, 2);
    bool ok = f->open(OpenMode::kInputOutput).ok() && f->begin().ok() && f->read(r.bytes()).ok();
    if (ok) ok = f->rewrite(menu(1, 2, std::to_string(count(r) + 1)).bytes()).ok();
    // Another record of the unit, read and rewritten and read again.
    datafiles::MenuRecord other = menu(1, 3);
    if (ok) ok = f->read(other.bytes()).ok() && f->rewrite(other.bytes()).ok() &&
                 f->read(other.bytes()).ok();
    (void)!::write(done[1], ok ? "y" : "n", 1);
    char c;
    (void)!::read(go[0], &c, 1);
    ok = f->commit().ok();
    (void)!::write(done[1], ok ? "y" : "n", 1);
    for (;;) ::pause();
  }
  ASSERT_GT(pid, 0);
  char c = 0;
  ASSERT_EQ(::read(done[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  auto f = file(), in = file();
  ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
  ASSERT_EQ(in->open(OpenMode::kInput), datafiles::kOk);
  datafiles::MenuRecord r = menu(1, 2);
  EXPECT_EQ(f->read(r.bytes()), datafiles::kRecordLocked);
  EXPECT_EQ(f->rewrite(menu(1, 2, "99").bytes()), datafiles::kRecordLocked);
  r = menu(1, 3);
  EXPECT_EQ(f->read(r.bytes()), datafiles::kRecordLocked);
  r = menu(1, 2);
  ASSERT_EQ(in->read(r.bytes()), datafiles::kOk);  // a reader sees the count before the unit
  EXPECT_EQ(count(r), 0);

  ASSERT_EQ(::write(go[1], "g", 1), 1);
  ASSERT_EQ(::read(done[0], &c, 1), 1);
  EXPECT_EQ(c, 'y');
  r = menu(1, 2);
  ASSERT_EQ(f->read(r.bytes()), datafiles::kOk);
  EXPECT_EQ(count(r), 1);
  ASSERT_EQ(f->rewrite(menu(1, 2, std::to_string(count(r) + 1)).bytes()), datafiles::kOk);
  r = menu(1, 2);
  ASSERT_EQ(in->read(r.bytes()), datafiles::kOk);
  EXPECT_EQ(count(r), 2);  // both counts are in
  ::kill(pid, SIGKILL);
  int status;
  ::waitpid(pid, &status, 0);
  for (int fd : {go[0], go[1], done[0], done[1]}) ::close(fd);
}

TEST_F(LockTest, ReadsSeeEveryCommitMadeBeforeThem) {
  auto in = file(), writer = file();
  ASSERT_EQ(in->open(OpenMode::kInput), datafiles::kOk);
  ASSERT_EQ(writer->open(OpenMode::kInputOutput), datafiles::kOk);
  datafiles::MenuRecord r = menu(1, 1);
  ASSERT_EQ(in->read(r.bytes()), datafiles::kOk);
  EXPECT_EQ(r.text(), "old");
  ASSERT_EQ(writer->rewrite(menu(1, 1, "same process").bytes()), datafiles::kOk);
  ASSERT_EQ(in->read(r.bytes()), datafiles::kOk);
  EXPECT_EQ(r.text(), "same process");

  // A listing in progress takes up records committed after its start.
  r = menu(1, 0);
  ASSERT_EQ(in->start(StartMode::kNotLessThan, r.bytes(), 6), datafiles::kOk);
  ASSERT_EQ(in->readNext(r.bytes()), datafiles::kOk);
  ASSERT_EQ(writer->rewrite(menu(1, 2, "changed").bytes()), datafiles::kOk);
  ASSERT_EQ(writer->write(menu(1, 4, "new").bytes()), datafiles::kOk);
  ASSERT_EQ(in->readNext(r.bytes()), datafiles::kOk);
  EXPECT_EQ(r.text(), "changed");
  ASSERT_EQ(in->readNext(r.bytes()), datafiles::kOk);
  ASSERT_EQ(in->readNext(r.bytes()), datafiles::kOk);
  EXPECT_EQ(r.text(), "new");

  // Another process.
  const std::string path = dir.path();
  Child other([&](const auto&) {
    datafiles::SqliteStore s;
    auto f = s.file(datafiles::kMenuFile, path);
    return f->open(OpenMode::kInputOutput).ok() &&
           f->rewrite(menu(1, 1, "other process").bytes()).ok() && f->close().ok();
  });
  ASSERT_TRUE(other.ready());
  r = menu(1, 1);
  ASSERT_EQ(in->read(r.bytes()), datafiles::kOk);
  EXPECT_EQ(r.text(), "other process");
}

// ---- a writer killed at any moment -----------------------------------------

datafiles::PermissionRecord patterned(int n) {
  datafiles::PermissionRecord r;
  r.setKey(n % 1000, "USER" + std::to_string(n / 1000), "PA64");
  for (std::size_t i = datafiles::PermissionRecord::kKeyLength; i < r.kSize; ++i)
    r.data()[i] = static_cast<char>('A' + (n + i) % 26);
  return r;
}

TEST_F(SqliteStoreTest, WriterKilledMidwayLeavesOnlyWholeRecords) {
  ASSERT_EQ(store.create(datafiles::kPermissionFile, dir.path()), datafiles::kOk);
  const std::string path = dir.path();
  Child writer([&](const std::function<void()>& ready) {
    datafiles::SqliteStore s;
    auto f = s.file(datafiles::kPermissionFile, path);
    if (!f->open(OpenMode::kInputOutput).ok()) return false;
    // Units of 250 writes and single writes and rewrites in turn, so that
    // the kill may land in any of them. Records are written in order, so
    // whatever survives is records 0..count-1.
    for (int n = 0;; ++n) {
      if (n == 1500) ready();
      if (n % 500 == 0 && !f->begin().ok()) return false;
      if (!f->write(patterned(n).bytes()).ok()) return false;
      if (n % 7 == 0 && !f->rewrite(patterned(n / 2).bytes()).ok()) return false;
      if (n % 500 == 249 && !f->commit().ok()) return false;
    }
  });
  ASSERT_TRUE(writer.ready());
  ::usleep(30000);
  writer.kill();

  std::vector<std::string> problems;
  EXPECT_EQ(store.checkIntegrity(datafiles::kPermissionFile, dir.path(), &problems), datafiles::kOk)
      << (problems.empty() ? "" : problems.front());
  auto f = file(datafiles::kPermissionFile);
  ASSERT_EQ(f->open(OpenMode::kInput), datafiles::kOk);
  datafiles::PermissionRecord r;
  std::fill(r.data(), r.data() + r.kSize, '\0');
  ASSERT_EQ(f->start(StartMode::kNotLessThan, r.bytes(), 17), datafiles::kOk);
  std::vector<bool> seen;
  while (f->readNext(r.bytes()).ok()) {
    const int n = *r.client() + 1000 * std::stoi(std::string(r.userName().substr(4)));
    ASSERT_EQ(r, patterned(n));
    if (seen.size() <= static_cast<std::size_t>(n)) seen.resize(n + 1);
    seen[n] = true;
  }
  EXPECT_GE(seen.size(), 1500u);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), false), 0);
}

}  // namespace
