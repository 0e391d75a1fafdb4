// px01: the launcher's executable. Wiring only: the real program loader (with
// the COBOL run-time on demand), the screen set called by name, the SQLite
// store and the process.
#include <cstdlib>

#include "datafiles/process_store.h"
#include "datafiles/sqlite_store.h"
#include "launcher/launcher.h"
#include "platform/call_by_name.h"
#include "platform/dl_program_loader.h"
#include "platform/process.h"
#include "platform/screen_set.h"
#include "platform/terminal.h"

int main(int argc, char** argv) {
  // Ended from outside, the launcher finishes what it is doing and ends in
  // order; the handlers only take note. Before anything else, so that the
  // program path and the sign-on run under them.
  platform::catchEndSignals();
  ::setenv("DSFNTENV", "CONFIG4", 1);
  // Relative directories of the program path are made absolute here, in the
  // directory px01 was started in, before it changes into the data directory.
  platform::DlProgramLoader loader(platform::defaultProgramPath());
  for (const char* lib : {"PA", "PB", "PD", "PE", "PH", "PL", "PM", "PR", "PS", "PT", "PV", "PX",
                          "UP", "SO", "ST", "TB", "RC", "DS"})
    loader.preload(lib);
  platform::LoadedScreenSet screen(loader);
  datafiles::SqliteStore store;
  // The programs called by name reach DSGRUN and the utilities through the
  // same loaded copies, and work on the same store, whose kept connections
  // serve the launcher's files and theirs.
  platform::setProcessLoader(&loader);
  datafiles::setProcessStore(&store);
  platform::PosixProcess process(argc, argv);

  launcher::Launcher px01(loader, screen, store, process);
  const int rc = px01.run();
  // The COBOL run-time, if a COBOL program started it, closes what those
  // programs left open before the store goes.
  loader.shutdown();
  datafiles::setProcessStore(nullptr);
  platform::setProcessLoader(nullptr);
  if (const int sig = platform::endSignal(); sig != 0) {
    platform::restoreStartTerminal();
    return 128 + sig;
  }
  return launcher::exitStatus(rc);
}
