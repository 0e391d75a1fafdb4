// U001, U007, U009, UX01L, UT00S and PX00P on their logic, with an in-memory
// store and temporary directories.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "abi/utility_blocks.h"
#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"
#include "programs/backup.h"
#include "programs/installation.h"
#include "programs/settings_store.h"
#include "programs/title.h"
#include "programs/user_name_code.h"
#include "testing/fault_store.h"
#include "testing/memory_store.h"
#include "testing/store_contents.h"
#include "testing/temp_dir.h"

namespace {

namespace un = programs::user_name;
using testing_support::MemoryStore;

std::array<char, 10> ten(std::string_view s) {
  std::array<char, 10> a;
  a.fill(' ');
  std::copy_n(s.begin(), std::min<std::size_t>(s.size(), 10), a.begin());
  return a;
}
bool printable(unsigned char b) { return (b >= 0x20 && b <= 0x7E) || b >= 0x80; }

using testing_support::TempDir;

TEST(UserNameCode, RoundTripsNamedAndRandomNames) {
  std::vector<std::array<char, 10>> names;
  for (std::string_view n : {"ANNA", "", "M\x81LLER", "\x8E\x99\x9A\xE1\x84\x94\x81", "A",
                             "ZZZZZZZZZZ", "~~~~~~~~~~", "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"})
    names.push_back(ten(n));
  std::mt19937 random(42);
  for (int i = 0; i < 20000; ++i) {
    std::array<char, 10> n;
    for (char& c : n) c = static_cast<char>(random() & 0xFF);  // any byte, controls included
    names.push_back(n);
  }
  for (const auto& plain : names) {
    const auto encoded = un::encode(plain);
    EXPECT_EQ(un::decode(encoded), plain);
    EXPECT_EQ(un::encode(plain), encoded);  // deterministic
    for (std::size_t i = 0; i < 10; ++i)
      EXPECT_EQ(printable(encoded[i]), printable(plain[i])) << i;
  }
}

TEST(UserNameCode, EncodesRatherThanCopiesAndBlockKeepsItsTail) {
  EXPECT_NE(un::encode(ten("ANNA")), ten("ANNA"));
  EXPECT_NE(un::encode(ten("AAAA")), un::encode(ten("AAAB")));
  pxabi::UserNameBlock block;
  std::fill(block.bytes().begin(), block.bytes().end(), '#');
  block.setFunction(pxabi::UserNameBlock::kEncode);
  encoding::putRaw(block.name(), "BERND");
  ASSERT_TRUE(un::apply(block));
  EXPECT_EQ(block.view().substr(pxabi::UserNameBlock::kRest.offset), std::string(30, '#'));
  block.setFunction(pxabi::UserNameBlock::kDecode);
  ASSERT_TRUE(un::apply(block));
  EXPECT_EQ(encoding::view(block.name()), "BERND     ");
  block.setFunction('X');
  const auto before = block;
  EXPECT_FALSE(un::apply(block));
  EXPECT_EQ(block, before);
}

TEST(WindowTitle, CentresInTheGivenLength) {
  struct Case {
    std::string text;
    std::uint16_t length;
    std::string want;  // first `length` characters
  };
  const Case cases[] = {
      {"Aufgabenliste", 40, std::string(13, ' ') + "Aufgabenliste" + std::string(14, ' ')},
      {"   links", 10, "  links   "},
      {std::string(50, 'x'), 40, std::string(40, 'x')},
      {"", 40, std::string(40, ' ')},
      {"ab", 0, ""},
      {"ab", 500, std::string(49, ' ') + "ab" + std::string(49, ' ')},  // at most 100
  };
  for (const auto& c : cases) {
    pxabi::TitleBlock block;
    block.setFunction(pxabi::TitleBlock::kCentre);
    block.setLength(c.length);
    encoding::putRaw(block.text(), c.text);
    ASSERT_TRUE(programs::title::apply(block));
    const std::string text(encoding::view(block.text()));
    EXPECT_EQ(text.substr(0, c.want.size()), c.want) << c.text;
    EXPECT_EQ(text.find_first_not_of(' ', c.want.size()), std::string::npos) << c.text;
  }
}

pxabi::SettingsBlock settingsBlock(char fn, std::string_view ident, std::string_view client) {
  pxabi::SettingsBlock b;
  b.setFunction(fn);
  encoding::putRaw(b.identification(), ident);
  encoding::putRaw(b.client(), client);
  encoding::putRaw(b.module(), "PX01");
  return b;
}
std::string menuValue(const pxabi::SettingsBlock& b) {
  return std::string(encoding::view(b.menuValue()));
}
std::string checkValue(const pxabi::SettingsBlock& b) {
  return std::string(encoding::view(b.checkValue()));
}
void setValues(pxabi::SettingsBlock& b, std::string_view menu, std::string_view check) {
  encoding::putRaw(b.menuValue(), menu);
  encoding::putRaw(b.checkValue(), check);
}

TEST(SettingsStore, KeepsValuesPerKey) {
  const TempDir temp("px-settings");
  const std::string& dir = temp.path();
  const programs::SettingsStore store(dir + "/px01");
  struct Key {
    std::string ident, client, menu, check;
  };
  const Key keys[] = {{"GILDAX", "000", "20240101", "11111111"},
                      {"GILDAX", "001", "20240202", "22222222"},
                      {"OTHER ", "000", "20240303", "33333333"},
                      {"../x/.", "000", "20240404", "44444444"}};  // no path from a key
  for (const auto& k : keys) {
    auto b = settingsBlock('S', k.ident, k.client);
    setValues(b, k.menu, k.check);
    b.stored().back() = 'Z';  // bytes of the stored part beyond the two values survive too
    ASSERT_TRUE(store.apply(b)) << k.ident;
  }
  for (const auto& k : keys) {
    auto b = settingsBlock('L', k.ident, k.client);
    ASSERT_TRUE(store.apply(b)) << k.ident;
    EXPECT_EQ(menuValue(b), k.menu);
    EXPECT_EQ(checkValue(b), k.check);
    EXPECT_EQ(b.stored().back(), 'Z');
  }
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    EXPECT_EQ(entry.path().filename(), "px01");  // every file inside the store's directory
  auto fresh = settingsBlock('L', "NEW   ", "007");
  setValues(fresh, "99999999", "99999999");
  EXPECT_FALSE(store.apply(fresh));
  EXPECT_EQ(menuValue(fresh), std::string(8, ' '));
  EXPECT_EQ(checkValue(fresh), std::string(8, ' '));
  auto unknown = settingsBlock('X', "GILDAX", "000");
  EXPECT_FALSE(store.apply(unknown));
}

TEST(SettingsStore, CrashDuringSaveLeavesTheOldValues) {
  const TempDir temp("px-crash");
  const std::string& dir = temp.path();
  const programs::SettingsStore store(dir);
  auto b = settingsBlock('S', "GILDAX", "000");
  setValues(b, "20240101", "11111111");
  ASSERT_TRUE(store.apply(b));
  const std::string file = store.fileFor(b);
  // A save that died before its rename: a half-written temporary file.
  { std::ofstream(file + ".tmp.99999") << "PXSET01\n2025"; }
  auto l = settingsBlock('L', "GILDAX", "000");
  ASSERT_TRUE(store.apply(l));
  EXPECT_EQ(menuValue(l), "20240101");
  // The next save still works and wins.
  setValues(b, "20250505", "55555555");
  ASSERT_TRUE(store.apply(b));
  ASSERT_TRUE(store.apply(l));
  EXPECT_EQ(menuValue(l), "20250505");
  // A damaged file (not from us: we never write in place) counts as nothing stored.
  { std::ofstream(file, std::ios::trunc) << "PXSET01\n2025"; }
  EXPECT_FALSE(store.apply(l));
  EXPECT_EQ(checkValue(l), std::string(8, ' '));
}

// ---- UX01L ---------------------------------------------------------------

datafiles::MenuRecord headerArea() {
  datafiles::MenuRecord a;
  std::fill(a.bytes().begin(), a.bytes().end(), '#');
  a.setKey(0, 0);
  return a;
}

TEST(MenuHeader, ReadsTheHeaderOrKeepsKeyWithBlankStamp) {
  MemoryStore store;
  auto area = headerArea();
  EXPECT_FALSE(programs::readMenuHeader(store, area).ok());  // no file
  EXPECT_EQ(area.versionStamp(), "      ");
  EXPECT_EQ(area.view().substr(datafiles::MenuRecord::kEntryFlag.offset), std::string(46, '#'));
  EXPECT_TRUE(area.isHeader());

  ASSERT_TRUE(store.create(datafiles::kMenuFile).ok());
  datafiles::MenuRecord entry;
  entry.setKey(17, 10);
  entry.setText("Aufgabenliste");
  store.put("FX01.DAT", entry.view());
  area = headerArea();
  EXPECT_FALSE(programs::readMenuHeader(store, area).ok());  // file without header
  EXPECT_EQ(area.versionStamp(), "      ");

  datafiles::MenuRecord header;
  header.setKey(0, 0);
  header.setVersionStamp("034 - ");
  store.put("FX01.DAT", header.view());
  area = headerArea();
  EXPECT_TRUE(programs::readMenuHeader(store, area).ok());
  EXPECT_EQ(area, header);
}

// ---- UT00S ---------------------------------------------------------------

pxabi::ApplicationImage image(int client, int application, std::string_view name) {
  pxabi::ApplicationImage a;
  std::fill(a.bytes().begin(), a.bytes().end(), '?');  // bytes the catalogue does not set
  a.setKey('?', client, application);
  encoding::putText(a.name(), name);
  return a;
}

// On the in-memory store and on the embedded store, each behind a FaultStore.
TEST(ApplicationSetUp, WritesNewAndKeepsBytesItDoesNotOwn) {
  MemoryStore memory;
  datafiles::SqliteStore sqlite;
  testing_support::TempDir dir("px-ut00s");
  for (datafiles::FileStore* inner :
       {static_cast<datafiles::FileStore*>(&memory), static_cast<datafiles::FileStore*>(&sqlite)}) {
    const std::string where = inner == &memory ? "" : dir.path();
    SCOPED_TRACE(inner == &memory ? "in memory" : "embedded");
    testing_support::FaultStore store(*inner, where);
    auto stored = [&](int application) {
      return testing_support::getRecord(*inner, where, datafiles::kInstallationFile,
                                        datafiles::InstallationRecord::key('1', 0, application))
          .value_or("");
    };
    EXPECT_EQ(programs::setUpApplication(store, image(0, 17, "Aufgaben")), datafiles::kFileMissing);
    ASSERT_TRUE(store.create(datafiles::kInstallationFile).ok());

    ASSERT_TRUE(programs::setUpApplication(store, image(0, 17, "Aufgaben")).ok());
    datafiles::ApplicationRecord fresh;
    fresh.setKey('1', 0, 17);
    fresh.setName("Aufgaben");
    EXPECT_EQ(stored(17), std::string(fresh.view()));  // type "1", blank reserved bytes

    datafiles::ApplicationRecord old;
    std::mt19937 random(7);
    for (char& c : old.bytes()) c = static_cast<char>(random() & 0xFF);
    old.setKey('1', 0, 18);
    old.setName("Alter Name");
    testing_support::putRecord(*inner, where, datafiles::kInstallationFile, old.view());
    ASSERT_TRUE(programs::setUpApplication(store, image(0, 18, "Hallenverwaltung")).ok());
    datafiles::ApplicationRecord now;
    encoding::putRaw(now.bytes(), stored(18));
    old.setName("Hallenverwaltung");
    EXPECT_EQ(now, old);  // every byte but the name as it was

    // The record written by someone else between read and write is rewritten.
    store.fail("FT00.DAT", testing_support::Op::kWrite, datafiles::kDuplicateKey);
    ASSERT_TRUE(programs::setUpApplication(store, image(0, 12, "Veranstaltungen")).ok());
    EXPECT_EQ(store.calls("FT00.DAT", testing_support::Op::kWrite), 3);  // 17, and 12 twice
    EXPECT_FALSE(stored(12).empty());
  }
}

// ---- PX00P ---------------------------------------------------------------

TEST(MenuBackup, DatedCopiesOfMenuAndPermissionFiles) {
  const TempDir temp("px-backup");
  const std::string& dir = temp.path();
  std::tm when{};
  when.tm_year = 126, when.tm_mon = 11, when.tm_mday = 7, when.tm_hour = 23, when.tm_min = 5;
  std::vector<std::string> copied;
  auto copy = [&](const datafiles::FileSpec& spec, const std::string& target) {
    if (spec.name == "FX02.DAT" && copied.size() >= 2) return datafiles::kFileMissing;  // third run
    copied.push_back(target);
    std::ofstream(target) << "x";
    return datafiles::kOk;
  };
  auto first = programs::backUpMenuFiles(dir, when, copy);
  ASSERT_TRUE(first.status.ok());
  EXPECT_EQ(first.directory, "backup/20261207-230500");
  EXPECT_EQ(first.copied, 2);
  EXPECT_TRUE(std::filesystem::exists(dir + "/backup/20261207-230500/FX01.DAT"));
  EXPECT_TRUE(std::filesystem::exists(dir + "/backup/20261207-230500/FX02.DAT"));
  // The same second again (another workstation): a directory of its own.
  auto second = programs::backUpMenuFiles(dir, when, copy);
  ASSERT_TRUE(second.status.ok());
  EXPECT_EQ(second.directory, "backup/20261207-230500-2");
  EXPECT_EQ(second.copied, 1);  // FX02 missing: no failure
  auto failing = programs::backUpMenuFiles(
      dir, when,
      [](const datafiles::FileSpec&, const std::string&) { return datafiles::kFileLocked; });
  EXPECT_EQ(failing.status, datafiles::kFileLocked);
}

}  // namespace
