// px01: the launcher's executable. Wiring only: the real program loader, the
// screen set called by name, the store the data directory asks for and the
// process.
#include <cstdlib>
#include <iostream>

#include "datafiles/process_store.h"
#include "datafiles/store_config.h"
#include "launcher/guarded_store.h"
#include "launcher/launcher.h"
#include "platform/call_by_name.h"
#include "platform/dl_program_loader.h"
#include "platform/process.h"
#include "platform/screen_set.h"
#include "platform/terminal.h"

int main(int argc, char** argv) {
  // Started in the data directory: its px-store.conf, if any, names the
  // server. One that cannot be used ends the launcher before anything is
  // shown.
  std::string storeError;
  const std::unique_ptr<datafiles::InstallationStore> files = datafiles::openStore({}, &storeError);
  if (!storeError.empty()) {
    std::cerr << "px01: " << storeError << "\n";
    return 1;
  }
  ::setenv("DSFNTENV", "CONFIG4", 1);
  platform::DlProgramLoader loader(platform::defaultProgramPath());
  for (const char* lib : {"PA", "PB", "PD", "PE", "PH", "PL", "PM", "PR", "PS", "PT", "PV", "PX",
                          "UP", "SO", "ST", "TB", "RC", "DS"})
    loader.preload(lib);
  platform::LoadedScreenSet screen(loader);
  // The programs called by name reach DSGRUN and the utilities through the
  // same loaded copies, and work on the same store, whose kept connections
  // serve the launcher's files and theirs.
  platform::setProcessLoader(&loader);
  datafiles::setProcessStore(files.get());
  // Ended from outside, the launcher closes its files; a signal that comes
  // during one of its file operations waits for that operation.
  const std::unique_ptr<datafiles::FileStore> store = launcher::guardedStore(*files);
  platform::PosixProcess process(argc, argv);

  launcher::Launcher px01(loader, screen, *store, process);
  platform::catchEndSignals([&px01] { px01.closeOpenFiles(); });
  const int rc = px01.run();
  platform::forgetEndSignalFiles();
  datafiles::setProcessStore(nullptr);
  platform::setProcessLoader(nullptr);
  return rc;
}
