#include "platform/screenset/script.h"

#include <gtest/gtest.h>

namespace screenset {
namespace {

TEST(Script, ParsesEveryAction) {
  const ParsedScript s = parseScript(
      "# a comment\n"
      "\n"
      "key ESC\n"
      "  KEY enter   # Enter on the selection\r\n"
      "key F1\n"
      "key F10\n"
      "key F11\n"
      "key f12\n"
      "select 12\n"
      "event 65535\n"
      "reply J\n"
      "reply \xC3\xBC\n"  // ü, one code page 850 character
      "menuvalue 00001234\n"
      "error 9001\n"
      "input Kennwort #1 bleibt  \n"
      "input\n"
      "pause 250 # a user who thinks\n");
  ASSERT_FALSE(s.error) << s.error->reason;
  const struct {
    Action::Kind kind;
    int line, number;
  } want[] = {{Action::kEvent, 3, 0},      {Action::kEnter, 4, 0},     {Action::kEvent, 5, 1},
              {Action::kEvent, 6, 10},     {Action::kEvent, 7, 91},    {Action::kEvent, 8, 92},
              {Action::kSelect, 9, 12},    {Action::kEvent, 10, 65535}, {Action::kReply, 11, 0},
              {Action::kReply, 12, 0},     {Action::kMenuValue, 13, 0}, {Action::kError, 14, 9001},
              {Action::kInput, 15, 0},     {Action::kInput, 16, 0},    {Action::kPause, 17, 250}};
  ASSERT_EQ(s.actions.size(), std::size(want));
  for (std::size_t i = 0; i < std::size(want); ++i) {
    EXPECT_EQ(s.actions[i].kind, want[i].kind) << i;
    EXPECT_EQ(s.actions[i].line, want[i].line) << i;
    EXPECT_EQ(s.actions[i].number, want[i].number) << i;
  }
  EXPECT_EQ(s.actions[8].reply, 'J');
  EXPECT_EQ(s.actions[9].reply, '\x81');
  EXPECT_EQ(s.actions[10].text, "00001234");
  EXPECT_EQ(s.actions[12].text, "Kennwort #1 bleibt");
  EXPECT_EQ(s.actions[13].text, "");
}

TEST(Script, RefusesWhatItCannotParseWithTheLineNumber) {
  const char* bad[] = {"kye ESC",        "key",           "key F13",         "key F0",
                       "key ESC ENTER",  "select -1",     "select 10000",    "select x",
                       "event 65536",    "error 0",       "reply",           "reply JA",
                       "reply \xE2\x82\xAC",  // € is not in code page 850
                       "menuvalue 1234", "menuvalue 1234567x",
                       "input \xE2\x82\xAC",  "pause",         "pause 600001",    "pause -5"};
  for (const char* line : bad) {
    const ParsedScript s = parseScript(std::string("key ESC\n# fine\n") + line + "\nkey ESC\n");
    ASSERT_TRUE(s.error) << line;
    EXPECT_EQ(s.error->code, kScriptInvalid) << line;
    EXPECT_EQ(s.error->detail1, 3) << line;
    EXPECT_NE(s.error->reason.find("line 3"), std::string::npos) << s.error->reason;
    EXPECT_TRUE(s.actions.empty());
  }
  EXPECT_TRUE(parseScript("input " + std::string(79, 'x')).error);
  EXPECT_FALSE(parseScript("input " + std::string(78, 'x')).error);
}

TEST(Script, FindAndFieldTakeTheRestOfTheLine) {
  const ParsedScript s = parseScript(
      "find Pflege der Men\xC3\xBC #2\n"
      "FIELD 2  PX03  \n"
      "field 8\n"
      "field 1 Zeile mit # darin\n");
  ASSERT_FALSE(s.error) << s.error->reason;
  ASSERT_EQ(s.actions.size(), 4u);
  EXPECT_EQ(s.actions[0].kind, Action::kFind);
  EXPECT_EQ(s.actions[0].text, "Pflege der Men\x81 #2");
  EXPECT_EQ(s.actions[1].kind, Action::kField);
  EXPECT_EQ(s.actions[1].number, 2);
  EXPECT_EQ(s.actions[1].text, "PX03");
  EXPECT_EQ(s.actions[2].number, 8);
  EXPECT_EQ(s.actions[2].text, "");  // blanks the field
  EXPECT_EQ(s.actions[3].text, "Zeile mit # darin");
  for (const char* bad : {"find", "find   ", "find \xE2\x82\xAC", "field", "field 0 x",
                          "field 9 x", "field x y", "field 1 \xE2\x82\xAC"})
    EXPECT_TRUE(parseScript(bad).error) << bad;
  EXPECT_TRUE(parseScript("field 1 " + std::string(41, 'x')).error);
  EXPECT_FALSE(parseScript("field 1 " + std::string(40, 'x')).error);
}

Request menuRequest(int count, std::optional<int> selection) {
  Request r;
  r.control.command = 'N';
  r.control.procedure = Procedure::kMenu;
  for (int i = 0; i < count; ++i) r.menu.rows.push_back("row");
  r.menu.count = count;
  r.menu.selection = selection;
  return r;
}

Request callOf(Procedure p) {
  Request r;
  r.control.command = 'N';
  r.control.procedure = p;
  return r;
}

Request listRequest(std::vector<std::string_view> rows, std::optional<int> selection) {
  Request r;
  r.control.command = 'N';
  r.control.procedure = Procedure::kList;
  r.list.count = static_cast<int>(rows.size());
  r.list.rows = std::move(rows);
  r.list.selection = selection;
  return r;
}

Request formRequest(std::vector<std::string> presets, int width = 40) {
  Request r;
  r.control.command = 'N';
  r.control.procedure = Procedure::kForm;
  for (auto& v : presets) r.form.fields.push_back({"Feld", width, std::move(v)});
  return r;
}

Player playerFor(const char* script) {
  ParsedScript s = parseScript(script);
  EXPECT_FALSE(s.error);
  return Player(std::move(s.actions));
}

TEST(Script, MenuTakesKeysSelectsAndEvents) {
  Player p = playerFor("key ENTER\nkey ENTER\nkey ENTER\nselect 7\nevent 300\nmenuvalue 00000042\nkey F2\n");
  Result r = p.play(menuRequest(3, 2), 1);
  EXPECT_EQ(r.event, 48);
  EXPECT_EQ(r.chosenRow, 2);
  r = p.play(menuRequest(0, 0), 2);  // empty list
  EXPECT_EQ(r.event, 48);
  EXPECT_EQ(r.chosenRow, 0);
  EXPECT_EQ(r.selection, 0);
  r = p.play(menuRequest(3, 9), 3);  // a selection past the end stays inside the list
  EXPECT_EQ(r.chosenRow, 3);
  r = p.play(menuRequest(3, 1), 4);
  EXPECT_EQ(r.event, 48);
  EXPECT_EQ(r.chosenRow, 7);
  EXPECT_EQ(r.selection, 7);
  r = p.play(menuRequest(3, 1), 5);
  EXPECT_EQ(r.event, 300);
  EXPECT_FALSE(r.menuValue);
  r = p.play(menuRequest(3, 1), 6);
  EXPECT_EQ(r.event, 2);
  EXPECT_EQ(r.menuValue, "00000042");
  EXPECT_FALSE(r.reply);
  EXPECT_TRUE(p.usedUp());
  r = p.play(menuRequest(3, 1), 7);  // used up: Escape, so every run ends
  EXPECT_EQ(r.event, 0);
}

TEST(Script, BoxesTakeARepliesOnlyWhenNext) {
  Player p = playerFor("reply N\nkey ESC\nreply W\n");
  EXPECT_EQ(p.play(callOf(Procedure::kQuestion), 1).reply, 'N');
  EXPECT_EQ(p.play(callOf(Procedure::kErrorRetry), 2).reply, ' ');  // key ESC is next
  EXPECT_EQ(p.play(callOf(Procedure::kTextPage), 3).reply, ' ');
  EXPECT_EQ(p.play(menuRequest(1, 1), 4).event, 0);
  EXPECT_EQ(p.play(callOf(Procedure::kErrorRetry), 5).reply, 'W');
  // Used up: a question is answered yes, a lock wait is cancelled.
  const struct {
    Procedure p;
    char reply;
  } usedUp[] = {{Procedure::kQuestion, 'J'}, {Procedure::kErrorRetry, 'C'},
                {Procedure::kErrorOk, ' '},  {Procedure::kWarning, ' '},
                {Procedure::kInfo, ' '},     {Procedure::kTextPage, ' '}};
  for (const auto& u : usedUp) EXPECT_EQ(p.play(callOf(u.p), 9).reply, u.reply);
}

TEST(Script, InputAnswersOrCancels) {
  Player p = playerFor("input Meier\nreply C\nreply J\n");
  Result r = p.play(callOf(Procedure::kInput), 1);
  EXPECT_EQ(r.reply, 'J');
  EXPECT_EQ(r.input, "Meier");
  r = p.play(callOf(Procedure::kInput), 2);
  EXPECT_EQ(r.reply, 'C');
  EXPECT_EQ(r.input, "");
  r = p.play(callOf(Procedure::kInput), 3);  // a reply without text keeps the preset
  EXPECT_EQ(r.reply, 'J');
  EXPECT_FALSE(r.input);
  r = p.play(callOf(Procedure::kInput), 4);
  EXPECT_EQ(r.reply, 'C');
  EXPECT_EQ(r.input, "");
}

TEST(Script, ErrorsFailTheNextCallWhateverItIs) {
  Player p = playerFor("error 77\nerror 1234\nmenuvalue 00000001\nerror 5\nkey ENTER\n");
  Result r = p.play(callOf(Procedure::kDesktop), 4);
  EXPECT_EQ(r.failure.code, 77);
  EXPECT_EQ(r.failure.detail1, 1);  // script line
  EXPECT_EQ(r.failure.detail2, 4);  // call number
  EXPECT_EQ(p.play(menuRequest(2, 1), 5).failure.code, 1234);
  EXPECT_EQ(p.play(menuRequest(2, 1), 6).failure.code, 5);
  r = p.play(menuRequest(2, 1), 7);
  EXPECT_FALSE(r.failure.failed());
  EXPECT_EQ(r.event, 48);
}

TEST(Script, MenuWhileTheScriptWaitsForABoxIsOutOfStep) {
  for (const char* script : {"reply J\n", "input x\n"}) {
    Player p = playerFor(script);
    const Result r = p.play(menuRequest(2, 1), 3);
    EXPECT_EQ(r.failure.code, kScriptOutOfStep) << script;
    EXPECT_EQ(r.failure.detail1, 1);
    EXPECT_EQ(r.failure.detail2, 3);
    EXPECT_FALSE(r.event);
  }
}

TEST(Script, ListTakesFindsAndOneKeyAsTheMenuDoes) {
  const std::vector<std::string_view> rows = {"  10  Mitglieder", "  20  Pflege der Men\x81" "datei",
                                              "  30  Logdatei"};
  Player p = playerFor(
      "find Pflege\nkey F5\n"   // F5 on the found row
      "key ENTER\n"              // Enter on the caller's selection
      "find Logdatei\nfind Mitglieder\nselect 2\n"  // the last word wins: select
      "find Mitglieder\nkey ESC\n"
      "find Kassenbuch\nkey ENTER\n");
  Result r = p.play(listRequest(rows, 1), 1);
  EXPECT_EQ(r.event, 5);
  EXPECT_EQ(r.listChosen, 2);
  EXPECT_EQ(r.listSelection, 2);
  EXPECT_FALSE(r.chosenRow);  // the menu's fields are not the list's
  r = p.play(listRequest(rows, 3), 2);
  EXPECT_EQ(r.event, 48);
  EXPECT_EQ(r.listChosen, 3);
  r = p.play(listRequest(rows, 1), 3);
  EXPECT_EQ(r.event, 48);
  EXPECT_EQ(r.listChosen, 2);
  r = p.play(listRequest(rows, 3), 4);
  EXPECT_EQ(r.event, 0);
  EXPECT_EQ(r.listChosen, 1);
  r = p.play(listRequest(rows, 1), 5);  // nothing contains the text: the run is off
  EXPECT_EQ(r.failure.code, kScriptNoMatch);
  EXPECT_EQ(r.failure.detail1, 9);
  EXPECT_EQ(r.failure.detail2, 5);
  EXPECT_NE(r.failure.reason.find("Kassenbuch"), std::string::npos) << r.failure.reason;
  EXPECT_EQ(p.play(listRequest(rows, 1), 6).event, 48);  // the key after it is still there
  EXPECT_EQ(p.play(listRequest(rows, 2), 7).event, 0);   // used up: Escape
  // The menu takes a find too.
  Player m = playerFor("find Logdatei\nkey F2\n");
  Request menu = menuRequest(0, 1);
  menu.menu.rows = rows;
  r = m.play(menu, 1);
  EXPECT_EQ(r.event, 2);
  EXPECT_EQ(r.chosenRow, 3);
}

TEST(Script, ListWhileTheScriptWaitsForABoxInputOrFormIsOutOfStep) {
  for (const char* script : {"reply J\n", "input x\n", "field 1 x\n", "menuvalue 00000001\n"}) {
    Player p = playerFor(script);
    const Result r = p.play(listRequest({"a"}, 1), 4);
    EXPECT_EQ(r.failure.code, kScriptOutOfStep) << script;
    EXPECT_EQ(r.failure.detail2, 4);
  }
  Player p = playerFor("field 1 x\n");
  EXPECT_EQ(p.play(menuRequest(2, 1), 1).failure.code, kScriptOutOfStep);
}

TEST(Script, FormTakesFieldsThenAReply) {
  Player p = playerFor(
      "field 1 Weg\nreply C\n"          // cancelled: nothing comes back
      "reply J\n"                        // saved unchanged
      "field 3 x\n"                      // no such field
      "field 1 zu lang\n"                // wider than the field
      "field 2 Neu\nfield 1 Erster\n"   // saved: no reply line, but fields
      "key ESC\n");
  Result r = p.play(formRequest({"a", "b"}), 1);
  EXPECT_EQ(r.reply, 'C');
  EXPECT_FALSE(r.formValues);
  r = p.play(formRequest({"a", "b"}), 2);
  EXPECT_EQ(r.reply, 'J');
  EXPECT_EQ(r.formValues, (std::vector<std::string>{"a", "b"}));
  r = p.play(formRequest({"a", "b"}), 3);
  EXPECT_EQ(r.failure.code, kScriptNoMatch);
  EXPECT_EQ(r.failure.detail1, 4);
  r = p.play(formRequest({"a"}, 4), 4);
  EXPECT_EQ(r.failure.code, kScriptNoMatch);
  r = p.play(formRequest({"a", "b"}), 5);
  EXPECT_EQ(r.reply, 'J');
  EXPECT_EQ(r.formValues, (std::vector<std::string>{"Erster", "Neu"}));
  r = p.play(formRequest({"a"}), 6);  // not a form's line next: cancelled
  EXPECT_EQ(r.reply, 'C');
  EXPECT_FALSE(r.formValues);
  EXPECT_EQ(p.play(menuRequest(1, 1), 7).event, 0);
}

TEST(Script, StartEndAndDesktopTakeNothing) {
  Player p = playerFor("key F3\n");
  EXPECT_EQ(p.play(callOf(Procedure::kStart), 1).event, 0);
  EXPECT_FALSE(p.play(callOf(Procedure::kDesktop), 2).event);
  Request q = callOf(Procedure::kStart);
  q.control.command = 'Q';
  EXPECT_FALSE(p.play(q, 3).event);
  EXPECT_FALSE(p.usedUp());
}

// Pauses belong to the next call that takes a line; the calls that take
// none leave them for it.
TEST(Script, PausesComeBeforeTheNextCallThatTakesALine) {
  Player p = playerFor("pause 100\npause 20\nkey F3\npause 7\nreply J\npause 5\n");
  Request q = callOf(Procedure::kStart);
  q.control.command = 'Q';
  for (const Request& none : {callOf(Procedure::kStart), callOf(Procedure::kDesktop), q})
    EXPECT_EQ(p.takePauses(none), 0);
  EXPECT_EQ(p.takePauses(menuRequest(3, 1)), 120);
  EXPECT_EQ(p.play(menuRequest(3, 1), 1).event, 3);
  EXPECT_EQ(p.takePauses(callOf(Procedure::kQuestion)), 7);
  EXPECT_EQ(p.play(callOf(Procedure::kQuestion), 2).reply, 'J');
  EXPECT_FALSE(p.usedUp());
  EXPECT_EQ(p.takePauses(callOf(Procedure::kInput)), 5);
  EXPECT_TRUE(p.usedUp());
}

}  // namespace
}  // namespace screenset
