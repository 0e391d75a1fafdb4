// The audit trail, the live sessions and the refused-password counts, on the
// in-memory store and on the embedded one; the embedded store's waits, its
// log and a killed process on the embedded one alone.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "datafiles/audit_records.h"
#include "datafiles/audit_trail.h"
#include "datafiles/sessions.h"
#include "datafiles/sign_on_failures.h"
#include "datafiles/sqlite_store.h"
#include "testing/child_process.h"
#include "testing/fault_store.h"
#include "testing/memory_store.h"
#include "testing/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using datafiles::AuditEvent;
using datafiles::AuditRecord;
using datafiles::AuditTime;
using datafiles::FileStatus;
using datafiles::OpenMode;

AuditTime at(int year, int month, int day, int h, int m, int s, int us = 0) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = h;
  tm.tm_min = m;
  tm.tm_sec = s;
  return AuditTime(std::chrono::seconds(::timegm(&tm))) + std::chrono::microseconds(us);
}

TEST(AuditTime, TwentyDigitsOfUtcThatSortAsTheTimesDo) {
  const AuditTime t = at(2026, 12, 7, 23, 17, 51, 4711);
  EXPECT_EQ(datafiles::auditTimeText(t), "20261207231751004711");
  EXPECT_EQ(datafiles::parseAuditTime("20261207231751004711"), t);
  EXPECT_FALSE(datafiles::parseAuditTime("2026120723175100471"));
  EXPECT_FALSE(datafiles::parseAuditTime("2026120723175100471x"));
  EXPECT_FALSE(datafiles::parseAuditTime("20261307231751004711"));  // month 13
  const AuditTime times[] = {at(1999, 12, 31, 23, 59, 59, 999999), at(2000, 1, 1, 0, 0, 0),
                             at(2000, 1, 1, 0, 0, 0, 1), at(2026, 2, 1, 9, 0, 0)};
  for (std::size_t i = 1; i < std::size(times); ++i)
    EXPECT_LT(datafiles::auditTimeText(times[i - 1]), datafiles::auditTimeText(times[i]));
}

TEST(SignOnDelay, NothingForThreeThenDoublingUpToThirtySeconds) {
  const long expected[] = {0, 0, 0, 1, 2, 4, 8, 16, 30, 30};
  for (long failures = 0; failures < static_cast<long>(std::size(expected)); ++failures)
    EXPECT_EQ(datafiles::signOnDelay(failures).count(), expected[failures]) << failures;
  EXPECT_EQ(datafiles::signOnDelay(100000).count(), 30);
}

// ---- the same rules on both stores ----------------------------------------

template <class Store>
class Trail : public ::testing::Test {
 protected:
  Store store;
  testing_support::TempDir dir{"px-audit"};

  // Every record of kind `kind` in key order.
  template <class Record>
  std::vector<Record> all(char kind) {
    std::vector<Record> out;
    auto f = store.file(datafiles::kAuditFile, dir.path());
    if (!f->open(OpenMode::kInput).ok()) return out;
    Record r;
    r.bytes()[0] = kind;
    FileStatus s = f->start(datafiles::StartMode::kNotLessThan, r.bytes(), 1);
    while (s.ok() && (s = f->readNext(r.bytes())).ok() && r.kind() == kind) out.push_back(r);
    (void)f->close();
    return out;
  }
  std::vector<AuditRecord> events() { return all<AuditRecord>('E'); }
};

using Stores = ::testing::Types<testing_support::MemoryStore, datafiles::SqliteStore>;
TYPED_TEST_SUITE(Trail, Stores);

TYPED_TEST(Trail, CreatedAtFirstUseAndReadBackInTheOrderWritten) {
  datafiles::AuditTrail trail(this->store, this->dir.path(), "PX01");
  trail.setWorkstation({"ws7.verein.example", 4711});
  // One clock tick for all three: the sequence keeps them apart and in order.
  trail.setClock([] { return at(2026, 12, 7, 8, 15, 0, 42); });
  ASSERT_EQ(trail.record(AuditEvent("SIGNON", "MEIER", 1)
                             .withObject("PX00")
                             .withResult("OK")
                             .withDetail("Klasse N")),
            datafiles::kOk);
  ASSERT_EQ(
      trail.record(AuditEvent("CALL", "MEIER", 1).withObject("PA64").withDetail("Menü 17/10")),
      datafiles::kOk);
  ASSERT_EQ(
      trail.record(
          AuditEvent("GRANT", "ADMIN", 1).withSubject("HELGA").withObject("PA64").withResult("00")),
      datafiles::kOk);
  const auto e = this->events();
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(encoding::trimmed(e[0].event()), "SIGNON");
  EXPECT_EQ(encoding::trimmed(e[1].event()), "CALL");
  EXPECT_EQ(encoding::getText(e[1].detail()), "Menü 17/10");
  EXPECT_EQ(encoding::trimmed(e[2].subject()), "HELGA");
  for (const AuditRecord& r : e) {
    EXPECT_EQ(encoding::view(r.time()), "20261207081500000042");
    EXPECT_EQ(encoding::trimmed(r.host()), "ws7.verein.example");
    EXPECT_EQ(encoding::view(r.pid()), "0000004711");
    EXPECT_EQ(encoding::view(r.client()), "001");
    EXPECT_EQ(encoding::trimmed(r.origin()), "PX01");
    EXPECT_EQ(encoding::view(r.lost()), "000000");
  }
}

TYPED_TEST(Trail, FailuresAreCountedAndReportedByTheNextRecordWritten) {
  testing_support::FaultStore faults(this->store);
  datafiles::AuditTrail trail(faults, this->dir.path(), "PX01");
  const long before = datafiles::unreportedAuditFailures();
  ASSERT_EQ(trail.record(AuditEvent("SIGNON", "MEIER", 1)), datafiles::kOk);
  faults.fail("FXAU.DAT", testing_support::Op::kWrite, datafiles::kPermanentError, 2);
  EXPECT_EQ(trail.record(AuditEvent("CALL", "MEIER", 1)), datafiles::kPermanentError);
  EXPECT_EQ(trail.record(AuditEvent("RETURN", "MEIER", 1)), datafiles::kPermanentError);
  EXPECT_EQ(datafiles::unreportedAuditFailures(), before + 2);
  EXPECT_EQ(datafiles::lastAuditFailure(), datafiles::kPermanentError);
  ASSERT_EQ(trail.record(AuditEvent("SIGNOFF", "MEIER", 1)), datafiles::kOk);
  EXPECT_EQ(datafiles::unreportedAuditFailures(), 0);
  const auto e = this->events();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(encoding::getDigits(e[1].lost()), before + 2);
  // Another writer of the same process reports them too: the count is the
  // process's, not the trail's.
  faults.fail("FXAU.DAT", testing_support::Op::kOpen, datafiles::kFileLocked, 1);
  datafiles::AuditTrail other(faults, this->dir.path(), "PX07");
  EXPECT_EQ(other.record(AuditEvent("CATALOG", "MEIER", 1)), datafiles::kFileLocked);
  ASSERT_EQ(trail.record(AuditEvent("CALL", "MEIER", 1)), datafiles::kOk);
  EXPECT_EQ(encoding::view(this->events().back().lost()), "000001");
}

TYPED_TEST(Trail, SessionsAreLiveWhileHeldAndGoneWhenEnded) {
  std::vector<datafiles::SessionInfo> list;
  EXPECT_EQ(datafiles::listSessions(this->store, this->dir.path(), list, false),
            datafiles::kFileMissing);  // listing never creates the trail
  datafiles::LiveSession meier(this->store, this->dir.path()), helga(this->store, this->dir.path());
  ASSERT_EQ(meier.begin({"ws1", 100}, 1, "MEIER", at(2026, 12, 7, 8, 0, 0)), datafiles::kOk);
  ASSERT_EQ(helga.begin({"ws2", 200}, 2, "HELGA", at(2026, 12, 7, 9, 0, 0)), datafiles::kOk);
  ASSERT_EQ(datafiles::listSessions(this->store, this->dir.path(), list, true), datafiles::kOk);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].host, "ws1");
  EXPECT_EQ(list[0].pid, 100);
  EXPECT_EQ(list[0].client, 1);
  EXPECT_EQ(list[0].user, "MEIER");
  EXPECT_EQ(list[0].since, "20261207080000000000");
  EXPECT_TRUE(list[0].live);
  EXPECT_TRUE(list[1].live);
  meier.end();
  ASSERT_EQ(datafiles::listSessions(this->store, this->dir.path(), list, true), datafiles::kOk);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].user, "HELGA");
  // Events and sessions keep to their own key ranges.
  datafiles::AuditTrail trail(this->store, this->dir.path(), "PX01");
  ASSERT_EQ(trail.record(AuditEvent("CALL", "HELGA", 2)), datafiles::kOk);
  EXPECT_EQ(this->events().size(), 1u);
  ASSERT_EQ(datafiles::listSessions(this->store, this->dir.path(), list, true), datafiles::kOk);
  EXPECT_EQ(list.size(), 1u);
}

TYPED_TEST(Trail, RefusedPasswordsAreCountedPerUserUntilOneIsAccepted) {
  auto& s = this->store;
  const std::string d = this->dir.path();
  EXPECT_EQ(datafiles::signOnFailures(s, d, 1, "MEIER"), 0);
  EXPECT_EQ(datafiles::noteSignOnFailure(s, d, 1, "MEIER", at(2026, 1, 1, 0, 0, 0)), 1);
  EXPECT_EQ(datafiles::noteSignOnFailure(s, d, 1, "MEIER", at(2026, 1, 1, 0, 0, 1)), 2);
  EXPECT_EQ(datafiles::noteSignOnFailure(s, d, 2, "MEIER", at(2026, 1, 1, 0, 0, 1)), 1);
  EXPECT_EQ(datafiles::signOnFailures(s, d, 1, "MEIER"), 2);
  EXPECT_EQ(datafiles::signOnFailures(s, d, 1, "MEIERX"), 0);
  datafiles::clearSignOnFailures(s, d, 1, "MEIER");
  EXPECT_EQ(datafiles::signOnFailures(s, d, 1, "MEIER"), 0);
  EXPECT_EQ(datafiles::signOnFailures(s, d, 2, "MEIER"), 1);  // another client's user
  // Kept apart from the events and sessions.
  std::vector<datafiles::SessionInfo> list;
  ASSERT_EQ(datafiles::listSessions(s, d, list, true), datafiles::kOk);
  EXPECT_TRUE(list.empty());
  EXPECT_TRUE(this->events().empty());
}

// ---- the embedded store ---------------------------------------------------

class EmbeddedTrail : public Trail<datafiles::SqliteStore> {};

// Another workstation's write in progress (a unit that holds the file for
// writing) is not waited for: the record fails at once with 9/065 and is
// counted. The store's usual wait is 1.5 seconds; a record that waited would
// take at least that.
TEST_F(EmbeddedTrail, AWriteInProgressElsewhereIsNotWaitedFor) {
  ASSERT_EQ(store.create(datafiles::kAuditFile, dir.path()), datafiles::kOk);
  datafiles::SqliteStore other;
  auto unit = other.file(datafiles::kAuditFile, dir.path());
  ASSERT_EQ(unit->open(OpenMode::kInputOutput), datafiles::kOk);
  ASSERT_EQ(unit->begin(), datafiles::kOk);
  AuditRecord r;
  encoding::putRaw(r.time(), "20000101000000000000");
  ASSERT_EQ(unit->write(r.bytes()), datafiles::kOk);

  datafiles::AuditTrail trail(store, dir.path(), "PX01");
  const long before = datafiles::unreportedAuditFailures();
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(trail.record(AuditEvent("CALL", "MEIER", 1)), datafiles::kFileLocked);
  EXPECT_EQ(trail.record(AuditEvent("RETURN", "MEIER", 1)), datafiles::kFileLocked);
  EXPECT_LT(std::chrono::steady_clock::now() - t0,
            std::chrono::milliseconds(datafiles::SqliteStore::kBusyTimeoutMs));
  EXPECT_EQ(datafiles::unreportedAuditFailures(), before + 2);
  ASSERT_EQ(unit->commit(), datafiles::kOk);
  EXPECT_EQ(trail.record(AuditEvent("SIGNOFF", "MEIER", 1)), datafiles::kOk);
  EXPECT_EQ(encoding::getDigits(events().back().lost()), before + 2);

  // The connection goes back to the pool waiting as usual: a handle opened
  // on it later without asking waits for a writer again.
  trail.close();
  ASSERT_EQ(unit->begin(), datafiles::kOk);
  auto later = store.file(datafiles::kAuditFile, dir.path());
  ASSERT_EQ(later->open(OpenMode::kInputOutput), datafiles::kOk);
  const auto t1 = std::chrono::steady_clock::now();
  encoding::putRaw(r.time(), "20000101000000000001");
  EXPECT_EQ(later->write(r.bytes()), datafiles::kFileLocked);
  EXPECT_GE(std::chrono::steady_clock::now() - t1, 1000ms);
  ASSERT_EQ(unit->rollback(), datafiles::kOk);
}

TEST_F(EmbeddedTrail, ASessionKilledIsStaleAndRemovedByTheListing) {
  const std::string path = dir.path();
  testing_support::ForkedChild launcher([&](const std::function<void()>&) {
    datafiles::SqliteStore s;
    auto* session = new datafiles::LiveSession(s, path);  // held until killed
    return session->begin(datafiles::Workstation::current(), 1, "MEIER", at(2026, 1, 1, 0, 0, 0))
        .ok();
  });
  ASSERT_TRUE(launcher.ready());
  std::vector<datafiles::SessionInfo> list;
  ASSERT_EQ(datafiles::listSessions(store, path, list, true), datafiles::kOk);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_TRUE(list[0].live);
  EXPECT_EQ(list[0].host, datafiles::Workstation::current().host);
  EXPECT_NE(list[0].pid, static_cast<long>(::getpid()));
  launcher.kill();
  ASSERT_EQ(datafiles::listSessions(store, path, list, false), datafiles::kOk);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_FALSE(list[0].live);
  ASSERT_EQ(datafiles::listSessions(store, path, list, true), datafiles::kOk);
  ASSERT_EQ(list.size(), 1u);  // reported once more, as it is removed
  EXPECT_FALSE(list[0].live);
  ASSERT_EQ(datafiles::listSessions(store, path, list, true), datafiles::kOk);
  EXPECT_TRUE(list.empty());
}

// A process that dies leaves its record; the next process of the same
// number on the same host takes it over.
TEST_F(EmbeddedTrail, ARecordLeftUnderTheSameKeyIsTakenOver) {
  datafiles::SessionRecord left;
  encoding::putRaw(left.host(), "ws1");
  (void)encoding::putDigits(left.pid(), 100);
  encoding::putRaw(left.user(), "ALT");
  ASSERT_EQ(store.create(datafiles::kAuditFile, dir.path()), datafiles::kOk);
  {
    auto f = store.file(datafiles::kAuditFile, dir.path());
    ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
    ASSERT_EQ(f->write(left.bytes()), datafiles::kOk);
  }
  datafiles::LiveSession session(store, dir.path());
  ASSERT_EQ(session.begin({"ws1", 100}, 1, "NEU", at(2026, 1, 1, 0, 0, 0)), datafiles::kOk);
  std::vector<datafiles::SessionInfo> list;
  ASSERT_EQ(datafiles::listSessions(store, dir.path(), list, true), datafiles::kOk);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].user, "NEU");
  EXPECT_TRUE(list[0].live);
}

// A session holds its record for hours while the others write: the lock
// must not keep the log from being copied into the file and started again,
// or the log grows with every record written meanwhile.
TEST_F(EmbeddedTrail, AHeldSessionDoesNotKeepTheLogGrowing) {
  datafiles::LiveSession session(store, dir.path());
  ASSERT_EQ(session.begin({"ws1", 100}, 1, "MEIER", at(2026, 1, 1, 0, 0, 0)), datafiles::kOk);
  datafiles::SqliteStore other;
  datafiles::AuditTrail trail(other, dir.path(), "PX01");
  constexpr int kRecords = 3000;  // each its own commit of at least one 4 KiB page
  for (int i = 0; i < kRecords; ++i)
    ASSERT_EQ(trail.record(
                  AuditEvent("CALL", "HELGA", 1).withObject("PA64").withDetail(std::to_string(i))),
              datafiles::kOk);
  const auto log = std::filesystem::file_size(dir / "FXAU.DAT-wal");
  // Copied back and started again at about a thousand pages.
  EXPECT_LT(log, 1500u * 4120u) << log;
  std::vector<datafiles::SessionInfo> list;
  ASSERT_EQ(datafiles::listSessions(other, dir.path(), list, false), datafiles::kOk);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_TRUE(list[0].live);  // and the lock is still held
}

}  // namespace
