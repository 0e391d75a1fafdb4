// UX01L: the menu file's header record into the caller's 58-byte area.
#include "programs/data_store.h"
#include "programs/installation.h"
#include "programs/module.h"
#include "abi/program.h"

PX_PROGRAM(UX01L) {
  return programs::withCommonArea(record1, [&](pxabi::CommonArea&) {
    return programs::withBlock<58>(record2, [](auto area) {
      auto store = programs::openDataStore();
      return programs::readMenuHeader(*store, area).ok() ? programs::kDone : programs::kRefused;
    });
  });
}
