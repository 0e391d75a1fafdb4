// Menu entries as CSV or JSON, for export and import. Every field of a menu
// record travels: the key (set, menu, entry), entry flag, text, program name,
// access class and the six stamp bytes as hex, so that an export imported
// again gives the same bytes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "datafiles/records.h"

namespace tools {

enum class MenuFormat { kCsv, kJson };

// Fails (empty optional, `error` set) for a record whose key is not three
// packed numbers with sign C, which would not come back the same.
std::optional<std::string> exportMenu(const std::vector<datafiles::MenuRecord>& records,
                                      MenuFormat format, std::string* error);
// Parses a whole export; on the first bad line or field nothing is returned
// and `error` says where.
std::optional<std::vector<datafiles::MenuRecord>> importMenu(const std::string& text,
                                                             MenuFormat format, std::string* error);

}  // namespace tools
