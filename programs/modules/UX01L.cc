// UX01L: the menu file's header record into the caller's menu-file record area.
#include "abi/program.h"
#include "datafiles/records.h"
#include "programs/installation.h"
#include "programs/module.h"

PX_PROGRAM(UX01L) {
  return programs::withCommonArea(record1, [&](pxabi::CommonArea&) {
    return programs::withRecord<datafiles::MenuRecord>(record2, [](datafiles::MenuRecord& area) {
      const programs::ModuleEnvironment env = programs::moduleEnvironment();
      return programs::readMenuHeader(env.store, area).ok() ? programs::kDone : programs::kRefused;
    });
  });
}
