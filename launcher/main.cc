// px01: the launcher's executable. Wiring only: the real program loader (with
// the COBOL run-time on demand), the screen set called by name, the SQLite
// store and the process.
#include <cstdlib>

#include "datafiles/process_store.h"
#include "datafiles/sqlite_store.h"
#include "launcher/guarded_store.h"
#include "launcher/launcher.h"
#include "platform/call_by_name.h"
#include "platform/dl_program_loader.h"
#include "platform/process.h"
#include "platform/screen_set.h"
#include "platform/terminal.h"

int main(int argc, char** argv) {
  ::setenv("DSFNTENV", "CONFIG4", 1);
  platform::DlProgramLoader loader(platform::defaultProgramPath());
  for (const char* lib : {"PA", "PB", "PD", "PE", "PH", "PL", "PM", "PR", "PS", "PT", "PV", "PX",
                          "UP", "SO", "ST", "TB", "RC", "DS"})
    loader.preload(lib);
  platform::LoadedScreenSet screen(loader);
  datafiles::SqliteStore sqlite;
  // The programs called by name reach DSGRUN and the utilities through the
  // same loaded copies, and work on the same store, whose kept connections
  // serve the launcher's files and theirs.
  platform::setProcessLoader(&loader);
  datafiles::setProcessStore(&sqlite);
  // Ended from outside, the launcher closes its files; a signal that comes
  // during one of its file operations waits for that operation.
  const std::unique_ptr<datafiles::FileStore> store = launcher::guardedStore(sqlite);
  platform::PosixProcess process(argc, argv);

  launcher::Launcher px01(loader, screen, *store, process);
  platform::catchEndSignals([&px01] { px01.closeOpenFiles(); });
  const int rc = px01.run();
  // The COBOL run-time, if a COBOL program started it, closes what those
  // programs left open before the store goes.
  loader.shutdown();
  platform::forgetEndSignalFiles();
  datafiles::setProcessStore(nullptr);
  platform::setProcessLoader(nullptr);
  return rc;
}
