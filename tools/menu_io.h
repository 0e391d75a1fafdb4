// Menu entries as CSV or JSON, for export and import. Every field of a menu
// record travels: the key (set, menu, entry), entry flag, text, program name,
// access class and the six stamp bytes as hex, so that an export imported
// again gives the same bytes.
#pragma once

#include <cstddef>
#include <istream>
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
// and `error` says where. CSV is read record by record: blank lines and
// other input cost no memory, only the records taken do. A JSON document is
// read whole and may be at most kMaxJsonBytes long.
inline constexpr std::size_t kMaxJsonBytes = 64u << 20;
std::optional<std::vector<datafiles::MenuRecord>> importMenu(std::istream& in, MenuFormat format,
                                                             std::string* error);
std::optional<std::vector<datafiles::MenuRecord>> importMenu(const std::string& text,
                                                             MenuFormat format, std::string* error);

}  // namespace tools
