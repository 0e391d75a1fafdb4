// Sharing, locks, units and failures of the server store, between handles
// of one process (which must exclude each other like two workstations) and
// between processes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "datafiles/pg_connection.h"
#include "datafiles/records.h"
#include "testing/child_process.h"
#include "testing/pg_fixture.h"

namespace {

using datafiles::OpenMode;
using datafiles::StartMode;
using Child = testing_support::ForkedChild;
using testing_support::onceReleased;

datafiles::MenuRecord menu(int menuNo, int entry, std::string_view text = "x") {
  datafiles::MenuRecord r;
  r.setKey(menuNo, entry);
  r.setText(text);
  return r;
}

class PgLockTest : public ::testing::Test, public testing_support::ServerFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.ok()) << server.error();
    ASSERT_EQ(store.create(datafiles::kMenuFile), datafiles::kOk);
    auto f = file();
    ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
    for (int e = 1; e <= 3; ++e) ASSERT_EQ(f->write(menu(1, e, "old").bytes()), datafiles::kOk);
  }
  std::unique_ptr<datafiles::KeyedFile> file(
      const datafiles::FileSpec& spec = datafiles::kMenuFile) {
    return store.file(spec);
  }
  std::string text(int menuNo, int entry) {
    auto f = file();
    datafiles::MenuRecord r = menu(menuNo, entry);
    if (!f->open(OpenMode::kInput).ok() || !f->read(r.bytes()).ok()) return "?";
    return std::string(r.text());
  }
};

TEST_F(PgLockTest, ExclusiveOpenExcludesEveryOtherOpen) {
  auto x = file(), a = file(), b = file();
  ASSERT_EQ(a->open(OpenMode::kInput), datafiles::kOk);
  EXPECT_EQ(x->open(OpenMode::kExclusive), datafiles::kFileLocked);
  EXPECT_FALSE(x->isOpen());
  ASSERT_EQ(a->close(), datafiles::kOk);
  ASSERT_EQ(x->open(OpenMode::kExclusive), datafiles::kOk);
  EXPECT_EQ(a->open(OpenMode::kInput), datafiles::kFileLocked);
  EXPECT_EQ(b->open(OpenMode::kInputOutput), datafiles::kFileLocked);
  EXPECT_EQ(store.exportRecords(datafiles::kMenuFile, [](std::string_view) { return true; }),
            datafiles::kFileLocked);
  EXPECT_EQ(x->write(menu(2, 1).bytes()), datafiles::kOk);
  ASSERT_EQ(x->close(), datafiles::kOk);
  EXPECT_EQ(a->open(OpenMode::kInput), datafiles::kOk);
  // Other files are not concerned.
  ASSERT_EQ(store.create(datafiles::kUserFile), datafiles::kOk);
  auto u = file(datafiles::kUserFile);
  EXPECT_EQ(u->open(OpenMode::kExclusive), datafiles::kOk);
}

// A maintenance open reads a whole file in a few round trips, and sees its
// own changes at once.
TEST_F(PgLockTest, ExclusiveHandleReadsAheadAndSeesItsOwnChanges) {
  {
    auto f = file();
    ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
    ASSERT_EQ(f->begin(), datafiles::kOk);
    for (int e = 10; e < 900; ++e) ASSERT_EQ(f->write(menu(2, e).bytes()), datafiles::kOk);
    ASSERT_EQ(f->commit(), datafiles::kOk);
  }
  auto x = file();
  ASSERT_EQ(x->open(OpenMode::kExclusive), datafiles::kOk);
  datafiles::MenuRecord r = menu(2, 0);
  ASSERT_EQ(x->start(StartMode::kNotLessThan, r.bytes(), 6), datafiles::kOk);
  const auto before = datafiles::pg::roundTrips();
  std::vector<int> seen;
  while (x->readNext(r.bytes()).ok()) {
    seen.push_back(*r.entry());
    if (r.entry() == 20) {
      ASSERT_EQ(x->remove(menu(2, 21).bytes()), datafiles::kOk);
      ASSERT_EQ(x->write(menu(2, 950, "new").bytes()), datafiles::kOk);
    }
  }
  ASSERT_EQ(seen.size(), 890u);  // 10..899 without 21, and 950
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 21), 0);
  EXPECT_EQ(seen.back(), 950);
  EXPECT_EQ(r.text(), "new");
  EXPECT_LT(datafiles::pg::roundTrips() - before, 20u);
}

TEST_F(PgLockTest, UnitIsSeenWholeOrNotAndHonoursRecordLocks) {
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
  EXPECT_EQ(unit->remove(menu(1, 3).bytes()), datafiles::kRecordLocked);
  datafiles::MenuRecord r = menu(1, 10);
  EXPECT_EQ(reader->read(r.bytes()), datafiles::kNotFound);
  // Another writer waits the bounded time, then gets a lock status; so does
  // another unit.
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(reader->write(menu(1, 30).bytes()), datafiles::kFileLocked);
  auto waited = std::chrono::steady_clock::now() - t0;
  EXPECT_GE(waited, std::chrono::milliseconds(datafiles::PgStore::kLockTimeoutMs - 100));
  EXPECT_LT(waited, std::chrono::seconds(10));
  EXPECT_EQ(reader->rewrite(menu(1, 1, "new").bytes()), datafiles::kFileLocked);
  EXPECT_EQ(reader->begin(), datafiles::kFileLocked);
  EXPECT_EQ(reader->write(menu(1, 31).bytes()), datafiles::kFileLocked);  // no unit left open
  ASSERT_EQ(unit->commit(), datafiles::kOk);
  for (int e = 10; e < 20; ++e) {
    r = menu(1, e);
    EXPECT_EQ(reader->read(r.bytes()), datafiles::kOk);
  }
  EXPECT_EQ(reader->write(menu(1, 30).bytes()), datafiles::kOk);
  // Closing inside a unit rolls it back.
  ASSERT_EQ(unit->begin(), datafiles::kOk);
  ASSERT_EQ(unit->write(menu(1, 40).bytes()), datafiles::kOk);
  ASSERT_EQ(unit->close(), datafiles::kOk);
  r = menu(1, 40);
  EXPECT_EQ(reader->read(r.bytes()), datafiles::kNotFound);
  EXPECT_EQ(reader->write(menu(1, 40).bytes()), datafiles::kOk);
}

// A record read for update inside a unit stays locked until the unit ends,
// also after the handle's next operations, and so does a record the unit
// changed: no one else reads the old record for update and writes over the
// unit's change.
TEST_F(PgLockTest, UnitKeepsItsRecordLocksUntilItEnds) {
  for (bool commit : {true, false}) {
    SCOPED_TRACE(commit ? "commit" : "rollback");
    auto unit = file(), other = file();
    ASSERT_EQ(unit->open(OpenMode::kInputOutput), datafiles::kOk);
    ASSERT_EQ(other->open(OpenMode::kInputOutput), datafiles::kOk);
    ASSERT_EQ(unit->begin(), datafiles::kOk);
    datafiles::MenuRecord r = menu(1, 1);
    ASSERT_EQ(unit->read(r.bytes()), datafiles::kOk);
    r.setText("unit");
    ASSERT_EQ(unit->rewrite(r.bytes()), datafiles::kOk);
    ASSERT_EQ(unit->rewrite(menu(1, 2, "unit").bytes()), datafiles::kOk);  // never read
    r = menu(1, 3);
    ASSERT_EQ(unit->read(r.bytes()), datafiles::kOk);
    r = menu(1, 0);
    ASSERT_EQ(unit->start(StartMode::kNotLessThan, r.bytes(), 6), datafiles::kOk);
    for (int e : {1, 2, 3}) {
      datafiles::MenuRecord o = menu(1, e);
      EXPECT_EQ(other->read(o.bytes()), datafiles::kRecordLocked) << e;
      EXPECT_EQ(other->rewrite(menu(1, e, "other").bytes()), datafiles::kRecordLocked) << e;
    }
    ASSERT_EQ(commit ? unit->commit() : unit->rollback(), datafiles::kOk);
    for (int e : {1, 2, 3}) {
      datafiles::MenuRecord o = menu(1, e);
      ASSERT_EQ(other->read(o.bytes()), datafiles::kOk) << e;
      EXPECT_EQ(o.text(), commit && e != 3 ? "unit" : "old") << e;
    }
    ASSERT_EQ(other->close(), datafiles::kOk);
    ASSERT_EQ(unit->close(), datafiles::kOk);
    ASSERT_EQ(sql("UPDATE fx01 SET data = overlay(data placing '\\x6f6c642020'::bytea from 14)"),
              "");
  }
  // Between processes, the same.
  const std::string ci = conninfo;
  Child unit([&](const auto&) {
    datafiles::PgStore s(ci);
    auto f = s.file(datafiles::kMenuFile).release();  // kept until killed
    datafiles::MenuRecord r = menu(1, 1);
    if (!f->open(OpenMode::kInputOutput).ok() || !f->begin().ok() || !f->read(r.bytes()).ok())
      return false;
    r.setText("child");
    if (!f->rewrite(r.bytes()).ok()) return false;
    r = menu(1, 2);
    return f->read(r.bytes()).ok();  // the next operation, in the unit
  });
  ASSERT_TRUE(unit.ready());
  auto f = file();
  ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
  datafiles::MenuRecord r = menu(1, 1);
  EXPECT_EQ(f->read(r.bytes()), datafiles::kRecordLocked);
  EXPECT_EQ(f->rewrite(menu(1, 1, "parent").bytes()), datafiles::kRecordLocked);
  unit.kill();
  ASSERT_EQ(onceReleased([&] { return f->read(r.bytes()); }), datafiles::kOk);
  EXPECT_EQ(r.text(), "old");  // killed inside the unit: nothing of it stays
}

TEST_F(PgLockTest, LocksOfAnotherProcessVanishWhenItIsKilled) {
  const std::string ci = conninfo;
  {
    Child holder([&](const auto&) {
      datafiles::PgStore s(ci);
      auto f = s.file(datafiles::kMenuFile).release();  // kept until killed
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
    EXPECT_EQ(onceReleased([&] { return f->read(r.bytes()); }), datafiles::kOk);
    EXPECT_EQ(f->remove(menu(1, 2).bytes()), datafiles::kOk);
  }
  {
    Child exclusive([&](const auto&) {
      datafiles::PgStore s(ci);
      return s.file(datafiles::kMenuFile).release()->open(OpenMode::kExclusive).ok();
    });
    ASSERT_TRUE(exclusive.ready());
    auto f = file();
    EXPECT_EQ(f->open(OpenMode::kInput), datafiles::kFileLocked);
    exclusive.kill();
    EXPECT_EQ(onceReleased([&] { return f->open(OpenMode::kInput); }), datafiles::kOk);
  }
}

TEST_F(PgLockTest, ReadsSeeEveryCommitMadeBeforeThem) {
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
  EXPECT_EQ(in->readNext(r.bytes()), datafiles::kEndOfFile);
  ASSERT_EQ(writer->begin(), datafiles::kOk);
  ASSERT_EQ(writer->write(menu(1, 5, "unit").bytes()), datafiles::kOk);
  EXPECT_EQ(in->readNext(r.bytes()), datafiles::kEndOfFile);  // not committed yet
  ASSERT_EQ(writer->commit(), datafiles::kOk);
  ASSERT_EQ(in->readNext(r.bytes()), datafiles::kOk);
  EXPECT_EQ(r.text(), "unit");

  // Another process: a keyed read sees its commit at once; a listing in
  // progress at the latest once its rows read ahead have expired.
  r = menu(1, 0);
  ASSERT_EQ(in->start(StartMode::kNotLessThan, r.bytes(), 6), datafiles::kOk);
  ASSERT_EQ(in->readNext(r.bytes()), datafiles::kOk);
  const std::string ci = conninfo;
  Child other([&](const auto&) {
    datafiles::PgStore s(ci);
    auto f = s.file(datafiles::kMenuFile);
    return f->open(OpenMode::kInputOutput).ok() &&
           f->rewrite(menu(1, 1, "other process").bytes()).ok() &&
           f->rewrite(menu(1, 2, "other process").bytes()).ok() && f->close().ok();
  });
  ASSERT_TRUE(other.ready());
  std::this_thread::sleep_for(datafiles::PgStore::kFetchAheadLifetime +
                              std::chrono::milliseconds(5));
  ASSERT_EQ(in->readNext(r.bytes()), datafiles::kOk);
  EXPECT_EQ(r.entry(), 2);
  EXPECT_EQ(r.text(), "other process");
  r = menu(1, 1);
  ASSERT_EQ(in->read(r.bytes()), datafiles::kOk);
  EXPECT_EQ(r.text(), "other process");
}

// A workstation killed inside a unit, after many writes had been sent to
// the server and with more queued: nothing of the unit stays, and the
// table is free for others at once.
TEST_F(PgLockTest, KilledInsideAUnitChangesNothing) {
  ASSERT_EQ(store.create(datafiles::kPermissionFile), datafiles::kOk);
  const std::string ci = conninfo;
  Child writer([&](const std::function<void()>& ready) {
    datafiles::PgStore s(ci);
    auto f = s.file(datafiles::kPermissionFile).release();
    if (!f->open(OpenMode::kInputOutput).ok() || !f->begin().ok()) return false;
    for (int n = 0; n < 30000; ++n) {
      datafiles::PermissionRecord p;
      p.setKey(n % 1000, "USER" + std::to_string(n / 1000), "PA64");
      if (!f->write(p.bytes()).ok()) return false;
    }
    ready();
    datafiles::PermissionRecord p;
    p.setKey(0, "USER0", "PA64");
    (void)f->read(p.bytes());  // sends the last of them
    return true;
  });
  ASSERT_TRUE(writer.ready());
  writer.kill();
  auto f = file(datafiles::kPermissionFile);
  ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
  datafiles::PermissionRecord p;
  p.setKey(0, "NEW", "PA64");
  EXPECT_EQ(onceReleased([&] { return f->write(p.bytes()); }), datafiles::kOk);
  EXPECT_EQ(value("SELECT count(*) FROM fx02"), "1");
}

// A child process that goes on with its parent's store never touches the
// parent's parked sessions: it connects anew, so that what it holds ends
// with it, and the parent's sessions keep working.
TEST_F(PgLockTest, ForkedChildLeavesTheParentsSessionsAlone) {
  {
    auto f = file();
    ASSERT_EQ(f->open(OpenMode::kInput), datafiles::kOk);  // parked on close
  }
  Child child([&](const auto&) {
    auto f = file().release();  // kept until killed
    datafiles::MenuRecord r = menu(1, 1);
    return f->open(OpenMode::kExclusive).ok() && f->read(r.bytes()).ok() &&
           f->rewrite(menu(1, 1, "child").bytes()).ok();
  });
  ASSERT_TRUE(child.ready());
  child.kill();
  auto a = file(), b = file();
  ASSERT_EQ(onceReleased([&] { return a->open(OpenMode::kInput); }), datafiles::kOk);
  ASSERT_EQ(onceReleased([&] { return b->open(OpenMode::kInput); }), datafiles::kOk);
  datafiles::MenuRecord r = menu(1, 1);
  ASSERT_EQ(a->read(r.bytes()), datafiles::kOk);
  EXPECT_EQ(r.text(), "child");
}

datafiles::PermissionRecord patterned(int n) {
  datafiles::PermissionRecord r;
  r.setKey(n % 1000, "USER" + std::to_string(n / 1000), "PA64");
  for (std::size_t i = datafiles::PermissionRecord::kKeyLength; i < r.kSize; ++i)
    r.data()[i] = static_cast<char>('A' + (n + i) % 26);
  return r;
}

TEST_F(PgLockTest, WriterKilledMidwayLeavesOnlyWholeUnits) {
  ASSERT_EQ(store.create(datafiles::kPermissionFile), datafiles::kOk);
  const std::string ci = conninfo;
  Child writer([&](const std::function<void()>& ready) {
    datafiles::PgStore s(ci);
    auto f = s.file(datafiles::kPermissionFile);
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
  EXPECT_EQ(
      onceReleased([&] { return store.checkIntegrity(datafiles::kPermissionFile, {}, &problems); }),
      datafiles::kOk)
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

// The server stopped and started again under open handles: every
// operation of those handles reports an error (never "00", never a
// record), and the next open works.
TEST(PgServerRestart, ErrorsUnderOpenHandlesThenTheNextOpenWorks) {
  // A server of its own: the run's shared one must never stop.
  const auto own = testing_support::PgTestServer::startOwn();
  ASSERT_TRUE(own->ok()) << own->error();
  testing_support::ServerFixture fixture(*own);
  datafiles::PgStore& store = fixture.store;
  auto file = [&](const datafiles::FileSpec& spec = datafiles::kMenuFile) {
    return store.file(spec);
  };
  ASSERT_EQ(store.create(datafiles::kMenuFile), datafiles::kOk);
  {
    auto f = file();
    ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
    for (int e = 1; e <= 3; ++e) ASSERT_EQ(f->write(menu(1, e, "old").bytes()), datafiles::kOk);
  }
  auto in = file(), io = file(), unit = file();
  ASSERT_EQ(in->open(OpenMode::kInput), datafiles::kOk);
  ASSERT_EQ(io->open(OpenMode::kInputOutput), datafiles::kOk);
  ASSERT_EQ(unit->open(OpenMode::kInputOutput), datafiles::kOk);
  datafiles::MenuRecord r = menu(1, 0);
  ASSERT_EQ(in->start(StartMode::kNotLessThan, r.bytes(), 6), datafiles::kOk);
  ASSERT_EQ(unit->begin(), datafiles::kOk);
  ASSERT_EQ(unit->write(menu(1, 50, "lost").bytes()), datafiles::kOk);
  {
    auto parked = file(datafiles::kMenuFile);  // a session parked in the pool
    ASSERT_EQ(parked->open(OpenMode::kInput), datafiles::kOk);
  }
  ASSERT_TRUE(own->pause());
  ASSERT_TRUE(own->resume());

  datafiles::MenuRecord probe = menu(1, 1, "untouched");
  EXPECT_EQ(io->read(probe.bytes()), datafiles::kPermanentError);
  EXPECT_EQ(probe.text(), "untouched");
  EXPECT_EQ(io->read(probe.bytes()), datafiles::kPermanentError);  // and stays so
  EXPECT_EQ(io->write(menu(1, 60).bytes()), datafiles::kPermanentError);
  EXPECT_EQ(io->rewrite(menu(1, 1, "new").bytes()), datafiles::kPermanentError);
  // The listing may still hand out what it read before the restart, but
  // never pretends to have reached the end.
  datafiles::FileStatus s;
  while ((s = in->readNext(probe.bytes())).ok()) {
  }
  EXPECT_EQ(s, datafiles::kPermanentError);
  EXPECT_EQ(unit->commit(), datafiles::kPermanentError);
  EXPECT_NE(store.lastError(), "");
  for (auto* f : {in.get(), io.get(), unit.get()}) {
    EXPECT_TRUE(f->isOpen());
    EXPECT_EQ(f->close(), datafiles::kOk);
  }
  ASSERT_EQ(io->open(OpenMode::kInputOutput), datafiles::kOk);
  probe = menu(1, 50);
  EXPECT_EQ(io->read(probe.bytes()), datafiles::kNotFound);  // the unit never happened
  probe = menu(1, 1);
  ASSERT_EQ(io->read(probe.bytes()), datafiles::kOk);
  EXPECT_EQ(probe.text(), "old");
  EXPECT_EQ(io->rewrite(menu(1, 1, "after").bytes()), datafiles::kOk);
}

}  // namespace
