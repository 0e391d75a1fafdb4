// PX97: the calendar of the current month.
#include <ctime>

#include "abi/program.h"
#include "programs/module.h"
#include "programs/screens.h"

PX_PROGRAM(PX97) {
  (void)record2;
  return programs::withCommonArea(record1, [](pxabi::CommonArea& area) {
    const std::time_t t = std::time(nullptr);
    std::tm now{};
    ::localtime_r(&t, &now);
    platform::LoadedScreenSet screen(programs::moduleEnvironment().loader);
    return programs::showCalendar(area, screen, now.tm_year + 1900,
                                  static_cast<unsigned>(now.tm_mon + 1),
                                  static_cast<unsigned>(now.tm_mday));
  });
}
