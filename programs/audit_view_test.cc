// PX13 on its logic: the trail in an in-memory store, the screen set a fake
// that answers the lists, forms and pages. Times are shown in local time:
// the tests run in UTC.
#include "programs/audit_view.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <ctime>

#include "datafiles/audit_trail.h"
#include "encoding/cp850.h"
#include "programs/module.h"
#include "testing/fake_screen_set.h"
#include "testing/memory_store.h"

namespace {

using datafiles::AuditEvent;
using testing_support::FakeScreenSet;
using Answer = FakeScreenSet::Answer;

constexpr std::uint16_t kEnter = 48, kEsc = 0;

Answer key(std::uint16_t event) {
  Answer a;
  a.procedure = "LISTE";
  a.event = event;
  return a;
}
Answer on(std::string_view text, std::uint16_t event) {
  Answer a = key(event);
  a.find = encoding::cp850::fromUtf8(text);
  return a;
}
Answer form(std::map<int, std::string> fields) {
  Answer a;
  a.procedure = "MASKE";
  for (auto& [n, v] : fields) a.fields[n] = encoding::cp850::fromUtf8(v);
  return a;
}

// 2026-12-07 00:00:00 UTC plus `seconds`.
datafiles::AuditTime at(long seconds) {
  return datafiles::AuditTime(std::chrono::seconds(1796601600L + seconds));
}

class AuditView : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    area.setUserClass('H');
    encoding::putRaw(area.userName(), "HELGA");
  }
  void write(const AuditEvent& e, datafiles::AuditTime when, long pid = 4711) {
    datafiles::AuditTrail trail(store, "", "PXADMIN");
    trail.setClock([when] { return when; });
    trail.setWorkstation({"ws7", pid});
    ASSERT_TRUE(trail.record(e).ok());
  }
  std::int32_t run() { return programs::showAuditTrail(area, screen, store); }
  std::vector<std::string> rows(std::size_t list) {
    const auto lists = screen.callsOf("LISTE");
    EXPECT_LT(list, lists.size());
    if (list >= lists.size()) return {};
    std::vector<std::string> out;
    for (const std::string& r : lists[list]->listRows()) out.push_back(encoding::cp850::toUtf8(r));
    return out;
  }
  std::string keysOf(std::size_t list) {
    pxabi::ScreenDataBlock b = screen.callsOf("LISTE")[list]->block();
    std::string out;
    for (int k = 1; k <= 10; ++k) {
      const std::string caption = encoding::getText(b.listKey(k));
      if (!caption.empty()) out += (out.empty() ? "" : " ") + caption;
    }
    return out;
  }
  void TearDown() override {
    EXPECT_TRUE(screen.misses().empty()) << screen.misses().front();
    EXPECT_FALSE(screen.answersLeft());
  }

  testing_support::MemoryStore store;
  FakeScreenSet screen;
  pxabi::CommonArea area;
};

TEST_F(AuditView, OnlyForAdministrators) {
  for (char cls : {'N', ' '}) {
    FakeScreenSet refused;
    area.setUserClass(cls);
    EXPECT_EQ(programs::showAuditTrail(area, refused, store), programs::kRefused);
    ASSERT_EQ(refused.procedures(), std::vector<std::string>{"BOX-WARNUNG"});
    EXPECT_EQ(refused.calls()[0].message(), "Sie sind nicht berechtigt!");
  }
}

TEST_F(AuditView, NoTrailYetIsAnEmptyListAndMakesNone) {
  screen.then(key(kEsc));
  EXPECT_EQ(run(), programs::kDone);
  EXPECT_TRUE(rows(0).empty());
  EXPECT_EQ(encoding::cp850::toUtf8(screen.callsOf("LISTE")[0]->message()), "Keine Einträge.");
  EXPECT_FALSE(store.exists("FXAU.DAT"));
}

// 450 records: the newest 400 first, newest last and under the cursor;
// F5 the 50 before them, F6 the 400 after those again.
TEST_F(AuditView, NewestLastAndFourHundredAtATime) {
  for (int i = 1; i <= 450; ++i)
    write(AuditEvent("CALL", "MEIER", 1).withObject("PA64").withDetail("Nr " + std::to_string(i)),
          at(i));
  screen.then(key(5)).then(key(6)).then(key(kEsc));
  EXPECT_EQ(run(), programs::kDone);
  const auto newest = rows(0);
  ASSERT_EQ(newest.size(), 400u);
  EXPECT_EQ(newest.front().rfind("07.12.26 00:00:51 MEIER      CALL     PA64", 0), 0u)
      << newest.front();
  EXPECT_NE(newest.back().find("Nr 450"), std::string::npos) << newest.back();
  EXPECT_EQ(encoding::getDigits(screen.callsOf("LISTE")[0]->block().listSelection()), 400);
  EXPECT_EQ(keysOf(0), "Hilfe Filter Ältere");
  const auto older = rows(1);
  ASSERT_EQ(older.size(), 50u);
  EXPECT_NE(older.front().find("Nr 1"), std::string::npos);
  EXPECT_NE(older.back().find("Nr 50"), std::string::npos);
  EXPECT_EQ(keysOf(1), "Hilfe Filter Neuere");
  const auto newer = rows(2);
  ASSERT_EQ(newer.size(), 400u);
  EXPECT_NE(newer.front().find("Nr 51"), std::string::npos);
  EXPECT_NE(newer.back().find("Nr 450"), std::string::npos);
}

// By or about a user, some events, one day; a day that is none is said.
TEST_F(AuditView, FilterByUserEventsAndDay) {
  write(AuditEvent("GRANT", "root", 1).withSubject("HELGA").withObject("PA64"), at(3600));
  write(AuditEvent("SIGNON", "HELGA", 1).withObject("PX00"), at(7200));
  write(AuditEvent("REVOKE", "ADMIN", 1).withSubject("NORBERT").withObject("PA64"), at(7300));
  write(AuditEvent("REVOKE", "ADMIN", 1).withSubject("HELGA").withObject("PA64"), at(86400 + 60));
  screen.then(key(2))
      .then(form({{1, "helga"}, {2, "grant, revoke"}, {3, "31.02.2026"}}))
      .then(form({{3, "08.12.2026"}}))
      .then(key(2))
      .then(form({{3, ""}}))
      .then(key(kEsc));
  EXPECT_EQ(run(), programs::kDone);
  EXPECT_EQ(rows(0).size(), 4u);
  const auto forms = screen.callsOf("MASKE");
  ASSERT_EQ(forms.size(), 3u);
  EXPECT_EQ(encoding::cp850::toUtf8(forms[1]->message()), "Tag: TT.MM.JJJJ, zum Beispiel 07.12.2026.");
  const auto dayOnly = rows(1);
  ASSERT_EQ(dayOnly.size(), 1u);
  EXPECT_NE(dayOnly[0].find("ADMIN      REVOKE   PA64"), std::string::npos) << dayOnly[0];
  EXPECT_TRUE(dayOnly[0].ends_with(" HELGA"))
      << dayOnly[0];
  const auto title1 = encoding::getText(screen.callsOf("LISTE")[1]->block().listTitle());
  EXPECT_EQ(title1, "Logdatei Benutzer HELGA Ereignis GRANT,REVOKE Tag 08.12.2026");
  const auto anyDay = rows(2);
  ASSERT_EQ(anyDay.size(), 2u);
  EXPECT_NE(anyDay[0].find("GRANT"), std::string::npos);
  EXPECT_NE(anyDay[1].find("REVOKE"), std::string::npos);
}

TEST_F(AuditView, EnterShowsTheWholeRecord) {
  datafiles::countAuditFailure(datafiles::kFileLocked);
  datafiles::countAuditFailure(datafiles::kFileLocked);
  const long lost = datafiles::unreportedAuditFailures();
  write(AuditEvent("CATALOG", "ADMIN", 1)
            .withObject("PX07")
            .withResult("OK")
            .withDetail("stamp \"034 - \", 12 new, 300 rewritten, 1 kept, 24 permissions, " +
                        std::string(76 - 63, '.') + "ZWEIDREI"),
        at(60), 815);
  screen.then(on("CATALOG", kEnter)).then(key(kEsc));
  EXPECT_EQ(run(), programs::kDone);
  const auto pages = screen.callsOf("TEXT-ANZEIGEN");
  ASSERT_EQ(pages.size(), 1u);
  const pxabi::ScreenDataBlock b = pages[0]->block();
  std::vector<std::string> lines;
  for (long long i = 1; i <= encoding::getDigits(b.pageUsed()).value_or(0); ++i)
    lines.push_back(encoding::getText(std::span<const char>(b.pageLines().data() + (i - 1) * 78, 78)));
  const auto has = [&](const std::string& text) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
  };
  EXPECT_TRUE(has("Zeit:          07.12.2026 00:01:00 (UTC 20261207000100000000)"));
  EXPECT_TRUE(has("Arbeitsplatz:  ws7, Prozess 815"));
  EXPECT_TRUE(has("Geschrieben:   PXADMIN"));
  EXPECT_TRUE(has("Davor nicht geschrieben: " + std::to_string(lost) + " Einträge"));
  EXPECT_TRUE(has("  stamp \"034 - \", 12 new"));
  // The detail keeps its 80 characters, the page breaks them after 76.
  EXPECT_TRUE(has("  ZWEI"));
  EXPECT_FALSE(has("DREI"));
}

TEST(AuditDay, DaysAreLocalAndChecked) {
  ::setenv("TZ", "Europe/Berlin", 1);
  ::tzset();
  const auto d = programs::parseDay("07.12.2026");
  ASSERT_TRUE(d);
  EXPECT_EQ(datafiles::auditTimeText(d->from), "20261206230000000000");
  EXPECT_EQ(datafiles::auditTimeText(d->to), "20261207230000000000");
  EXPECT_TRUE(programs::parseDay("7.12.26"));
  for (const char* bad : {"31.02.2026", "07.13.2026", "07.12.2026x", "2026-12-07", ""})
    EXPECT_FALSE(programs::parseDay(bad)) << bad;
  ::setenv("TZ", "UTC", 1);
  ::tzset();
}

}  // namespace
