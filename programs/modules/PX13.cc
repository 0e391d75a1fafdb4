// PX13: "Logdatei anzeigen", the audit trail for administrators through the
// screen set (programs/audit_view.h).
#include "abi/program.h"
#include "programs/audit_view.h"
#include "programs/module.h"

PX_PROGRAM(PX13) {
  (void)record2;
  return programs::withCommonArea(record1, [](pxabi::CommonArea& area) {
    const programs::ModuleEnvironment env = programs::moduleEnvironment();
    platform::LoadedScreenSet screen(env.loader);
    return programs::showAuditTrail(area, screen, env.store);
  });
}
