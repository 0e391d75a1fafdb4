// PX07, the catalogue run, called by name with the common area. It works on
// the data files in the current directory through the process's store and
// reaches U001, UT00S and the screen set DSGRUN through the process's program
// loader (its module environment).
//
// Return value: 0 when the menus were built, 1 when a file could not be opened
// or the build not committed (nothing changed; the error box told the user),
// 2 without a common area, 9 on an internal failure (the common area is left
// as it was). When the screen set fails while showing the error box, PX07
// returns that DSGRUN call's return value and hands back the control block
// with the runtime's error code in it, so that the caller's error stop can end
// the process as after any failed screen-set call. The counts stand in the
// common area's report range (abi/catalogue_report.h).
#include "abi/common_area.h"
#include "abi/program.h"
#include "catalogue/catalogue_run.h"
#include "platform/screen_set.h"
#include "programs/module.h"

PX_PROGRAM(PX07) {
  (void)record2;
  return programs::withCommonArea(record1, [](pxabi::CommonArea& common) {
    const programs::ModuleEnvironment env = programs::moduleEnvironment();
    platform::LoadedScreenSet screen(env.loader);
    const catalogue::RunReport report =
        catalogue::runCatalogue(common, env.store, env.loader, screen);
    catalogue::storeReport(common, report);
    switch (report.outcome) {
      case catalogue::RunOutcome::kComplete:
        return programs::kDone;
      case catalogue::RunOutcome::kOpenFailed:
      case catalogue::RunOutcome::kCommitFailed:
        return programs::kRefused;
      case catalogue::RunOutcome::kScreenFailed:
        return report.screenReturn;
    }
    return programs::kDone;
  });
}
