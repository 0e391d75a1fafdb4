#include "cobol/pxextfh.h"

#include "cobol/handler.h"
#include "programs/module.h"

namespace cobol {

Handler& handler() {
  // COBOL programs are programs called by name: their files go to the store
  // that the caller installed for those (the launcher's own).
  static Handler h([]() -> datafiles::FileStore& { return programs::moduleEnvironment().store; },
                   [](unsigned char* opcode, FCD3* fcd) { return EXTFH(opcode, fcd); });
  return h;
}

}  // namespace cobol

extern "C" {

int PXEXTFH(unsigned char* opcode, void* fcd) {
  return cobol::handler()(opcode, static_cast<FCD3*>(fcd));
}

int PxExtfhOpenFiles(void) { return static_cast<int>(cobol::handler().openFiles()); }

}  // extern "C"
