// PX03: "Pflege der Menüdatei", the menu file and the permissions kept from
// the menu by an administrator of class M (programs/menu_maintenance.h).
#include "abi/program.h"
#include "programs/menu_maintenance.h"
#include "programs/module.h"

PX_PROGRAM(PX03) {
  (void)record2;
  return programs::withCommonArea(record1, [](pxabi::CommonArea& area) {
    const programs::ModuleEnvironment env = programs::moduleEnvironment();
    platform::LoadedScreenSet screen(env.loader);
    return programs::maintainMenus(area, screen, env.store, env.loader);
  });
}
