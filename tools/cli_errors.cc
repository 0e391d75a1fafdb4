#include "tools/cli_errors.h"

#include <regex>
#include <vector>

#include "tools/i18n.h"

namespace tools {
namespace {

// The parser's messages with their parts in groups, and the same message as
// a catalogue text with one %s for each group, in order. The English texts
// are the parser's own, so that English output stays as it was.
struct Pattern {
  std::regex english;
  const char* text;
};

const std::vector<Pattern>& patterns() {
  static const std::vector<Pattern> all = {
      {std::regex("The following argument was not expected: (.*)"),
       N_("The following argument was not expected: %s")},
      {std::regex("The following arguments were not expected: (.*)"),
       N_("The following arguments were not expected: %s")},
      {std::regex("A subcommand is required"), N_("A subcommand is required")},
      {std::regex("(.*) is required"), N_("%s is required")},
      {std::regex("(\\S+) requires (\\S+)"), N_("%s requires %s")},
      {std::regex("(\\S+) excludes (\\S+)"), N_("%s excludes %s")},
      {std::regex("(\\S+): Value (.*) not in range (\\S+) to (\\S+)"),
       N_("%s: Value %s not in range %s to %s")},
      {std::regex("Could not convert: (.*) = (.*)"), N_("Could not convert: %s = %s")},
  };
  return all;
}

}  // namespace

std::string translatedParseError(const std::string& message) {
  for (const Pattern& p : patterns()) {
    std::smatch m;
    if (!std::regex_match(message, m, p.english)) continue;
    // Substitutes the groups for the %s of the translated text, in order.
    const std::string text = _(p.text);
    std::string out;
    std::size_t group = 1;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text.compare(i, 2, "%s") == 0 && group < m.size()) {
        out += m[group++].str();
        ++i;
      } else {
        out += text[i];
      }
    }
    return out;
  }
  return message;
}

std::string parseFailureMessage(const CLI::App* app, const CLI::Error& e) {
  std::string out = translatedParseError(e.what()) + "\n";
  if (app != nullptr && app->get_help_ptr() != nullptr)
    out += textf(_("Run with %s for more information."),
                 app->get_help_ptr()->get_name().c_str()) +
           "\n";
  return out;
}

}  // namespace tools
