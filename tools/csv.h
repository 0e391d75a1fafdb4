// Comma-separated values as the tool writes and reads them (RFC 4180): a
// field with a comma, a quote, a line end or a leading blank is quoted, and
// quotes inside are doubled, so that whatever the tool writes, its own import
// and other programs that trim unquoted fields read back unchanged.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tools {

// One field, quoted when it needs to be.
std::string csvField(const std::string& s);
// Splits CSV text into records of fields; nothing, and `error` set, on an
// unterminated quote. Empty lines at the end are dropped.
std::optional<std::vector<std::vector<std::string>>> parseCsv(const std::string& text,
                                                              std::string* error);

}  // namespace tools
