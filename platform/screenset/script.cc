#include "platform/screenset/script.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "encoding/cp850.h"

namespace screenset {
namespace {

constexpr std::size_t kInputWidth = 78;
constexpr int kFormFields = FormFields::kMaxFields;
constexpr std::size_t kFieldWidth = FormFields::kMaxWidth;

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::optional<int> number(std::string_view s, int lo, int hi) {
  if (s.empty() || s.size() > 6 ||
      !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  int v = 0;
  std::from_chars(s.data(), s.data() + s.size(), v);
  if (v < lo || v > hi) return std::nullopt;
  return v;
}

// UTF-8 to code page 850, refusing characters the code page lacks.
std::optional<std::string> toCp850(std::string_view utf8) {
  std::string out;
  for (std::size_t pos = 0; pos < utf8.size();) {
    const char32_t cp = encoding::cp850::nextCodePoint(utf8, pos);
    const unsigned char b = encoding::cp850::fromCodePoint(cp);
    if (b == '?' && cp != U'?') return std::nullopt;
    out += static_cast<char>(b);
  }
  return out;
}

std::optional<int> keyEvent(std::string_view name) {
  const std::string k = lower(name);
  if (k == "esc" || k == "escape") return 0;
  if (k == "enter") return -1;
  if (k.size() >= 2 && k[0] == 'f')
    if (auto f = number(std::string_view(k).substr(1), 1, 12)) return *f <= 10 ? *f : 80 + *f;
  return std::nullopt;
}

Action make(Action::Kind kind, int line, int number = 0, char reply = ' ',
            std::string text = {}) {
  return Action{kind, line, number, reply, std::move(text)};
}

// One line; nothing for a blank or comment line, a reason when it is bad.
struct LineResult {
  std::optional<Action> action;
  std::string error;
};

LineResult parseLine(std::string_view raw, int line) {
  std::string_view s = trim(raw);
  if (s.empty() || s.front() == '#') return {};
  const std::size_t sp = s.find_first_of(" \t");
  const std::string word = lower(s.substr(0, sp));
  const std::string_view rest = sp == std::string_view::npos ? "" : s.substr(sp + 1);
  if (word == "input") {
    // The text runs to the end of the line: "#" is part of it.
    auto text = toCp850(trim(rest));
    if (!text) return {{}, "input text has a character outside code page 850"};
    if (text->size() > kInputWidth) return {{}, "input text longer than 78 characters"};
    return {make(Action::kInput, line, 0, ' ', std::move(*text)), {}};
  }
  if (word == "find") {
    // As for input, the text runs to the end of the line.
    auto text = toCp850(trim(rest));
    if (!text) return {{}, "find text has a character outside code page 850"};
    if (text->empty()) return {{}, "find needs a text"};
    if (text->size() > kInputWidth) return {{}, "find text longer than 78 characters"};
    return {make(Action::kFind, line, 0, ' ', std::move(*text)), {}};
  }
  if (word == "field") {
    const std::string_view r = trim(rest);
    const std::size_t sp = r.find_first_of(" \t");
    const auto n = number(r.substr(0, sp), 1, kFormFields);
    if (!n) return {{}, "field needs a field number 1 to 8"};
    auto text = toCp850(sp == std::string_view::npos ? "" : trim(r.substr(sp + 1)));
    if (!text) return {{}, "field text has a character outside code page 850"};
    if (text->size() > kFieldWidth) return {{}, "field text longer than 40 characters"};
    return {make(Action::kField, line, *n, ' ', std::move(*text)), {}};
  }
  std::string_view arg = rest.substr(0, rest.find('#'));
  arg = trim(arg);
  if (arg.empty()) return {{}, "\"" + word + "\" needs an argument"};
  if (arg.find_first_of(" \t") != std::string_view::npos)
    return {{}, "\"" + word + "\" takes one argument"};
  if (word == "key") {
    const auto e = keyEvent(arg);
    if (!e) return {{}, "unknown key \"" + std::string(arg) + "\" (ESC, ENTER, F1 to F12)"};
    if (*e < 0) return {make(Action::kEnter, line), {}};
    return {make(Action::kEvent, line, *e), {}};
  }
  if (word == "select") {
    const auto n = number(arg, 0, 9999);
    if (!n) return {{}, "select needs a row number 0 to 9999"};
    return {make(Action::kSelect, line, *n), {}};
  }
  if (word == "event") {
    const auto n = number(arg, 0, 65535);
    if (!n) return {{}, "event needs a code 0 to 65535"};
    return {make(Action::kEvent, line, *n), {}};
  }
  if (word == "error") {
    const auto n = number(arg, 1, 65535);
    if (!n) return {{}, "error needs a code 1 to 65535"};
    return {make(Action::kError, line, *n), {}};
  }
  if (word == "reply") {
    const auto c = toCp850(arg);
    if (!c || c->size() != 1) return {{}, "reply needs one character"};
    return {make(Action::kReply, line, 0, (*c)[0]), {}};
  }
  if (word == "pause") {
    const auto n = number(arg, 0, 600000);
    if (!n) return {{}, "pause needs 0 to 600000 milliseconds"};
    return {make(Action::kPause, line, *n), {}};
  }
  if (word == "menuvalue") {
    if (arg.size() != 8 ||
        !std::all_of(arg.begin(), arg.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return {{}, "menuvalue needs 8 digits"};
    return {make(Action::kMenuValue, line, 0, ' ', std::string(arg)), {}};
  }
  return {{}, "unknown action \"" + word + "\""};
}

}  // namespace

ParsedScript parseScript(std::string_view utf8) {
  ParsedScript out;
  int line = 0;
  while (!utf8.empty()) {
    ++line;
    const std::size_t nl = utf8.find('\n');
    const std::string_view text = utf8.substr(0, nl);
    utf8 = nl == std::string_view::npos ? "" : utf8.substr(nl + 1);
    LineResult r = parseLine(text, line);
    if (!r.error.empty()) {
      out.error = Failure{kScriptInvalid, static_cast<std::uint16_t>(std::min(line, 9999)), 0,
                          "script line " + std::to_string(line) + ": " + r.error + ": " +
                              std::string(trim(text))};
      out.actions.clear();
      return out;
    }
    if (r.action) out.actions.push_back(std::move(*r.action));
  }
  return out;
}

int selectedRow(int count, std::optional<int> selection) {
  if (count == 0) return 0;
  return std::clamp(selection.value_or(1), 1, count);
}

namespace {

Failure errorLine(const Action& a, int callNumber) {
  return {static_cast<std::uint16_t>(a.number), static_cast<std::uint16_t>(a.line),
          static_cast<std::uint16_t>(std::min(callNumber, 65535)),
          "script line " + std::to_string(a.line) + ": error " + std::to_string(a.number)};
}

Failure lineFailure(std::uint16_t code, const Action& a, int callNumber, const std::string& why) {
  return {code, static_cast<std::uint16_t>(std::min(a.line, 9999)),
          static_cast<std::uint16_t>(std::min(callNumber, 65535)),
          "script line " + std::to_string(a.line) + ": " + why};
}

}  // namespace

Action Player::take() {
  Action a = std::move(actions_.front());
  actions_.pop_front();
  return a;
}

int Player::takePauses(const Request& request) {
  if (request.control.command == 'Q') return 0;
  switch (request.control.procedure) {
    case Procedure::kStart:
    case Procedure::kDesktop:
    case Procedure::kUnknown:
      return 0;
    default:
      break;
  }
  int ms = 0;
  while (next(Action::kPause)) ms = std::min(ms + take().number, 600000);
  return ms;
}

Result Player::play(const Request& request, int callNumber) {
  Result r;
  if (next(Action::kError)) {
    r.failure = errorLine(take(), callNumber);
    return r;
  }
  if (request.control.command == 'Q') return r;
  switch (request.control.procedure) {
    case Procedure::kStart:
      r.event = 0;
      return r;
    case Procedure::kMenu:
      return playMenu(request, callNumber);
    case Procedure::kQuestion:
    case Procedure::kErrorOk:
    case Procedure::kErrorRetry:
    case Procedure::kWarning:
    case Procedure::kInfo:
      if (next(Action::kReply)) r.reply = take().reply;
      else if (!usedUp()) r.reply = ' ';
      else if (request.control.procedure == Procedure::kQuestion) r.reply = 'J';
      else if (request.control.procedure == Procedure::kErrorRetry) r.reply = 'C';
      else r.reply = ' ';
      return r;
    case Procedure::kTextPage:
      r.reply = next(Action::kReply) ? take().reply : ' ';
      return r;
    case Procedure::kInput:
      if (next(Action::kInput)) {
        r.input = take().text;
        r.reply = 'J';
      } else if (next(Action::kReply)) {
        r.reply = take().reply;
        if (*r.reply == 'C') r.input = "";
      } else {
        r.reply = 'C';
        r.input = "";
      }
      return r;
    case Procedure::kList:
      return playList(request, callNumber);
    case Procedure::kForm:
      return playForm(request, callNumber);
    case Procedure::kDesktop:
    case Procedure::kUnknown:
      return r;
  }
  return r;
}

Player::Choice Player::choose(const std::vector<std::string_view>& rows,
                              std::optional<int> selection, std::string_view procedure,
                              int callNumber) {
  Choice c;
  c.row = selectedRow(static_cast<int>(rows.size()), selection);
  while (next(Action::kFind)) {
    const Action a = take();
    const auto found = std::find_if(rows.begin(), rows.end(), [&](std::string_view row) {
      return row.find(a.text) != std::string_view::npos;
    });
    if (found == rows.end()) {
      c.failure = lineFailure(kScriptNoMatch, a, callNumber,
                              "no row of " + std::string(procedure) + " contains \"" +
                                  encoding::cp850::toUtf8(a.text) + "\"");
      return c;
    }
    c.row = static_cast<int>(found - rows.begin()) + 1;
  }
  if (usedUp()) return c;  // Escape
  const Action& a = actions_.front();
  switch (a.kind) {
    case Action::kEnter:
      c.event = 48;
      break;
    case Action::kSelect:
      c.event = 48;
      c.row = a.number;
      break;
    case Action::kEvent:
      c.event = static_cast<std::uint16_t>(a.number);
      break;
    case Action::kError:
      c.failure = errorLine(take(), callNumber);
      return c;
    default:
      c.failure = lineFailure(kScriptOutOfStep, a, callNumber,
                              std::string(procedure) +
                                  " came while the script waits for a box or input");
      return c;
  }
  take();
  return c;
}

Result Player::playMenu(const Request& request, int callNumber) {
  Result r;
  while (next(Action::kMenuValue)) r.menuValue = take().text;
  const Choice c = choose(request.menu.rows, request.menu.selection, "NEUSTART", callNumber);
  if (c.failure.failed()) return failedWith(c.failure);
  r.event = c.event;
  r.chosenRow = r.selection = c.row;
  return r;
}

Result Player::playList(const Request& request, int callNumber) {
  Result r;
  const Choice c = choose(request.list.rows, request.list.selection, "LISTE", callNumber);
  if (c.failure.failed()) return failedWith(c.failure);
  r.event = c.event;
  r.listChosen = r.listSelection = c.row;
  return r;
}

Result Player::playForm(const Request& request, int callNumber) {
  Result r;
  std::vector<std::string> values;
  for (const FormFields::Field& f : request.form.fields) values.push_back(f.value);
  bool took = false;
  while (next(Action::kField)) {
    const Action a = take();
    const auto n = static_cast<std::size_t>(a.number);
    if (n > values.size())
      return failedWith(lineFailure(kScriptNoMatch, a, callNumber,
                                    "the form has no field " + std::to_string(n)));
    if (a.text.size() > static_cast<std::size_t>(request.form.fields[n - 1].width))
      return failedWith(lineFailure(kScriptNoMatch, a, callNumber,
                                    "the text is wider than field " + std::to_string(n)));
    values[n - 1] = a.text;
    took = true;
  }
  if (next(Action::kReply)) r.reply = take().reply;
  else r.reply = took ? 'J' : 'C';
  if (*r.reply != 'C') r.formValues = std::move(values);
  return r;
}

}  // namespace screenset
