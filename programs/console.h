// The plain terminal that the sign-on uses before the screen set starts.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace programs {

// The longest line the console reads, in bytes; the rest of a longer line is
// dropped. No user name or password longer than this can be given at the
// sign-on.
inline constexpr std::size_t kMaxLineBytes = 256;

class Console {
 public:
  virtual ~Console() = default;
  // One line typed after `prompt`, without its line end (UTF-8); nothing at
  // end of input or when an end signal came. `hidden`: the typing is not
  // echoed.
  virtual std::optional<std::string> readLine(std::string_view prompt, bool hidden) = 0;
  // One line of explanation for the user.
  virtual void tell(std::string_view line) = 0;
};

// Reads from `in` and writes prompts and explanations to `out`. A hidden
// read turns echo off while `in` is a terminal; from a pipe it just reads a
// line, so that tests and scripts can feed it.
class FdConsole : public Console {
 public:
  explicit FdConsole(int in = 0, int out = 2) : in_(in), out_(out) {}
  std::optional<std::string> readLine(std::string_view prompt, bool hidden) override;
  void tell(std::string_view line) override;

 private:
  void write(std::string_view text);
  int in_, out_;
};

}  // namespace programs
