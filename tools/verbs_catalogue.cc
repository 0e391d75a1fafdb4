// catalogue: runs the menu catalogue PX07 by name for an installation, with
// the common area filled from the installation's control record as the
// sign-on fills it, and reports what the run did. PX07's error box goes to
// stderr: the tool answers DSGRUN itself and calls everything else by name.
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>
#include <string>

#include "abi/common_area.h"
#include "abi/screen_data_block.h"
#include "catalogue/catalogue_run.h"
#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"
#include "encoding/packed.h"
#include "platform/call_by_name.h"
#include "platform/dl_program_loader.h"
#include "platform/screen_set.h"
#include "tools/verbs.h"

namespace tools {
namespace {

using CA = pxabi::CommonArea;

[[noreturn]] void fail(const std::string& message, int code = kExitFailure) {
  std::cerr << "pxadmin: " << message << "\n";
  throw CLI::RuntimeError(code);
}

// A screen set without a terminal: every box becomes one line on stderr and
// is acknowledged at once.
class StderrScreenSet : public platform::ScreenSet {
 public:
  std::int32_t call(pxabi::ScreenControlBlock& control,
                    std::span<char, pxabi::kScreenDataSize> data) override {
    const auto message = data.subspan<pxabi::ScreenDataBlock::kMessage.offset, 82>();
    const datafiles::FileStatus status{message[79], message[80]};
    std::cerr << "PX07 " << control.procedure() << ": "
              << encoding::getText(message.first<70>()) << " "
              << encoding::view(message.subspan<70, 9>()) << " " << status.toString() << "\n";
    control.setError(0, 0, 0);
    data[pxabi::ScreenDataBlock::kReply.offset] = ' ';
    return 0;
  }
};

// The process's loader for this tool: DSGRUN is the stderr screen set, every
// other name is loaded from the program path.
class ToolLoader : public platform::ProgramLoader {
 public:
  ToolLoader() : programs_(platform::defaultProgramPath()) {}
  platform::CallOutcome call(std::string_view name, void* first, void* second) override {
    if (platform::trimName(name) != "DSGRUN") return programs_.call(name, first, second);
    pxabi::ScreenControlBlock control;
    std::memcpy(control.data(), first, control.kSize);
    const std::int32_t rc =
        screen_.call(control, std::span<char, pxabi::kScreenDataSize>(
                                  static_cast<char*>(second), pxabi::kScreenDataSize));
    std::memcpy(first, control.data(), control.kSize);
    return {true, rc};
  }
  void unload(std::string_view name) override { programs_.unload(name); }
  void preload(std::string_view library) override { programs_.preload(library); }
  const std::string& lastError() const { return programs_.lastError(); }

 private:
  platform::DlProgramLoader programs_;
  StderrScreenSet screen_;
};

struct Options {
  std::string dir = ".";
  int client = -1;  // -1: the installation's default client
};

datafiles::ControlRecord readControl(const std::string& dir) {
  datafiles::SqliteStore store;
  auto file = store.file(datafiles::kInstallationFile, dir);
  if (const datafiles::FileStatus s = file->open(datafiles::OpenMode::kInput); !s.ok())
    fail("FT00.DAT in " + dir + ": open " + s.toString());
  datafiles::ControlRecord control;
  const datafiles::FileStatus s = file->read(control.bytes());
  (void)file->close();
  if (!s.ok()) fail("FT00.DAT in " + dir + ": no control record (" + s.toString() + ")");
  return control;
}

// The common area as the sign-on leaves it for the start-up's catalogue call.
std::unique_ptr<CA> commonArea(const datafiles::ControlRecord& c, int client) {
  auto area = std::make_unique<CA>();
  encoding::putRaw(area->identification(), encoding::view(c.identification()));
  area->setClient(client);
  encoding::putRaw(area->clubText(), encoding::view(c.clubText()));
  area->setEditionOption1(c.editionOption1()[0]);
  area->setEditionOption2(c.editionOption2()[0]);
  encoding::putRaw(area->installationNumber(), encoding::view(c.installationNumber()));
  encoding::putRaw(area->regionCode(), encoding::view(c.regionCode()));
  encoding::putRaw(area->versionText(), CA::kVersionConstant);
  const std::time_t now = std::time(nullptr);
  std::tm today{};
  localtime_r(&now, &today);
  (void)encoding::putDigits(area->workingDate(), (today.tm_year % 100) * 10000LL +
                                                     (today.tm_mon + 1) * 100 + today.tm_mday);
  // The launcher's control block after the screen set has started.
  pxabi::ScreenControlBlock control;
  control.identifyMPX01();
  std::memcpy(area->savedControlBlock().data(), control.data(), control.kSize);
  catalogue::clearReport(*area);
  return area;
}

void runCatalogueVerb(const Options& o) {
  const datafiles::ControlRecord control = readControl(o.dir);
  int client = o.client;
  if (client < 0) client = encoding::packed3::decode(control.defaultClient()).value_or(0);
  auto area = commonArea(control, client);
  // PX07 works in the current directory, as when the launcher calls it.
  if (::chdir(o.dir.c_str()) != 0) fail("cannot change to " + o.dir);
  ToolLoader loader;
  platform::setProcessLoader(&loader);
  const platform::CallOutcome out = loader.call("PX07", area->data(), nullptr);
  platform::setProcessLoader(nullptr);
  if (!out.loaded) fail("PX07 cannot be loaded: " + loader.lastError());
  const auto report = catalogue::loadReport(*area);
  if (!report) fail("PX07 returned " + std::to_string(out.returnCode) + " without a report");
  std::cout << "catalogue for client " << client << ": " << report->newEntries
            << " entries new, " << report->rewritten << " rewritten, " << report->kept
            << " kept, " << report->permissions << " permission records written\n";
  switch (report->outcome) {
    case catalogue::RunOutcome::kComplete: return;
    case catalogue::RunOutcome::kOpenFailed:
      fail("the menu files could not be opened; nothing changed");
    case catalogue::RunOutcome::kCommitFailed:
      fail("the run could not be completed; the menus are as they were");
    case catalogue::RunOutcome::kScreenFailed: fail("the screen set failed");
  }
}

}  // namespace

void addCatalogueVerbs(CLI::App& app) {
  auto options = std::make_shared<Options>();
  CLI::App* cmd = app.add_subcommand(
      "catalogue", "Run the menu catalogue PX07: build the menus of the installation's edition");
  cmd->add_option("--dir", options->dir, "data directory of the installation")
      ->capture_default_str();
  cmd->add_option("--client", options->client,
                  "client whose normal users get permissions (default: the installation's)")
      ->check(CLI::Range(0, 999));
  cmd->callback([options] { runCatalogueVerb(*options); });
}

}  // namespace tools
