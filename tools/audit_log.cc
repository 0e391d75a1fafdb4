#include "tools/audit_log.h"

#include <pwd.h>
#include <unistd.h>

#include <ctime>
#include <iostream>

#include "datafiles/audit_trail.h"
#include "encoding/cp850.h"
#include "tools/i18n.h"
#include "tools/text.h"

namespace tools {

std::string systemAccount() {
  const uid_t uid = ::geteuid();
  struct passwd pw {};
  struct passwd* found = nullptr;
  char buf[4096];
  if (::getpwuid_r(uid, &pw, buf, sizeof buf, &found) == 0 && found != nullptr &&
      found->pw_name != nullptr && found->pw_name[0] != '\0')
    return encoding::cp850::fromUtf8(found->pw_name);
  return "uid" + std::to_string(uid);
}

void recordChange(datafiles::FileStore& store, const std::string& dir,
                  datafiles::AuditEvent change) {
  datafiles::AuditTrail trail(store, dir, "PXADMIN");
  const std::string account = systemAccount();
  change.user = account;
  if (change.result.empty()) change.result = "OK";
  if (const datafiles::FileStatus s = trail.record(change); !s.ok())
    std::cerr << "pxadmin: "
              << textf(_("warning: the change is made, but the audit trail FXAU.DAT could not "
                         "record it (status %s)"),
                       s.toString().c_str())
              << "\n";
}

std::string localTimeOf(std::string_view auditTime) {
  const auto t = datafiles::parseAuditTime(auditTime);
  if (!t) return std::string(auditTime);
  const std::time_t secs = std::chrono::system_clock::to_time_t(*t);
  std::tm tm{};
  ::localtime_r(&secs, &tm);
  char buf[32];
  return std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm) ? buf : std::string(auditTime);
}

std::string describeSessions(const std::vector<datafiles::SessionInfo>& sessions,
                             std::string_view indent) {
  std::string out;
  for (const auto& s : sessions) {
    if (!s.live) continue;
    out += std::string(indent) +
           textf(_("%s (client %d) on %s, process %ld, since %s"), shown(s.user).c_str(),
                 s.client, s.host.c_str(), static_cast<long>(s.pid),
                 localTimeOf(s.since).c_str()) +
           "\n";
  }
  return out;
}

std::vector<datafiles::SessionInfo> liveSessions(datafiles::FileStore& store,
                                                 const std::string& dir) {
  std::vector<datafiles::SessionInfo> all, live;
  (void)datafiles::listSessions(store, dir, all, /*removeStale=*/false);
  for (auto& s : all)
    if (s.live) live.push_back(std::move(s));
  return live;
}

}  // namespace tools
