// Help, calendar, calculator and the sample programs against a fake screen
// set: what they show, and that the launcher's screen-set state comes back.
#include "programs/screens.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "abi/screen_data_block.h"
#include "datafiles/records.h"
#include "programs/module.h"
#include "testing/fake_screen_set.h"
#include "testing/memory_store.h"
#include "testing/temp_dir.h"

namespace {

using Area = pxabi::CommonArea;
using Data = pxabi::ScreenDataBlock;
using testing_support::FakeScreenSet;

// A common area as the launcher leaves it around a call: its control block
// at 1621 and carried values at 2121.
Area handedOver() {
  Area area;
  pxabi::ScreenControlBlock control;
  encoding::putBigEndian(control.bytes().subspan(0, 4), 76);
  control.bytes()[4] = 2;
  encoding::putRaw(control.bytes().subspan(144, 256), "MPX01");
  control.bytes()[20] = 'R';  // a runtime byte
  std::copy(control.bytes().begin(), control.bytes().end(), area.savedControlBlock().begin());
  encoding::putRaw(area.carriedValues(), "CARRY-01");
  encoding::putRaw(area.userName(), "ANNA");
  return area;
}

std::vector<std::string> pageLines(const FakeScreenSet::Call& call) {
  std::vector<std::string> lines;
  Data page = call.block();
  const auto used = encoding::getDigits(page.pageUsed()).value_or(0);
  for (int i = 1; i <= used; ++i) lines.push_back(std::string(encoding::trimmed(page.pageLine(i))));
  return lines;
}

TEST(ModuleScreen, UsesAndReturnsTheLaunchersScreenSetState) {
  Area area = handedOver();
  FakeScreenSet screen;
  FakeScreenSet::Answer a;
  a.procedure = "BOX-INFO";
  a.action = [](pxabi::ScreenControlBlock& c, std::span<char, pxabi::kScreenDataSize> d) {
    c.bytes()[20] = 'S';                        // the runtime moves on
    std::copy_n("CARRY-02", 8, d.begin() + pxabi::ScreenDataBlock::kCarriedValues.offset);
  };
  screen.then(a);
  programs::showReceived(area, screen, "PA60", "");
  ASSERT_EQ(screen.calls().size(), 1u);
  const auto& call = screen.calls()[0];
  EXPECT_EQ(call.control.setName(), "MPX01");
  EXPECT_EQ(call.control.bytes()[20], 'R');
  EXPECT_EQ(encoding::view(call.block().carriedValues()), "CARRY-01");
  EXPECT_EQ(area.savedControlBlock()[20], 'S');
  EXPECT_EQ(encoding::view(area.carriedValues()), "CARRY-02");
  EXPECT_EQ(encoding::trimmed(area.savedControlBlock().subspan(100, 32)),
            "");  // no procedure left
}

TEST(SamplePrograms, ShowWhatTheyReceivedAndPA61ChainsToPA62) {
  Area area = handedOver();
  encoding::putText(area.windowTitle(), "             Aufgabenliste");
  area.setPermissionFlag('J');
  encoding::putRaw(area.permissionText(), "LESEN");
  area.setEntryFlag('X');
  FakeScreenSet screen;
  EXPECT_EQ(programs::showReceived(area, screen, "PA61", "PA62"), programs::kDone);
  ASSERT_EQ(screen.procedures(), std::vector<std::string>{"BOX-INFO"});
  const std::string shown = screen.calls()[0].message();
  for (const char* part : {"PA61", "ANNA", "J LESEN", "Kz. X", "Aufgabenliste"})
    EXPECT_NE(shown.find(part), std::string::npos) << part << " in " << shown;
  EXPECT_EQ(encoding::view(area.nextProgram1()), "PA62      ");
  // A next program the caller set already is not replaced.
  encoding::putRaw(area.nextProgram1(), "PA65");
  programs::showReceived(area, screen, "PA61", "PA62");
  EXPECT_EQ(encoding::view(area.nextProgram1()), "PA65      ");
  programs::showReceived(area, screen, "PA63", "");
  EXPECT_EQ(encoding::view(area.nextProgram1()), "PA65      ");
}

TEST(ModuleScreen, StopsAfterAScreenSetError) {
  Area area = handedOver();
  FakeScreenSet screen;
  FakeScreenSet::Answer fail;
  fail.procedure = "EINGABE";
  fail.error = 7;
  screen.then(fail);
  EXPECT_EQ(programs::runCalculator(area, screen), programs::kRefused);
  EXPECT_EQ(screen.calls().size(), 1u);
  pxabi::ScreenControlBlock back;
  std::copy_n(area.savedControlBlock().begin(), 400, back.bytes().begin());
  EXPECT_EQ(back.errorCode(), 7);  // the launcher sees the failure
}

TEST(Calculator, Sums) {
  struct Case {
    const char* text;
    const char* result;  // empty: refused
  };
  const Case cases[] = {
      {"1+2", "3"},          {"12,5 * 3", "37,5"},   {"(12,5 + 3) * 4", "62"},
      {"-3 - -2", "-1"},     {"7 / 2", "3,5"},       {"7 : 2", "3,5"},
      {"2*3+4*5", "26"},     {"0.1+0.2", "0,3"},     {"1/3", "0,333333333333"},
      {"1/0", ""},           {"(1+2", ""},           {"1+", ""},
      {"abc", ""},           {"1,2,3", ""},          {"", ""},
      {"1e5", ""},           {"-0", "0"},
  };
  for (const auto& c : cases) {
    std::string error;
    const auto v = programs::calculate(c.text, error);
    if (*c.result == '\0') {
      EXPECT_FALSE(v) << c.text;
      EXPECT_FALSE(error.empty()) << c.text;
    } else {
      ASSERT_TRUE(v) << c.text << ": " << error;
      EXPECT_EQ(programs::formatNumber(*v), c.result) << c.text;
    }
  }
  std::string deep(200, '(');
  std::string error;
  EXPECT_FALSE(programs::calculate(deep + "1", error));  // no stack exhaustion
}

TEST(Calculator, AsksUntilCancelledAndShowsResults) {
  Area area = handedOver();
  FakeScreenSet screen;
  auto input = [](std::string text, char reply) {
    FakeScreenSet::Answer a;
    a.procedure = "EINGABE";
    a.reply = reply;
    a.action = [text](pxabi::ScreenControlBlock&, std::span<char, pxabi::kScreenDataSize> d) {
      encoding::putRaw(d.subspan(Data::kInputText.offset, Data::kInputText.width), text);
    };
    return a;
  };
  screen.then(input("6*7", 'J')).then(input("1/0", 'J')).then(input("9", 'C'));
  EXPECT_EQ(programs::runCalculator(area, screen), programs::kDone);
  EXPECT_EQ(screen.procedures(), (std::vector<std::string>{"EINGABE", "BOX-INFO", "EINGABE",
                                                           "BOX-WARNUNG", "EINGABE"}));
  EXPECT_EQ(screen.calls()[1].message(), "6*7 = 42");
  EXPECT_NE(screen.calls()[3].message().find("Division"), std::string::npos);
  // A screen set that never answers ends the calculator too.
  FakeScreenSet silent;
  EXPECT_EQ(programs::runCalculator(area, silent), programs::kDone);
  EXPECT_EQ(silent.calls().size(), 1u);
}

TEST(Calendar, MonthLayout) {
  const auto december = programs::calendarLines(2026, 12, 7);  // 1 December 2026 is a Tuesday
  ASSERT_EQ(december.size(), 3u + 5u);
  EXPECT_EQ(december[0], "    Dezember 2026");
  EXPECT_EQ(december[2], " Mo  Di  Mi  Do  Fr  Sa  So");
  EXPECT_EQ(december[3], "      1   2   3   4   5   6");
  EXPECT_EQ(december[4], "[ 7]  8   9  10  11  12  13");
  EXPECT_EQ(december[7], " 28  29  30  31");
  const auto february = programs::calendarLines(2027, 2, 0);  // starts on a Monday, 28 days
  EXPECT_EQ(february.size(), 3u + 4u);
  EXPECT_EQ(february[3], "  1   2   3   4   5   6   7");
  EXPECT_EQ(programs::calendarLines(2024, 2, 29).back(), " 26  27  28 [29]");

  Area area = handedOver();
  FakeScreenSet screen;
  EXPECT_EQ(programs::showCalendar(area, screen, 2026, 12, 7), programs::kDone);
  ASSERT_EQ(screen.procedures(), std::vector<std::string>{"TEXT-ANZEIGEN"});
  EXPECT_EQ(pageLines(screen.calls()[0]), december);
}

class HelpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = temp.path();
    std::ofstream(dir + "/PX01.txt") << "Hilfe zum Menü\r\n\nF1 Hilfe\n";
    std::ofstream(dir + "/PA64.txt") << "Die Aufgabenliste.\n";
    std::ofstream(dir + "/../SECRET.txt") << "nicht zeigen\n";
  }
  void TearDown() override {
    std::filesystem::remove(std::filesystem::path(dir).parent_path() / "SECRET.txt");
  }
  Area asking(char mode, std::string_view topic, std::string_view text = "") {
    Area area = handedOver();
    area.setHelpMode(mode);
    encoding::putRaw(area.helpTopic(), topic);
    encoding::putText(area.helpText(), text);
    return area;
  }
  testing_support::TempDir temp{"px-help"};
  std::string dir;
  testing_support::MemoryStore store;  // no data files: no access lines
};

TEST_F(HelpTest, ShowsTheTopicsTextOrSaysThereIsNone) {
  FakeScreenSet screen;
  Area area = asking('1', "PX01");
  EXPECT_EQ(programs::showHelp(area, screen, dir, store), programs::kDone);
  ASSERT_EQ(screen.procedures(), std::vector<std::string>{"TEXT-ANZEIGEN"});
  EXPECT_EQ(pageLines(screen.calls()[0]),
            (std::vector<std::string>{"Hilfe zum Men\x81", "", "F1 Hilfe"}));
  EXPECT_EQ(encoding::trimmed(std::span<const char>(
                screen.calls()[0].data.data() + Data::kPageTitle.offset, 40)),
            "Hilfe PX01");

  for (std::string_view topic : {"PX02", "../S", "", "S/../"}) {
    FakeScreenSet none;
    Area missing = asking('1', topic);
    EXPECT_EQ(programs::showHelp(missing, none, dir, store), programs::kRefused) << topic;
    ASSERT_EQ(none.procedures(), std::vector<std::string>{"BOX-INFO"}) << topic;
    EXPECT_NE(none.calls()[0].message().find("keinen Hilfetext"), std::string::npos);
  }
}

TEST_F(HelpTest, EntryInformation) {
  struct Case {
    std::string topic, text;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"PA64", "Aufgabenliste",
       {"Eintrag:  Aufgabenliste", "Programm: PA64", "", "Die Aufgabenliste."}},
      {"017 ", "Aufgabenverwaltung", {"Eintrag:  Aufgabenverwaltung", "Men\x81:     017"}},
  };
  for (const auto& c : cases) {
    FakeScreenSet screen;
    Area area = asking('I', c.topic, c.text);
    EXPECT_EQ(programs::showHelp(area, screen, dir, store), programs::kDone);
    ASSERT_EQ(screen.procedures(), std::vector<std::string>{"TEXT-ANZEIGEN"});
    EXPECT_EQ(pageLines(screen.calls()[0]), c.lines);
  }
  FakeScreenSet screen;
  Area odd = asking('Q', "PX01");
  EXPECT_EQ(programs::showHelp(odd, screen, dir, store), programs::kBadCall);
}

// With the data files, the information says who may call the entry and, when
// the signed-on user may not, why: the words of the menu maintenance.
TEST_F(HelpTest, EntryInformationSaysWhetherTheUserMayCallIt) {
  for (const auto* spec : {&datafiles::kMenuFile, &datafiles::kPermissionFile,
                           &datafiles::kInstallationFile})
    ASSERT_TRUE(store.create(*spec).ok());
  auto entry = [&](int menu, int number, std::string_view text, std::string_view program,
                   char access) {
    datafiles::MenuRecord r;
    r.setKey(menu, number);
    r.setText(text);
    r.setProgram(program);
    r.setAccessClass(access);
    store.put(datafiles::kMenuFile.name, r.view());
  };
  entry(0, 30, "Finanzbuchhaltung", "    ", 'N');
  entry(5, 10, "Aufgabenliste", "PA64", 'M');  // the same row text for class M only
  entry(17, 10, "Aufgabenliste", "PA64", 'N');
  datafiles::PermissionRecord p;
  p.setKey(3, "ANNA", "PA64");
  store.put(datafiles::kPermissionFile.name, p.view());
  struct Case {
    char userClass;
    std::string topic, text;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {'N', "030 ", "Finanzbuchhaltung",
       {"Eintrag:  Finanzbuchhaltung", "Men\x81:     030", "Zugriff:  Zugriffsklasse N",
        "Aufruf:   nicht f\x81r ANNA: Anwendung nicht installiert!"}},
      {'M', "030 ", "Finanzbuchhaltung",
       {"Eintrag:  Finanzbuchhaltung", "Men\x81:     030", "Zugriff:  Zugriffsklasse N",
        "Aufruf:   ANNA darf den Eintrag \x94" "ffnen."}},
      {'N', "PA64", "Aufgabenliste",
       {"Eintrag:  Aufgabenliste", "Programm: PA64", "Zugriff:  Zugriffsklasse N",
        "Aufruf:   ANNA darf den Eintrag aufrufen.", "", "Die Aufgabenliste."}},
      {'N', "PA99", "Aufgabenliste",  // no such entry: no access lines
       {"Eintrag:  Aufgabenliste", "Programm: PA99"}},
  };
  for (const auto& c : cases) {
    FakeScreenSet screen;
    Area area = asking('I', c.topic, c.text);
    area.setUserClass(c.userClass);
    area.setClient(3);
    EXPECT_EQ(programs::showHelp(area, screen, dir, store), programs::kDone);
    ASSERT_EQ(screen.procedures(), std::vector<std::string>{"TEXT-ANZEIGEN"});
    EXPECT_EQ(pageLines(screen.calls()[0]), c.lines) << c.userClass << " " << c.topic;
  }
}

}  // namespace

namespace {

TEST(ModuleScreen, AnEmptyHandedOverBlockIsMadeToNameTheRunningSet) {
  // The help is called outside the program dispatch; the copy at 1621 may
  // still be the one from before the screen set started.
  Area area;
  FakeScreenSet screen;
  programs::showCalendar(area, screen, 2026, 12, 1);
  ASSERT_EQ(screen.calls().size(), 1u);
  const auto& control = screen.calls()[0].control;
  EXPECT_EQ(encoding::getBigEndian(control.bytes().subspan(0, 4)), 76u);
  EXPECT_EQ(static_cast<int>(control.bytes()[4]), 2);
  EXPECT_EQ(control.setName(), "MPX01");
  EXPECT_EQ(screen.calls()[0].message(), "");
}

}  // namespace
