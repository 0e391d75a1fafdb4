#include "testing/memory_store.h"

#include <gtest/gtest.h>

#include "datafiles/records.h"

namespace {

using testing_support::MemoryStore;

TEST(MemoryStore, StatusRulesAndKeyOrder) {
  MemoryStore store;
  auto f = store.file(datafiles::kMenuFile);
  EXPECT_EQ(f->open(datafiles::OpenMode::kInput), datafiles::kFileMissing);
  ASSERT_TRUE(store.create(datafiles::kMenuFile).ok());
  ASSERT_TRUE(f->open(datafiles::OpenMode::kInputOutput).ok());
  for (int e : {30, 10, 20}) {
    datafiles::MenuRecord r;
    r.setKey(5, e);
    EXPECT_TRUE(f->write(r.bytes()).ok());
    EXPECT_EQ(f->write(r.bytes()), datafiles::kDuplicateKey);
  }
  datafiles::MenuRecord k;
  k.setKey(5, 0);
  ASSERT_TRUE(f->start(datafiles::StartMode::kNotLessThan, k.bytes(), 6).ok());
  std::vector<int> seen;
  datafiles::MenuRecord r;
  while (f->readNext(r.bytes()).ok()) seen.push_back(*r.entry());
  EXPECT_EQ(seen, (std::vector<int>{10, 20, 30}));
  EXPECT_TRUE(f->readNext(r.bytes()).atEnd());
  k.setKey(5, 11);
  EXPECT_EQ(f->start(datafiles::StartMode::kEqual, k.bytes(), 6), datafiles::kNotFound);
  EXPECT_EQ(f->read(k.bytes()), datafiles::kNotFound);
}

}  // namespace

#include "testing/fake_program_loader.h"
#include "testing/fake_screen_set.h"

namespace {

TEST(FakeScreenSet, AnswersInOrderAndRecordsCalls) {
  testing_support::FakeScreenSet screen;
  screen.select(3).reply("BOX-FRAGE", 'J');
  pxabi::ScreenControlBlock c;
  std::vector<char> data(pxabi::kScreenDataSize, ' ');
  std::span<char, pxabi::kScreenDataSize> d(data.data(), data.size());
  c.setProcedure("BOX-FRAGE");
  screen.call(c, d);  // the front answer is for NEUSTART: no reply
  using SDB = pxabi::ScreenDataBlock;
  EXPECT_EQ(data[SDB::kReply.offset], ' ');
  c.setProcedure("NEUSTART");
  screen.call(c, d);
  EXPECT_EQ(encoding::getBigEndian(d.subspan(SDB::kEventCode.offset, SDB::kEventCode.width)), 48u);
  EXPECT_EQ(std::string(data.data() + SDB::kChosenRow.offset, 4), "0003");
  c.setProcedure("BOX-FRAGE");
  screen.call(c, d);
  EXPECT_EQ(data[SDB::kReply.offset], 'J');
  EXPECT_EQ(screen.procedures(), (std::vector<std::string>{"BOX-FRAGE", "NEUSTART", "BOX-FRAGE"}));
}

TEST(FakeProgramLoader, CountsFreshLoads) {
  testing_support::FakeProgramLoader loader;
  loader.add("U001", [](void*, void*) { return 7; });
  EXPECT_EQ(loader.call("U001      ", nullptr).returnCode, 7);
  loader.call("U001", nullptr);
  EXPECT_EQ(loader.loads("U001"), 1);
  loader.unload("U001");
  loader.call("U001", nullptr);
  EXPECT_EQ(loader.loads("U001"), 2);
  EXPECT_FALSE(loader.call("PX99", nullptr).loaded);
}

}  // namespace
