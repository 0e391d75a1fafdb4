// PX98: a small calculator. The sum is typed with "EINGABE"; the result
// comes in an information box, until the user cancels or enters nothing.
#include <cmath>
#include <cstdio>
#include <string>

#include "programs/module.h"
#include "programs/module_screen.h"
#include "programs/screens.h"

namespace programs {
namespace {

constexpr int kMaxRounds = 100;  // a scripted screen set that always says "J" ends too
constexpr int kMaxDepth = 50;    // nesting of parentheses

// Recursive descent: sum := product {(+|-) product}; product := factor
// {(*|/) factor}; factor := [-|+] (number | "(" sum ")").
class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}
  std::optional<double> parse(std::string& error) {
    const auto v = sum(0);
    skipBlanks();
    if (v && pos_ != text_.size()) fail("Unerwartetes Zeichen");
    if (!error_.empty()) {
      error = error_;
      return std::nullopt;
    }
    return v;
  }

 private:
  void skipBlanks() {
    while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
  }
  bool take(char c) {
    skipBlanks();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  std::optional<double> fail(const char* why) {
    if (error_.empty()) error_ = why;
    return std::nullopt;
  }
  std::optional<double> sum(int depth) {
    auto v = product(depth);
    while (v) {
      if (take('+')) {
        const auto r = product(depth);
        if (!r) return r;
        *v += *r;
      } else if (take('-')) {
        const auto r = product(depth);
        if (!r) return r;
        *v -= *r;
      } else {
        break;
      }
    }
    return v;
  }
  std::optional<double> product(int depth) {
    auto v = factor(depth);
    while (v) {
      if (take('*')) {
        const auto r = factor(depth);
        if (!r) return r;
        *v *= *r;
      } else if (take('/') || take(':')) {
        const auto r = factor(depth);
        if (!r) return r;
        if (*r == 0) return fail("Division durch 0 ist nicht möglich");
        *v /= *r;
      } else {
        break;
      }
    }
    return v;
  }
  std::optional<double> factor(int depth) {
    if (depth > kMaxDepth) return fail("Zu viele Klammern");
    if (take('-')) {
      const auto v = factor(depth + 1);
      return v ? std::optional<double>(-*v) : v;
    }
    if (take('+')) return factor(depth + 1);
    if (take('(')) {
      const auto v = sum(depth + 1);
      if (!v) return v;
      if (!take(')')) return fail("Klammer fehlt");
      return v;
    }
    return number();
  }
  std::optional<double> number() {
    skipBlanks();
    std::string digits;
    bool point = false;
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c >= '0' && c <= '9') {
        digits += c;
      } else if ((c == ',' || c == '.') && !point) {
        digits += '.';
        point = true;
      } else {
        break;
      }
      ++pos_;
    }
    if (digits.empty() || digits == ".") return fail("Zahl erwartet");
    return std::strtod(digits.c_str(), nullptr);
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::string error_;
};

}  // namespace

std::optional<double> calculate(std::string_view text, std::string& error) {
  Parser parser(text);
  const auto v = parser.parse(error);
  if (v && !std::isfinite(*v)) {
    error = "Ergebnis zu groß";
    return std::nullopt;
  }
  return v;
}

std::string formatNumber(double value) {
  if (value == 0) value = 0;  // no "-0"
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.12g", value);
  std::string out(buffer);
  for (char& c : out)
    if (c == '.') c = ',';
  return out;
}

std::int32_t runCalculator(pxabi::CommonArea& area, platform::ScreenSet& screen) {
  ModuleScreen module(area, screen);
  for (int round = 0; round < kMaxRounds; ++round) {
    encoding::blank(module.data().inputText());
    module.data().setInputHidden('N');
    if (!module.run("EINGABE", "Rechnung, z.B. (12,5 + 3) * 4 - leer beendet:")) break;
    const std::string text = encoding::getText(module.data().inputText());
    if (module.reply() != 'J' || text.empty()) break;
    std::string error;
    const auto result = calculate(text, error);
    const bool shown = result ? module.run("BOX-INFO", text + " = " + formatNumber(*result))
                              : module.run("BOX-WARNUNG", error + ": " + text);
    if (!shown) break;
  }
  return module.failed() ? kRefused : kDone;
}

}  // namespace programs
