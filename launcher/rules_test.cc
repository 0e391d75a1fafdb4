#include "launcher/rules.h"

#include <gtest/gtest.h>

namespace launcher {

using pxabi::CommonArea;
namespace {

TEST(Rules, EntryVisibility) {
  struct Case {
    char user, access;
    std::string_view program;
    Visibility want;
  } cases[] = {
      {'M', 'M', "PA64", Visibility::kShown},
      {'M', 'N', "    ", Visibility::kShown},
      {'H', 'M', "PA64", Visibility::kHidden},
      {'H', 'M', "PB81", Visibility::kShown},  // the one exception
      {'H', 'M', "    ", Visibility::kHidden},
      {'H', 'N', "PA64", Visibility::kShown},
      {'N', 'M', "PB81", Visibility::kHidden},
      {'N', 'M', "    ", Visibility::kHidden},
      {'N', 'N', "    ", Visibility::kShown},
      {'N', 'H', "PA64", Visibility::kNeedsPermission},
      {' ', 'N', "PA64", Visibility::kNeedsPermission},  // any other class is a normal user
  };
  for (const Case& c : cases)
    EXPECT_EQ(entryVisibility(c.user, c.access, c.program), c.want)
        << c.user << " " << c.access << " " << c.program;
}

TEST(Rules, EventsMapToActions) {
  CommonArea area;
  area.setFunctionKeyAction(1, 10);
  area.setFunctionKeyAction(2, 2);
  area.setFunctionKeyAction(7, 4);
  area.setFunctionKeyAction(8, 0);  // Escape on F8
  area.setFunctionKeyAction(10, 3);
  struct Case {
    std::uint16_t event;
    int want;
  } cases[] = {
      {0, 0},       {1, 10},     {2, 2},   {7, 4},   {53, 4},  {8, 0}, {54, 0},
      {10, 3},      {48, 48},    {27, 27}, {91, 91}, {99, 99}, {3, 0},  // unassigned key
      {0x0130, 48},  // high byte set: only the low byte counts
      {0xFF02, 2},  {0x0100, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(actionForEvent(c.event, area), c.want) << c.event;
}

TEST(Rules, StatusLinePerProgramGroup) {
  CommonArea area;
  encoding::putRaw(area.statusText(), "Kasse 2024  xyz");
  encoding::putRaw(area.statusValue(), "12  99");
  encoding::putBigEndian(area.positionsCount(), 42);
  encoding::putBigEndian(area.addressesCount(), 70000);
  const std::string old = "alter Stand         ";
  struct Case {
    std::string_view program;
    std::string want;
  } cases[] = {
      {"PMB0 ", "Kasse 2024 12      "},
      {"PM6W ", "Kasse 2024 12      "},
      {"PM7Z ", "12  "},
      {"PM44 ", "42 Positionen"},
      {"PL36 ", "42 Positionen"},
      {"PS54 ", "70000 Adressen"},
      {"PB13 ", "70000 Adressen"},
      {"PA64 ", "alter Stand"},
      {"PM7Z", "alter Stand"},  // names are compared as 5 characters
  };
  for (const Case& c : cases) {
    const StatusGroup g = statusGroup(c.program);
    const std::string line = statusLineFor(g, area, old);
    ASSERT_EQ(line.size(), kStatusLineWidth) << c.program;
    EXPECT_EQ(line.back(), ' ');
    EXPECT_EQ(encoding::trimmed(line), encoding::trimmed(c.want)) << c.program;
  }
}

TEST(Rules, StatusTextLongFieldsStayWithin19) {
  CommonArea area;
  encoding::putRaw(area.statusText(), "ABCDEFGHIJKLMNO");
  encoding::putRaw(area.statusValue(), "123456");
  EXPECT_EQ(statusLineFor(StatusGroup::kTextAndValue, area, ""), "ABCDEFGHIJKLMNO 123 ");
}

TEST(Rules, DateHeaderAndMenuValue) {
  EXPECT_EQ(displayDate("221213"), "13.12.22");
  EXPECT_EQ(displayDate("2212"), "        ");

  CommonArea area;
  encoding::putRaw(area.identification(), "GILDAX");
  encoding::putRaw(area.headerNumber(), "007");
  encoding::putRaw(area.versionText(), CommonArea::kVersionConstant);
  EXPECT_EQ(headerLine(area), "GILDAX 007 - 034 - 13.12.2022 ");

  struct Case {
    std::string_view value;
    bool stored;
  } cases[] = {{"20240131", true},  {"30000000", true}, {"30010000", false},
               {"99999999", false}, {"        ", true}, {"00000000", true}};
  for (const Case& c : cases) EXPECT_EQ(storesMenuValue(c.value), c.stored) << c.value;
}

}  // namespace
}  // namespace launcher
