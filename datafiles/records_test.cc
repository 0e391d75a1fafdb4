#include "datafiles/records.h"

#include <gtest/gtest.h>

#include <random>

#include "datafiles/status.h"

namespace {

TEST(MenuRecord, ExampleEntryIsByteExact) {
  rec::MenuRecord r;
  encoding::zero(r.at<rec::MenuRecord::kVersionStamp>());
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
  rec::MenuRecord r;
  r.setKey(0, 0);
  r.at<rec::MenuRecord::kEntry>()[1] = 0x0F;
  EXPECT_TRUE(r.isHeader());
  r.setKey(0, 5);
  EXPECT_FALSE(r.isHeader());
}

TEST(UserRecord, SettingTheSignOnFlagKeepsEveryOtherByte) {
  rec::UserRecord r;
  std::mt19937 rng(7);
  for (char& c : r.bytes()) c = static_cast<char>(rng());
  const rec::UserRecord before = r;
  r.setSignOnFlag('J');
  for (std::size_t i = 0; i < rec::UserRecord::kSize; ++i)
    if (i != rec::UserRecord::kSignOnFlag.offset) {
      ASSERT_EQ(r.bytes()[i], before.bytes()[i]) << i;
    }
  EXPECT_EQ(r.signOnFlag(), 'J');
}

TEST(PermissionRecord, KeyEndsInABlank) {
  const auto k = rec::PermissionRecord::key(1, "MAIER", "PA64");
  EXPECT_EQ(std::string(k.data(), k.size()), std::string("\x00\x1C", 2) + "MAIER     PA64 ");
}

TEST(ControlRecord, LockFlagIsByte160) {
  rec::ControlRecord r;
  r.setLockFlag('J');
  EXPECT_EQ(r.bytes()[160], 'J');
  EXPECT_TRUE(r.locked());
  EXPECT_EQ(r.type(), '0');
}

TEST(FileStatus, PredicatesAndPrintableForm) {
  EXPECT_TRUE(fs::kOk.ok());
  EXPECT_TRUE(fs::kEndOfFile.atEnd());
  EXPECT_TRUE(fs::kDuplicateKey.invalidKey());
  EXPECT_FALSE(fs::kDuplicateKey.notFound());
  EXPECT_TRUE(fs::kNotFound.notFound());
  for (auto s : {fs::kFileLocked, fs::kRecordLocked, fs::kTooManyLocks}) EXPECT_TRUE(s.locked());
  for (auto s : {fs::kIndexDamaged, fs::kIndexMissing, fs::kAttributeMismatch})
    EXPECT_TRUE(s.needsReorganisation());
  EXPECT_FALSE(fs::FileStatus::handler(66).locked());
  EXPECT_EQ(fs::kFileLocked.toString(), "9/065");
  EXPECT_EQ(fs::kTooManyLocks.toString(), "9/213");
  EXPECT_EQ(fs::kNotFound.toString(), "23");
}

}  // namespace
