// The terminal screen set: DSGRUN drawing the main menu window, the message
// boxes, text pages and input lines of "MPX01" with curses, and reading the
// user's keys and mouse.
#include <curses.h>

#include <algorithm>
#include <cwchar>
#include <functional>
#include <string>

#include "abi/program.h"
#include "encoding/cp850.h"
#include "platform/screenset/dispatch.h"
#include "platform/screenset/key_bar.h"
#include "platform/screenset/list_cursor.h"
#include "platform/screenset/terminal_session.h"
#include "platform/terminal.h"

namespace screenset {
namespace {

constexpr int kMinColumns = 80, kMinLines = 16;
constexpr int kListWidth = 40;
constexpr int kInputWidth = 78;
// Consecutive read failures after which the terminal counts as gone.
constexpr int kMaxReadFailures = 100;

std::wstring wide(std::string_view cp850) {
  std::wstring out;
  out.reserve(cp850.size());
  for (char c : cp850) {
    const char32_t cp = encoding::cp850::toCodePoint(static_cast<unsigned char>(c));
    out += cp < 0x20 || cp == 0x7F ? L' ' : static_cast<wchar_t>(cp);
  }
  return out;
}

int pair(int n) { return has_colors() ? COLOR_PAIR(n) : 0; }

// Text at (y, x), cut at `width` columns (or the screen's edge).
void put(int y, int x, const std::wstring& s, int width = -1) {
  if (y < 0 || y >= LINES || x >= COLS) return;
  const int room = COLS - std::max(x, 0);
  const int n = std::min<int>(static_cast<int>(s.size()), width < 0 ? room : std::min(width, room));
  if (n > 0) mvaddnwstr(y, std::max(x, 0), s.c_str(), n);
}
void put(int y, int x, std::string_view cp850, int width = -1) { put(y, x, wide(cp850), width); }

void fill(int y, int x, int width, attr_t attr) {
  attron(attr);
  for (int i = 0; i < width && x + i < COLS; ++i) mvaddch(y, x + i, ' ');
  attroff(attr);
}

void frame(int y, int x, int h, int w, attr_t attr) {
  attron(attr);
  mvhline(y, x + 1, ACS_HLINE, w - 2);
  mvhline(y + h - 1, x + 1, ACS_HLINE, w - 2);
  mvvline(y + 1, x, ACS_VLINE, h - 2);
  mvvline(y + 1, x + w - 1, ACS_VLINE, h - 2);
  mvaddch(y, x, ACS_ULCORNER);
  mvaddch(y, x + w - 1, ACS_URCORNER);
  mvaddch(y + h - 1, x, ACS_LLCORNER);
  mvaddch(y + h - 1, x + w - 1, ACS_LRCORNER);
  attroff(attr);
}

bool tooSmall() { return COLS < kMinColumns || LINES < kMinLines; }

void drawTooSmall() {
  erase();
  const std::wstring a = L"Fenster zu klein";
  const std::wstring b = L"mindestens " + std::to_wstring(kMinColumns) + L" x " +
                         std::to_wstring(kMinLines) + L" Zeichen";
  put(LINES / 2 - 1, (COLS - static_cast<int>(a.size())) / 2, a);
  put(LINES / 2, (COLS - static_cast<int>(b.size())) / 2, b);
}

void drawKeyBar(std::span<const std::string_view> captions) {
  for (const KeyLabel& k : layoutKeyBar(captions, COLS - 2)) {
    attron(A_REVERSE);
    put(LINES - 1, 1 + k.column, L"F" + std::to_wstring(k.key));
    attroff(A_REVERSE);
    put(LINES - 1, 1 + k.captionColumn, k.caption);
  }
}

// ---- the main menu window --------------------------------------------------

int listTop() { return 4; }
int listHeight() { return std::max(1, LINES - 8); }
int listLeft() { return (COLS - (kListWidth + 4)) / 2; }

void drawDesktop(const MenuFields& m, const ListCursor* cursor) {
  erase();
  if (tooSmall()) return drawTooSmall();
  const attr_t bar = pair(1) | (has_colors() ? 0 : A_REVERSE);
  fill(0, 0, COLS, bar);
  attron(bar);
  put(0, 1, m.header, 30);
  put(0, (COLS - static_cast<int>(m.module.size())) / 2, m.module);
  put(0, COLS - 1 - static_cast<int>(m.date.size()), m.date);
  attroff(bar);
  attron(A_BOLD);
  put(1, 1, m.club, 40);
  attroff(A_BOLD);
  put(1, COLS - 1 - static_cast<int>(m.menuText.size()), m.menuText);
  if (!m.banner.empty()) {
    std::string_view b = m.banner;
    while (!b.empty() && b.front() == ' ') b.remove_prefix(1);
    attron(pair(3) | A_BOLD);
    put(2, (COLS - static_cast<int>(b.size())) / 2, b);
    attroff(pair(3) | A_BOLD);
  }

  const int x = listLeft(), h = listHeight(), w = kListWidth + 4;
  frame(listTop() - 1, x, h + 2, w, pair(1));
  if (!m.title.empty()) {
    attron(A_BOLD);
    put(listTop() - 1, x + (w - static_cast<int>(m.title.size()) - 2) / 2, " " + std::string(m.title) + " ");
    attroff(A_BOLD);
  }
  if (cursor != nullptr && cursor->count() > 0) {
    for (int row = cursor->top(); row <= cursor->bottom(); ++row) {
      const int y = listTop() + row - cursor->top();
      const bool selected = row == cursor->selection();
      const attr_t a = selected ? (pair(2) | A_BOLD | (has_colors() ? 0 : A_REVERSE)) : 0;
      fill(y, x + 1, w - 2, a);
      attron(a);
      put(y, x + 2, m.rows[row - 1], kListWidth);
      attroff(a);
    }
    if (cursor->top() > 1) mvaddch(listTop(), x + w - 1, ACS_UARROW);
    if (cursor->bottom() < cursor->count()) mvaddch(listTop() + h - 1, x + w - 1, ACS_DARROW);
    const std::wstring where =
        L" " + std::to_wstring(cursor->selection()) + L"/" + std::to_wstring(cursor->count()) + L" ";
    put(listTop() + h, x + w - 2 - static_cast<int>(where.size()), where);
  }

  const int status = LINES - 3;
  put(status, x, m.status, 20);
  if (!m.permission.empty()) {
    const std::wstring p = L"Berechtigung: " + wide(m.permission);
    put(status, x + w - static_cast<int>(p.size()), p);
  }
  drawKeyBar(m.captions);
}

// ---- a list to pick from ("LISTE") ---------------------------------------------

constexpr int kListRowWidth = 78;
int listRowsTop() { return 2; }
int listRowsHeight() { return std::max(1, LINES - 5); }
int listRowsLeft() { return std::max(0, (COLS - kListRowWidth) / 2); }

// Title bar, column header, the rows in view, where the cursor is, the
// message line and the key bar.
void drawList(const ListFields& l, const ListCursor& cursor, std::string_view message) {
  erase();
  if (tooSmall()) return drawTooSmall();
  const attr_t bar = pair(1) | (has_colors() ? 0 : A_REVERSE);
  fill(0, 0, COLS, bar);
  attron(bar | A_BOLD);
  put(0, (COLS - static_cast<int>(l.title.size())) / 2, l.title);
  attroff(bar | A_BOLD);
  const int x = listRowsLeft();
  attron(A_BOLD | A_UNDERLINE);
  put(1, x, l.header, kListRowWidth);
  attroff(A_BOLD | A_UNDERLINE);
  for (int row = cursor.top(); cursor.count() > 0 && row <= cursor.bottom(); ++row) {
    const int y = listRowsTop() + row - cursor.top();
    const bool selected = row == cursor.selection();
    const attr_t a = selected ? (pair(2) | A_BOLD | (has_colors() ? 0 : A_REVERSE)) : 0;
    fill(y, x, std::min(kListRowWidth, COLS - x), a);
    attron(a);
    put(y, x, l.rows[static_cast<std::size_t>(row - 1)], kListRowWidth);
    attroff(a);
  }
  const int below = listRowsTop() + listRowsHeight();
  if (cursor.top() > 1) mvaddch(listRowsTop(), COLS - 1, ACS_UARROW);
  if (cursor.bottom() < cursor.count()) mvaddch(below - 1, COLS - 1, ACS_DARROW);
  const std::wstring where = cursor.count() == 0
                                 ? L" (leer) "
                                 : L" " + std::to_wstring(cursor.selection()) + L"/" +
                                       std::to_wstring(cursor.count()) + L" ";
  put(below, COLS - 1 - static_cast<int>(where.size()), where);
  if (!message.empty()) {
    attron(pair(3) | A_BOLD);
    put(LINES - 2, 1, message, COLS - 2);
    attroff(pair(3) | A_BOLD);
  }
  drawKeyBar(l.keys);
}

// ---- reading keys ------------------------------------------------------------

struct Key {
  // kEnded: an end signal came; the call answers as cancelled.
  enum Kind { kNone, kChar, kCode, kLost, kEnded } kind = kNone;
  wint_t value = 0;
};

// One key. curses may hold keys already read (typed ahead, the rest of a
// sequence): those come first, without waiting. Otherwise the wait is a poll
// on the terminal that an end signal cuts short, and curses reads only once
// the terminal has input.
Key readKey(int& failures) {
  for (;;) {
    wint_t ch = 0;
    nodelay(stdscr, TRUE);
    int rc = get_wch(&ch);
    if (rc == ERR) {
      const platform::Wake w = platform::waitForInput(terminal::inputFd());
      if (w == platform::Wake::kEndSignal) return {Key::kEnded, 0};
      if (w != platform::Wake::kReady) continue;  // a resize shows at the next read
      nodelay(stdscr, FALSE);
      rc = get_wch(&ch);
    }
    if (rc == ERR) {
      if (++failures >= kMaxReadFailures) return {Key::kLost, 0};
      return {};
    }
    failures = 0;
    return {rc == KEY_CODE_YES ? Key::kCode : Key::kChar, ch};
  }
}

bool isEnter(const Key& k) {
  return (k.kind == Key::kChar && (k.value == L'\n' || k.value == L'\r')) ||
         (k.kind == Key::kCode && k.value == KEY_ENTER);
}
bool isEscape(const Key& k) { return k.kind == Key::kChar && k.value == 27; }

Failure lost() {
  return {kTerminalLost, static_cast<std::uint16_t>(errno), 0, "terminal input lost"};
}

// ---- boxes -------------------------------------------------------------------

struct Button {
  const wchar_t* label;
  char reply;
};

struct BoxLook {
  const wchar_t* title;
  std::vector<Button> buttons;
  int cancel;  // the button Esc takes
};

BoxLook lookOf(Procedure p) {
  switch (p) {
    case Procedure::kQuestion:
      return {L"Frage", {{L"Ja", 'J'}, {L"Nein", 'N'}}, 1};
    case Procedure::kErrorRetry:
      return {L"Fehler", {{L"Wiederholen", 'W'}, {L"Abbrechen", 'C'}}, 1};
    case Procedure::kErrorOk:
      return {L"Fehler", {{L"OK", ' '}}, 0};
    case Procedure::kWarning:
      return {L"Warnung", {{L"OK", ' '}}, 0};
    default:
      return {L"Information", {{L"OK", ' '}}, 0};
  }
}

struct BoxArea {
  int y, x, h, w;
};

BoxArea drawBoxFrame(int innerLines, const wchar_t* title) {
  const int w = std::min(COLS - 2, 76), h = innerLines + 2;
  const BoxArea a{(LINES - h) / 2, (COLS - w) / 2, h, w};
  for (int y = 0; y < h; ++y) fill(a.y + y, a.x, w, pair(4) | (has_colors() ? 0 : A_REVERSE));
  frame(a.y, a.x, h, w, pair(4) | A_BOLD);
  const std::wstring t = std::wstring(L" ") + title + L" ";
  attron(pair(4) | A_BOLD);
  put(a.y, a.x + (w - static_cast<int>(t.size())) / 2, t);
  attroff(pair(4) | A_BOLD);
  return a;
}

void drawBox(const BoxFields& b, const BoxLook& look, int focus) {
  const BoxArea a = drawBoxFrame(6, look.title);
  attron(pair(4));
  put(a.y + 2, a.x + 3, b.text, a.w - 6);
  std::wstring details;
  if (!b.file.empty()) details += L"Datei: " + wide(b.file) + L"   ";
  if (!b.operation.empty()) details += L"Operation: " + wide(b.operation) + L"   ";
  if (!b.statusCode.empty()) details += L"Status: " + wide(b.statusCode);
  put(a.y + 3, a.x + 3, details, a.w - 6);
  attroff(pair(4));
  int width = 0;
  for (const Button& btn : look.buttons) width += static_cast<int>(std::wcslen(btn.label)) + 6;
  int x = a.x + (a.w - width) / 2;
  for (int i = 0; i < static_cast<int>(look.buttons.size()); ++i) {
    const std::wstring label = std::wstring(L"[ ") + look.buttons[i].label + L" ]";
    const attr_t attr = i == focus ? (pair(2) | A_BOLD | A_REVERSE * !has_colors()) : pair(4);
    attron(attr);
    put(a.y + 5, x, label);
    attroff(attr);
    x += static_cast<int>(label.size()) + 2;
  }
}

// ---- the runtime ---------------------------------------------------------------

class TerminalRuntime : public Backend {
 public:
  Result call(const Request& rq) override {
    if (rq.control.command == 'Q') {
      terminal::stop();
      return {};
    }
    if (Failure f = terminal::start(); f.failed()) return failedWith(std::move(f));
    if (terminal::takeSuspended()) terminal::resume();
    return serveProcedure(rq);
  }

  void finished(const Request&, const Result& result) override {
    // The caller's error stop writes to the console: leave it a clean one.
    if (result.failure.failed()) terminal::stop();
  }

 private:
  Result serveProcedure(const Request& rq) {
    const Procedure p = rq.control.procedure;
    if (p == Procedure::kMenu) return menu(rq);
    Result r;
    if (p == Procedure::kDesktop) terminal::resume();
    if (isBox(p)) return box(rq, p);
    if (p == Procedure::kTextPage) return page(rq);
    if (p == Procedure::kInput) return input(rq);
    if (p == Procedure::kList) return list(rq);
    if (p == Procedure::kForm) return form(rq);
    background(rq);
    refresh();
    if (p == Procedure::kStart) r.event = 0;
    return r;
  }

  // What the block describes behind a box, page or form: the caller's list
  // when it filled one, else the desktop.
  void background(const Request& rq) {
    if (rq.list.filled()) {
      ListCursor c(static_cast<int>(rq.list.rows.size()), rq.list.selection, rq.list.top);
      c.setHeight(listRowsHeight());
      drawList(rq.list, c, "");
      return;
    }
    const MenuFields& m = rq.menu;
    ListCursor c(static_cast<int>(m.rows.size()), m.selection, m.position);
    c.setHeight(listHeight());
    drawDesktop(m, &c);
  }

  Result menu(const Request& rq) {
    const MenuFields& m = rq.menu;
    ListCursor cursor(static_cast<int>(m.rows.size()), m.selection, m.position);
    TypeAhead typeAhead;
    int failures = 0;
    Result r;
    for (;;) {
      cursor.setHeight(listHeight());
      drawDesktop(m, &cursor);
      refresh();
      const Key k = readKey(failures);
      std::optional<std::uint16_t> event;
      if (k.kind == Key::kLost) return failedWith(lost());
      if (k.kind == Key::kEnded) {
        // Escape where the cursor stands, as the user would have left.
        Result ended = endedAnswer(rq, platform::endSignal());
        ended.chosenRow = ended.selection = cursor.selection();
        ended.position = cursor.top();
        return ended;
      }
      if (isEnter(k)) event = 48;
      else if (isEscape(k)) event = 0;
      else if (k.kind == Key::kCode) event = menuKey(k.value, cursor, m);
      else if (k.kind == Key::kChar && k.value == 12) clearok(curscr, TRUE);
      else if (k.kind == Key::kChar && k.value >= 0x20 && k.value != 0x7F) {
        if (auto row = typeAhead.key(static_cast<char32_t>(k.value), m.rows, cursor.selection(),
                                     TypeAhead::Clock::now()))
          cursor.moveTo(*row);
      }
      if (event) {
        r.event = *event;
        r.chosenRow = r.selection = cursor.selection();
        r.position = cursor.top();
        return r;
      }
    }
  }

  // A function key, movement or mouse; an event when the key ends the menu.
  std::optional<std::uint16_t> menuKey(wint_t code, ListCursor& cursor, const MenuFields& m) {
    for (int f = 1; f <= 12; ++f)
      if (code == static_cast<wint_t>(KEY_F(f))) return f <= 10 ? f : 80 + f;
    switch (code) {
      case KEY_UP: cursor.up(); break;
      case KEY_DOWN: cursor.down(); break;
      case KEY_PPAGE: cursor.pageUp(); break;
      case KEY_NPAGE: cursor.pageDown(); break;
      case KEY_HOME: cursor.home(); break;
      case KEY_END: cursor.end(); break;
      case KEY_MOUSE: return mouse(cursor, m);
      default: break;
    }
    return std::nullopt;
  }

  std::optional<std::uint16_t> mouse(ListCursor& cursor, const MenuFields&) {
    MEVENT ev;
    if (getmouse(&ev) != OK) return std::nullopt;
    if (ev.bstate & BUTTON4_PRESSED) {
      cursor.up();
      return std::nullopt;
    }
    if (ev.bstate & BUTTON5_PRESSED) {
      cursor.down();
      return std::nullopt;
    }
    const int row = cursor.top() + ev.y - listTop();
    const bool onRow = cursor.count() > 0 && ev.y >= listTop() && row <= cursor.bottom() &&
                       ev.x > listLeft() && ev.x < listLeft() + kListWidth + 3;
    if (onRow) cursor.moveTo(row);
    if ((ev.bstate & BUTTON1_DOUBLE_CLICKED) && onRow) return 48;
    if (ev.bstate & (BUTTON1_CLICKED | BUTTON1_DOUBLE_CLICKED)) return 27;
    return std::nullopt;
  }

  Result box(const Request& rq, Procedure p) {
    const BoxLook look = lookOf(p);
    const int n = static_cast<int>(look.buttons.size());
    int focus = 0, failures = 0;
    Result r;
    for (;;) {
      background(rq);
      if (!tooSmall()) drawBox(rq.box, look, focus);
      refresh();
      const Key k = readKey(failures);
      std::optional<int> chosen;
      if (k.kind == Key::kLost) return failedWith(lost());
      if (k.kind == Key::kEnded) return endedAnswer(rq, platform::endSignal());
      if (isEnter(k)) chosen = focus;
      else if (isEscape(k)) chosen = look.cancel;
      else if (k.kind == Key::kCode && (k.value == KEY_LEFT || k.value == KEY_BTAB))
        focus = (focus + n - 1) % n;
      else if ((k.kind == Key::kCode && k.value == KEY_RIGHT) ||
               (k.kind == Key::kChar && k.value == L'\t'))
        focus = (focus + 1) % n;
      else if (k.kind == Key::kChar) {
        for (int i = 0; i < n; ++i)
          if (std::towlower(k.value) == std::towlower(look.buttons[i].label[0])) chosen = i;
      }
      if (chosen) {
        r.reply = look.buttons[*chosen].reply;
        background(rq);
        refresh();
        return r;
      }
    }
  }

  Result page(const Request& rq) {
    const auto& lines = rq.page.lines;
    int top = 0, failures = 0;
    Result r;
    for (;;) {
      background(rq);
      const int h = std::max(1, LINES - 4);
      const int last = std::max(0, static_cast<int>(lines.size()) - h);
      top = std::clamp(top, 0, last);
      if (!tooSmall()) {
        const int w = std::min(COLS, kInputWidth + 2), x = (COLS - w) / 2;
        for (int y = 1; y < LINES - 1; ++y) fill(y, x, w, pair(4) | A_REVERSE * !has_colors());
        frame(1, x, LINES - 2, w, pair(4) | A_BOLD);
        attron(pair(4) | A_BOLD);
        put(1, x + 2, " " + std::string(rq.page.title) + " ", w - 4);
        attroff(pair(4) | A_BOLD);
        attron(pair(4));
        for (int i = 0; i < h && top + i < static_cast<int>(lines.size()); ++i)
          put(2 + i, x + 1, lines[top + i], w - 2);
        put(LINES - 2, x + 2, L" Enter/Esc: schließen ");
        attroff(pair(4));
        if (top > 0) mvaddch(2, x + w - 1, ACS_UARROW);
        if (top < last) mvaddch(LINES - 3, x + w - 1, ACS_DARROW);
      }
      refresh();
      const Key k = readKey(failures);
      if (k.kind == Key::kLost) return failedWith(lost());
      if (k.kind == Key::kEnded) return endedAnswer(rq, platform::endSignal());
      if (isEnter(k) || isEscape(k)) {
        r.reply = ' ';
        background(rq);
        refresh();
        return r;
      }
      if (k.kind != Key::kCode) continue;
      switch (k.value) {
        case KEY_UP: --top; break;
        case KEY_DOWN: ++top; break;
        case KEY_PPAGE: top -= h; break;
        case KEY_NPAGE: top += h; break;
        case KEY_HOME: top = 0; break;
        case KEY_END: top = last; break;
        default: break;
      }
    }
  }

  Result input(const Request& rq) {
    std::wstring text = wide(rq.input.preset);
    std::size_t cursor = text.size();
    int failures = 0;
    Result r;
    for (;;) {
      background(rq);
      curs_set(0);
      if (!tooSmall()) {
        const BoxArea a = drawBoxFrame(5, L"Eingabe");
        attron(pair(4));
        put(a.y + 2, a.x + 3, rq.input.prompt, a.w - 6);
        put(a.y + 5, a.x + 3, L"Enter: übernehmen   Esc: abbrechen", a.w - 6);
        attroff(pair(4));
        const int fw = a.w - 6;
        fill(a.y + 3, a.x + 3, fw, pair(2) | A_REVERSE * !has_colors());
        if (!rq.input.hidden) {
          const std::size_t from = cursor >= static_cast<std::size_t>(fw) ? cursor - fw + 1 : 0;
          attron(pair(2));
          put(a.y + 3, a.x + 3, text.substr(from), fw);
          attroff(pair(2));
          move(a.y + 3, a.x + 3 + static_cast<int>(cursor - from));
        } else {
          move(a.y + 3, a.x + 3);
        }
        curs_set(1);
      }
      refresh();
      const Key k = readKey(failures);
      if (k.kind == Key::kLost || k.kind == Key::kEnded) {
        curs_set(0);
        if (k.kind == Key::kEnded) return endedAnswer(rq, platform::endSignal());
        return failedWith(lost());
      }
      if (isEnter(k) || isEscape(k)) {
        curs_set(0);
        r.reply = isEnter(k) ? 'J' : 'C';
        std::string out;
        if (isEnter(k))
          for (wchar_t c : text) out += static_cast<char>(encoding::cp850::fromCodePoint(c));
        r.input = out;
        background(rq);
        refresh();
        return r;
      }
      editLine(k, text, cursor);
    }
  }

  Result list(const Request& rq) {
    const ListFields& l = rq.list;
    ListCursor cursor(static_cast<int>(l.rows.size()), l.selection, l.top);
    TypeAhead typeAhead;
    int failures = 0;
    for (;;) {
      cursor.setHeight(listRowsHeight());
      drawList(l, cursor, rq.box.text);
      refresh();
      const Key k = readKey(failures);
      std::optional<std::uint16_t> event;
      if (k.kind == Key::kLost) return failedWith(lost());
      if (k.kind == Key::kEnded) {
        Result ended = endedAnswer(rq, platform::endSignal());
        ended.listChosen = ended.listSelection = cursor.selection();
        ended.listTop = cursor.top();
        return ended;
      }
      if (isEnter(k)) event = 48;
      else if (isEscape(k)) event = 0;
      else if (k.kind == Key::kCode) event = listKey(k.value, cursor);
      else if (k.kind == Key::kChar && k.value == 12) clearok(curscr, TRUE);
      else if (k.kind == Key::kChar && k.value >= 0x20 && k.value != 0x7F) {
        if (auto row = typeAhead.key(static_cast<char32_t>(k.value), l.rows, cursor.selection(),
                                     TypeAhead::Clock::now()))
          cursor.moveTo(*row);
      }
      if (event) {
        Result r;
        r.event = *event;
        r.listChosen = r.listSelection = cursor.selection();
        r.listTop = cursor.top();
        return r;
      }
    }
  }

  std::optional<std::uint16_t> listKey(wint_t code, ListCursor& cursor) {
    for (int f = 1; f <= 12; ++f)
      if (code == static_cast<wint_t>(KEY_F(f))) return f <= 10 ? f : 80 + f;
    switch (code) {
      case KEY_UP: cursor.up(); break;
      case KEY_DOWN: cursor.down(); break;
      case KEY_PPAGE: cursor.pageUp(); break;
      case KEY_NPAGE: cursor.pageDown(); break;
      case KEY_HOME: cursor.home(); break;
      case KEY_END: cursor.end(); break;
      case KEY_MOUSE: {
        MEVENT ev;
        if (getmouse(&ev) != OK) break;
        if (ev.bstate & BUTTON4_PRESSED) cursor.up();
        else if (ev.bstate & BUTTON5_PRESSED) cursor.down();
        const int row = cursor.top() + ev.y - listRowsTop();
        const bool onRow = cursor.count() > 0 && ev.y >= listRowsTop() && row <= cursor.bottom();
        if (onRow && (ev.bstate & (BUTTON1_CLICKED | BUTTON1_DOUBLE_CLICKED))) cursor.moveTo(row);
        if (onRow && (ev.bstate & BUTTON1_DOUBLE_CLICKED)) return 48;
        break;
      }
      default: break;
    }
    return std::nullopt;
  }

  Result form(const Request& rq) {
    const auto& fields = rq.form.fields;
    std::vector<std::wstring> values;
    for (const auto& f : fields) values.push_back(wide(f.value));
    int focus = rq.form.focus, failures = 0;
    std::size_t cursor = fields.empty() ? 0 : values[static_cast<std::size_t>(focus)].size();
    for (;;) {
      background(rq);
      curs_set(0);
      if (!tooSmall()) {
        const int n = static_cast<int>(fields.size());
        const BoxArea a = drawBoxFrame(n + 3, L"Eingabe");
        attron(pair(4) | A_BOLD);
        put(a.y + 1, a.x + 3, rq.form.title, a.w - 6);
        attroff(pair(4) | A_BOLD);
        constexpr int kLabelColumns = 30;
        for (int i = 0; i < n; ++i) {
          const auto& f = fields[static_cast<std::size_t>(i)];
          attron(pair(4));
          put(a.y + 2 + i, a.x + 3, std::string(f.label) + ":", kLabelColumns);
          attroff(pair(4));
          const int fx = a.x + 3 + kLabelColumns + 1;
          const int fw = std::min(f.width, a.x + a.w - 2 - fx);
          fill(a.y + 2 + i, fx, fw, pair(2) | A_REVERSE * !has_colors());
          attron(pair(2));
          put(a.y + 2 + i, fx, values[static_cast<std::size_t>(i)], fw);
          attroff(pair(2));
        }
        if (!rq.box.text.empty()) {
          attron(pair(4) | A_BOLD);
          put(a.y + 2 + n, a.x + 3, rq.box.text, a.w - 6);
          attroff(pair(4) | A_BOLD);
        }
        attron(pair(4));
        put(a.y + 3 + n, a.x + 3, L"Enter: weiter, im letzten Feld speichern   Esc: abbrechen",
            a.w - 6);
        attroff(pair(4));
        if (n > 0) {
          move(a.y + 2 + focus, a.x + 3 + kLabelColumns + 1 + static_cast<int>(cursor));
          curs_set(1);
        }
      }
      refresh();
      const Key k = readKey(failures);
      if (k.kind == Key::kLost || k.kind == Key::kEnded) {
        curs_set(0);
        if (k.kind == Key::kEnded) return endedAnswer(rq, platform::endSignal());
        return failedWith(lost());
      }
      const int n = static_cast<int>(fields.size());
      const bool next = (k.kind == Key::kChar && k.value == L'\t') ||
                        (k.kind == Key::kCode && k.value == KEY_DOWN) ||
                        (isEnter(k) && focus + 1 < n);
      const bool previous = k.kind == Key::kCode && (k.value == KEY_UP || k.value == KEY_BTAB);
      if (isEscape(k) || (isEnter(k) && !next)) {
        curs_set(0);
        Result r;
        r.reply = isEscape(k) ? 'C' : 'J';
        if (r.reply == 'J') {
          r.formValues.emplace();
          for (const std::wstring& v : values) {
            std::string out;
            for (wchar_t c : v) out += static_cast<char>(encoding::cp850::fromCodePoint(c));
            r.formValues->push_back(out);
          }
        }
        background(rq);
        refresh();
        return r;
      }
      if (n == 0) continue;
      if (next || previous) {
        focus = (focus + (next ? 1 : n - 1)) % n;
        cursor = values[static_cast<std::size_t>(focus)].size();
        continue;
      }
      editLine(k, values[static_cast<std::size_t>(focus)], cursor,
               static_cast<std::size_t>(fields[static_cast<std::size_t>(focus)].width));
    }
  }

  static void editLine(const Key& k, std::wstring& text, std::size_t& cursor,
                       std::size_t width = kInputWidth) {
    if (k.kind == Key::kCode) {
      switch (k.value) {
        case KEY_LEFT: if (cursor > 0) --cursor; break;
        case KEY_RIGHT: if (cursor < text.size()) ++cursor; break;
        case KEY_HOME: cursor = 0; break;
        case KEY_END: cursor = text.size(); break;
        case KEY_BACKSPACE:
          if (cursor > 0) text.erase(--cursor, 1);
          break;
        case KEY_DC:
          if (cursor < text.size()) text.erase(cursor, 1);
          break;
        default: break;
      }
      return;
    }
    if (k.kind != Key::kChar) return;
    if (k.value == 8 || k.value == 0x7F) {
      if (cursor > 0) text.erase(--cursor, 1);
      return;
    }
    const char32_t c = static_cast<char32_t>(k.value);
    const bool inCodePage = c == U'?' || encoding::cp850::fromCodePoint(c) != '?';
    if (c < 0x20 || !inCodePage || text.size() >= width) {
      beep();
      return;
    }
    text.insert(cursor++, 1, static_cast<wchar_t>(c));
  }
};

TerminalRuntime& runtime() {
  static TerminalRuntime r;
  return r;
}

}  // namespace
}  // namespace screenset

PX_PROGRAM(DSGRUN) { return screenset::serve(screenset::runtime(), record1, record2); }
