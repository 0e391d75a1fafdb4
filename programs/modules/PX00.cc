// PX00: the sign-on, on the plain terminal before the screen set starts.
#include <unistd.h>

#include <ctime>
#include <filesystem>

#include "abi/program.h"
#include "platform/terminal.h"
#include "programs/module.h"
#include "programs/sign_on.h"

PX_PROGRAM(PX00) {
  (void)record2;
  return programs::withCommonArea(record1, [](pxabi::CommonArea& area) {
    const programs::ModuleEnvironment env = programs::moduleEnvironment();
    programs::FdConsole console(STDIN_FILENO, STDERR_FILENO);
    std::error_code ec;
    const std::time_t t = std::time(nullptr);
    programs::SignOnContext ctx{env.store, env.loader, console,
                                std::filesystem::current_path(ec).string()};
    ::localtime_r(&t, &ctx.today);
    // An end signal cuts the pauses short, so that the sign-on gives up soon.
    ctx.waitForLock = [] { (void)platform::sleepUnlessEnded(std::chrono::seconds(1)); };
    ctx.throttle = [](std::chrono::seconds s) { (void)platform::sleepUnlessEnded(s); };
    return programs::signOn(area, ctx);
  });
}
