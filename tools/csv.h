// Comma-separated values as the tool writes and reads them (RFC 4180): a
// field with a comma, a quote, a line end or a leading blank is quoted, and
// quotes inside are doubled, so that whatever the tool writes, its own import
// and other programs that trim unquoted fields read back unchanged.
#pragma once

#include <cstddef>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace tools {

// One field, quoted when it needs to be.
std::string csvField(const std::string& s);

// Reads CSV records one at a time from a stream, so that the input never has
// to fit in memory: only the record at hand does, and a record longer than
// `maxRecord` bytes is an error. An empty line is a record of one empty
// field.
class CsvReader {
 public:
  explicit CsvReader(std::istream& in, std::size_t maxRecord = 64 * 1024)
      : in_(in), maxRecord_(maxRecord) {}
  // The next record; false at the end of the input or on an error, which
  // error() then describes.
  bool next(std::vector<std::string>& fields);
  const std::string& error() const { return error_; }

 private:
  std::istream& in_;
  std::size_t maxRecord_;
  std::size_t line_ = 1;
  std::string error_;
};

// Splits CSV text into records of fields; nothing, and `error` set, on an
// unterminated quote. Empty lines at the end are dropped.
std::optional<std::vector<std::vector<std::string>>> parseCsv(const std::string& text,
                                                              std::string* error);

}  // namespace tools
