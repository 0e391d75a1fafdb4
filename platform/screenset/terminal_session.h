// The terminal that the terminal runtime draws on: curses on /dev/tty, the
// locale for UTF-8, and giving the terminal back clean however the process
// ends (the set command "Q", exit, or a signal).
//
// The end signals: when the process catches them itself (the launcher,
// platform/terminal.h), they only ask it to end and the set gives the
// terminal back at "Q" of the orderly end; the set just hands the platform
// its async-signal-safe restorer for a second signal. Otherwise the set
// installs handlers of its own that give the terminal back and let the
// signal take its earlier course.
#pragma once

#include "platform/screenset/errors.h"

namespace screenset::terminal {

// Starts curses on /dev/tty unless it runs already. A failure (no terminal,
// unknown TERM) leaves everything as it was.
Failure start();
bool running();
// The terminal's input, for a wait that an end signal may cut short.
int inputFd();
// Ends curses and gives the terminal back as it was found.
void stop();
// True once when the terminal was given back behind curses' back (a signal
// that did not end the process): the next call repaints everything.
bool takeSuspended();
// Repaints the whole screen from the next refresh on, after someone else
// used the terminal.
void resume();

}  // namespace screenset::terminal

// Gives the terminal back at once: cooked mode, cursor shown, normal screen.
// Async-signal-safe; for programs that install their own signal handlers
// after the screen set started.
extern "C" void DSGRUN_RESTORE_TERMINAL(void);
