// app install/remove/list, check, backup, restore: the applications of a
// client, and the installation's files as a whole.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"
#include "tools/admin_common.h"
#include "tools/verbs.h"

namespace tools {
namespace {

// ---- app install / remove / list -----------------------------------------------------

void runApp(const std::string& verb, const std::string& dir, int client, int number,
            const std::string& name) {
  const auto store = storeFor(dir);
  const bool change = verb != "list";
  auto f = openOrFail(*store, datafiles::kInstallationFile, dir,
                      change ? datafiles::OpenMode::kInputOutput : datafiles::OpenMode::kInput);
  datafiles::ApplicationRecord r;
  if (verb == "list") {
    r.setKey(datafiles::InstallationRecord::kApplicationType, client, 0);
    bool any = false;
    if (f->start(datafiles::StartMode::kNotLessThan, r.bytes(), 3).ok()) {
      while (f->readNext(r.bytes()).ok() && r.type() == '1' && r.client() == client) {
        std::printf("%3d  %s\n", r.application().value_or(-1), r.name().c_str());
        any = true;
      }
    }
    if (!any) std::cout << "no applications installed for client " << client << "\n";
    (void)f->close();
    return;
  }
  if (number < 0 || number > 999) fail("an application number is 0-999", kExitUsage);
  r.setKey(datafiles::InstallationRecord::kApplicationType, client, number);
  datafiles::FileStatus s;
  if (verb == "install") {
    datafiles::ApplicationRecord old;
    std::copy_n(r.data(), datafiles::InstallationRecord::kKeyLength, old.data());
    s = f->read(old.bytes());
    if (s.ok()) {
      // Keep the bytes other programs maintain; set only the name.
      if (!name.empty()) old.setName(name);
      s = f->rewrite(old.bytes());
    } else if (s.invalidKey()) {
      r.setName(name);
      s = f->write(r.bytes());
    }
  } else {
    s = f->remove(r.bytes());
    if (s.invalidKey()) {
      (void)f->close();
      fail("application " + std::to_string(number) + " is not installed for client " +
           std::to_string(client));
    }
  }
  (void)f->close();
  if (!s.ok()) fail("cannot change the application record: " + describe(s));
  std::cout << "application " << number << (verb == "install" ? " installed" : " removed")
            << " for client " << client << "\n";
}

// ---- check, backup, restore ------------------------------------------------------------

void runCheck(const std::string& dir) {
  const auto store = storeFor(dir);
  bool clean = true;
  for (const datafiles::FileSpec* spec : kAllFiles) {
    std::vector<std::string> problems;
    const datafiles::FileStatus s = store->checkIntegrity(*spec, dir, &problems);
    if (s.ok()) {
      std::cout << spec->name << ": ok\n";
      continue;
    }
    clean = false;
    std::cout << spec->name << ": " << describe(s) << "\n";
    for (const auto& p : problems) std::cout << "  " << p << "\n";
  }
  if (!clean) throw CLI::RuntimeError(kExitFailure);
}

std::string timestamp() { return localNow("%Y%m%d-%H%M%S"); }

void runBackup(const std::string& dir, const std::string& target) {
  const std::filesystem::path into = std::filesystem::path(target) / ("px-backup-" + timestamp());
  std::error_code ec;
  if (std::filesystem::exists(into)) fail(into.string() + " exists already");
  std::filesystem::create_directories(into, ec);
  if (ec) fail("cannot create " + into.string() + ": " + ec.message());
  const auto store = storeFor(dir);
  for (const datafiles::FileSpec* spec : kAllFiles) {
    const datafiles::FileStatus s = store->copyTo(*spec, dir, (into / spec->name).string());
    if (!s.ok()) {
      std::filesystem::remove_all(into, ec);  // no half backup left behind
      fail("cannot copy " + std::string(spec->name) + ": " + describe(s));
    }
  }
  std::cout << into.string() << "\n";
}

// Replaces the live file's records with the backup's in one unit, while the
// live file is held exclusively: nobody works with it during the restore,
// and a failure leaves it as it was.
datafiles::FileStatus restoreFile(datafiles::SqliteStore& store, const datafiles::FileSpec& spec,
                                  const std::string& dir, const std::string& from,
                                  std::size_t* count) {
  auto src = store.file(spec, from);
  if (datafiles::FileStatus s = src->open(datafiles::OpenMode::kInput); !s.ok()) return s;
  std::vector<std::string> records;
  std::string r(spec.recordLength, '\0');
  std::string k(spec.recordLength, '\0');
  if (src->start(datafiles::StartMode::kNotLessThan, k, spec.keyLength).ok())
    while (src->readNext(r).ok()) records.push_back(r);
  (void)src->close();

  auto dst = store.file(spec, dir);
  if (datafiles::FileStatus s = dst->open(datafiles::OpenMode::kExclusive); !s.ok()) return s;
  datafiles::FileStatus s = dst->begin();
  std::vector<std::string> old;
  if (s.ok() && dst->start(datafiles::StartMode::kNotLessThan, k, spec.keyLength).ok())
    while (dst->readNext(r).ok()) old.push_back(r);
  for (const auto& o : old)
    if (s.ok()) s = dst->remove(o);
  for (const auto& n : records)
    if (s.ok()) s = dst->write(n);
  if (s.ok()) s = dst->commit();
  if (!s.ok()) (void)dst->rollback();
  (void)dst->close();
  *count = records.size();
  return s;
}

void runRestore(const std::string& dir, const std::string& from) {
  datafiles::SqliteStore store;
  // Check the whole backup first, so that a bad one changes nothing.
  for (const datafiles::FileSpec* spec : kAllFiles) {
    std::vector<std::string> problems;
    if (const datafiles::FileStatus s = store.checkIntegrity(*spec, from, &problems); !s.ok())
      fail("the backup's " + std::string(spec->name) + " is not usable: " + describe(s));
  }
  for (const datafiles::FileSpec* spec : kAllFiles) {
    std::size_t n = 0;
    if (const datafiles::FileStatus s = restoreFile(store, *spec, dir, from, &n); !s.ok())
      fail("cannot restore " + std::string(spec->name) + " (it is unchanged): " + describe(s) +
           (s.locked() ? "; every workstation must leave the program first" : ""));
    std::cout << spec->name << ": " << n << " records restored\n";
  }
}

}  // namespace

void addInstallationVerbs(CLI::App& app) {
  CLI::App* cmd = nullptr;
  struct AppOptions {
    std::string dir = ".", name;
    int client = 0, number = -1;
  };
  auto ao = std::make_shared<AppOptions>();
  CLI::App* appCmd = app.add_subcommand("app", "Applications installed per client");
  appCmd->require_subcommand(1);
  for (const char* verb : {"install", "remove", "list"}) {
    cmd = appCmd->add_subcommand(
        verb, std::string(verb) == "install"  ? "Install an application for a client"
              : std::string(verb) == "remove" ? "Remove an application record"
                                              : "List the applications of a client");
    if (std::string(verb) != "list")
      cmd->add_option("number", ao->number, "Application number")
          ->required()
          ->check(CLI::Range(0, 999));
    if (std::string(verb) == "install") cmd->add_option("--name", ao->name, "Application name");
    cmd->add_option("--client", ao->client, "Client number")->check(CLI::Range(0, 999));
    cmd->add_option("--dir", ao->dir, "Data directory");
    const std::string v = verb;
    cmd->callback([ao, v] { runApp(v, ao->dir, ao->client, ao->number, ao->name); });
  }

  auto dir = std::make_shared<std::string>(".");
  auto target = std::make_shared<std::string>();
  cmd = app.add_subcommand("check", "Open every data file and run the store's integrity check");
  cmd->add_option("--dir", *dir, "Data directory");
  cmd->callback([dir] { runCheck(*dir); });
  cmd = app.add_subcommand("backup", "Copy the four data files into a new dated folder");
  cmd->add_option("target", *target, "Folder that receives px-backup-YYYYMMDD-HHMMSS/")->required();
  cmd->add_option("--dir", *dir, "Data directory");
  cmd->callback([dir, target] { runBackup(*dir, *target); });
  cmd = app.add_subcommand("restore", "Replace the data files' records with a backup's");
  cmd->add_option("backup", *target, "A px-backup-... folder")->required();
  cmd->add_option("--dir", *dir, "Data directory");
  cmd->callback([dir, target] { runRestore(*dir, *target); });
}

}  // namespace tools
