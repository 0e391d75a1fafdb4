// The catalogue run PX07: brings the menu file up to date with the built-in
// entries of this release for the installation's edition, options and number,
// stamps it with the release, and gives every normal user of the client a
// permission record for each entry that is new.
//
// The whole build on the menu and permission files is one atomic unit per
// file, committed permissions first and menus last: a run that dies at any
// moment leaves the old stamp (so the next start runs the catalogue again)
// and at most permission records that the rerun then finds in place. A second
// workstation that starts the run at the same time waits for the first one's
// unit (boundedly) and then rewrites what the first one wrote.
//
// A change that fails because a file cannot be written (read-only, disk full)
// stops the build: nothing is committed, the error box names the file, the
// operation and the status, and the run takes back what was stored outside
// its units: the application records set up through UT00S and, when only the
// menu file's commit failed, the permission records it committed.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "datafiles/keyed_file.h"
#include "datafiles/lock_wait.h"
#include "encoding/field.h"
#include "platform/program_loader.h"
#include "platform/screen_set.h"

namespace pxabi {
class CommonArea;
}

namespace catalogue {

struct RunCounts {
  int newEntries = 0;   // writes that returned "00"
  int rewritten = 0;    // existing entries rewritten with their built-in content
  int kept = 0;         // existing entries that are written only if new
  int failed = 0;       // entries neither written nor rewritten
  int moved = 0;        // records renumbered to a new key
  int removed = 0;      // old entries deleted
  int permissions = 0;  // permission records written
  int normalUsers = 0;  // normal users found (the user file is read only when needed)
  bool usersScanned = false;
};

enum class RunOutcome : char {
  kComplete = '0',      // built and committed
  kOpenFailed = '1',    // a file could not be opened or its unit not begun: nothing changed
  kCommitFailed = '2',  // a change or the commit failed: the menus are as they were
  kScreenFailed = '3',  // the screen set failed showing the error box: see screenReturn
};

struct RunReport {
  RunOutcome outcome = RunOutcome::kComplete;
  RunCounts counts;
  std::string failedFile;             // "FX01 " on kOpenFailed and kCommitFailed
  std::string failedOperation;        // "OPEN", "WRIT", "REWR", "DELE"
  datafiles::FileStatus failedStatus;
  // On kCommitFailed: what the run could not take back ("" when everything
  // is as it was), for example "FX02: 12 permission records stay (status 30)".
  std::string leftOver;
  std::int32_t screenReturn = 0;      // DSGRUN's return value on kScreenFailed
};

struct RunOptions {
  std::string directory;  // where the data files are; empty: the current directory
  // How long the run waits for another workstation's unit on the menu or
  // permission file (and for a user record held elsewhere) before it gives up.
  std::chrono::milliseconds lockWait{10000};
  datafiles::WaitClock* clock = &datafiles::WaitClock::steady();
  // Who the audit trail names as having run it (code page 850; empty: the
  // common area's user) and the program that writes the record.
  std::string actor;
  std::string origin = "PX07";
};

// Runs the catalogue with the caller's common area. The error box of a
// failed open goes through `screen` with the control block taken over from
// the common area. On kScreenFailed the control block handed back at offset
// 1621 keeps the runtime's non-zero error code: the caller applies its
// screen-set error stop, as after any failed call of its own.
RunReport runCatalogue(pxabi::CommonArea& common, datafiles::FileStore& store,
                       platform::ProgramLoader& loader, platform::ScreenSet& screen,
                       const RunOptions& options = {});

// The report as PX07 leaves it in the common area for callers that run it
// by name (pxabi::CatalogueReport).
void storeReport(pxabi::CommonArea& common, const RunReport& report);
// Blanks the report range before a call.
void clearReport(pxabi::CommonArea& common);
// The counts PX07 left; nothing when the range holds no report.
struct StoredReport {
  RunOutcome outcome;
  int newEntries, rewritten, kept, permissions;
};
std::optional<StoredReport> loadReport(const pxabi::CommonArea& common);

}  // namespace catalogue
