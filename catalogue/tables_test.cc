// The built-in tables: row counts per group, the shape of every row, the
// keys that may repeat, and code page 850 bytes of a few texts.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "catalogue/groups.h"

namespace catalogue {
namespace {

std::string bytesOf(const Entry& e) { return std::string(e.text.view()); }

TEST(Tables, RowCountPerGroup) {
  const std::map<Group, std::size_t> expected = {
      {Group::kAdministration, 2},     {Group::kCommon, 123},
      {Group::kMember, 10},            {Group::kSelection, 4},
      {Group::kAddress, 9},            {Group::kStateAssociation, 8},
      {Group::kCyclingFederation, 24}, {Group::kTravel, 22},
      {Group::kCensus, 4},             {Group::kCyclingClub, 21},
      {Group::kHonours, 10},           {Group::kDonations, 3},
      {Group::kSportsEvents, 15},      {Group::kStateImport, 1},
      {Group::kInventory, 8},          {Group::kTaskManagement, 11},
      {Group::kEvents, 14},            {Group::kHallManagement, 47},
      {Group::kOrderManagement, 8},
  };
  ASSERT_EQ(expected.size(), static_cast<std::size_t>(kGroupCount));
  std::size_t total = 0;
  for (const auto& [g, n] : expected) {
    EXPECT_EQ(rowsOf(g).size(), n) << nameOf(g);
    total += rowsOf(g).size();
  }
  EXPECT_EQ(total, 344u);
}

TEST(Tables, EveryRowIsWellFormed) {
  for (int gi = 0; gi < kGroupCount; ++gi) {
    const auto g = static_cast<Group>(gi);
    for (const Entry& e : rowsOf(g)) {
      SCOPED_TRACE(std::string(nameOf(g)) + " " + std::to_string(e.menu) + "/" +
                   std::to_string(e.entry));
      EXPECT_LE(e.menu, 999);
      EXPECT_LE(e.entry, 999);
      EXPECT_GT(e.entry, 0);
      EXPECT_TRUE(e.program.empty() || e.program.size() == 4) << e.program;
      EXPECT_NE(e.access, 0);
      EXPECT_NE(std::string("MHN").find(e.access), std::string::npos);
      EXPECT_NE(e.text.view()[0], ' ') << "text starts with a blank";
      // An entry without a program opens a menu; the top-level entries
      // (menu 0) are applications.
      if (e.menu == 0) {
        EXPECT_TRUE(e.program.empty());
      }
    }
  }
}

// Within a group every key is written once; across the groups of one run a
// later group may replace an earlier one's text, but only where the tables
// say so.
TEST(Tables, KeysUniqueWithinEachGroup) {
  for (int gi = 0; gi < kGroupCount; ++gi) {
    const auto g = static_cast<Group>(gi);
    std::set<std::pair<int, int>> seen;
    for (const Entry& e : rowsOf(g))
      EXPECT_TRUE(seen.insert({e.menu, e.entry}).second)
          << nameOf(g) << " repeats " << e.menu << "/" << e.entry;
  }
}

TEST(Tables, SameTextInSeveralMenus) {
  int massMail = 0;
  for (int gi = 0; gi < kGroupCount; ++gi)
    for (const Entry& e : rowsOf(static_cast<Group>(gi)))
      if (e.text.view().starts_with("Massenmail aus Auswahldatei ")) ++massMail;
  EXPECT_EQ(massMail, 5);  // menus 10, 226, 925, 485 and 728
}

TEST(Tables, CodePage850Goldens) {
  struct Case {
    Group group;
    int menu, entry;
    std::string bytes;  // the first bytes of the 40-byte text
  };
  const Case cases[] = {
      {Group::kAdministration, 99, 10, "Pflege der Men\x81" "datei"},
      {Group::kCommon, 226, 10, "Adre\xE1" "auswahl aus Vertragsdaten"},
      {Group::kCommon, 70, 930, "\x8Enderungshistorie"},
      {Group::kCommon, 775, 25, "Liquidit\x84tsübersicht"},
      {Group::kTaskManagement, 17, 80, "L\x94schen erledigte Aufgaben aus Vorjahren"},
      {Group::kCommon, 226, 142, "Erstellen TEMP\\STAMPIT.XLS"},
  };
  for (const Case& c : cases) {
    const Entry* found = nullptr;
    for (const Entry& e : rowsOf(c.group))
      if (e.menu == c.menu && e.entry == c.entry) found = &e;
    ASSERT_NE(found, nullptr) << c.menu << "/" << c.entry;
    std::string want = c.bytes;
    // "ü" inside a golden written as UTF-8 above stands for 0x81.
    for (std::size_t p; (p = want.find("\xC3\xBC")) != std::string::npos;)
      want.replace(p, 2, "\x81");
    want.resize(40, ' ');
    EXPECT_EQ(bytesOf(*found), want) << c.menu << "/" << c.entry;
  }
}

// Three texts are exactly 40 characters in code page 850 (41 bytes in UTF-8).
TEST(Tables, FullWidthTextsKeepTheirLastCharacter) {
  int full = 0;
  for (int gi = 0; gi < kGroupCount; ++gi)
    for (const Entry& e : rowsOf(static_cast<Group>(gi)))
      if (e.text.view()[39] != ' ') ++full;
  EXPECT_GE(full, 3);
  const Entry& aufkleber = rowsOf(Group::kCommon)[110];
  ASSERT_EQ(aufkleber.entry, 124);
  EXPECT_EQ(aufkleber.text.view(), "Erstellen ADRESSEN.DOC f\x81r AUFKLEBER.DOC");
}

}  // namespace
}  // namespace catalogue
