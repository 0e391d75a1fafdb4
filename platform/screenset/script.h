// The scripted screen set's script: one action a line, "#" starts a comment.
//   key ESC | key ENTER | key F1 ... key F12   a key in the next "NEUSTART"
//   select N        Enter on row N (selection and chosen row N)
//   event N         the raw event code N (0..65535)
//   reply X         the reply character of the next box
//   menuvalue D8    the menu value handed back with the next event
//   error N         the next call fails with error code N
//   input TEXT      the answer of the next "EINGABE" (rest of the line)
//   pause MS        the next call that takes a line waits MS milliseconds first
//   find TEXT       moves the selection of the next "NEUSTART" or "LISTE" to
//                   the first row that contains TEXT (rest of the line)
//   field N TEXT    field N of the next "MASKE" gets TEXT (rest of the line)
// The player hands out the actions call by call (see Player::play).
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/screenset/blocks.h"

namespace screenset {

struct Action {
  enum Kind { kEnter, kEvent, kSelect, kReply, kMenuValue, kError, kInput, kPause, kFind, kField };
  Kind kind;
  int line;            // 1-based line in the script
  int number = 0;      // event code, row, error code, milliseconds or field number
  char reply = ' ';    // code page 850
  std::string text;    // menu value (8 digits), input, find or field text (code page 850)
};

struct ParsedScript {
  std::vector<Action> actions;
  std::optional<Failure> error;  // the first line that cannot be parsed
};

ParsedScript parseScript(std::string_view utf8);

class Player {
 public:
  explicit Player(std::vector<Action> actions) : actions_(actions.begin(), actions.end()) {}
  // The answer to one call, consuming the actions it takes:
  // - a leading `error N` fails whatever call comes next;
  // - "NEUSTART" takes any `menuvalue` lines, then one key, select or event
  //   line; a reply or input line there means the run is out of step with
  //   the script, and the call fails; used up, it answers Escape;
  // - a box takes a `reply` line when it is next, else replies blank; used
  //   up, "BOX-FRAGE" replies "J" and "BOX-FEHLER-RC" "C";
  // - "TEXT-ANZEIGEN" takes a `reply` line only when it is next;
  // - "EINGABE" takes an `input` line (reply "J") or a `reply` line when next,
  //   else replies "C" with blank input;
  // - "LISTE" takes `find` lines and one key, select or event line as
  //   "NEUSTART" does (a `find` there too moves the selection first; one
  //   that matches no row fails the call);
  // - "MASKE" takes `field` lines, then a `reply` line when next; without a
  //   reply it answers "J" when it took fields, else "C" (values unchanged).
  Result play(const Request& request, int callNumber);
  // The `pause` lines in front of the next line that `request` takes, in
  // milliseconds added up; 0 for the calls that take no line (the start,
  // "SETZEN-DESKTOP-WINDOW", "Q"). The runtime waits that long before
  // play(), as a user would before a key.
  int takePauses(const Request& request);
  bool usedUp() const { return actions_.empty(); }

 private:
  // The event and row of a "NEUSTART" or "LISTE".
  struct Choice {
    std::uint16_t event = 0;
    int row = 0;
    Failure failure;
  };
  Choice choose(const std::vector<std::string_view>& rows, std::optional<int> selection,
                std::string_view procedure, int callNumber);
  Result playMenu(const Request& request, int callNumber);
  Result playList(const Request& request, int callNumber);
  Result playForm(const Request& request, int callNumber);
  bool next(Action::Kind kind) const { return !actions_.empty() && actions_.front().kind == kind; }
  Action take();

  std::deque<Action> actions_;
};

// The row that Enter chooses: the selection, kept inside 1..count; 0 for an
// empty list.
int selectedRow(int count, std::optional<int> selection);
inline int selectedRow(const MenuFields& menu) {
  return selectedRow(static_cast<int>(menu.rows.size()), menu.selection);
}

}  // namespace screenset
