// The permission step on its own: the record it writes, byte for byte, and the
// scan's handling of a U001 that cannot be loaded.
#include "catalogue/permissions.h"

#include <gtest/gtest.h>

#include "datafiles/records.h"
#include "testing/fake_program_loader.h"
#include "testing/memory_store.h"

namespace catalogue {
namespace {

using testing_support::FakeProgramLoader;
using testing_support::MemoryStore;

TEST(Permissions, RecordBytesAndExistingKeysKept) {
  MemoryStore store;
  ASSERT_TRUE(store.create(datafiles::kPermissionFile).ok());
  auto file = store.file(datafiles::kPermissionFile);
  ASSERT_TRUE(file->open(datafiles::OpenMode::kInputOutput).ok());
  const std::vector<UserName> users = {{'A', 'N', 'N', 'A', ' ', ' ', ' ', ' ', ' ', ' '},
                                       {'B', 'E', 'R', 'T', ' ', ' ', ' ', ' ', ' ', ' '}};
  const std::array<char, 4> pv30{'P', 'V', '3', '0'};
  const std::array<char, 6> date{'2', '6', '1', '2', '0', '7'};
  EXPECT_EQ(grantToAll(*file, users, 280, pv30, date, 'J'), 2);
  // The same program again (another entry calling PV30): nothing changes.
  EXPECT_EQ(grantToAll(*file, users, 280, pv30, date, 'N'), 0);
  const auto& recs = store.contents("FX02.DAT").records;
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs.begin()->second, std::string("\x28\x0C" "ANNA      PV30 2612071J          ", 35));
}

TEST(Permissions, UndecodableNamesAreLeftOut) {
  MemoryStore store;
  ASSERT_TRUE(store.create(datafiles::kUserFile).ok());
  datafiles::UserRecord u;
  u.setClient(1);
  u.setEncodedName("XYZ");
  u.setUserClass('N');
  store.put("FX00.DAT", u.view());
  auto file = store.file(datafiles::kUserFile);
  ASSERT_TRUE(file->open(datafiles::OpenMode::kInputOutput).ok());
  FakeProgramLoader loader;  // no U001
  NormalUsers users;
  datafiles::RetryTimes noRetry(0, {});
  users.build(*file, 1, loader, noRetry);
  EXPECT_TRUE(users.built());
  EXPECT_TRUE(users.names().empty());
  EXPECT_EQ(loader.events(), std::vector<std::string>{"call U001"});  // no unload
}

}  // namespace
}  // namespace catalogue
