// catalogue: runs the menu catalogue for an installation, as PX07 does, with
// the common area filled from the installation's control record as the
// sign-on fills it, and reports what the run did. The run's error box goes to
// stderr; U001 and UT00S are called by name through the tool's own loader.
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>
#include <string>

#include "abi/common_area.h"
#include "abi/message_area.h"
#include "abi/screen_data_block.h"
#include "catalogue/catalogue_run.h"
#include "datafiles/records.h"
#include "encoding/packed.h"
#include "platform/dl_program_loader.h"
#include "platform/screen_set.h"
#include "tools/admin_common.h"
#include "tools/audit_log.h"
#include "tools/verbs.h"

namespace tools {
namespace {

using CA = pxabi::CommonArea;

// A screen set without a terminal: every box becomes one line on stderr and
// is acknowledged at once.
class StderrScreenSet : public platform::ScreenSet {
 public:
  std::int32_t call(pxabi::ScreenControlBlock& control,
                    std::span<char, pxabi::kScreenDataSize> data) override {
    using SDB = pxabi::ScreenDataBlock;
    pxabi::MessageArea message;
    encoding::putRaw(
        message.bytes(),
        encoding::view(data.subspan<SDB::kMessage.offset, pxabi::MessageArea::kSize>()));
    const auto raw = message.status();
    std::cerr << "PX07 " << control.procedure() << ": " << encoding::getText(message.text()) << " "
              << encoding::view(message.fileCode()) << encoding::view(message.operation()) << " "
              << datafiles::FileStatus(raw[0], raw[1]).toString() << "\n";
    control.setError(0, 0, 0);
    data[SDB::kReply.offset] = ' ';
    return 0;
  }
};

struct Options {
  std::string dir = ".";
  int client = -1;  // -1: the installation's default client
};

datafiles::ControlRecord readControl(const std::string& dir) {
  const auto store = storeFor(dir);
  auto file = store->file(datafiles::kInstallationFile, dir);
  if (const datafiles::FileStatus s = file->open(datafiles::OpenMode::kInput); !s.ok())
    fail("the catalogue could not start, nothing changed: FT00.DAT in " + dir + ": OPEN status " +
         describe(s));
  datafiles::ControlRecord control;
  const datafiles::FileStatus s = file->read(control.bytes());
  (void)file->close();
  if (!s.ok())
    fail("the catalogue could not start, nothing changed: FT00.DAT in " + dir +
         ": no control record, status " + describe(s));
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
  return area;
}

void runCatalogueVerb(const Options& o) {
  const datafiles::ControlRecord control = readControl(o.dir);
  int client = o.client;
  if (client < 0) client = encoding::packed3::decode(control.defaultClient()).value_or(0);
  auto area = commonArea(control, client);
  // The run works in the current directory, as PX07 does when the launcher
  // calls it, so that UT00S finds the installation file there.
  if (::chdir(o.dir.c_str()) != 0) fail("cannot change to " + o.dir);
  const auto store = storeFor(".");
  platform::DlProgramLoader loader(platform::defaultProgramPath());
  StderrScreenSet screen;
  catalogue::RunOptions options;
  options.actor = systemAccount();
  options.origin = "PXADMIN";
  const catalogue::RunReport report =
      catalogue::runCatalogue(*area, *store, loader, screen, options);
  const catalogue::RunCounts& c = report.counts;
  // "FX02 " -> "FX02.DAT: WRIT status 30 (...)"
  auto failure = [&] {
    std::string file = report.failedFile;
    while (!file.empty() && file.back() == ' ') file.pop_back();
    return file + ".DAT: " + report.failedOperation + " status " + describe(report.failedStatus);
  };
  switch (report.outcome) {
    case catalogue::RunOutcome::kComplete:
      std::cout << "catalogue for client " << client << ": " << c.newEntries << " entries new, "
                << c.rewritten << " rewritten, " << c.kept << " kept, " << c.permissions
                << " permission records written\n";
      return;
    case catalogue::RunOutcome::kOpenFailed:
      fail("the catalogue could not start, nothing changed: " + failure());
    case catalogue::RunOutcome::kCommitFailed:
      if (!report.leftOver.empty())
        fail("the catalogue failed: " + failure() + "; the menus are as they were, but " +
             report.leftOver);
      fail("the catalogue failed, nothing changed: " + failure());
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
