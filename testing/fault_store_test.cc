#include "testing/fault_store.h"

#include <gtest/gtest.h>

#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"
#include "testing/memory_store.h"
#include "testing/temp_dir.h"

namespace testing_support {
namespace {

// The same faults on the in-memory store and on the embedded store.
template <class Store>
class FaultStoreTest : public ::testing::Test {
 protected:
  TempDir dir{"px-faults"};
  Store inner;
  FaultStore store{inner, dir.path()};
};
using Stores = ::testing::Types<MemoryStore, datafiles::SqliteStore>;
TYPED_TEST_SUITE(FaultStoreTest, Stores);

TYPED_TEST(FaultStoreTest, FaultsFireAsOftenAsAskedAndOnlyOnTheirFileAndOperation) {
  FaultStore& store = this->store;
  ASSERT_TRUE(store.create(datafiles::kMenuFile).ok());
  ASSERT_TRUE(store.create(datafiles::kUserFile).ok());
  store.fail("FX01.DAT", Op::kOpen, datafiles::kFileLocked, 2);
  store.fail("FX01.DAT", Op::kWrite, datafiles::kTooManyLocks, -1);
  auto users = store.file(datafiles::kUserFile);
  EXPECT_TRUE(users->open(datafiles::OpenMode::kInputOutput).ok());  // another file
  auto menus = store.file(datafiles::kMenuFile);
  EXPECT_EQ(menus->open(datafiles::OpenMode::kInputOutput), datafiles::kFileLocked);
  EXPECT_EQ(menus->open(datafiles::OpenMode::kInputOutput), datafiles::kFileLocked);
  EXPECT_FALSE(menus->isOpen());  // a fault never reaches the file
  ASSERT_TRUE(menus->open(datafiles::OpenMode::kInputOutput).ok());
  datafiles::MenuRecord r;
  r.setKey(1, 1);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(menus->write(r.bytes()), datafiles::kTooManyLocks);
  EXPECT_EQ(menus->read(r.bytes()), datafiles::kNotFound);  // nothing was written
  EXPECT_TRUE(menus->rewrite(r.bytes()).invalidKey());      // other operations pass
  EXPECT_EQ(store.calls("FX01.DAT", Op::kOpen), 3);
  EXPECT_EQ(store.calls("FX01.DAT", Op::kWrite), 3);
  EXPECT_EQ(store.calls("FX00.DAT", Op::kOpen), 1);
  EXPECT_EQ(store.log().front(), "FX00 open");
  (void)menus->close();
  (void)users->close();
}

TYPED_TEST(FaultStoreTest, UnitsAndTheirFaultsPassThrough) {
  FaultStore& store = this->store;
  ASSERT_TRUE(store.create(datafiles::kMenuFile).ok());
  auto menus = store.file(datafiles::kMenuFile);
  ASSERT_TRUE(menus->open(datafiles::OpenMode::kInputOutput).ok());
  store.fail("FX01.DAT", Op::kCommit, datafiles::kFileLocked);
  ASSERT_TRUE(menus->begin().ok());
  datafiles::MenuRecord r;
  r.setKey(2, 2);
  ASSERT_TRUE(menus->write(r.bytes()).ok());
  EXPECT_EQ(menus->commit(), datafiles::kFileLocked);
  EXPECT_TRUE(menus->rollback().ok());
  EXPECT_EQ(menus->read(r.bytes()), datafiles::kNotFound);
  store.fail("FX01.DAT", Op::kUnlock, datafiles::kPermanentError);
  EXPECT_EQ(menus->unlock(), datafiles::kPermanentError);
  EXPECT_TRUE(menus->unlock().ok());
  EXPECT_EQ(store.calls("FX01.DAT", Op::kUnlock), 2);
  (void)menus->close();
}

}  // namespace
}  // namespace testing_support
