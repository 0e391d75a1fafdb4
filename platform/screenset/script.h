// The scripted screen set's script: one action a line, "#" starts a comment.
//   key ESC | key ENTER | key F1 ... key F12   a key in the next "NEUSTART"
//   select N        Enter on row N (selection and chosen row N)
//   event N         the raw event code N (0..65535)
//   reply X         the reply character of the next box
//   menuvalue D8    the menu value handed back with the next event
//   error N         the next call fails with error code N
//   input TEXT      the answer of the next "EINGABE" (rest of the line)
//   pause MS        the next call that takes a line waits MS milliseconds first
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
  enum Kind { kEnter, kEvent, kSelect, kReply, kMenuValue, kError, kInput, kPause };
  Kind kind;
  int line;            // 1-based line in the script
  int number = 0;      // event code, row, error code or milliseconds
  char reply = ' ';    // code page 850
  std::string text;    // menu value (8 digits) or input (code page 850)
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
  //   else replies "C" with blank input.
  Result play(const Request& request, int callNumber);
  // The `pause` lines in front of the next line that `request` takes, in
  // milliseconds added up; 0 for the calls that take no line (the start,
  // "SETZEN-DESKTOP-WINDOW", "Q"). The runtime waits that long before
  // play(), as a user would before a key.
  int takePauses(const Request& request);
  bool usedUp() const { return actions_.empty(); }

 private:
  Result playMenu(const Request& request, int callNumber);
  bool next(Action::Kind kind) const { return !actions_.empty() && actions_.front().kind == kind; }
  Action take();

  std::deque<Action> actions_;
};

// The row that Enter chooses: the selection, kept inside 1..count; 0 for an
// empty list.
int selectedRow(const MenuFields& menu);

}  // namespace screenset
