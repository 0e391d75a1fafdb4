// A function program for end-to-end tests. Each call appends one line to
// PXREC.log in the current directory: its name, the call name, the current
// directory, the permission flag and the sign-on flags of FX00.DAT. It then
// carries out the commands of PXREC.cmd meant for it, one a line:
//   NAME next1 PROG | NAME next2 PROG | NAME chdir DIR | NAME blankuser |
//   NAME control OFFSET CHAR   (changes the copy of the screen control block)
//   NAME stamp                 (writes the current release stamp into FX01's header)
//   NAME signal N              (the process gets signal N, as if ended from outside)
//   NAME ask                   (asks "BOX-FRAGE" through the screen set and logs
//                               "NAME asked reply=R error=E")
//   NAME waitfor PATH          (returns only once PATH exists, or after 30 s)
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <string>

#include "abi/common_area.h"
#include "abi/program.h"
#include "datafiles/records.h"
#include "platform/screen_set.h"
#include "programs/module.h"
#include "programs/module_screen.h"

#define PX_STR2(x) #x
#define PX_STR(x) PX_STR2(x)

namespace {

using Area = pxabi::CommonArea;
constexpr const char* kName = PX_STR(PX_RECORDER_NAME);
#ifdef PX_RECORDER_PLANTED
constexpr const char* kTag = " (planted)";  // a program of the same name in the wrong place
#else
constexpr const char* kTag = "";
#endif

std::string signOnFlags() {
  auto file = programs::moduleEnvironment().store.file(datafiles::kUserFile);
  if (!file->open(datafiles::OpenMode::kInput).ok()) return "?";
  std::string flags;
  datafiles::UserRecord user;
  encoding::zero(user.clientField());
  if (file->start(datafiles::StartMode::kNotLessThan, user.bytes(),
                  datafiles::UserRecord::kKeyLength)
          .ok())
    while (file->readNext(user.bytes()).ok()) flags += user.signOnFlag();
  (void)file->close();
  return flags;
}

void writeStamp(Area& area) {
  auto file = programs::moduleEnvironment().store.file(datafiles::kMenuFile);
  if (!file->open(datafiles::OpenMode::kInputOutput).ok()) return;
  datafiles::MenuRecord header;
  header.setKey(0, 0);
  header.setVersionStamp(encoding::view(area.versionText()).substr(0, 6));
  if (!file->write(header.bytes()).ok()) (void)file->rewrite(header.bytes());
  (void)file->close();
}

int record(Area& area) {
  char cwd[512] = {};
  if (::getcwd(cwd, sizeof cwd) == nullptr) cwd[0] = '?';
  {
    std::ofstream log("PXREC.log", std::ios::app);
    log << kName << kTag << " call=" << encoding::trimmed(area.callName()) << " dir=" << cwd
        << " perm=" << area.permissionFlag() << " flags=" << signOnFlags() << "\n";
  }
  std::ifstream cmds("PXREC.cmd");
  std::string line;
  while (std::getline(cmds, line)) {
    std::istringstream in(line);
    std::string who, what, arg;
    in >> who >> what >> arg;
    if (who != kName) continue;
    if (what == "next1") encoding::putRaw(area.nextProgram1(), arg);
    if (what == "next2") encoding::putRaw(area.nextProgram2(), arg);
    if (what == "chdir" && ::chdir(arg.c_str()) != 0) return 2;
    if (what == "blankuser") encoding::blank(area.userName());
    if (what == "stamp") writeStamp(area);
    if (what == "signal") std::raise(std::stoi(arg));
    if (what == "waitfor")
      for (int i = 0; i < 3000 && ::access(arg.c_str(), F_OK) != 0; ++i) ::usleep(10000);
    if (what == "ask") {
      platform::LoadedScreenSet set(programs::moduleEnvironment().loader);
      char reply = '?';
      bool failed = true;
      {
        programs::ModuleScreen screen(area, set);
        failed = !screen.run("BOX-FRAGE", "Weiter?");
        reply = screen.reply();
      }
      std::ofstream("PXREC.log", std::ios::app)
          << kName << " asked reply=" << reply << " error=" << (failed ? 1 : 0) << "\n";
    }
    if (what == "control") {
      std::string ch;
      in >> ch;
      const std::size_t offset = std::stoul(arg);
      if (offset < Area::kSavedControlBlock.width && !ch.empty())
        area.savedControlBlock()[offset] = ch[0];
    }
  }
  return 0;
}

}  // namespace

PX_PROGRAM(PX_RECORDER_NAME) {
  (void)record2;
  if (record1 == nullptr) return 1;
  try {
    return record(*static_cast<Area*>(record1));
  } catch (...) {
    return 3;
  }
}
