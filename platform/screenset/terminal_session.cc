#include "platform/screenset/terminal_session.h"

#include <curses.h>
#include <fcntl.h>
#include <langinfo.h>
#include <signal.h>
#include <term.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "abi/program.h"
#include "platform/terminal.h"

namespace screenset::terminal {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

// State the signal handler reads: plain data, set before handlers exist.
volatile sig_atomic_t gActive = 0;
volatile sig_atomic_t gSuspended = 0;
int gFd = -1;
termios gShellMode{};
char gLeaveSequence[256] = {};
std::size_t gLeaveLength = 0;
struct sigaction gPrevious[kSignalCount];
bool gHandlersInstalled = false;
bool gRestorerRegistered = false;  // with the platform, whose owner ends the process

struct Session {
  std::FILE* in = nullptr;
  std::FILE* out = nullptr;
  SCREEN* screen = nullptr;
  std::string oldLocale;
  bool exitHookRegistered = false;
} session;

void restoreTerminalNow() {
  if (!gActive || gFd < 0) return;
  if (gLeaveLength > 0) {
    ssize_t ignored = ::write(gFd, gLeaveSequence, gLeaveLength);
    (void)ignored;
  }
  ::tcsetattr(gFd, TCSANOW, &gShellMode);
}

int indexOf(int sig) {
  for (int i = 0; i < kSignalCount; ++i)
    if (kSignals[i] == sig) return i;
  return -1;
}

void onSignal(int sig, siginfo_t* info, void* context) {
  const int saved = errno;
  restoreTerminalNow();
  gSuspended = 1;
  const int i = indexOf(sig);
  if (i >= 0 && (gPrevious[i].sa_flags & SA_SIGINFO) != 0 && gPrevious[i].sa_sigaction != nullptr) {
    gPrevious[i].sa_sigaction(sig, info, context);
  } else if (i >= 0 && gPrevious[i].sa_handler != SIG_DFL && gPrevious[i].sa_handler != SIG_IGN) {
    gPrevious[i].sa_handler(sig);
  } else {
    // Let the signal take its default course, now that the terminal is clean.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(sig);
  }
  errno = saved;
}

// Before newterm, so that "previous" means what the process had, not what
// curses put in.
void rememberHandlers() {
  for (int i = 0; i < kSignalCount; ++i) ::sigaction(kSignals[i], nullptr, &gPrevious[i]);
}

void installHandlers() {
  for (int i = 0; i < kSignalCount; ++i) {
    if ((gPrevious[i].sa_flags & SA_SIGINFO) == 0 && gPrevious[i].sa_handler == SIG_IGN)
      continue;  // e.g. SIGHUP under nohup stays ignored
    struct sigaction sa {};
    sa.sa_sigaction = onSignal;
    sa.sa_flags = SA_SIGINFO;
    sigemptyset(&sa.sa_mask);
    ::sigaction(kSignals[i], &sa, nullptr);
  }
  gHandlersInstalled = true;
}

void restoreHandlers() {
  if (!gHandlersInstalled) return;
  for (int i = 0; i < kSignalCount; ++i) ::sigaction(kSignals[i], &gPrevious[i], nullptr);
  gHandlersInstalled = false;
}

void append(const char* capability) {
  if (capability == nullptr || capability == reinterpret_cast<char*>(-1)) return;
  const std::size_t n = std::strlen(capability);
  if (gLeaveLength + n >= sizeof gLeaveSequence) return;
  std::memcpy(gLeaveSequence + gLeaveLength, capability, n);
  gLeaveLength += n;
}

// What endwin would send, prepared now because a signal handler cannot ask
// curses for it.
void prepareLeaveSequence() {
  gLeaveLength = 0;
  append(exit_attribute_mode);
  append(cursor_normal);
  append(keypad_local);
  if (key_mouse != nullptr && key_mouse != reinterpret_cast<char*>(-1))
    append("\033[?1000l\033[?1002l\033[?1006l");
  if (exit_ca_mode != nullptr && exit_ca_mode != reinterpret_cast<char*>(-1))
    append(exit_ca_mode);
  else
    append("\r\n");
}

bool utf8Locale() {
  const char* cs = nl_langinfo(CODESET);
  return cs != nullptr && (std::strcmp(cs, "UTF-8") == 0 || std::strcmp(cs, "utf8") == 0);
}

bool set(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0';
}

// Only the character type: the process's number formats stay as they were.
void chooseLocale() {
  const char* old = std::setlocale(LC_CTYPE, nullptr);
  session.oldLocale = old ? old : "C";
  std::setlocale(LC_CTYPE, "");
  // A terminal started without any locale setting is nearly always UTF-8.
  if (!utf8Locale() && !set("LC_ALL") && !set("LC_CTYPE") && !set("LANG"))
    std::setlocale(LC_CTYPE, "C.UTF-8");
}

void closeFiles() {
  if (session.in) std::fclose(session.in);
  if (session.out) std::fclose(session.out);
  session.in = session.out = nullptr;
  gFd = -1;
}

void atProcessExit() { stop(); }

}  // namespace

bool running() { return session.screen != nullptr; }

int inputFd() { return session.in != nullptr ? fileno(session.in) : -1; }

Failure start() {
  if (running()) return {};
  const char* term = std::getenv("TERM");
  if (term == nullptr || *term == '\0')
    return {kUnknownTerminal, 1, 0, "TERM is not set"};
  session.out = std::fopen("/dev/tty", "w");
  session.in = session.out ? std::fopen("/dev/tty", "r") : nullptr;
  if (!session.in) {
    const int e = errno;
    closeFiles();
    return {kNoTerminal, static_cast<std::uint16_t>(e), 0,
            std::string("no terminal: /dev/tty: ") + std::strerror(e)};
  }
  gFd = fileno(session.out);
  ::tcgetattr(gFd, &gShellMode);
  chooseLocale();
  const bool ownSignals = !platform::endSignalsCaught();
  if (ownSignals) rememberHandlers();
  session.screen = newterm(nullptr, session.out, session.in);
  if (session.screen == nullptr) {
    closeFiles();
    std::setlocale(LC_CTYPE, session.oldLocale.c_str());
    return {kUnknownTerminal, 2, 0, std::string("unknown terminal type ") + term};
  }
  set_term(session.screen);
  raw();  // Ctrl-C and Ctrl-Z are keys here, not a way out past the menu
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  set_escdelay(25);
  curs_set(0);
  mousemask(BUTTON1_CLICKED | BUTTON1_DOUBLE_CLICKED | BUTTON4_PRESSED | BUTTON5_PRESSED,
            nullptr);
  mouseinterval(300);
  if (has_colors()) {
    start_color();
    use_default_colors();
    init_pair(1, COLOR_WHITE, COLOR_BLUE);   // bars, frames
    init_pair(2, COLOR_BLACK, COLOR_CYAN);   // selected row, buttons
    init_pair(3, COLOR_RED, -1);             // lock banner
    init_pair(4, COLOR_BLACK, COLOR_WHITE);  // boxes
  }
  prepareLeaveSequence();
  gActive = 1;
  gSuspended = 0;
  if (ownSignals) {
    installHandlers();
  } else {
    platform::setTerminalRestorer(&restoreTerminalNow);
    gRestorerRegistered = true;
  }
  if (!session.exitHookRegistered) {
    // Runs at exit, or when this module is unloaded, whichever comes first.
    std::atexit(atProcessExit);
    session.exitHookRegistered = true;
  }
  return {};
}

void stop() {
  if (!running()) return;
  if (gRestorerRegistered) {
    // Taken back only after endwin: a second end signal in the middle of it
    // still finds the restorer, which sends what endwin sends once more.
    endwin();
    gActive = 0;
    platform::setTerminalRestorer(nullptr);
    gRestorerRegistered = false;
  } else {
    gActive = 0;
    restoreHandlers();
    endwin();
  }
  delscreen(session.screen);
  session.screen = nullptr;
  closeFiles();
  std::setlocale(LC_CTYPE, session.oldLocale.c_str());
}

bool takeSuspended() {
  if (!gSuspended) return false;
  gSuspended = 0;
  return true;
}

void resume() {
  if (!running()) return;
  // After endwin the next refresh puts the terminal back into program mode
  // (keypad, mouse, alternate screen) whatever the other program left.
  endwin();
  clearok(curscr, TRUE);
}

}  // namespace screenset::terminal

extern "C" __attribute__((visibility("default"))) void DSGRUN_RESTORE_TERMINAL(void) {
  screenset::terminal::restoreTerminalNow();
  screenset::terminal::gSuspended = 1;
}
