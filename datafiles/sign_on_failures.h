// The refused passwords of a user in a row, kept in the audit trail
// (SignOnFailureRecord), so that the sign-on's growing wait holds across
// restarts of the program. Best effort like every use of the trail: a
// trail that cannot be read counts no failures, one that cannot be written
// keeps the count it has; nothing here waits for a lock.
#pragma once

#include <optional>
#include <string_view>

#include "datafiles/audit_records.h"
#include "datafiles/keyed_file.h"

namespace datafiles {

// The count for `user` (code page 850) of `client`; 0 when none is kept.
long signOnFailures(FileStore& store, std::string_view directory, int client,
                    std::string_view user);
// One more refused password; the new count, or nothing when it could not be
// stored.
std::optional<long> noteSignOnFailure(FileStore& store, std::string_view directory, int client,
                                      std::string_view user, AuditTime now);
// A password was accepted: the count goes.
void clearSignOnFailures(FileStore& store, std::string_view directory, int client,
                         std::string_view user);

}  // namespace datafiles
