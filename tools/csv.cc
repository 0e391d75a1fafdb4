#include "tools/csv.h"

namespace tools {

std::string csvField(const std::string& s) {
  if (s.find_first_of(",\"\n\r") == std::string::npos && (s.empty() || s.front() != ' ')) return s;
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::optional<std::vector<std::vector<std::string>>> parseCsv(const std::string& text,
                                                              std::string* error) {
  std::vector<std::vector<std::string>> rows(1);
  std::string field;
  bool quoted = false, wasQuoted = false;
  std::size_t line = 1;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        if (c == '\n') ++line;
        field += c;
      }
    } else if (c == '"' && field.empty() && !wasQuoted) {
      quoted = wasQuoted = true;
    } else if (c == ',') {
      rows.back().push_back(field);
      field.clear();
      wasQuoted = false;
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      rows.back().push_back(field);
      field.clear();
      wasQuoted = false;
      rows.emplace_back();
      ++line;
    } else {
      field += c;
    }
  }
  if (quoted) {
    *error = "unterminated quote near line " + std::to_string(line);
    return std::nullopt;
  }
  if (!field.empty() || !rows.back().empty() || wasQuoted) rows.back().push_back(field);
  while (!rows.empty() &&
         (rows.back().empty() || (rows.back().size() == 1 && rows.back()[0].empty())))
    rows.pop_back();
  return rows;
}

}  // namespace tools
