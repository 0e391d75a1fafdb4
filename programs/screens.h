// The programs that work through the screen set: help (U000), calendar
// (PX97), calculator (PX98) and the sample function programs (PA60-PA69);
// the menu maintenance PX03 has a header of its own (menu_maintenance.h).
// Each takes the launcher's screen-set state from the common area and puts
// it back (ModuleScreen).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "abi/common_area.h"
#include "datafiles/keyed_file.h"
#include "platform/screen_set.h"

namespace programs {

// U000. Mode "1": the help text of the topic (offset 989) from
// `helpDirectory`/<TOPIC>.txt; mode "I": the row's information (help text at
// 949, topic at 989): its text, program or menu, its access class and
// whether the signed-on user may call it and if not why (from the data files
// of `store` in the current directory, when they can be read), followed by
// the topic's help text when there is one.
std::int32_t showHelp(pxabi::CommonArea& area, platform::ScreenSet& screen,
                      const std::string& helpDirectory, datafiles::FileStore& store);
// The lines of a topic's help file (UTF-8), or nothing when the topic has no
// text. Topics are 1 to 4 letters or digits; any other topic has no text.
std::optional<std::vector<std::string>> readHelp(const std::string& helpDirectory,
                                                 std::string_view topic);
// <installation root>/share/px01/help.
std::string installedHelpDirectory();

// PX97: the calendar of the month, today marked with brackets.
std::vector<std::string> calendarLines(int year, unsigned month, unsigned today);
std::int32_t showCalendar(pxabi::CommonArea& area, platform::ScreenSet& screen, int year,
                          unsigned month, unsigned today);

// PX98: + - * / with parentheses and a decimal comma or point. Nothing and a
// German reason in `error` when the text is not a sum or divides by zero.
std::optional<double> calculate(std::string_view text, std::string& error);
// The result as shown: up to 12 significant digits, decimal comma.
std::string formatNumber(double value);
std::int32_t runCalculator(pxabi::CommonArea& area, platform::ScreenSet& screen);

// PA60-PA69: shows what the program received. `followUp`, when not empty,
// becomes next program 1 (unless the caller set one already).
std::int32_t showReceived(pxabi::CommonArea& area, platform::ScreenSet& screen,
                          std::string_view name, std::string_view followUp);
// The information box's text for `name`.
std::string receivedText(const pxabi::CommonArea& area, std::string_view name);

}  // namespace programs
