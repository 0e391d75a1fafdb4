#include "datafiles/records.h"

#include <gtest/gtest.h>

#include <random>

#include "datafiles/status.h"

namespace {

TEST(MenuRecord, ExampleEntryIsByteExact) {
  datafiles::MenuRecord r;
  encoding::zero(r.versionStampField());
  r.setKey(17, 10);
  r.setEntryFlag(' ');
  r.setText("Aufgabenliste");
  r.setProgram("PA64");
  r.setAccessClass('N');
  std::string expected("\x00\x0C\x01\x7C\x01\x0C", 6);
  expected += std::string(6, '\0') + " " + "Aufgabenliste" + std::string(27, ' ') + "PA64N";
  EXPECT_EQ(std::string(r.view()), expected);
}

TEST(MenuRecord, HeaderIsRecognisedWhateverTheSign) {
  datafiles::MenuRecord r;
  r.setKey(0, 0);
  r.entryField()[1] = 0x0F;
  EXPECT_TRUE(r.isHeader());
  r.setKey(0, 5);
  EXPECT_FALSE(r.isHeader());
}

TEST(UserRecord, SettingTheSignOnFlagKeepsEveryOtherByte) {
  datafiles::UserRecord r;
  std::mt19937 rng(7);
  for (char& c : r.bytes()) c = static_cast<char>(rng());
  const datafiles::UserRecord before = r;
  r.setSignOnFlag('J');
  for (std::size_t i = 0; i < datafiles::UserRecord::kSize; ++i)
    if (i != datafiles::UserRecord::kSignOnFlag.offset) {
      ASSERT_EQ(r.bytes()[i], before.bytes()[i]) << i;
    }
  EXPECT_EQ(r.signOnFlag(), 'J');
}

TEST(PermissionRecord, KeyEndsInABlank) {
  const auto k = datafiles::PermissionRecord::key(1, "MAIER", "PA64");
  EXPECT_EQ(std::string(k.data(), k.size()), std::string("\x00\x1C", 2) + "MAIER     PA64 ");
}

TEST(ControlRecord, LockFlagIsByte160) {
  datafiles::ControlRecord r;
  r.setLockFlag('J');
  EXPECT_EQ(r.bytes()[160], 'J');
  EXPECT_TRUE(r.locked());
  EXPECT_EQ(r.type(), '0');
}

TEST(FileStatus, PredicatesAndPrintableForm) {
  EXPECT_TRUE(datafiles::kOk.ok());
  EXPECT_TRUE(datafiles::kEndOfFile.atEnd());
  EXPECT_TRUE(datafiles::kDuplicateKey.invalidKey());
  EXPECT_FALSE(datafiles::kDuplicateKey.notFound());
  EXPECT_TRUE(datafiles::kNotFound.notFound());
  for (auto s : {datafiles::kFileLocked, datafiles::kRecordLocked, datafiles::kTooManyLocks})
    EXPECT_TRUE(s.locked());
  for (auto s : {datafiles::kIndexDamaged, datafiles::kIndexMissing, datafiles::kAttributeMismatch})
    EXPECT_TRUE(s.needsReorganisation());
  EXPECT_FALSE(datafiles::FileStatus::handler(66).locked());
  EXPECT_EQ(datafiles::kFileLocked.toString(), "9/065");
  EXPECT_EQ(datafiles::kTooManyLocks.toString(), "9/213");
  EXPECT_EQ(datafiles::kNotFound.toString(), "23");
}

}  // namespace
