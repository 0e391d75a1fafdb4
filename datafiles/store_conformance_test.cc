// The rules of the keyed file interface, the same on every store: the
// in-memory fake, the embedded store and the server store.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "datafiles/pg_store.h"
#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"
#include "testing/memory_store.h"
#include "testing/pg_fixture.h"
#include "testing/temp_dir.h"

namespace {

using datafiles::OpenMode;
using datafiles::StartMode;
using testing_support::TempDir;

datafiles::MenuRecord menu(int menuNo, int entry, std::string_view text = "x") {
  datafiles::MenuRecord r;
  r.setKey(menuNo, entry);
  r.setText(text);
  return r;
}

template <class Store>
struct StoreFixture {
  Store store;
  TempDir dir;
  std::unique_ptr<datafiles::KeyedFile> file(const datafiles::FileSpec& spec) {
    return store.file(spec, dir.path());
  }
  datafiles::FileStatus create(const datafiles::FileSpec& spec) {
    return store.create(spec, dir.path());
  }
};

template <>
struct StoreFixture<datafiles::PgStore> : testing_support::ServerFixture {
  StoreFixture() { EXPECT_TRUE(server.ok()) << server.error(); }
  std::unique_ptr<datafiles::KeyedFile> file(const datafiles::FileSpec& spec) {
    return store.file(spec);
  }
  datafiles::FileStatus create(const datafiles::FileSpec& spec) { return store.create(spec); }
};

template <class Store>
class Conformance : public ::testing::Test {
 protected:
  StoreFixture<Store> s;
};

using Stores =
    ::testing::Types<testing_support::MemoryStore, datafiles::SqliteStore, datafiles::PgStore>;
TYPED_TEST_SUITE(Conformance, Stores);

TYPED_TEST(Conformance, StatusesOfSingleHandle) {
  auto f = this->s.file(datafiles::kMenuFile);
  datafiles::MenuRecord r = menu(5, 10);
  EXPECT_EQ(f->open(OpenMode::kInput), datafiles::kFileMissing);
  EXPECT_EQ(f->read(r.bytes()), datafiles::kNotOpen);
  EXPECT_EQ(f->close(), datafiles::kNotOpen);
  ASSERT_EQ(this->s.create(datafiles::kMenuFile), datafiles::kOk);
  EXPECT_EQ(this->s.create(datafiles::kMenuFile), datafiles::kDuplicateKey);

  ASSERT_EQ(f->open(OpenMode::kInput), datafiles::kOk);
  EXPECT_EQ(f->open(OpenMode::kInput), datafiles::kAlreadyOpen);
  EXPECT_EQ(f->readNext(r.bytes()), datafiles::kNoPosition);
  EXPECT_EQ(f->write(r.bytes()), datafiles::kNotOpenForOutput);
  EXPECT_EQ(f->rewrite(r.bytes()), datafiles::kNotOpenForUpdate);
  EXPECT_EQ(f->remove(r.bytes()), datafiles::kNotOpenForUpdate);
  EXPECT_EQ(f->close(), datafiles::kOk);

  ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
  EXPECT_EQ(f->read(r.bytes()), datafiles::kNotFound);
  EXPECT_EQ(f->rewrite(r.bytes()), datafiles::kNotFound);
  EXPECT_EQ(f->remove(r.bytes()), datafiles::kNotFound);
  EXPECT_EQ(f->write(r.bytes()), datafiles::kOk);
  datafiles::MenuRecord other = menu(5, 10, "other");
  EXPECT_EQ(f->write(other.bytes()), datafiles::kDuplicateKey);
  datafiles::MenuRecord got = menu(5, 10, "");
  ASSERT_EQ(f->read(got.bytes()), datafiles::kOk);
  EXPECT_EQ(got.text(), "x");  // a failed write changes nothing
  EXPECT_EQ(f->rewrite(other.bytes()), datafiles::kOk);
  ASSERT_EQ(f->read(got.bytes()), datafiles::kOk);
  EXPECT_EQ(got.text(), "other");
  EXPECT_EQ(f->readNext(got.bytes()), datafiles::kEndOfFile);
  EXPECT_EQ(f->remove(r.bytes()), datafiles::kOk);
  EXPECT_EQ(f->read(got.bytes()), datafiles::kNotFound);
  EXPECT_EQ(f->readNext(got.bytes()), datafiles::kNoPosition);  // a failed read loses the position
  EXPECT_EQ(f->close(), datafiles::kOk);
}

TYPED_TEST(Conformance, KeyOrderIsUnsignedByteOrder) {
  ASSERT_EQ(this->s.create(datafiles::kMenuFile), datafiles::kOk);
  auto f = this->s.file(datafiles::kMenuFile);
  ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
  // Entries 0 (also as 00 0F, another sign), 9, 10, 99, 100, 280, 999 and
  // high bytes that a signed comparison would put first.
  std::vector<std::string> keys;
  for (int e : {280, 0, 999, 10, 100, 9, 99}) {
    auto k = datafiles::MenuRecord::key(1, e);
    keys.emplace_back(k.data(), k.size());
  }
  auto zeroF = datafiles::MenuRecord::key(1, 0);
  zeroF[5] = static_cast<char>(0x0F);
  keys.emplace_back(zeroF.data(), zeroF.size());
  keys.push_back(std::string("\x00\x0C\x01\x0C\x80\x0C", 6));
  keys.push_back(std::string("\x00\x0C\x01\x0C\xFF\x0C", 6));
  for (const auto& k : keys) {
    datafiles::MenuRecord r;
    std::copy(k.begin(), k.end(), r.data());
    ASSERT_EQ(f->write(r.bytes()), datafiles::kOk);
  }
  std::vector<std::string> sorted = keys;
  std::sort(sorted.begin(), sorted.end(), [](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    });
  });
  datafiles::MenuRecord r;
  r.setKey(1, 0);
  ASSERT_EQ(f->start(StartMode::kNotLessThan, r.bytes(), 6), datafiles::kOk);
  std::vector<std::string> seen;
  while (f->readNext(r.bytes()) == datafiles::kOk) seen.emplace_back(r.data(), 6);
  EXPECT_EQ(seen, sorted);
  EXPECT_EQ(datafiles::MenuRecord(r).entry(), std::nullopt);  // the 0xFF entry came last
}

TYPED_TEST(Conformance, StartModesAndPartialKeys) {
  ASSERT_EQ(this->s.create(datafiles::kMenuFile), datafiles::kOk);
  auto f = this->s.file(datafiles::kMenuFile);
  ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
  for (auto [m, e] : {std::pair{3, 10}, {3, 20}, {4, 10}, {6, 5}})
    ASSERT_EQ(f->write(menu(m, e).bytes()), datafiles::kOk);
  struct Case {
    StartMode mode;
    int menu, entry;
    std::size_t keyLength;
    datafiles::FileStatus status;
    int nextMenu, nextEntry;
  };
  const Case cases[] = {
      {StartMode::kNotLessThan, 3, 0, 6, datafiles::kOk, 3, 10},
      {StartMode::kNotLessThan, 3, 10, 6, datafiles::kOk, 3, 10},
      {StartMode::kNotLessThan, 6, 6, 6, datafiles::kNotFound, 0, 0},
      {StartMode::kEqual, 3, 20, 6, datafiles::kOk, 3, 20},
      {StartMode::kEqual, 3, 15, 6, datafiles::kNotFound, 0, 0},
      {StartMode::kGreaterThan, 3, 10, 6, datafiles::kOk, 3, 20},
      {StartMode::kGreaterThan, 6, 5, 6, datafiles::kNotFound, 0, 0},
      // Key length 4: menu set and menu number only.
      {StartMode::kEqual, 4, 999, 4, datafiles::kOk, 4, 10},
      {StartMode::kEqual, 5, 0, 4, datafiles::kNotFound, 0, 0},
      {StartMode::kGreaterThan, 3, 999, 4, datafiles::kOk, 4, 10},
      {StartMode::kNotLessThan, 5, 0, 4, datafiles::kOk, 6, 5},
      // A key length beyond the key counts as the whole key.
      {StartMode::kEqual, 4, 10, 99, datafiles::kOk, 4, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << static_cast<int>(c.mode) << " " << c.menu << "/" << c.entry
                                      << " len " << c.keyLength);
    datafiles::MenuRecord k = menu(c.menu, c.entry);
    EXPECT_EQ(f->start(c.mode, k.bytes(), c.keyLength), c.status);
    datafiles::MenuRecord r;
    if (c.status.ok()) {
      ASSERT_EQ(f->readNext(r.bytes()), datafiles::kOk);
      EXPECT_EQ(r.menu(), c.nextMenu);
      EXPECT_EQ(r.entry(), c.nextEntry);
    } else {
      EXPECT_EQ(f->readNext(r.bytes()), datafiles::kNoPosition);
    }
  }
}

TYPED_TEST(Conformance, ReadNextSeesWritesAfterPosition) {
  ASSERT_EQ(this->s.create(datafiles::kMenuFile), datafiles::kOk);
  auto f = this->s.file(datafiles::kMenuFile);
  auto g = this->s.file(datafiles::kMenuFile);
  ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
  ASSERT_EQ(g->open(OpenMode::kInput), datafiles::kOk);
  for (int e : {1, 2, 5}) ASSERT_EQ(f->write(menu(1, e).bytes()), datafiles::kOk);
  datafiles::MenuRecord r = menu(1, 0);
  ASSERT_EQ(g->start(StartMode::kNotLessThan, r.bytes(), 6), datafiles::kOk);
  ASSERT_EQ(g->readNext(r.bytes()), datafiles::kOk);
  EXPECT_EQ(r.entry(), 1);
  // Written by this handle between two read-nexts: the next read-next of
  // this handle takes up after the record it returned last.
  ASSERT_EQ(f->start(StartMode::kNotLessThan, r.bytes(), 6), datafiles::kOk);
  ASSERT_EQ(f->readNext(r.bytes()), datafiles::kOk);
  ASSERT_EQ(f->write(menu(1, 3).bytes()), datafiles::kOk);
  ASSERT_EQ(f->remove(menu(1, 2).bytes()), datafiles::kOk);
  ASSERT_EQ(f->readNext(r.bytes()), datafiles::kOk);
  EXPECT_EQ(r.entry(), 3);
  ASSERT_EQ(f->readNext(r.bytes()), datafiles::kOk);
  EXPECT_EQ(r.entry(), 5);
  EXPECT_EQ(f->readNext(r.bytes()), datafiles::kEndOfFile);
  ASSERT_EQ(f->write(menu(1, 6).bytes()), datafiles::kOk);
  ASSERT_EQ(f->readNext(r.bytes()), datafiles::kOk);  // end is not final
  EXPECT_EQ(r.entry(), 6);
}

TYPED_TEST(Conformance, RollbackUndoesTheUnitCommitKeepsIt) {
  ASSERT_EQ(this->s.create(datafiles::kMenuFile), datafiles::kOk);
  auto f = this->s.file(datafiles::kMenuFile);
  ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
  ASSERT_EQ(f->write(menu(1, 1, "before").bytes()), datafiles::kOk);
  ASSERT_EQ(f->begin(), datafiles::kOk);
  EXPECT_EQ(f->write(menu(1, 2).bytes()), datafiles::kOk);
  EXPECT_EQ(f->rewrite(menu(1, 1, "inside").bytes()), datafiles::kOk);
  datafiles::MenuRecord r = menu(1, 2);
  EXPECT_EQ(f->read(r.bytes()), datafiles::kOk);  // the unit sees its own work
  EXPECT_EQ(f->rollback(), datafiles::kOk);
  EXPECT_EQ(f->read(r.bytes()), datafiles::kNotFound);
  r = menu(1, 1);
  ASSERT_EQ(f->read(r.bytes()), datafiles::kOk);
  EXPECT_EQ(r.text(), "before");
  ASSERT_EQ(f->begin(), datafiles::kOk);
  EXPECT_EQ(f->write(menu(1, 3).bytes()), datafiles::kOk);
  EXPECT_EQ(f->commit(), datafiles::kOk);
  ASSERT_EQ(f->close(), datafiles::kOk);
  ASSERT_EQ(f->open(OpenMode::kInput), datafiles::kOk);
  r = menu(1, 3);
  EXPECT_EQ(f->read(r.bytes()), datafiles::kOk);
  EXPECT_EQ(f->begin(), datafiles::kNotOpenForOutput);
}

// Inside a unit the server store decides writes from the key set it read
// once and sends them later: every status must still be the one a write
// sent at once would get.
TYPED_TEST(Conformance, StatusesInsideAUnit) {
  ASSERT_EQ(this->s.create(datafiles::kMenuFile), datafiles::kOk);
  auto f = this->s.file(datafiles::kMenuFile);
  ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
  ASSERT_EQ(f->write(menu(1, 1, "old").bytes()), datafiles::kOk);
  ASSERT_EQ(f->write(menu(1, 5, "old").bytes()), datafiles::kOk);
  ASSERT_EQ(f->begin(), datafiles::kOk);
  EXPECT_EQ(f->write(menu(1, 1, "dup").bytes()), datafiles::kDuplicateKey);  // committed before
  EXPECT_EQ(f->write(menu(1, 2, "new").bytes()), datafiles::kOk);
  EXPECT_EQ(f->write(menu(1, 2, "dup").bytes()), datafiles::kDuplicateKey);  // written in the unit
  EXPECT_EQ(f->rewrite(menu(1, 2, "changed").bytes()), datafiles::kOk);      // not sent yet
  EXPECT_EQ(f->rewrite(menu(1, 3, "none").bytes()), datafiles::kNotFound);
  EXPECT_EQ(f->remove(menu(1, 5).bytes()), datafiles::kOk);
  EXPECT_EQ(f->remove(menu(1, 5).bytes()), datafiles::kNotFound);
  EXPECT_EQ(f->write(menu(1, 5, "again").bytes()), datafiles::kOk);  // removed, so new again
  EXPECT_EQ(f->remove(menu(1, 2).bytes()), datafiles::kOk);
  EXPECT_EQ(f->write(menu(1, 4, "new").bytes()), datafiles::kOk);
  datafiles::MenuRecord r = menu(1, 2);
  EXPECT_EQ(f->read(r.bytes()), datafiles::kNotFound);
  r = menu(1, 0);
  ASSERT_EQ(f->start(StartMode::kNotLessThan, r.bytes(), 6), datafiles::kOk);
  std::vector<std::string> seen;
  while (f->readNext(r.bytes()).ok()) seen.push_back(std::to_string(*r.entry()) + " " + r.text());
  EXPECT_EQ(seen, (std::vector<std::string>{"1 old", "4 new", "5 again"}));
  ASSERT_EQ(f->write(menu(1, 6, "late").bytes()), datafiles::kOk);
  EXPECT_EQ(f->commit(), datafiles::kOk);
  auto g = this->s.file(datafiles::kMenuFile);
  ASSERT_EQ(g->open(OpenMode::kInput), datafiles::kOk);
  r = menu(1, 0);
  ASSERT_EQ(g->start(StartMode::kNotLessThan, r.bytes(), 6), datafiles::kOk);
  seen.clear();
  while (g->readNext(r.bytes()).ok()) seen.push_back(std::to_string(*r.entry()) + " " + r.text());
  EXPECT_EQ(seen, (std::vector<std::string>{"1 old", "4 new", "5 again", "6 late"}));
}

// Inside a unit every record read, rewritten or deleted stays locked until
// commit or rollback: the changes are not visible before, so another handle
// must not read the old record for update and overwrite the unit's change.
TYPED_TEST(Conformance, RecordsOfAUnitStayLockedUntilItEnds) {
  ASSERT_EQ(this->s.create(datafiles::kMenuFile), datafiles::kOk);
  auto unit = this->s.file(datafiles::kMenuFile), other = this->s.file(datafiles::kMenuFile),
       in = this->s.file(datafiles::kMenuFile);
  ASSERT_EQ(unit->open(OpenMode::kInputOutput), datafiles::kOk);
  ASSERT_EQ(other->open(OpenMode::kInputOutput), datafiles::kOk);
  ASSERT_EQ(in->open(OpenMode::kInput), datafiles::kOk);
  for (int e = 1; e <= 5; ++e) ASSERT_EQ(unit->write(menu(1, e, "old").bytes()), datafiles::kOk);
  auto readBy = [](datafiles::KeyedFile& f, int e, std::string* text = nullptr) {
    datafiles::MenuRecord r = menu(1, e);
    const datafiles::FileStatus s = f.read(r.bytes());
    if (text != nullptr) *text = r.text();
    return s;
  };

  ASSERT_EQ(unit->begin(), datafiles::kOk);
  ASSERT_EQ(readBy(*unit, 1), datafiles::kOk);
  ASSERT_EQ(unit->rewrite(menu(1, 1, "unit").bytes()), datafiles::kOk);
  ASSERT_EQ(readBy(*unit, 2), datafiles::kOk);  // read only
  ASSERT_EQ(unit->remove(menu(1, 3).bytes()), datafiles::kOk);
  ASSERT_EQ(unit->rewrite(menu(1, 4, "unit").bytes()), datafiles::kOk);  // without a read
  ASSERT_EQ(readBy(*unit, 3), datafiles::kNotFound);  // its own delete; the lock stays
  ASSERT_EQ(readBy(*unit, 9), datafiles::kNotFound);  // no record: no lock kept
  datafiles::MenuRecord r = menu(1, 0);
  ASSERT_EQ(unit->start(StartMode::kNotLessThan, r.bytes(), 6), datafiles::kOk);  // more operations

  for (int e : {1, 2, 3, 4}) {
    SCOPED_TRACE(e);
    EXPECT_EQ(readBy(*other, e), datafiles::kRecordLocked);
    EXPECT_EQ(other->rewrite(menu(1, e, "other").bytes()), datafiles::kRecordLocked);
    EXPECT_EQ(other->remove(menu(1, e).bytes()), datafiles::kRecordLocked);
  }
  EXPECT_EQ(readBy(*other, 9), datafiles::kNotFound);
  EXPECT_EQ(readBy(*other, 5), datafiles::kOk);
  std::string text;
  ASSERT_EQ(readBy(*in, 1, &text), datafiles::kOk);  // input handles see the committed record
  EXPECT_EQ(text, "old");
  ASSERT_EQ(unit->commit(), datafiles::kOk);

  ASSERT_EQ(readBy(*other, 1, &text), datafiles::kOk);
  EXPECT_EQ(text, "unit");
  EXPECT_EQ(readBy(*other, 3), datafiles::kNotFound);
  ASSERT_EQ(readBy(*other, 4, &text), datafiles::kOk);
  EXPECT_EQ(text, "unit");

  // A rollback lets go as well, and the record is as it was.
  ASSERT_EQ(other->rewrite(menu(1, 2, "x").bytes()), datafiles::kOk);
  ASSERT_EQ(unit->begin(), datafiles::kOk);
  ASSERT_EQ(unit->rewrite(menu(1, 2, "unit").bytes()), datafiles::kOk);
  EXPECT_EQ(readBy(*other, 2), datafiles::kRecordLocked);
  ASSERT_EQ(unit->rollback(), datafiles::kOk);
  ASSERT_EQ(readBy(*other, 2, &text), datafiles::kOk);
  EXPECT_EQ(text, "x");
  // Outside a unit a lock ends with the holder's next operation.
  EXPECT_EQ(readBy(*unit, 2), datafiles::kRecordLocked);
  ASSERT_EQ(other->start(StartMode::kNotLessThan, r.bytes(), 6), datafiles::kOk);
  EXPECT_EQ(readBy(*unit, 2), datafiles::kOk);
  // A handle closed inside its unit lets go of everything.
  ASSERT_EQ(unit->begin(), datafiles::kOk);
  ASSERT_EQ(unit->rewrite(menu(1, 5, "unit").bytes()), datafiles::kOk);
  ASSERT_EQ(unit->close(), datafiles::kOk);
  ASSERT_EQ(readBy(*other, 5, &text), datafiles::kOk);
  EXPECT_EQ(text, "old");
}

// A record read for update is held against every other handle until the
// holder's next operation (or close); input handles read it regardless.
TYPED_TEST(Conformance, RecordReadForUpdateIsLockedAgainstOtherHandles) {
  ASSERT_EQ(this->s.create(datafiles::kMenuFile), datafiles::kOk);
  {
    auto f = this->s.file(datafiles::kMenuFile);
    ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
    for (int e = 1; e <= 3; ++e) ASSERT_EQ(f->write(menu(1, e, "old").bytes()), datafiles::kOk);
  }
  auto a = this->s.file(datafiles::kMenuFile), b = this->s.file(datafiles::kMenuFile),
       in = this->s.file(datafiles::kMenuFile);
  ASSERT_EQ(a->open(OpenMode::kInputOutput), datafiles::kOk);
  ASSERT_EQ(b->open(OpenMode::kInputOutput), datafiles::kOk);
  ASSERT_EQ(in->open(OpenMode::kInput), datafiles::kOk);
  datafiles::MenuRecord r = menu(1, 2);
  ASSERT_EQ(a->read(r.bytes()), datafiles::kOk);  // a holds 1/2

  struct Case {
    const char* what;
    std::function<datafiles::FileStatus()> op;
    datafiles::FileStatus status;
  };
  datafiles::MenuRecord buf;
  const Case cases[] = {
      {"read",
       [&] {
         buf = menu(1, 2);
         return b->read(buf.bytes());
       },
       datafiles::kRecordLocked},
      {"rewrite", [&] { return b->rewrite(menu(1, 2, "new").bytes()); }, datafiles::kRecordLocked},
      {"delete", [&] { return b->remove(menu(1, 2).bytes()); }, datafiles::kRecordLocked},
      {"read of another record",
       [&] {
         buf = menu(1, 3);
         return b->read(buf.bytes());
       },
       datafiles::kOk},
      {"read-next onto it",
       [&] {
         buf = menu(1, 1);
         (void)b->start(StartMode::kNotLessThan, buf.bytes(), 6);
         (void)b->readNext(buf.bytes());
         return b->readNext(buf.bytes());
       },
       datafiles::kRecordLocked},
      {"input handle read",
       [&] {
         buf = menu(1, 2);
         return in->read(buf.bytes());
       },
       datafiles::kOk},
      {"input handle read-next",
       [&] {
         buf = menu(1, 2);
         (void)in->start(StartMode::kEqual, buf.bytes(), 6);
         return in->readNext(buf.bytes());
       },
       datafiles::kOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.op(), c.status);
  }
  // The locked read-next did not move on: once a lets go, b gets 1/2.
  r = menu(1, 3);
  ASSERT_EQ(a->read(r.bytes()), datafiles::kOk);  // a's next operation: now a holds 1/3
  ASSERT_EQ(b->readNext(buf.bytes()), datafiles::kOk);
  EXPECT_EQ(buf.entry(), 2);
  EXPECT_EQ(b->rewrite(menu(1, 2, "new").bytes()), datafiles::kOk);
  EXPECT_EQ(b->rewrite(menu(1, 3, "new").bytes()), datafiles::kRecordLocked);
  ASSERT_EQ(a->close(), datafiles::kOk);  // close lets go too
  EXPECT_EQ(b->rewrite(menu(1, 3, "new").bytes()), datafiles::kOk);
  // The holder itself may change what it read.
  r = menu(1, 1);
  ASSERT_EQ(b->read(r.bytes()), datafiles::kOk);
  EXPECT_EQ(b->rewrite(menu(1, 1, "own").bytes()), datafiles::kOk);
  // And after the change the record is free for others.
  ASSERT_EQ(a->open(OpenMode::kInputOutput), datafiles::kOk);
  r = menu(1, 1);
  EXPECT_EQ(a->read(r.bytes()), datafiles::kOk);
  EXPECT_EQ(r.text(), "own");
  // A read of a record that does not exist holds nothing.
  r = menu(9, 9);
  EXPECT_EQ(a->read(r.bytes()), datafiles::kNotFound);
  EXPECT_EQ(b->read(r.bytes()), datafiles::kNotFound);
  // Any other operation of the holder lets go as well.
  r = menu(1, 3);
  ASSERT_EQ(a->read(r.bytes()), datafiles::kOk);
  EXPECT_EQ(b->read(r.bytes()), datafiles::kRecordLocked);
  datafiles::MenuRecord k = menu(1, 0);
  ASSERT_EQ(a->start(StartMode::kNotLessThan, k.bytes(), 6), datafiles::kOk);
  EXPECT_EQ(b->read(r.bytes()), datafiles::kOk);
  ASSERT_EQ(b->close(), datafiles::kOk);
  ASSERT_EQ(b->open(OpenMode::kInputOutput), datafiles::kOk);
  for (auto endsIt : std::initializer_list<std::function<datafiles::FileStatus()>>{
           [&] { return a->commit(); },  // no unit: still an operation
           [&] {
             datafiles::MenuRecord sh = menu(1, 0);
             return a->read({sh.data(), 3});
           },
           [&] {
             buf = menu(1, 3);
             return a->readNext(buf.bytes());
           }}) {
    r = menu(1, 3);
    ASSERT_EQ(a->read(r.bytes()), datafiles::kOk);
    ASSERT_EQ(b->read(r.bytes()), datafiles::kRecordLocked);
    (void)endsIt();
    EXPECT_EQ(b->read(r.bytes()), datafiles::kOk);
    ASSERT_EQ(b->start(StartMode::kNotLessThan, k.bytes(), 6), datafiles::kOk);  // b lets go
  }
}

TYPED_TEST(Conformance, ExclusiveOpenExcludesTheOthers) {
  ASSERT_EQ(this->s.create(datafiles::kMenuFile), datafiles::kOk);
  auto a = this->s.file(datafiles::kMenuFile), x = this->s.file(datafiles::kMenuFile);
  ASSERT_EQ(a->open(OpenMode::kInput), datafiles::kOk);
  EXPECT_EQ(x->open(OpenMode::kExclusive), datafiles::kFileLocked);
  ASSERT_EQ(a->close(), datafiles::kOk);
  ASSERT_EQ(x->open(OpenMode::kExclusive), datafiles::kOk);
  EXPECT_EQ(a->open(OpenMode::kInputOutput), datafiles::kFileLocked);
  x.reset();  // a handle that goes away closes
  EXPECT_EQ(a->open(OpenMode::kInputOutput), datafiles::kOk);
}

TYPED_TEST(Conformance, UnlockKeepsThePosition) {
  auto f = this->s.file(datafiles::kMenuFile);
  EXPECT_EQ(f->unlock(), datafiles::kNotOpen);
  ASSERT_EQ(this->s.create(datafiles::kMenuFile), datafiles::kOk);
  ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
  for (int e = 1; e <= 3; ++e) ASSERT_EQ(f->write(menu(1, e).bytes()), datafiles::kOk);
  datafiles::MenuRecord r = menu(1, 2);
  ASSERT_EQ(f->read(r.bytes()), datafiles::kOk);
  EXPECT_EQ(f->unlock(), datafiles::kOk);
  EXPECT_EQ(f->unlock(), datafiles::kOk);  // nothing held: still fine
  ASSERT_EQ(f->readNext(r.bytes()), datafiles::kOk);
  EXPECT_EQ(r.entry(), 3);
}

TYPED_TEST(Conformance, UnlockLetsGoOutsideAUnitOnly) {
  ASSERT_EQ(this->s.create(datafiles::kMenuFile), datafiles::kOk);
  auto a = this->s.file(datafiles::kMenuFile), b = this->s.file(datafiles::kMenuFile);
  ASSERT_EQ(a->open(OpenMode::kInputOutput), datafiles::kOk);
  ASSERT_EQ(b->open(OpenMode::kInputOutput), datafiles::kOk);
  for (int e = 1; e <= 3; ++e) ASSERT_EQ(a->write(menu(1, e).bytes()), datafiles::kOk);
  datafiles::MenuRecord r = menu(1, 2), other = menu(1, 2);
  ASSERT_EQ(a->read(r.bytes()), datafiles::kOk);
  ASSERT_EQ(b->read(other.bytes()), datafiles::kRecordLocked);
  ASSERT_EQ(a->unlock(), datafiles::kOk);
  ASSERT_EQ(b->read(other.bytes()), datafiles::kOk);  // b holds it now
  EXPECT_EQ(a->rewrite(menu(1, 2, "a").bytes()), datafiles::kRecordLocked);
  ASSERT_EQ(b->unlock(), datafiles::kOk);
  // Inside a unit the lock outlives UNLOCK: the unit may have changed it.
  ASSERT_EQ(a->begin(), datafiles::kOk);
  ASSERT_EQ(a->read(r.bytes()), datafiles::kOk);
  ASSERT_EQ(a->unlock(), datafiles::kOk);
  EXPECT_EQ(b->read(other.bytes()), datafiles::kRecordLocked);
  ASSERT_EQ(a->commit(), datafiles::kOk);
  EXPECT_EQ(b->read(other.bytes()), datafiles::kOk);
}

}  // namespace
