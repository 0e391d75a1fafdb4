// px01: the launcher's executable. Wiring only: the real program loader (with
// the COBOL run-time on demand), the screen set called by name, the store the
// data directory asks for and the process.
#include <cstdlib>
#include <iostream>

#include "datafiles/process_store.h"
#include "datafiles/store_config.h"
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
  // Started in the data directory: its px-store.conf, if any, names the
  // server. One that cannot be used ends the launcher before anything is
  // shown.
  std::string storeError;
  const std::unique_ptr<datafiles::InstallationStore> store = datafiles::openStore({}, &storeError);
  if (!storeError.empty()) {
    std::cerr << "px01: " << storeError << "\n";
    return 1;
  }
  ::setenv("DSFNTENV", "CONFIG4", 1);
  // Relative directories of the program path are made absolute here, in the
  // directory px01 was started in, before it changes into the data directory.
  platform::DlProgramLoader loader(platform::defaultProgramPath());
  for (const char* lib : {"PA", "PB", "PD", "PE", "PH", "PL", "PM", "PR", "PS", "PT", "PV", "PX",
                          "UP", "SO", "ST", "TB", "RC", "DS"})
    loader.preload(lib);
  platform::LoadedScreenSet screen(loader);
  // The programs called by name reach DSGRUN and the utilities through the
  // same loaded copies, and work on the same store, whose kept connections
  // serve the launcher's files and theirs.
  platform::setProcessLoader(&loader);
  datafiles::setProcessStore(store.get());
  platform::PosixProcess process(argc, argv);

  launcher::Launcher px01(loader, screen, *store, process);
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
