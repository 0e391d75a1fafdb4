// PX00P: runs before the catalogue rebuilds the menus; keeps a dated copy of
// the menu and permission files in backup/ of the data directory.
#include <ctime>
#include <filesystem>

#include "abi/program.h"
#include "datafiles/store_config.h"
#include "programs/backup.h"
#include "programs/module.h"
#include "programs/module_screen.h"

PX_PROGRAM(PX00P) {
  (void)record2;
  return programs::withCommonArea(record1, [](pxabi::CommonArea& area) {
    const programs::ModuleEnvironment env = programs::moduleEnvironment();
    // A consistent copy while others work is the store's own whole-file
    // operation, on a store of its own for the data directory (the current
    // one): it takes none of the kept connections. Either store's copy is
    // an embedded data file.
    const std::unique_ptr<datafiles::InstallationStore> files = datafiles::openStore({}, nullptr);
    const std::time_t t = std::time(nullptr);
    std::tm now{};
    ::localtime_r(&t, &now);
    std::error_code ec;
    const std::string here = std::filesystem::current_path(ec).string();
    const auto result = programs::backUpMenuFiles(
        here, now, [&](const datafiles::FileSpec& spec, const std::string& target) {
          return files->copyTo(spec, "", target);
        });
    if (result.status.ok()) return programs::kDone;
    platform::LoadedScreenSet screen(env.loader);
    programs::ModuleScreen module(area, screen);
    module.run("BOX-WARNUNG", "Sicherung der Menüdateien nicht möglich (" +
                                  result.status.toString() + ")");
    return programs::kRefused;
  });
}
