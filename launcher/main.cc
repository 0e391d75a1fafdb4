// px01: the launcher's executable. Wiring only: the real program loader, the
// process, and the common area filled from the command line.
#include <cstdio>
#include <cstdlib>

#include "launcher/command_line.h"
#include "launcher/common_area.h"
#include "platform/dl_program_loader.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  ::setenv("DSFNTENV", "CONFIG4", 1);
  platform::DlProgramLoader loader(platform::defaultProgramPath());
  for (const char* lib : {"PA", "PB", "PD", "PE", "PH", "PL", "PM", "PR", "PS", "PT", "PV", "PX",
                          "UP", "SO", "ST", "TB", "RC", "DS"})
    loader.preload(lib);
  platform::PosixProcess process(argc, argv);

  px::CommonArea area;
  px::applyCommandLine(process.commandLine(), area);
  rec::putRaw(area.at<px::CommonArea::kVersionText>(), px::CommonArea::kVersionConstant);

  const platform::CallOutcome out = loader.call("PX00", area.data());
  if (!out.loaded) {
    std::fprintf(stderr, "px01: PX00: %s\n", loader.lastError().c_str());
    return 1;
  }
  return out.returnCode;
}
