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
#include "tools/i18n.h"
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
    fail(textf(_("the catalogue could not start, nothing changed: FT00.DAT in %s: OPEN status %s"),
               dir.c_str(), describe(s).c_str()));
  datafiles::ControlRecord control;
  const datafiles::FileStatus s = file->read(control.bytes());
  (void)file->close();
  if (!s.ok())
    fail(textf(_("the catalogue could not start, nothing changed: FT00.DAT in %s: no control "
                 "record, status %s"),
               dir.c_str(), describe(s).c_str()));
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
  if (::chdir(o.dir.c_str()) != 0) fail(textf(_("cannot change to %s"), o.dir.c_str()));
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
    return file + ".DAT: " +
           textf(_("%s status %s"), report.failedOperation.c_str(),
                 describe(report.failedStatus).c_str());
  };
  switch (report.outcome) {
    case catalogue::RunOutcome::kComplete:
      std::cout << textf(_("catalogue for client %d: %d entries new, %d rewritten, %d kept, %d "
                           "permission records written"),
                         client, c.newEntries, c.rewritten, c.kept, c.permissions)
                << "\n";
      return;
    case catalogue::RunOutcome::kOpenFailed:
      fail(textf(_("the catalogue could not start, nothing changed: %s"), failure().c_str()));
    case catalogue::RunOutcome::kCommitFailed:
      if (!report.leftOver.empty())
        fail(textf(_("the catalogue failed: %s; the menus are as they were, but %s"),
                   failure().c_str(), report.leftOver.c_str()));
      fail(textf(_("the catalogue failed, nothing changed: %s"), failure().c_str()));
    case catalogue::RunOutcome::kScreenFailed: fail(_("the screen set failed"));
  }
}

}  // namespace

void addCatalogueVerbs(CLI::App& app) {
  auto options = std::make_shared<Options>();
  CLI::App* cmd = app.add_subcommand(
      "catalogue", _("Run the menu catalogue PX07: build the menus of the installation's edition"));
  cmd->add_option("--dir", options->dir, _("data directory of the installation"))
      ->capture_default_str();
  cmd->add_option("--client", options->client,
                  _("client whose normal users get permissions (default: the installation's)"))
      ->check(CLI::Range(0, 999));
  cmd->callback([options] { runCatalogueVerb(*options); });
}

}  // namespace tools
