// UT00S: sets an application up in the installation file from a 200-byte
// record image (client at 1, application at 3, name at 47).
#include "programs/data_store.h"
#include "programs/installation.h"
#include "programs/module.h"
#include "abi/program.h"

PX_PROGRAM(UT00S) {
  return programs::withCommonArea(record1, [&](pxabi::CommonArea&) {
    return programs::withBlock<200>(record2, [](auto image) {
      auto store = programs::openDataStore();
      return programs::setUpApplication(*store, image).ok() ? programs::kDone
                                                            : programs::kRefused;
    });
  });
}
