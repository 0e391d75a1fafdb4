// The terminal DSGRUN in real terminals: the demo driver inside tmux for what
// the user sees and the events keys produce, and pseudo-terminals for start
// failures and giving the terminal back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
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

using namespace std::chrono_literals;

std::string quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs a shell command, returning its output.
std::string run(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen((command + " 2>&1").c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

bool haveTmux() { return std::system("tmux -V >/dev/null 2>&1") == 0; }

// One tmux server of its own, running the demo driver in an 80x24 window.
class DemoInTmux {
 public:
  explicit DemoInTmux(const std::string& steps) {
    static int counter = 0;
    const std::string name = "pxscreen" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
    tmux_ = "tmux -u -L " + name + " -f /dev/null";
    const std::string dir = ::testing::TempDir() + name;
    result_ = dir + ".result";
    rc_ = dir + ".rc";
    std::remove(result_.c_str());
    std::remove(rc_.c_str());
    const std::string command = "env LANG=C.UTF-8 LC_ALL= " + buildDir() + "/bin/dsgdemo --result " +
                                result_ + " " + steps + "; echo $? > " + rc_ + "; sleep 60";
    run(tmux_ + " new-session -d -x 80 -y 24 " + quote(command));
    run(tmux_ + " set-option -g window-size manual");
    socket_ = run(tmux_ + " display-message -p '#{socket_path}'");
    while (!socket_.empty() && socket_.back() == '\n') socket_.pop_back();
  }
  ~DemoInTmux() {
    run(tmux_ + " kill-server");
    if (!socket_.empty()) std::remove(socket_.c_str());  // tmux leaves it behind
    std::remove(result_.c_str());
    std::remove(rc_.c_str());
  }

  std::string screen() { return run(tmux_ + " capture-pane -p"); }
  void keys(const std::string& args) { run(tmux_ + " send-keys " + args); }
  void resize(int columns, int lines) {
    run(tmux_ + " resize-window -x " + std::to_string(columns) + " -y " + std::to_string(lines));
  }

  // Polls the screen until `text` shows (or, with `present` false, is gone).
  bool waitFor(const std::string& text, bool present = true) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < deadline) {
      last_ = screen();
      if ((last_.find(text) != std::string::npos) == present) return true;
      std::this_thread::sleep_for(100ms);
    }
    return false;
  }
  const std::string& lastScreen() const { return last_; }

  // The demo's exit code and result lines once it has ended.
  bool waitForEnd(int& exitCode, std::vector<std::string>& lines) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < deadline) {
      const std::string rc = readFile(rc_);
      if (!rc.empty() && rc.back() == '\n') {
        exitCode = std::atoi(rc.c_str());
        std::istringstream in(readFile(result_));
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return true;
      }
      std::this_thread::sleep_for(100ms);
    }
    return false;
  }

 private:
  std::string tmux_, socket_, result_, rc_, last_;
};

TEST(TerminalRuntime, ShowsTheMenuWithUmlautsAndAnswersKeys) {
  if (!haveTmux()) GTEST_SKIP() << "tmux is not installed";
  DemoInTmux demo("menu frage eingabe text menu menu");
  ASSERT_TRUE(demo.waitFor("A n w e n d u n g e n")) << demo.lastScreen();
  const std::string s = demo.lastScreen();
  for (const char* shown : {"DEMO01 001 - Version 2026.1", "PX01 - 013", "07.12.26",
                            "Turn- und Sportverein Grünwald e.V.", "Hauptmenü",
                            "Mitgliederverwaltung", "Prüfungen und Gürtelfarben",
                            "Größenliste Vereinskleidung", "1234 Adressen", "Berechtigung: J",
                            "F2 Info", "F3 Sperre", "F4 Rechn.", "F6 Kalend", "1/24"})
    EXPECT_NE(s.find(shown), std::string::npos) << shown << "\n" << s;
  // Blank captions leave their keys out.
  for (const char* absent : {"F1", "F5", "F7", "F8", "F9"})
    EXPECT_EQ(s.find(absent), std::string::npos) << absent << "\n" << s;

  demo.keys("Down Down Enter");
  ASSERT_TRUE(demo.waitFor("Wollen Sie das System verlassen?")) << demo.lastScreen();
  EXPECT_NE(demo.lastScreen().find("[ Ja ]"), std::string::npos);
  demo.keys("j");
  ASSERT_TRUE(demo.waitFor("Name des Mitglieds:")) << demo.lastScreen();
  demo.keys("-l 'ler ä'");
  demo.keys("BSpace BSpace Enter");
  ASSERT_TRUE(demo.waitFor("Hilfe zum Hauptmenü")) << demo.lastScreen();
  demo.keys("Escape");
  ASSERT_TRUE(demo.waitFor("Hilfe zum Hauptmenü", false)) << demo.lastScreen();
  demo.keys("-l Ü");  // type-ahead, umlaut included
  ASSERT_TRUE(demo.waitFor("12/24")) << demo.lastScreen();
  // The next menu looks the same; keys typed ahead wait in the input.
  demo.keys("F5 End F12");

  int rc = -1;
  std::vector<std::string> lines;
  ASSERT_TRUE(demo.waitForEnd(rc, lines)) << demo.lastScreen();
  EXPECT_EQ(rc, 0);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[1], "NEUSTART error=0/0/0 event=48 row=0003 selection=0003 position=0001 reply=_ input=");
  EXPECT_NE(lines[2].find("BOX-FRAGE error=0/0/0"), std::string::npos) << lines[2];
  EXPECT_NE(lines[2].find("reply=J"), std::string::npos) << lines[2];
  EXPECT_NE(lines[3].find("EINGABE error=0/0/0"), std::string::npos);
  EXPECT_NE(lines[3].find("reply=J input=Müller"), std::string::npos) << lines[3];
  EXPECT_NE(lines[4].find("TEXT-ANZEIGEN error=0/0/0"), std::string::npos);
  EXPECT_NE(lines[5].find("event=5 row=0012 selection=0012 position=0001"), std::string::npos)
      << lines[5];
  // End scrolls the 24 rows so that the last of 16 visible is row 24.
  EXPECT_NE(lines[6].find("event=92 row=0024 selection=0024 position=0009"), std::string::npos)
      << lines[6];
}

TEST(TerminalRuntime, TooSmallTerminalShowsANoticeAndResizingRedraws) {
  if (!haveTmux()) GTEST_SKIP() << "tmux is not installed";
  DemoInTmux demo("menu fremd desktop frage");
  ASSERT_TRUE(demo.waitFor("A n w e n d u n g e n")) << demo.lastScreen();
  demo.resize(60, 20);
  ASSERT_TRUE(demo.waitFor("Fenster zu klein")) << demo.lastScreen();
  demo.resize(100, 30);
  ASSERT_TRUE(demo.waitFor("A n w e n d u n g e n")) << demo.lastScreen();
  EXPECT_EQ(demo.lastScreen().find("Fenster zu klein"), std::string::npos);
  demo.keys("Escape");
  // A program wrote over the screen and left line mode on; the desktop
  // repaint wipes its output and keys work one by one again.
  ASSERT_TRUE(demo.waitFor("[ Nein ]")) << demo.lastScreen();
  EXPECT_EQ(demo.lastScreen().find("FREMDE AUSGABE"), std::string::npos) << demo.lastScreen();
  demo.keys("Escape");  // Esc on a question is "no"
  int rc = -1;
  std::vector<std::string> lines;
  ASSERT_TRUE(demo.waitForEnd(rc, lines)) << demo.lastScreen();
  EXPECT_EQ(rc, 0);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_NE(lines[1].find("event=0 row=0001"), std::string::npos) << lines[1];
  EXPECT_EQ(lines[2], "FREMD");
  EXPECT_NE(lines[3].find("SETZEN-DESKTOP-WINDOW error=0/0/0"), std::string::npos) << lines[3];
  EXPECT_NE(lines[4].find("reply=N"), std::string::npos) << lines[4];
}

// Mouse reports as an xterm sends them: ESC [ M, button + 32, column + 33, line + 33.
std::string mouse(int button, int column, int line) {
  char buf[64];
  std::snprintf(buf, sizeof buf, " 1b 5b 4d %02x %02x %02x", button + 32, column + 33, line + 33);
  return buf;
}
std::string click(int column, int line) { return mouse(0, column, line) + mouse(3, column, line); }

TEST(TerminalRuntime, ClickSelectsARowAndDoubleClickChoosesIt) {
  if (!haveTmux()) GTEST_SKIP() << "tmux is not installed";
  DemoInTmux demo("menu menu");
  ASSERT_TRUE(demo.waitFor("A n w e n d u n g e n")) << demo.lastScreen();
  demo.keys("-H" + click(20, 6));  // screen line 6 is list row 3
  ASSERT_TRUE(demo.waitFor("3/24")) << demo.lastScreen();
  demo.keys("-H" + click(20, 8) + click(20, 8));
  int rc = -1;
  std::vector<std::string> lines;
  ASSERT_TRUE(demo.waitForEnd(rc, lines)) << demo.lastScreen();
  EXPECT_EQ(rc, 0);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[1].find("event=27 row=0003 selection=0003"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("event=48 row=0005 selection=0005"), std::string::npos) << lines[2];
}

TEST(TerminalRuntime, ListWithKeyBarAndAFormOverIt) {
  if (!haveTmux()) GTEST_SKIP() << "tmux is not installed";
  DemoInTmux demo("liste maske maske");
  ASSERT_TRUE(demo.waitFor("Pflege der Menüdatei - Systemverwaltung")) << demo.lastScreen();
  const std::string s = demo.lastScreen();
  for (const char* shown : {"Nr.  Text", "10  Mitgliederverwaltung", "F2 Ändern", "F7 Warum?",
                            "* = überschreibt der Menükatalog", "1/24"})
    EXPECT_NE(s.find(shown), std::string::npos) << shown << "\n" << s;
  EXPECT_EQ(s.find("F6"), std::string::npos) << s;  // a blank caption leaves its key out
  demo.keys("Down Down F5");
  ASSERT_TRUE(demo.waitFor("Eintrag 99/10 ändern")) << demo.lastScreen();
  // The list stays behind the form.
  EXPECT_NE(demo.lastScreen().find("Nr.  Text"), std::string::npos) << demo.lastScreen();
  demo.keys("Tab BSpace BSpace BSpace BSpace");
  demo.keys("-l 'PX0412'");  // the field takes four characters
  demo.keys("Enter Enter");        // Enter moves on; on the last field it saves
  demo.keys("Down -l 'Neu' Escape");  // the next form: cancelled, the values stay

  int rc = -1;
  std::vector<std::string> lines;
  ASSERT_TRUE(demo.waitForEnd(rc, lines)) << demo.lastScreen();
  EXPECT_EQ(rc, 0);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], "LISTE error=0/0/0 event=5 row=0003 selection=0003 position=0001");
  EXPECT_EQ(lines[2], "MASKE error=0/0/0 reply=J values=Pflege der Menüdatei|PX04|M");
  EXPECT_EQ(lines[3], "MASKE error=0/0/0 reply=C values=Pflege der Menüdatei|PX04|M");
}

// ---- pseudo-terminals ----------------------------------------------------------

using D = pxabi::ScreenDataBlock;
using C = pxabi::ScreenControlBlock;

struct Blocks {
  C control;
  D data;
  Blocks() {
    control.setDataBlockVersion(76);
    control.setInterfaceVersion(2);
    control.setSetName("MPX01");
    control.setSetCommand('N');
  }
};

// In a child of its own session: `body` runs and its result is the exit code.
template <class Body>
int inChild(int ttyMaster, const char* slaveName, Body body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    if (slaveName != nullptr) {
      const int fd = ::open(slaveName, O_RDWR);  // becomes the controlling terminal
      if (fd < 0) ::_exit(100);
    }
    ::_exit(body());
  }
  // Drain what the child draws so that it never blocks on a full terminal.
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    char buf[4096];
    if (ttyMaster >= 0) while (::read(ttyMaster, buf, sizeof buf) > 0) {}
    std::this_thread::sleep_for(10ms);
  }
  return status;
}

int startCode(Blocks& b) {
  platform::DlProgramLoader loader({buildDir() + "/lib/px01/programs"});
  const auto out = loader.call("DSGRUN", b.control.data(), b.data.data());
  if (!out.loaded) return 99;
  return out.returnCode;
}

struct Pty {
  int master = -1;
  std::string slave;
  Pty() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return;
    slave = ::ptsname(master);
    ::fcntl(master, F_SETFL, O_NONBLOCK);
  }
  ~Pty() {
    if (master >= 0) ::close(master);
  }
};

TEST(TerminalRuntime, UnusableTerminalIsAnErrorWithDetails) {
  const struct {
    bool tty;
    const char* term;
    std::uint16_t code, detail1;
  } cases[] = {{false, "xterm", screenset::kNoTerminal, ENXIO},
               {true, nullptr, screenset::kUnknownTerminal, 1},
               {true, "px-no-such-terminal", screenset::kUnknownTerminal, 2}};
  for (const auto& c : cases) {
    Pty pty;
    ASSERT_FALSE(pty.slave.empty());
    const int status = inChild(pty.master, c.tty ? pty.slave.c_str() : nullptr, [&] {
      if (c.term) ::setenv("TERM", c.term, 1);
      else ::unsetenv("TERM");
      Blocks b;
      const int rc = startCode(b);
      return rc == c.code && b.control.errorCode() == c.code &&
                     b.control.errorDetail1() == c.detail1
                 ? 0
                 : 1;
    });
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << (c.term ? c.term : "TERM unset");
  }
}

bool cooked(const std::string& slave) {
  const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
  termios t{};
  const bool ok = fd >= 0 && ::tcgetattr(fd, &t) == 0 && (t.c_lflag & ICANON) && (t.c_lflag & ECHO);
  if (fd >= 0) ::close(fd);
  return ok;
}

TEST(TerminalRuntime, TerminalIsGivenBackOnQuitAndOnSignals) {
  {
    Pty pty;
    const int status = inChild(pty.master, pty.slave.c_str(), [] {
      ::setenv("TERM", "xterm", 1);
      Blocks b;
      if (startCode(b) != 0) return 1;
      b.control.setSetCommand('Q');
      return startCode(b) == 0 ? 0 : 2;
    });
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(cooked(pty.slave));
  }
  for (int sig : {SIGTERM, SIGHUP}) {
    Pty pty;
    const int status = inChild(pty.master, pty.slave.c_str(), [sig] {
      ::setenv("TERM", "xterm", 1);
      Blocks b;
      if (startCode(b) != 0) return 1;
      ::raise(sig);
      return 3;  // not reached: the signal keeps its default course
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << sig << " " << status;
    EXPECT_EQ(WTERMSIG(status), sig);
    EXPECT_TRUE(cooked(pty.slave)) << sig;
  }
  {
    // A handler the process had before the set started still runs, after
    // the terminal is given back.
    Pty pty;
    const int status = inChild(pty.master, pty.slave.c_str(), [] {
      ::setenv("TERM", "xterm", 1);
      ::signal(SIGTERM, [](int) { ::_exit(7); });
      Blocks b;
      if (startCode(b) != 0) return 1;
      ::raise(SIGTERM);
      return 3;
    });
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 7);
    EXPECT_TRUE(cooked(pty.slave));
  }
}

// In a process that catches the end signals itself (the launcher), a
// signal during the wait for a key ends the wait: "NEUSTART" answers Escape,
// a box its cancel, and the terminal stays the set's until "Q" gives it back.
TEST(TerminalRuntime, AnEndSignalEndsTheWaitForAKey) {
  Pty pty;
  const int status = inChild(pty.master, pty.slave.c_str(), [] {
    ::setenv("TERM", "xterm", 1);
    ::alarm(20);  // a wait that is not ended fails instead of hanging
    platform::catchEndSignals();
    Blocks b;
    if (startCode(b) != 0) return 1;
    std::thread sender([] {
      std::this_thread::sleep_for(100ms);
      ::kill(::getpid(), SIGTERM);
    });
    b.data.setEventCode(99);
    b.control.setProcedure("NEUSTART");
    const int menu = startCode(b);
    sender.join();
    if (menu != 0 || b.data.eventCode() != 0) return 2;
    b.control.setProcedure("BOX-FRAGE");
    if (startCode(b) != 0 || b.data.reply() != 'N') return 3;
    termios t{};
    const int tty = ::open("/dev/tty", O_RDWR);
    if (tty < 0 || ::tcgetattr(tty, &t) != 0 || (t.c_lflag & ICANON)) return 4;  // given back early
    ::close(tty);
    b.control.setProcedure("");
    b.control.setSetCommand('Q');
    return startCode(b) == 0 ? 0 : 5;
  });
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(cooked(pty.slave));
}

}  // namespace
