// PX13, "Logdatei anzeigen": the audit trail (datafiles/audit_records.h) in
// the terminal through the screen set, for administrators (classes M and
// H): newest last, up to a list's 400 rows at a time, older and newer ones
// a key away; filtered by user (by or about), event codes and day; Enter
// shows one record whole. It only reads: nothing it does is recorded.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "abi/common_area.h"
#include "datafiles/audit_records.h"
#include "datafiles/keyed_file.h"
#include "platform/screen_set.h"

namespace programs {

// Return value: kDone, kRefused (not an administrator, or the trail cannot
// be read).
std::int32_t showAuditTrail(pxabi::CommonArea& area, platform::ScreenSet& screen,
                            datafiles::FileStore& store);

// One row of the list (UTF-8): local time, user, event, program or file,
// result, and the user it is about before the detail.
std::string auditRow(const datafiles::AuditRecord& r);

// "TT.MM.JJJJ" (or "TT.MM.JJ") as the local day's first moment and the
// next day's; nothing when it is no date.
struct LocalDay {
  datafiles::AuditTime from, to;
};
std::optional<LocalDay> parseDay(std::string_view text);

}  // namespace programs
