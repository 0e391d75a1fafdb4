// The scripted DSGRUN module itself, loaded by name as the launcher loads it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "abi/screen_control_block.h"
#include "abi/screen_data_block.h"
#include "encoding/field.h"
#include "platform/dl_program_loader.h"
#include "platform/screenset/errors.h"
#include "platform/terminal.h"
#include "testing/test_files.h"

namespace {

using testing_support::buildDir;
using testing_support::readFile;
using testing_support::lines;

using D = pxabi::ScreenDataBlock;
using C = pxabi::ScreenControlBlock;

// One run of the scripted screen set: its own script, transcript and load.
class ScriptedRun {
 public:
  explicit ScriptedRun(const std::string& script)
      : loader_({buildDir() + "/lib/px01/scripted"}) {
    const std::string base = ::testing::TempDir() + "dsgrun_" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    scriptPath_ = base + ".script";
    transcriptPath_ = base + ".jsonl";
    std::ofstream(scriptPath_) << script;
    ::setenv("DSGRUN_SCRIPT", scriptPath_.c_str(), 1);
    ::setenv("DSGRUN_TRANSCRIPT", transcriptPath_.c_str(), 1);
    control.setDataBlockVersion(76);
    control.setInterfaceVersion(2);
    control.setSetName("MPX01");
  }
  ~ScriptedRun() {
    loader_.unload("DSGRUN");  // the next run starts with a fresh script
    ::unsetenv("DSGRUN_SCRIPT");
    ::unsetenv("DSGRUN_TRANSCRIPT");
  }

  std::int32_t call(std::string_view procedure, char command = 'N') {
    control.setSetCommand(command);
    control.setProcedure(procedure);
    const auto out = loader_.call("DSGRUN", control.data(), data.data());
    EXPECT_TRUE(out.loaded) << loader_.lastError();
    return out.returnCode;
  }
  std::vector<std::string> transcript() const { return lines(readFile(transcriptPath_)); }

  C control;
  D data;

 private:
  platform::DlProgramLoader loader_;
  std::string scriptPath_, transcriptPath_;
};

void showMenu(D& d, const char* title, std::vector<const char*> rows) {
  d.setEventCode(99);
  d.title()[0] = 'x';
  encoding::putText(d.title(), title);
  for (std::size_t i = 0; i < rows.size(); ++i) encoding::putText(d.row(i + 1), rows[i]);
  (void)encoding::putDigits(d.entryCount(), static_cast<long long>(rows.size()));
  (void)encoding::putDigits(d.selection(), 1);
  (void)encoding::putDigits(d.listPosition(), 1);
  encoding::putText(d.caption(2), " Info ");
}

void message(D& d, const char* text, const char* file = "", const char* op = "",
             std::string status = "  ") {
  encoding::putText(d.message(), text);
  encoding::putRaw(d.message().subspan(70, 5), file);
  encoding::putRaw(d.message().subspan(75, 4), op);
  d.message()[79] = status[0];
  d.message()[80] = status[1];
}

TEST(ScriptedRuntime, WalksAMenuAnswersBoxesAndEnds) {
  ScriptedRun run(
      "# open the second entry, refuse to leave, then leave\n"
      "menuvalue 00000042\n"
      "select 2\n"
      "reply W\n"
      "event 256\n"
      "key ESC\n"
      "reply N\n"
      "key ESC\n");
  EXPECT_EQ(run.call(""), 0);
  EXPECT_EQ(run.data.eventCode(), 0);

  showMenu(run.data, "A n w e n d u n g e n", {"Mitglieder", "Beiträge", "Prüfungen"});
  EXPECT_EQ(run.call("NEUSTART"), 0);
  EXPECT_EQ(run.data.view().substr(D::kEventCode.offset, 2), std::string("\x00\x30", 2));  // 48
  EXPECT_EQ(encoding::view(run.data.chosenRow()), "0002");
  EXPECT_EQ(encoding::view(run.data.selection()), "0002");
  EXPECT_EQ(encoding::view(run.data.listPosition()), "0001");
  EXPECT_EQ(encoding::view(run.data.menuValue()), "00000042");

  message(run.data, "Datei zur Zeit gesperrt - bitte warten!", "FX01", "OPEN",
          std::string("9\x41", 2));
  EXPECT_EQ(run.call("BOX-FEHLER-RC"), 0);
  EXPECT_EQ(run.data.reply(), 'W');

  showMenu(run.data, "Beiträge", {"Sollstellung"});
  EXPECT_EQ(run.call("NEUSTART"), 0);
  EXPECT_EQ(run.data.eventCode(), 256);  // the high byte travels as given
  EXPECT_EQ(run.call("NEUSTART"), 0);
  EXPECT_EQ(run.data.eventCode(), 0);

  message(run.data, "Wollen Sie das System verlassen?");
  EXPECT_EQ(run.call("BOX-FRAGE"), 0);
  EXPECT_EQ(run.data.reply(), 'N');
  EXPECT_EQ(run.call("NEUSTART"), 0);
  EXPECT_EQ(run.call("BOX-FRAGE"), 0);  // script used up: yes
  EXPECT_EQ(run.data.reply(), 'J');
  EXPECT_EQ(run.call("", 'Q'), 0);

  const auto t = run.transcript();
  ASSERT_EQ(t.size(), 9u);
  EXPECT_EQ(t[0].rfind("{\"n\":1,\"command\":\"N\",\"procedure\":\"\",\"set\":\"MPX01\"", 0), 0u)
      << t[0];
  EXPECT_NE(t[1].find("\"procedure\":\"NEUSTART\""), std::string::npos);
  EXPECT_NE(t[1].find("\"title\":\"A n w e n d u n g e n\",\"rows\":[\"Mitglieder\",\"Beiträge\","
                      "\"Prüfungen\"],\"count\":3,\"selection\":1,\"position\":1"),
            std::string::npos)
      << t[1];
  EXPECT_NE(t[1].find("\"captions\":[\"\",\" Info\",\"\",\"\",\"\",\"\",\"\",\"\",\"\"]"),
            std::string::npos);
  EXPECT_NE(t[1].find("\"menuvalue\":\"00000000\""), std::string::npos) << t[1];  // as the caller filled it
  EXPECT_NE(t[1].find("\"event\":48,\"row\":2,\"reply\":null,\"error\":0}"), std::string::npos);
  EXPECT_NE(t[2].find("\"message\":\"Datei zur Zeit gesperrt - bitte warten!\",\"file\":\"FX01\","
                      "\"operation\":\"OPEN\",\"status_code\":\"9/065\""),
            std::string::npos)
      << t[2];
  EXPECT_NE(t[2].find("\"event\":null,\"row\":null,\"reply\":\"W\""), std::string::npos);
  EXPECT_NE(t[3].find("\"event\":256"), std::string::npos);
  EXPECT_NE(t[7].find("\"reply\":\"J\""), std::string::npos);
  EXPECT_NE(t[8].find("\"command\":\"Q\""), std::string::npos);
}

TEST(ScriptedRuntime, TextPageAndInputShowTheirFields) {
  ScriptedRun run("reply X\ninput Grün\n");
  encoding::putText(run.data.pageTitle(), "Hilfe zu PX01");
  encoding::putText(run.data.pageLine(1), "Erste Zeile");
  encoding::putText(run.data.pageLine(2), "Über \"Anführung\"");
  encoding::putRaw(run.data.pageUsed(), "02");
  EXPECT_EQ(run.call("TEXT-ANZEIGEN"), 0);
  EXPECT_EQ(run.data.reply(), 'X');
  message(run.data, "Name:");
  encoding::putText(run.data.inputText(), "alt");
  EXPECT_EQ(run.call("EINGABE"), 0);
  EXPECT_EQ(run.data.reply(), 'J');
  EXPECT_EQ(encoding::getText(run.data.inputText()), "Grün");
  EXPECT_EQ(run.call("EINGABE"), 0);  // used up: cancelled with blank input
  EXPECT_EQ(run.data.reply(), 'C');
  EXPECT_TRUE(encoding::isBlank(run.data.inputText()));

  const auto t = run.transcript();
  ASSERT_EQ(t.size(), 3u);
  EXPECT_NE(t[0].find("\"page_title\":\"Hilfe zu PX01\",\"page\":[\"Erste Zeile\","
                      "\"Über \\\"Anführung\\\"\"]"),
            std::string::npos)
      << t[0];
  EXPECT_NE(t[1].find("\"message\":\"Name:\""), std::string::npos);
  EXPECT_NE(t[1].find("\"input\":\"Grün\""), std::string::npos) << t[1];
  EXPECT_EQ(t[0].find("\"input\""), std::string::npos);
  EXPECT_EQ(t[1].find("\"page\""), std::string::npos);
}

TEST(ScriptedRuntime, ListAndFormAnswerAndShowTheirFields) {
  ScriptedRun run("find Logdatei\nkey F5\nfield 2 PX13\nfield 1 Protokoll ansehen\nreply J\n"
                  "find nirgends\n");
  encoding::putText(run.data.listTitle(), "Pflege der Menüdatei");
  encoding::putText(run.data.listHeader(), " Nr.  Text");
  encoding::putText(run.data.listKey(2), "Ändern");
  encoding::putText(run.data.listRow(1), "  10  Pflege der Menüdatei");
  encoding::putText(run.data.listRow(2), "  90  Logdatei anzeigen");
  encoding::putRaw(run.data.listCount(), "0002");
  encoding::putRaw(run.data.listSelection(), "0001");
  encoding::putRaw(run.data.listTop(), "0001");
  message(run.data, "* = überschreibt der Katalog");
  EXPECT_EQ(run.call("LISTE"), 0);
  EXPECT_EQ(run.data.eventCode(), 5);
  EXPECT_EQ(encoding::view(run.data.listChosen()), "0002");
  EXPECT_EQ(encoding::view(run.data.listSelection()), "0002");
  EXPECT_EQ(encoding::view(run.data.chosenRow()), "0000");  // the menu's field stays

  encoding::putText(run.data.formTitle(), "Eintrag 99/90");
  encoding::putText(run.data.formLabel(1), "Text");
  encoding::putRaw(run.data.formWidth(1), "40");
  encoding::putText(run.data.formValue(1), "Logdatei anzeigen");
  encoding::putText(run.data.formLabel(2), "Programm");
  encoding::putRaw(run.data.formWidth(2), "04");
  encoding::putText(run.data.formValue(2), "PX13");
  encoding::putRaw(run.data.formCount(), "02");
  message(run.data, "");
  EXPECT_EQ(run.call("MASKE"), 0);
  EXPECT_EQ(run.data.reply(), 'J');
  EXPECT_EQ(encoding::getText(run.data.formValue(1)), "Protokoll ansehen");
  EXPECT_EQ(encoding::getText(run.data.formValue(2)), "PX13");
  EXPECT_EQ(run.call("LISTE"), screenset::kScriptNoMatch);

  const auto t = run.transcript();
  ASSERT_EQ(t.size(), 3u);
  for (const char* shown :
       {"\"procedure\":\"LISTE\"", "\"list_title\":\"Pflege der Menüdatei\"",
        "\"list_header\":\" Nr.  Text\"", "\"list_keys\":[\"\",\"Ändern\",\"\",",
        "\"list_rows\":[\"  10  Pflege der Menüdatei\",\"  90  Logdatei anzeigen\"]",
        "\"list_count\":2", "\"list_selection\":1", "\"message\":\"* = überschreibt der Katalog\"",
        "\"event\":5,\"row\":2"})
    EXPECT_NE(t[0].find(shown), std::string::npos) << shown << "\n" << t[0];
  for (const char* shown :
       {"\"form_title\":\"Eintrag 99/90\"", "\"form_labels\":[\"Text\",\"Programm\"]",
        "\"form_values\":[\"Logdatei anzeigen\",\"PX13\"]",
        "\"form_input\":[\"Protokoll ansehen\",\"PX13\"]", "\"reply\":\"J\""})
    EXPECT_NE(t[1].find(shown), std::string::npos) << shown << "\n" << t[1];
  EXPECT_EQ(t[1].find("list_rows"), std::string::npos);
  EXPECT_NE(t[2].find("\"reason\":\"script line 6: no row of LISTE contains \\\"nirgends\\\"\""),
            std::string::npos)
      << t[2];
}

TEST(ScriptedRuntime, FailuresLeaveCodeDetailsAndReason) {
  {
    ScriptedRun run("key ESC\nselect zwei\n");
    EXPECT_EQ(run.call(""), screenset::kScriptInvalid);
    EXPECT_EQ(run.control.errorCode(), screenset::kScriptInvalid);
    EXPECT_EQ(run.control.errorDetail1(), 2);
    EXPECT_EQ(run.call("NEUSTART"), screenset::kScriptInvalid);  // and stays broken
    const auto t = run.transcript();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_NE(t[0].find("\"error\":9202,\"reason\":\"script line 2: select needs a row number"),
              std::string::npos)
        << t[0];
  }
  {
    ScriptedRun run("error 4711\n");
    EXPECT_EQ(run.call("SETZEN-DESKTOP-WINDOW"), 4711);
    EXPECT_EQ(run.control.errorCode(), 4711);
    EXPECT_EQ(run.control.errorDetail1(), 1);
    EXPECT_EQ(run.control.errorDetail2(), 1);
    EXPECT_EQ(run.call("SETZEN-DESKTOP-WINDOW"), 0);  // only the next call fails
    EXPECT_EQ(run.control.errorCode(), 0);
  }
  {
    ScriptedRun run("");
    EXPECT_EQ(run.call("BOX-UNBEKANNT"), screenset::kUnknownProcedure);
    run.control.setInterfaceVersion(3);
    EXPECT_EQ(run.call("NEUSTART"), screenset::kWrongVersion);
    EXPECT_EQ(run.control.errorDetail2(), 3);
    EXPECT_EQ(run.call("", 'Q'), 0);  // ending always works
    const auto t = run.transcript();
    ASSERT_EQ(t.size(), 3u);
    EXPECT_NE(t[0].find("unknown procedure \\\"BOX-UNBEKANNT\\\""), std::string::npos) << t[0];
  }
}

TEST(ScriptedRuntime, MissingScriptIsEmptyAndUnreadableScriptFails) {
  platform::DlProgramLoader loader({buildDir() + "/lib/px01/scripted"});
  C control;
  D data;
  control.setDataBlockVersion(76);
  control.setInterfaceVersion(2);
  control.setSetName("MPX01");
  control.setProcedure("NEUSTART");
  ::unsetenv("DSGRUN_SCRIPT");
  ::unsetenv("DSGRUN_TRANSCRIPT");
  data.setEventCode(99);
  EXPECT_EQ(loader.call("DSGRUN", control.data(), data.data()).returnCode, 0);
  EXPECT_EQ(data.eventCode(), 0);  // Escape
  loader.unload("DSGRUN");

  ::setenv("DSGRUN_SCRIPT", "/nonexistent/script", 1);
  EXPECT_EQ(loader.call("DSGRUN", control.data(), data.data()).returnCode,
            screenset::kScriptUnreadable);
  EXPECT_EQ(control.errorDetail1(), ENOENT);
  loader.unload("DSGRUN");
  ::unsetenv("DSGRUN_SCRIPT");
}

// Ended from outside: the process's end signal cuts the script's pause
// short, and from then on every call answers at once as cancelled (a list
// with Escape, a form unchanged), without
// taking script lines; "Q" still ends the set. In a child process, since
// the signal stays noted for good.
TEST(ScriptedRuntime, AnEndSignalCutsThePauseShortAndEveryCallAnswersAsCancelled) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    ::alarm(30);  // a pause that is not cut short fails the test instead of hanging it
    platform::catchEndSignals();
    std::string out;
    {
      ScriptedRun run("pause 600000\nkey ENTER\nreply J\nreply W\ninput Text\n");
      run.call("");
      std::thread sender([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ::kill(::getpid(), SIGTERM);
      });
      showMenu(run.data, "A n w e n d u n g e n", {"Mitglieder", "Beiträge", "Prüfungen"});
      (void)encoding::putDigits(run.data.selection(), 2);
      run.call("NEUSTART");
      sender.join();
      out += "menu " + std::to_string(run.data.eventCode()) + " " +
             std::string(encoding::view(run.data.chosenRow())) + ";";
      for (const char* box : {"BOX-FRAGE", "BOX-FEHLER-RC", "BOX-INFO"}) {
        run.call(box);
        out += std::string(box) + " " + run.data.reply() + ";";
      }
      encoding::putText(run.data.inputText(), "Vorgabe");
      run.call("EINGABE");
      out += "input " + std::string(1, run.data.reply()) + " [" +
             std::string(encoding::trimmed(run.data.inputText())) + "];";
      encoding::putText(run.data.listRow(1), "eins");
      encoding::putText(run.data.listRow(2), "zwei");
      encoding::putRaw(run.data.listCount(), "0002");
      encoding::putRaw(run.data.listSelection(), "0002");
      run.call("LISTE");
      out += "list " + std::to_string(run.data.eventCode()) + " " +
             std::string(encoding::view(run.data.listChosen())) + ";";
      encoding::putRaw(run.data.formCount(), "01");
      encoding::putText(run.data.formValue(1), "alt");
      run.call("MASKE");
      out += "form " + std::string(1, run.data.reply()) + " [" +
             std::string(encoding::trimmed(run.data.formValue(1))) + "];";
      out += "end " + std::to_string(run.call("", 'Q')) + ";";
      for (const std::string& line : run.transcript())
        out += line.find("\"signal\":15") != std::string::npos ? "S" : "-";
    }
    (void)!::write(fds[1], out.data(), out.size());
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string out;
  char buf[512];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(out,
            "menu 0 0002;BOX-FRAGE N;BOX-FEHLER-RC C;BOX-INFO  ;input C [];list 0 0002;"
            "form C [alt];end 0;-SSSSSSS-");
}

}  // namespace
