// UT00S: sets an application up in the installation file from the image of
// an application record.
#include "abi/program.h"
#include "abi/utility_blocks.h"
#include "programs/installation.h"
#include "programs/module.h"

PX_PROGRAM(UT00S) {
  return programs::withCommonArea(record1, [&](pxabi::CommonArea&) {
    return programs::withRecord<pxabi::ApplicationImage>(
        record2, [](const pxabi::ApplicationImage& image) {
          const programs::ModuleEnvironment env = programs::moduleEnvironment();
          return programs::setUpApplication(env.store, image).ok() ? programs::kDone
                                                                   : programs::kRefused;
        });
  });
}
