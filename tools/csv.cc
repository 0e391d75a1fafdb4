#include "tools/csv.h"

#include <sstream>

#include "tools/i18n.h"

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

bool CsvReader::next(std::vector<std::string>& fields) {
  fields.clear();
  if (!error_.empty()) return false;
  std::string field;
  bool quoted = false, wasQuoted = false, any = false;
  std::size_t size = 0;
  const std::size_t startLine = line_;
  // Straight from the stream's buffer: a byte at a time through the stream
  // itself costs a check of its state each.
  std::streambuf* buf = in_.rdbuf();
  constexpr int kEnd = std::char_traits<char>::eof();
  for (;;) {
    const int got = buf != nullptr ? buf->sbumpc() : kEnd;
    if (got == kEnd) {
      if (quoted) {
        error_ = textf(_("unterminated quote near line %zu"), static_cast<std::size_t>(line_));
        return false;
      }
      if (!any) return false;
      if (!field.empty() || !fields.empty() || wasQuoted) fields.push_back(field);
      if (fields.empty()) fields.emplace_back();
      return true;
    }
    any = true;
    if (++size > maxRecord_) {
      error_ = textf(_("the record from line %zu is longer than %zu bytes"),
                     static_cast<std::size_t>(startLine), static_cast<std::size_t>(maxRecord_));
      return false;
    }
    const char c = static_cast<char>(got);
    if (quoted) {
      if (c == '"' && buf->sgetc() == '"') {
        field += '"';
        buf->sbumpc();
      } else if (c == '"') {
        quoted = false;
      } else {
        if (c == '\n') ++line_;
        field += c;
      }
    } else if (c == '"' && field.empty() && !wasQuoted) {
      quoted = wasQuoted = true;
    } else if (c == ',') {
      fields.push_back(field);
      field.clear();
      wasQuoted = false;
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && buf->sgetc() == '\n') buf->sbumpc();
      ++line_;
      fields.push_back(field);
      return true;
    } else {
      field += c;
    }
  }
}

std::optional<std::vector<std::vector<std::string>>> parseCsv(const std::string& text,
                                                              std::string* error) {
  std::istringstream in(text);
  CsvReader reader(in, text.size() + 1);
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> fields;
  while (reader.next(fields)) rows.push_back(fields);
  if (!reader.error().empty()) {
    *error = reader.error();
    return std::nullopt;
  }
  while (!rows.empty() && rows.back().size() == 1 && rows.back()[0].empty()) rows.pop_back();
  return rows;
}

}  // namespace tools
