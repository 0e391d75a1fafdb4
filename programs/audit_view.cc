#include "programs/audit_view.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <deque>
#include <sstream>

#include "abi/screen_data_block.h"
#include "encoding/cp850.h"
#include "programs/module.h"
#include "programs/module_screen.h"
#include "programs/screens.h"

namespace programs {
namespace {

using datafiles::AuditRecord;
using datafiles::FileStatus;

constexpr std::size_t kRows = pxabi::ScreenDataBlock::kListRowCount;
constexpr std::string_view kTitle = "Logdatei anzeigen";

std::string utf8(std::span<const char> cp850) { return encoding::getText(cp850); }

std::string padded(std::string text, std::size_t columns) {
  const std::size_t n = encoding::cp850::lengthOf(text);
  if (n < columns) text.append(columns - n, ' ');
  return text;
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The record's time in local time, formatted by strftime.
std::string localTime(const AuditRecord& r, const char* format) {
  const auto t = datafiles::parseAuditTime(encoding::view(r.time()));
  if (!t) return std::string(encoding::view(r.time()));
  const std::time_t secs = std::chrono::system_clock::to_time_t(*t);
  std::tm tm{};
  ::localtime_r(&secs, &tm);
  char buf[40];
  return std::strftime(buf, sizeof buf, format, &tm) ? buf : "";
}

std::string keyOf(const AuditRecord& r) {
  return std::string(r.view().substr(0, AuditRecord::kKeyLength));
}

struct Filter {
  std::string user;                 // code page 850, upper case; by or about
  std::vector<std::string> events;  // upper case
  std::string dayText;              // as typed
  std::optional<LocalDay> day;

  bool matches(const AuditRecord& r) const {
    if (!user.empty() && upper(std::string(encoding::trimmed(r.user()))) != user &&
        upper(std::string(encoding::trimmed(r.subject()))) != user)
      return false;
    return events.empty() || std::find(events.begin(), events.end(),
                                       std::string(encoding::trimmed(r.event()))) != events.end();
  }
  std::string describe() const {
    std::string d;
    if (!user.empty()) d += " Benutzer " + encoding::cp850::toUtf8(user);
    if (!events.empty()) {
      d += " Ereignis";
      for (std::size_t i = 0; i < events.size(); ++i) d += (i ? "," : " ") + events[i];
    }
    if (day) d += " Tag " + dayText;
    return d;
  }
};

// The rows in view and whether the trail holds more matching records before
// and after them.
struct Window {
  std::vector<AuditRecord> rows;
  bool moreBefore = false, moreAfter = false;
};

class TrailView {
 public:
  TrailView(pxabi::CommonArea& area, platform::ScreenSet& screen, datafiles::FileStore& store)
      : area_(area), screen_(area, screen), store_(store) {}

  std::int32_t run() {
    const char cls = area_.userClass();
    if (cls != 'M' && cls != 'H') {
      screen_.run("BOX-WARNUNG", "Sie sind nicht berechtigt!");
      return kRefused;
    }
    if (!load(Load::kNewest)) return kRefused;
    std::string note = window_.rows.empty() ? "Keine Einträge." : "";
    for (;;) {
      ListScreen list;
      // A filtered title says the filter; the title row has 60 columns.
      const std::string filtered = filter_.describe();
      list.title = filtered.empty() ? std::string(kTitle) : "Logdatei" + filtered;
      list.header = padded("Zeit", 17) + " " + padded("Benutzer", 10) + " " +
                    padded("Ereignis", 8) + " " + padded("Objekt", 10) + " " +
                    padded("Ergebnis", 8) + " Einzelheiten";
      list.keys = {"Hilfe", "Filter", "", "", window_.moreBefore ? "Ältere" : "",
                   window_.moreAfter ? "Neuere" : ""};
      for (const AuditRecord& r : window_.rows) list.rows.push_back(auditRow(r));
      const auto choice = screen_.showList(list, note);
      if (!choice) return kDone;
      note.clear();
      const AuditRecord* row =
          choice->row >= 1 && choice->row <= static_cast<int>(window_.rows.size())
              ? &window_.rows[static_cast<std::size_t>(choice->row - 1)]
              : nullptr;
      switch (choice->event) {
        case 0:
          return kDone;
        case 48:
          if (row != nullptr) showRecord(*row);
          break;
        case 1:
          help();
          break;
        case 2:
          if (!askFilter()) return kDone;
          if (!load(Load::kNewest)) return kRefused;
          if (window_.rows.empty()) note = "Keine Einträge für diesen Filter.";
          break;
        case 5:
          if (!window_.moreBefore) break;
          if (!load(Load::kOlder)) return kRefused;
          break;
        case 6:
          if (!window_.moreAfter) break;
          if (!load(Load::kNewer)) return kRefused;
          break;
        default:
          break;
      }
      if (screen_.failed()) return kDone;
    }
  }

 private:
  enum class Load { kNewest, kOlder, kNewer };

  // Reads the rows of the next window. The file is opened for each load
  // and closed again: a handle left open while the administrator reads
  // would keep the trail's log from being emptied meanwhile.
  bool load(Load how) {
    auto f = store_.file(datafiles::kAuditFile);
    const FileStatus opened = f->open(datafiles::OpenMode::kInput);
    if (opened == datafiles::kFileMissing) {
      window_ = Window{};
      return true;  // an installation whose trail is not made yet: nothing recorded
    }
    if (!opened.ok()) {
      screen_.runFileBox("BOX-FEHLER-OK", "Fehler", "FXAU ", "OPEN", opened);
      return false;
    }
    // The range: the day's, or every event.
    std::string from(1, AuditRecord::kEventKind),
        to(1, static_cast<char>(AuditRecord::kEventKind + 1));
    if (filter_.day) {
      from += datafiles::auditTimeText(filter_.day->from);
      to = std::string(1, AuditRecord::kEventKind) + datafiles::auditTimeText(filter_.day->to);
    }
    bool exclusiveFrom = false;
    if (how == Load::kOlder && !window_.rows.empty()) to = keyOf(window_.rows.front());
    if (how == Load::kNewer && !window_.rows.empty()) {
      from = keyOf(window_.rows.back());
      exclusiveFrom = true;
    }
    // Newest and older: the last rows before `to`; newer: the first after `from`.
    const bool keepLast = how != Load::kNewer;
    std::deque<AuditRecord> rows;
    bool dropped = false, beyond = false;
    AuditRecord r;
    encoding::putRaw(r.bytes().first(from.size()), from);
    FileStatus s = f->start(exclusiveFrom ? datafiles::StartMode::kGreaterThan
                                          : datafiles::StartMode::kNotLessThan,
                            r.bytes(), from.size());
    while (s.ok() && (s = f->readNext(r.bytes())).ok()) {
      if (r.view().substr(0, to.size()) >= to) {
        beyond = true;
        break;
      }
      if (!filter_.matches(r)) continue;
      if (!keepLast && rows.size() == kRows) {
        beyond = true;
        break;
      }
      rows.push_back(r);
      if (keepLast && rows.size() > kRows) {
        rows.pop_front();
        dropped = true;
      }
    }
    (void)f->close();
    if (!s.ok() && !s.atEnd() && !s.invalidKey()) {
      screen_.runFileBox("BOX-FEHLER-OK", "Fehler", "FXAU ", "READ", s);
      return false;
    }
    Window w;
    w.rows.assign(rows.begin(), rows.end());
    switch (how) {
      case Load::kNewest:
        w.moreBefore = dropped;
        w.moreAfter = false;
        break;
      case Load::kOlder:
        w.moreBefore = dropped;
        w.moreAfter = true;
        break;
      case Load::kNewer:
        w.moreBefore = true;
        w.moreAfter = beyond && rows.size() == kRows;
        break;
    }
    if (how == Load::kNewer && w.rows.empty()) return true;  // nothing newer: stay
    window_ = std::move(w);
    // Newest last, under the cursor; older ones from their last one.
    const int n = static_cast<int>(window_.rows.size());
    const int at = how == Load::kNewer ? 1 : n;
    screen_.setListPosition(at, how == Load::kNewer ? 1 : std::max(1, n - 15));
    return true;
  }

  // The filter form; false once the screen set failed.
  bool askFilter() {
    std::string events;
    for (std::size_t i = 0; i < filter_.events.size(); ++i)
      events += (i ? "," : "") + filter_.events[i];
    std::vector<FormField> fields = {
        {"Benutzer (leer: alle)", 10, filter_.user},
        {"Ereignisse, mit Komma (leer: alle)", 40, events},
        {"Tag TT.MM.JJJJ (leer: alle)", 10, filter_.dayText},
    };
    std::string message;
    int focus = 1;
    for (;;) {
      const auto reply = screen_.showForm("Filter", fields, message, focus);
      if (!reply) return false;
      if (*reply == 'C') return true;
      Filter f;
      f.user = upper(fields[0].value);
      std::istringstream in(upper(fields[1].value));
      for (std::string e; std::getline(in, e, ',');) {
        e.erase(std::remove(e.begin(), e.end(), ' '), e.end());
        if (!e.empty()) f.events.push_back(e);
      }
      f.dayText = fields[2].value;
      if (!f.dayText.empty()) {
        f.day = parseDay(f.dayText);
        if (!f.day) {
          message = "Tag: TT.MM.JJJJ, zum Beispiel 07.12.2026.";
          focus = 3;
          continue;
        }
      }
      filter_ = std::move(f);
      return true;
    }
  }

  void showRecord(const AuditRecord& r) {
    std::vector<std::string> lines = {
        "Zeit:          " + localTime(r, "%d.%m.%Y %H:%M:%S") + " (UTC " +
            std::string(encoding::view(r.time())) + ")",
        "Arbeitsplatz:  " + utf8(r.host()) + ", Prozess " +
            std::to_string(encoding::getDigits(r.pid()).value_or(0)),
        "Mandant:       " + utf8(r.client()),
        "Benutzer:      " + utf8(r.user()),
        "Betrifft:      " + utf8(r.subject()),
        "Ereignis:      " + utf8(r.event()),
        "Objekt:        " + utf8(r.object()),
        "Ergebnis:      " + utf8(r.result()),
        "Geschrieben:   " + utf8(r.origin()),
    };
    if (const long lost = static_cast<long>(encoding::getDigits(r.lost()).value_or(0)); lost > 0)
      lines.push_back("Davor nicht geschrieben: " + std::to_string(lost) + " Einträge");
    const std::string detail = utf8(r.detail());
    lines.push_back("Einzelheiten:");
    // The detail has up to 80 characters: two lines of a page.
    std::size_t at = 0;
    while (at < detail.size()) {
      std::size_t n = 0, bytes = 0;
      while (at + bytes < detail.size() && n < 76) {
        const unsigned char c = static_cast<unsigned char>(detail[at + bytes]);
        bytes += c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        ++n;
      }
      lines.push_back("  " + detail.substr(at, bytes));
      at += bytes;
    }
    screen_.showPage(kTitle, lines);
  }

  void help() {
    const auto text = readHelp(installedHelpDirectory(), "PX13");
    if (text)
      screen_.showPage("Hilfe PX13", *text);
    else
      screen_.run("BOX-INFO", "Zum Thema \"PX13\" gibt es keinen Hilfetext.");
  }

  pxabi::CommonArea& area_;
  ModuleScreen screen_;
  datafiles::FileStore& store_;
  Filter filter_;
  Window window_;
};

}  // namespace

std::string auditRow(const AuditRecord& r) {
  std::string detail = utf8(r.detail());
  if (!encoding::isBlank(r.subject()))
    detail = utf8(r.subject()) + (detail.empty() ? "" : ": " + detail);
  return localTime(r, "%d.%m.%y %H:%M:%S") + " " + padded(utf8(r.user()), 10) + " " +
         padded(utf8(r.event()), 8) + " " + padded(utf8(r.object()), 10) + " " +
         padded(utf8(r.result()), 8) + " " + detail;
}

std::optional<LocalDay> parseDay(std::string_view text) {
  int d = 0, m = 0, y = 0, n = 0;
  const std::string t(text);
  if (std::sscanf(t.c_str(), "%2d.%2d.%4d%n", &d, &m, &y, &n) != 3 ||
      static_cast<std::size_t>(n) != t.size())
    return std::nullopt;
  if (y < 100) y += 2000;
  if (y < 1970 || y > 2199 || m < 1 || m > 12 || d < 1 || d > 31) return std::nullopt;
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = m - 1;
  tm.tm_mday = d;
  tm.tm_isdst = -1;
  const std::time_t from = std::mktime(&tm);
  if (from == static_cast<std::time_t>(-1) || tm.tm_mday != d) return std::nullopt;
  std::tm next{};
  next.tm_year = y - 1900;
  next.tm_mon = m - 1;
  next.tm_mday = d + 1;
  next.tm_isdst = -1;
  const std::time_t to = std::mktime(&next);
  return LocalDay{std::chrono::system_clock::from_time_t(from),
                  std::chrono::system_clock::from_time_t(to)};
}

std::int32_t showAuditTrail(pxabi::CommonArea& area, platform::ScreenSet& screen,
                            datafiles::FileStore& store) {
  TrailView view(area, screen, store);
  return view.run();
}

}  // namespace programs
