// What pxadmin writes into the audit trail: one record for every change it
// makes, naming the system account that ran it. A record that cannot be
// written leaves the change standing; pxadmin then says so on stderr.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "datafiles/audit_trail.h"
#include "datafiles/keyed_file.h"
#include "datafiles/sessions.h"

namespace tools {

// The system account pxadmin runs under, as the trail's user (at most 10
// bytes are kept).
std::string systemAccount();

// Records `change` in the trail of `dir` (made there when missing), with the
// system account as its user and "OK" as its result unless it has one. Its
// detail never holds a password or a hash.
void recordChange(datafiles::FileStore& store, const std::string& dir,
                  datafiles::AuditEvent change);

// "MEIER (client 1) on ws7, process 4711, since 07.12.2026 08:15" for each
// live session, one a line, each line starting with `indent`.
std::string describeSessions(const std::vector<datafiles::SessionInfo>& sessions,
                             std::string_view indent);
// The live sessions of `dir`; none when the trail cannot be read.
std::vector<datafiles::SessionInfo> liveSessions(datafiles::FileStore& store,
                                                 const std::string& dir);
// A local time of the trail ("YYYYMMDDHHMMSSuuuuuu", UTC) as "YYYY-MM-DD HH:MM:SS".
std::string localTimeOf(std::string_view auditTime);

}  // namespace tools
