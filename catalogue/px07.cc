// PX07, the catalogue run, called by name with the common area. It works on
// the data files in the current directory and reaches U001, UT00S and the
// screen set DSGRUN through the process's program loader.
//
// Return value: 0 when the menus were built, 1 when a file could not be opened
// or the build not committed (nothing changed; the error box told the user),
// 2 without a common area, 9 on an internal failure (the common area is left
// as it was). When the screen set fails while showing the error box, PX07
// returns that DSGRUN call's return value and hands back the control block
// with the runtime's error code in it, so that the caller's error stop can end
// the process as after any failed screen-set call. The counts stand in the
// common area's report range (catalogue_run.h).
#include <cstring>
#include <memory>

#include "abi/common_area.h"
#include "abi/program.h"
#include "catalogue/catalogue_run.h"
#include "datafiles/sqlite_store.h"
#include "platform/call_by_name.h"
#include "platform/screen_set.h"

PX_PROGRAM(PX07) {
  (void)record2;
  if (record1 == nullptr) return 2;
  try {
    auto common = std::make_unique<pxabi::CommonArea>();
    std::memcpy(common->data(), record1, pxabi::CommonArea::kSize);
    datafiles::SqliteStore store;
    platform::ProgramLoader& loader = platform::processLoader();
    platform::LoadedScreenSet screen(loader);
    const catalogue::RunReport report = catalogue::runCatalogue(*common, store, loader, screen);
    catalogue::storeReport(*common, report);
    std::memcpy(record1, common->data(), pxabi::CommonArea::kSize);
    switch (report.outcome) {
      case catalogue::RunOutcome::kComplete: return 0;
      case catalogue::RunOutcome::kOpenFailed:
      case catalogue::RunOutcome::kCommitFailed: return 1;
      case catalogue::RunOutcome::kScreenFailed: return report.screenReturn;
    }
    return 0;
  } catch (...) {
    return 9;
  }
}
