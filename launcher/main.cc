// px01: the launcher's executable. Wiring only: the real program loader, the
// screen set called by name, the SQLite store and the process.
#include <csignal>
#include <cstdlib>

#include "datafiles/sqlite_store.h"
#include "launcher/launcher.h"
#include "platform/call_by_name.h"
#include "platform/dl_program_loader.h"
#include "platform/process.h"
#include "platform/screen_set.h"

namespace {

px::Launcher* running = nullptr;

// Ended from outside (kill, the terminal gone, Ctrl-C): close the data files
// and leave through exit, so that the screen-set runtime's exit handler gives
// the terminal back. A second signal takes the default action.
extern "C" void onEndSignal(int sig) {
  if (running != nullptr) running->closeOpenFiles();
  std::exit(128 + sig);
}

void catchEndSignals() {
  struct sigaction sa {};
  sa.sa_handler = onEndSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESETHAND;
  for (int sig : {SIGTERM, SIGHUP, SIGINT}) sigaction(sig, &sa, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("DSFNTENV", "CONFIG4", 1);
  platform::DlProgramLoader loader(platform::defaultProgramPath());
  for (const char* lib : {"PA", "PB", "PD", "PE", "PH", "PL", "PM", "PR", "PS", "PT", "PV", "PX",
                          "UP", "SO", "ST", "TB", "RC", "DS"})
    loader.preload(lib);
  // Modules reach DSGRUN and the utilities through the same loaded copies.
  platform::setProcessLoader(&loader);
  platform::LoadedScreenSet screen(loader);
  fs::SqliteStore store;
  platform::PosixProcess process(argc, argv);

  px::Launcher launcher(loader, screen, store, process);
  running = &launcher;
  catchEndSignals();
  const int rc = launcher.run();
  running = nullptr;
  platform::setProcessLoader(nullptr);
  return rc;
}
