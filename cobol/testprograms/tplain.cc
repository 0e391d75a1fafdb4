// TPLAIN: a module that is not COBOL; loading it must never start the COBOL
// run-time. Puts its name into the status text and returns 7.
#include "abi/program.h"
#include "encoding/field.h"
#include "programs/module.h"

PX_PROGRAM(TPLAIN) {
  (void)record2;
  return programs::withCommonArea(record1, [](pxabi::CommonArea& area) {
    encoding::putRaw(area.statusText(), "TPLAIN");
    return 7;
  });
}
