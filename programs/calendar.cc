// PX97: the calendar of the current month.
#include <chrono>
#include <cstdio>

#include "programs/module.h"
#include "programs/module_screen.h"
#include "programs/screens.h"

namespace programs {
namespace {
constexpr const char* kMonths[] = {"Januar", "Februar", "März",      "April",   "Mai",
                                   "Juni",   "Juli",    "August",    "September", "Oktober",
                                   "November", "Dezember"};
}

std::vector<std::string> calendarLines(int year, unsigned month, unsigned today) {
  using namespace std::chrono;
  const year_month first{std::chrono::year{year}, std::chrono::month{month}};
  const unsigned days = static_cast<unsigned>(
      static_cast<unsigned>(year_month_day_last{first / last}.day()));
  const unsigned lead = weekday{sys_days{first / 1}}.iso_encoding() - 1;  // Monday first
  std::vector<std::string> lines;
  lines.push_back(std::string("    ") + kMonths[month - 1] + " " + std::to_string(year));
  lines.emplace_back();
  lines.emplace_back(" Mo  Di  Mi  Do  Fr  Sa  So");
  // Four characters a day; today is the one in brackets.
  std::string line(4 * lead, ' ');
  for (unsigned d = 1; d <= days; ++d) {
    char cell[8];
    std::snprintf(cell, sizeof cell, d == today ? "[%2u]" : " %2u ", d);
    line += cell;
    if ((lead + d) % 7 == 0 || d == days) {
      while (!line.empty() && line.back() == ' ') line.pop_back();
      lines.push_back(line);
      line.clear();
    }
  }
  return lines;
}

std::int32_t showCalendar(pxabi::CommonArea& area, platform::ScreenSet& screen, int year,
                          unsigned month, unsigned today) {
  ModuleScreen module(area, screen);
  return module.showPage("Kalender", calendarLines(year, month, today)) ? kDone : kRefused;
}

}  // namespace programs
