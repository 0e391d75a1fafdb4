// audit, audit prune, who: reading the audit trail FXAU.DAT, removing its old
// records, and who is signed on now.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "abi/utility_blocks.h"
#include "datafiles/audit_records.h"
#include "datafiles/audit_trail.h"
#include "datafiles/records.h"
#include "datafiles/sessions.h"
#include "datafiles/sqlite_store.h"
#include "encoding/cp850.h"
#include "platform/dl_program_loader.h"
#include "tools/admin_common.h"
#include "tools/audit_log.h"
#include "tools/i18n.h"
#include "tools/text.h"
#include "tools/verbs.h"

namespace tools {
namespace {

using datafiles::AuditRecord;

struct AuditOptions {
  std::string dir = ".";
  std::string user, events, program, since, until, before;
  std::optional<int> client;
  bool json = false;
  bool clearStale = false;
};

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// A local date or time: "YYYY-MM-DD", or with " HH:MM" or " HH:MM:SS" (or
// "T" between). With `endOfDay`, a date alone means the last moment of that
// day (for --until); otherwise its first.
std::optional<datafiles::AuditTime> parseLocal(const std::string& text, bool endOfDay) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char sep = ' ';
  int n = 0;
  const int fields = std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d%n:%2d%n", &y, &mo, &d, &sep,
                                 &h, &mi, &n, &s, &n);
  if (fields == 3) {
    if (text.size() != 10) return std::nullopt;
  } else if (fields < 6 || (sep != ' ' && sep != 'T') ||
             static_cast<std::size_t>(n) != text.size()) {
    return std::nullopt;
  }
  // The years the clock's time points hold.
  if (y < 1970 || y > 2199 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 ||
      s > 59 || h < 0 || mi < 0 || s < 0)
    return std::nullopt;
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1) || tm.tm_mday != d) return std::nullopt;  // 31.02.
  datafiles::AuditTime at = std::chrono::system_clock::from_time_t(t);
  if (fields == 3 && endOfDay) at += std::chrono::hours(24) - std::chrono::microseconds(1);
  return at;
}

datafiles::AuditTime timeOrFail(const std::string& text, const char* option, bool endOfDay) {
  const auto t = parseLocal(text, endOfDay);
  if (!t)
    fail(textf(_("%s takes a local date or time: YYYY-MM-DD or 'YYYY-MM-DD HH:MM'"), option),
         kExitUsage);
  return *t;
}

std::unique_ptr<datafiles::KeyedFile> openTrailOrFail(datafiles::FileStore& store,
                                                      const std::string& dir,
                                                      datafiles::OpenMode mode) {
  auto f = store.file(datafiles::kAuditFile, dir);
  const datafiles::FileStatus s = f->open(mode);
  if (s == datafiles::kFileMissing)
    fail(textf(_("no audit trail FXAU.DAT in %s (an installation made before it: pxadmin check "
                 "--repair makes it)"),
               dir.c_str()));
  if (!s.ok()) fail(textf(_("cannot open %s in %s: %s"), "FXAU.DAT", dir.c_str(), describe(s).c_str()));
  return f;
}

// "ws7:4711".
std::string workstationOf(const AuditRecord& r) {
  return shown(r.host()) + ":" +
         std::to_string(encoding::getDigits(r.pid()).value_or(0));
}

std::string utcIso(std::span<const char> time) {
  const std::string t(encoding::view(time));
  if (t.size() != 20) return t;
  return t.substr(0, 4) + "-" + t.substr(4, 2) + "-" + t.substr(6, 2) + "T" + t.substr(8, 2) +
         ":" + t.substr(10, 2) + ":" + t.substr(12, 2) + "." + t.substr(14, 6) + "Z";
}

std::string padded(std::string s, std::size_t width) {
  // Widths count characters, not the bytes of their UTF-8.
  std::size_t chars = 0;
  for (unsigned char c : s) chars += (c & 0xC0) != 0x80;
  if (chars < width) s.append(width - chars, ' ');
  return s;
}

void runAudit(const AuditOptions& o) {
  std::optional<std::string> since, until;
  if (!o.since.empty()) since = datafiles::auditTimeText(timeOrFail(o.since, "--since", false));
  if (!o.until.empty()) until = datafiles::auditTimeText(timeOrFail(o.until, "--until", true));
  std::vector<std::string> events;
  {
    std::istringstream in(upper(o.events));
    for (std::string e; std::getline(in, e, ',');)
      if (!e.empty()) events.push_back(e);
  }
  const std::string user = upper(o.user.empty() ? "" : encoding::cp850::fromUtf8(o.user));
  const std::string program = upper(o.program.empty() ? "" : encoding::cp850::fromUtf8(o.program));

  const auto owned = storeFor(o.dir);
  datafiles::InstallationStore& store = *owned;
  auto f = openTrailOrFail(store, o.dir, datafiles::OpenMode::kInput);
  AuditRecord r;
  encoding::putRaw(r.time(), since.value_or(""));
  datafiles::FileStatus s =
      f->start(datafiles::StartMode::kNotLessThan, r.bytes(), since ? 21 : 1);
  long lost = 0, shownCount = 0;
  if (!o.json)
    std::cout << padded(_("time"), 21) + padded(_("user"), 12) + padded(_("client"), 8) +
                     padded(_("event"), 10) + padded(_("object"), 12) + padded(_("result"), 10) +
                     padded(_("about"), 12) + padded(_("workstation"), 20) + _("detail")
              << "\n";
  while (s.ok() && (s = f->readNext(r.bytes())).ok()) {
    if (r.kind() != AuditRecord::kEventKind) break;
    if (until && encoding::view(r.time()) > *until) break;
    lost += static_cast<long>(encoding::getDigits(r.lost()).value_or(0));
    const std::string actor(encoding::trimmed(r.user())), subject(encoding::trimmed(r.subject()));
    if (!user.empty() && upper(actor) != user && upper(subject) != user) continue;
    if (o.client && encoding::getDigits(r.client()) != *o.client) continue;
    if (!events.empty() &&
        std::find(events.begin(), events.end(), std::string(encoding::trimmed(r.event()))) ==
            events.end())
      continue;
    if (!program.empty() && upper(std::string(encoding::trimmed(r.object()))) != program) continue;
    ++shownCount;
    const auto client = encoding::getDigits(r.client());
    const long lostBefore = static_cast<long>(encoding::getDigits(r.lost()).value_or(0));
    if (o.json) {
      nlohmann::ordered_json j = {{"time", utcIso(r.time())},
                          {"host", shown(r.host())},
                          {"pid", encoding::getDigits(r.pid()).value_or(0)},
                          {"client", client ? nlohmann::ordered_json(*client) : nlohmann::ordered_json(nullptr)},
                          {"user", shown(r.user())},
                          {"subject", shown(r.subject())},
                          {"event", shown(r.event())},
                          {"object", shown(r.object())},
                          {"result", shown(r.result())},
                          {"origin", shown(r.origin())},
                          {"lost_before", lostBefore},
                          {"detail", shown(r.detail())}};
      std::cout << j.dump() << "\n";
      continue;
    }
    std::string line = padded(localTimeOf(encoding::view(r.time())), 21) +
                       padded(shown(r.user()), 12) +
                       padded(client ? std::to_string(*client) : "", 8) +
                       padded(shown(r.event()), 10) + padded(shown(r.object()), 12) +
                       padded(shown(r.result()), 10) + padded(shown(r.subject()), 12) +
                       padded(workstationOf(r), 20) + shown(r.detail());
    if (lostBefore > 0)
      line += "  [" +
              textf(ngettext("%ld record not written before this one",
                             "%ld records not written before this one",
                             static_cast<unsigned long>(lostBefore)),
                    lostBefore) +
              "]";
    while (!line.empty() && line.back() == ' ') line.pop_back();
    std::cout << line << "\n";
  }
  (void)f->close();
  if (!s.ok() && !s.atEnd() && !s.invalidKey())
    fail(textf(_("cannot read %s: %s"), "FXAU.DAT", describe(s).c_str()));
  if (!o.json) {
    std::cout << textf(ngettext("%ld record", "%ld records", static_cast<unsigned long>(shownCount)),
                       shownCount)
              << "\n";
    if (lost > 0)
      std::cout << textf(ngettext("%ld record of this time could not be written to the trail (the "
                                  "trail was held or could not be written; the lines marked say "
                                  "when it was reported)",
                                  "%ld records of this time could not be written to the trail (the "
                                  "trail was held or could not be written; the lines marked say "
                                  "when it was reported)",
                                  static_cast<unsigned long>(lost)),
                         lost)
                << "\n";
  }
}

// ---- prune ------------------------------------------------------------------

void runPrune(const AuditOptions& o) {
  const datafiles::AuditTime before = timeOrFail(o.before, "--before", false);
  if (before > std::chrono::system_clock::now())
    fail(_("--before lies in the future: that would remove the records of today"), kExitUsage);
  const std::string cutoff = datafiles::auditTimeText(before);
  const auto owned = storeFor(o.dir);
  datafiles::InstallationStore& store = *owned;
  // Held exclusively: a unit that removes many records needs nobody else's
  // record locks checked, and no launcher writes meanwhile.
  auto f = store.file(datafiles::kAuditFile, o.dir);
  const datafiles::FileStatus opened = f->open(datafiles::OpenMode::kExclusive);
  if (opened == datafiles::kFileMissing)
    fail(textf(_("no audit trail FXAU.DAT in %s"), o.dir.c_str()));
  if (opened.locked()) {
    const std::string who = describeSessions(liveSessions(store, o.dir), "  ");
    fail(who.empty()
             ? textf(_("FXAU.DAT is in use: %sPrune when nobody is signed on. Nothing changed."),
                     describe(opened).c_str())
             : textf(_("FXAU.DAT is in use: %s; signed on now:\n%sPrune when nobody is signed "
                       "on. Nothing changed."),
                     describe(opened).c_str(), who.c_str()));
  }
  if (!opened.ok())
    fail(textf(_("cannot open %s in %s: %s"), "FXAU.DAT", o.dir.c_str(),
               describe(opened).c_str()));
  auto abandon = [&](const std::string& what, datafiles::FileStatus s) {
    (void)f->rollback();
    (void)f->close();
    fail(textf(_("%s: %s. Nothing changed."), what.c_str(), describe(s).c_str()));
  };
  if (const datafiles::FileStatus s = f->begin(); !s.ok()) abandon(_("cannot begin the unit"), s);
  AuditRecord r;
  datafiles::FileStatus s = f->start(datafiles::StartMode::kNotLessThan, r.bytes(), 1);
  long removed = 0;
  while (s.ok() && (s = f->readNext(r.bytes())).ok()) {
    if (r.kind() != AuditRecord::kEventKind || encoding::view(r.time()) >= cutoff) break;
    if (const datafiles::FileStatus d = f->remove(r.bytes()); !d.ok())
      abandon(_("cannot remove a record"), d);
    ++removed;
  }
  if (!s.ok() && !s.atEnd() && !s.invalidKey()) abandon(textf(_("cannot read %s"), "FXAU.DAT"), s);
  // The prune itself, in the same unit: it stands with the removal or not.
  datafiles::AuditTrail trail(store, o.dir, "PXADMIN");
  const std::string account = systemAccount();
  const AuditRecord note =
      trail.compose(datafiles::AuditEvent("PRUNE", account)
                        .withObject("FXAU")
                        .withResult("OK")
                        .withDetail(std::to_string(removed) + " records before " +
                                    localTimeOf(cutoff) + " removed"));
  if (const datafiles::FileStatus w = f->write(note.bytes()); !w.ok())
    abandon(_("cannot record the prune"), w);
  if (const datafiles::FileStatus c = f->commit(); !c.ok()) abandon(_("cannot commit"), c);
  datafiles::AuditTrail::recordWritten(note);
  (void)f->close();
  std::cout << textf(ngettext("%ld record before %s removed", "%ld records before %s removed",
                              static_cast<unsigned long>(removed)),
                     removed, localTimeOf(cutoff).c_str())
            << "\n";
}

// ---- who ----------------------------------------------------------------------

struct Flagged {
  int client;
  std::string name;  // code page 850, trimmed
  datafiles::UserRecord record;
};

bool hasLiveSession(const std::vector<datafiles::SessionInfo>& sessions, int client,
                    const std::string& name) {
  return std::any_of(sessions.begin(), sessions.end(), [&](const datafiles::SessionInfo& s) {
    return s.live && s.client == client && s.user == name;
  });
}

// The users whose sign-on flag is "J", every client.
std::vector<Flagged> flaggedUsers(datafiles::InstallationStore& store, platform::ProgramLoader& loader,
                                  const std::string& dir) {
  std::vector<Flagged> out;
  auto f = openOrFail(store, datafiles::kUserFile, dir, datafiles::OpenMode::kInput);
  datafiles::UserRecord u;
  std::fill(u.bytes().begin(), u.bytes().end(), '\0');
  datafiles::FileStatus s = f->start(datafiles::StartMode::kNotLessThan, u.bytes(), 1);
  while (s.ok() && (s = f->readNext(u.bytes())).ok()) {
    if (u.signOnFlag() != 'J') continue;
    const auto plain = userNameCode(loader, pxabi::UserNameBlock::kDecode, u.encodedName());
    if (!plain) fail(_("U001 cannot be loaded (check PX_PROGRAM_PATH)"));
    out.push_back({u.client().value_or(-1), std::string(encoding::trimmed(*plain)), u});
  }
  (void)f->close();
  if (!s.atEnd() && !s.invalidKey())
    fail(textf(_("cannot read %s: %s"), "FX00.DAT", describe(s).c_str()));
  return out;
}

void runWho(const AuditOptions& o) {
  const auto owned = storeFor(o.dir);
  datafiles::InstallationStore& store = *owned;
  platform::DlProgramLoader loader(platform::defaultProgramPath());
  std::vector<datafiles::SessionInfo> sessions;
  const datafiles::FileStatus listed = datafiles::listSessions(store, o.dir, sessions, true);
  const bool noTrail = listed == datafiles::kFileMissing;
  if (!listed.ok() && !noTrail)
    fail(textf(_("cannot read the sessions in FXAU.DAT: %s"), describe(listed).c_str()));
  const auto live = std::count_if(sessions.begin(), sessions.end(),
                                  [](const datafiles::SessionInfo& s) { return s.live; });
  std::cout << textf(_("Signed on now: %ld"), static_cast<long>(live)) << "\n"
            << describeSessions(sessions, "  ");
  if (noTrail) std::cout << "  " << _("(no audit trail FXAU.DAT yet: no session is known)") << "\n";
  if (const auto left = static_cast<long>(sessions.size()) - live; left > 0)
    std::cout << "  "
              << textf(ngettext("(%ld session record of launchers that ended without signing off "
                                "removed)",
                                "(%ld session records of launchers that ended without signing off "
                                "removed)",
                                static_cast<unsigned long>(left)),
                       left)
              << "\n";

  std::vector<Flagged> stale;
  for (Flagged& f : flaggedUsers(store, loader, o.dir))
    if (!hasLiveSession(sessions, f.client, f.name)) stale.push_back(std::move(f));
  std::cout << textf(_("Sign-on flags \"J\" without a live session: %zu"), stale.size()) << "\n";
  for (const Flagged& f : stale)
    std::cout << "  " << textf(_("%s (client %d)"), shown(f.name).c_str(), f.client) << "\n";
  if (!o.clearStale || stale.empty()) return;

  // Each flag is reset under its record's lock, after a last look at the
  // sessions: a launcher marks its session before it sets the flag, so one
  // that starts meanwhile is either seen here or sets its flag after us.
  auto fx00 = openOrFail(store, datafiles::kUserFile, o.dir, datafiles::OpenMode::kInputOutput);
  int cleared = 0;
  for (Flagged& f : stale) {
    datafiles::UserRecord u = f.record;
    datafiles::FileStatus s = fx00->read(u.bytes());
    if (!s.ok()) {
      std::cout << "  " << textf(_("%s: left as it is (%s)"), shown(f.name).c_str(), describe(s).c_str())
                << "\n";
      continue;
    }
    std::vector<datafiles::SessionInfo> now;
    (void)datafiles::listSessions(store, o.dir, now, false);
    if (u.signOnFlag() != 'J' || hasLiveSession(now, f.client, f.name)) continue;
    u.setSignOnFlag('N');
    if (s = fx00->rewrite(u.bytes()); !s.ok()) {
      std::cout << "  " << textf(_("%s: left as it is (%s)"), shown(f.name).c_str(), describe(s).c_str())
                << "\n";
      continue;
    }
    ++cleared;
    recordChange(store, o.dir,
                 datafiles::AuditEvent("CLEARSTL", {}, f.client)
                     .withSubject(f.name)
                     .withObject("FX00")
                     .withDetail("stale sign-on flag J reset to N"));
  }
  (void)fx00->close();
  std::cout << textf(ngettext("%d sign-on flag reset to \"N\"", "%d sign-on flags reset to \"N\"",
                              static_cast<unsigned long>(cleared)),
                     cleared)
            << "\n";
}

}  // namespace

void addAuditVerbs(CLI::App& app) {
  auto o = std::make_shared<AuditOptions>();
  CLI::App* audit = app.add_subcommand(
      "audit", _("List the audit trail, oldest first and newest last, or prune it"));
  audit->require_subcommand(0, 1);
  audit->add_option("--dir", o->dir, _("Data directory (default: the current directory)"));
  audit->add_option("--user", o->user, _("Only records by or about this user"));
  audit->add_option("--client", o->client, _("Only this client"))->check(CLI::Range(0, 999));
  audit->add_option("--event", o->events, _("Only these events, comma-separated (CALL,GRANT)"));
  audit->add_option("--program", o->program, _("Only records about this program or file"));
  audit->add_option("--since", o->since, _("From this local date or time (YYYY-MM-DD [HH:MM])"));
  audit->add_option("--until", o->until, _("Up to this local date (the whole day) or time"));
  audit->add_flag("--json", o->json, _("One JSON object per line"));
  CLI::App* prune = audit->add_subcommand(
      "prune", _("Remove the records before a date, in one unit (nobody signed on)"));
  prune->add_option("--before", o->before, _("Local date or time; older records go"))->required();
  prune->add_option("--dir", o->dir, _("Data directory (default: the current directory)"));
  prune->callback([o] { runPrune(*o); });
  audit->callback([o, audit] {
    if (audit->get_subcommands().empty()) runAudit(*o);
  });

  CLI::App* who = app.add_subcommand(
      "who", _("Who is signed on now, and which sign-on flags \"J\" have no session behind them"));
  who->add_option("--dir", o->dir, _("Data directory (default: the current directory)"));
  who->add_flag("--clear-stale", o->clearStale, _("Reset the flags without a session to \"N\""));
  who->callback([o] { runWho(*o); });
}

}  // namespace tools
