// The command line's own complaints (an unknown option, a missing
// argument, a value out of range) in the user's language: the parser words
// them in English, and pxadmin says them again through the catalogue.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace tools {

// What pxadmin prints when its command line cannot be parsed: the parser's
// message, translated where its pattern is known (as it stands otherwise),
// and the hint to ask for help. For CLI::App::failure_message.
std::string parseFailureMessage(const CLI::App* app, const CLI::Error& e);

// The parser's message alone, translated.
std::string translatedParseError(const std::string& message);

}  // namespace tools
