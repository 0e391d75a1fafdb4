// app install/remove/list, check, backup, restore: the applications of a
// client, and the installation's files as a whole.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "datafiles/audit_records.h"
#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"
#include "tools/admin_common.h"
#include "tools/audit_log.h"
#include "tools/i18n.h"
#include "tools/text.h"
#include "tools/verbs.h"

namespace tools {
namespace {

// ---- app install / remove / list -----------------------------------------------------

void runApp(const std::string& verb, const std::string& dir, std::optional<int> givenClient,
            int number, const std::string& name) {
  const auto store = storeFor(dir);
  const int client = clientOr(*store, dir, givenClient);
  const bool change = verb != "list";
  auto f = openOrFail(*store, datafiles::kInstallationFile, dir,
                      change ? datafiles::OpenMode::kInputOutput : datafiles::OpenMode::kInput);
  datafiles::ApplicationRecord r;
  if (verb == "list") {
    r.setKey(datafiles::InstallationRecord::kApplicationType, client, 0);
    bool any = false;
    datafiles::FileStatus s = f->start(datafiles::StartMode::kNotLessThan, r.bytes(), 3);
    std::string list;
    if (s.ok()) {
      while ((s = f->readNext(r.bytes())).ok() && r.type() == '1' && r.client() == client) {
        char number[8];
        std::snprintf(number, sizeof number, "%3d  ", r.application().value_or(-1));
        list += number + shown(r.nameField()) + "\n";
        any = true;
      }
    }
    (void)f->close();
    // Only the end of the file, a record of another kind or client, or an
    // empty file end the list; anything else would shorten it.
    if (!s.ok() && !s.atEnd() && !s.invalidKey())
      fail(textf(_("cannot read %s: %s"), "FT00.DAT", describe(s).c_str()));
    std::cout << list;
    if (!any) std::cout << textf(_("no applications installed for client %d"), client) << "\n";
    return;
  }
  if (number < 0 || number > 999) fail(_("an application number is 0-999"), kExitUsage);
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
      fail(textf(_("application %d is not installed for client %d"), number, client));
    }
  }
  (void)f->close();
  if (!s.ok()) fail(textf(_("cannot change the application record: %s"), describe(s).c_str()));
  recordChange(*store, dir,
               datafiles::AuditEvent(verb == "install" ? "APPADD" : "APPDEL", {}, client)
                   .withObject(std::to_string(number))
                   .withDetail(verb == "install" && !name.empty() ? name : ""));
  std::cout << textf(verb == "install" ? _("application %d installed for client %d")
                                       : _("application %d removed for client %d"),
                     number, client)
            << "\n";
}

// ---- check, backup, restore ------------------------------------------------------------

// The audit trail: missing in an installation made before it (made by
// --repair, or by the next start), its integrity, and the records that
// could not be written, as the records written after them report.
bool checkTrail(datafiles::InstallationStore& store, const std::string& dir, bool repair) {
  std::vector<std::string> problems;
  datafiles::FileStatus s = store.checkIntegrity(datafiles::kAuditFile, dir, &problems);
  if (s == datafiles::kFileMissing && repair) {
    if (const datafiles::FileStatus c = store.create(datafiles::kAuditFile, dir);
        !c.ok() && c != datafiles::kDuplicateKey) {
      std::cout << "FXAU.DAT: " << textf(_("missing, and cannot be made: %s"), describe(c).c_str())
                << "\n";
      return false;
    }
    recordChange(store, dir,
                 datafiles::AuditEvent("REPAIR").withObject("FXAU").withDetail(
                     "audit trail made by pxadmin check --repair"));
    std::cout << "FXAU.DAT: " << _("was missing, made now") << "\n";
    s = store.checkIntegrity(datafiles::kAuditFile, dir, &problems);
  }
  if (s == datafiles::kFileMissing) {
    std::cout << "FXAU.DAT: "
              << _("missing (an installation made before the audit trail): "
                   "pxadmin check --repair or the next start of px01 makes it")
              << "\n";
    return true;
  }
  if (!s.ok()) {
    std::cout << "FXAU.DAT: " << describe(s) << "\n";
    for (const auto& p : problems) std::cout << "  " << p << "\n";
    return false;
  }
  auto f = store.file(datafiles::kAuditFile, dir);
  if (s = f->open(datafiles::OpenMode::kInput); !s.ok()) {
    std::cout << "FXAU.DAT: " << describe(s) << "\n";
    return false;
  }
  datafiles::AuditRecord r;
  long records = 0, lost = 0;
  std::string lastLoss;
  s = f->start(datafiles::StartMode::kNotLessThan, r.bytes(), 1);
  while (s.ok() && (s = f->readNext(r.bytes())).ok() &&
         r.kind() == datafiles::AuditRecord::kEventKind) {
    ++records;
    if (const long n = static_cast<long>(encoding::getDigits(r.lost()).value_or(0)); n > 0) {
      lost += n;
      lastLoss = textf(_("%s on %s"), localTimeOf(encoding::view(r.time())).c_str(),
                       std::string(encoding::trimmed(r.host())).c_str());
    }
  }
  (void)f->close();
  if (!s.ok() && !s.atEnd() && !s.invalidKey()) {
    std::cout << "FXAU.DAT: " << textf(_("cannot read: %s"), describe(s).c_str()) << "\n";
    return false;
  }
  std::cout << "FXAU.DAT: "
            << textf(ngettext("ok, %ld record", "ok, %ld records", static_cast<unsigned long>(records)),
                     records);
  if (lost > 0)
    std::cout << "; "
              << textf(ngettext("%ld record could not be written (the trail was held or could "
                                "not be written; last reported %s)",
                                "%ld records could not be written (the trail was held or could "
                                "not be written; last reported %s)",
                                static_cast<unsigned long>(lost)),
                       lost, lastLoss.c_str());
  std::cout << "\n";
  return true;
}

void runCheck(const std::string& dir, bool repair) {
  const auto store = storeFor(dir);
  bool clean = true;
  for (const datafiles::FileSpec* spec : kAllFiles) {
    std::vector<std::string> problems;
    const datafiles::FileStatus s = store->checkIntegrity(*spec, dir, &problems);
    if (s.ok()) {
      std::cout << spec->name << ": " << _("ok") << "\n";
      continue;
    }
    clean = false;
    std::cout << spec->name << ": " << describe(s) << "\n";
    for (const auto& p : problems) std::cout << "  " << p << "\n";
  }
  if (!checkTrail(*store, dir, repair)) clean = false;
  if (!clean) throw CLI::RuntimeError(kExitFailure);
}

std::string timestamp() { return localNow("%Y%m%d-%H%M%S"); }

void runBackup(const std::string& dir, const std::string& target) {
  namespace fs = std::filesystem;
  const std::string name = "px-backup-" + timestamp();
  std::error_code ec;
  // Made under a temporary name and renamed when every copy is written and
  // checked: a killed or failed backup leaves no folder that looks whole.
  const fs::path part = fs::path(target) / ("." + name + ".part-" + std::to_string(::getpid()));
  fs::remove_all(part, ec);
  fs::create_directories(part, ec);
  if (ec) fail(textf(_("cannot create %s: %s"), part.string().c_str(), ec.message().c_str()));
  auto abandon = [&](const std::string& why) {
    fs::remove_all(part, ec);
    fail(textf(_("%s; no backup written"), why.c_str()));
  };
  // The copies are embedded files whichever store the installation uses,
  // so that a backup restores into either. The audit trail goes along for
  // the record, when there is one; a restore never puts it back.
  const auto store = storeFor(dir);
  datafiles::SqliteStore copies;
  std::vector<const datafiles::FileSpec*> files(std::begin(kAllFiles), std::end(kAllFiles));
  files.push_back(&datafiles::kAuditFile);
  for (const datafiles::FileSpec* spec : files) {
    const datafiles::FileStatus s = store->copyTo(*spec, dir, (part / spec->name).string());
    if (s == datafiles::kFileMissing && spec == &datafiles::kAuditFile) continue;
    if (!s.ok())
      abandon(textf(_("cannot copy %s: %s"), std::string(spec->name).c_str(),
                    describe(s, *store).c_str()));
    // A copy that restore would refuse is no backup.
    std::vector<std::string> problems;
    if (const datafiles::FileStatus c = copies.checkIntegrity(*spec, part.string(), &problems);
        !c.ok())
      abandon(textf(_("%s fails the check: %s%s; see pxadmin check"),
                    std::string(spec->name).c_str(), describe(c).c_str(),
                    problems.empty() ? "" : (" (" + problems.front() + ")").c_str()));
    // The check's companions of the copy are no part of the backup.
    for (const char* companion : {"-lock", "-shm", "-wal"}) {
      const fs::path p = part / (std::string(spec->name) + companion);
      if (std::string(companion) != "-wal" || fs::file_size(p, ec) == 0) fs::remove(p, ec);
    }
  }
  // Named after the second it was taken; a second backup in the same second
  // (another administrator's, or a script's) gets "-2", "-3" ... Renaming
  // never replaces a folder that holds anything.
  fs::path into;
  for (int n = 1; into.empty(); ++n) {
    const fs::path candidate =
        fs::path(target) / (n == 1 ? name : name + "-" + std::to_string(n));
    if (fs::exists(candidate, ec) || fs::is_symlink(candidate, ec)) {
      if (n < 100) continue;
      abandon(textf(_("%s exists already"), candidate.string().c_str()));
    }
    if (::rename(part.c_str(), candidate.c_str()) == 0) {
      into = candidate;
    } else if ((errno != EEXIST && errno != ENOTEMPTY) || n >= 100) {
      abandon(textf(_("cannot rename %s"), part.string().c_str()));
    }
  }
  std::cout << into.string() << "\n";
}

// The live file's state before a restore, in words.
std::string stateBefore(datafiles::FileStatus s) {
  if (s.ok()) return "";
  if (s == datafiles::kFileMissing) return _(" (it was missing)");
  if (s == datafiles::kIndexDamaged)
    return textf(_(" (it was damaged or held malformed records: %s)"), s.toString().c_str());
  if (s.needsReorganisation())
    return textf(_(" (it was not a file of this release or system: %s)"), s.toString().c_str());
  return textf(_(" (it could not be read: %s)"), s.toString().c_str());
}

// The four files are replaced as a whole by the backup's, all of them or
// none, while each is held exclusively: nobody works with them meanwhile.
void runRestore(const std::string& dir, const std::string& from) {
  std::error_code ec;
  if (std::filesystem::equivalent(dir, from, ec))
    fail(_("the backup is the data directory itself"), kExitUsage);
  // The backup is a folder of embedded files, whichever store the
  // installation uses.
  datafiles::SqliteStore backup;
  // Check the whole backup first, so that a bad one changes nothing.
  for (const datafiles::FileSpec* spec : kAllFiles) {
    std::vector<std::string> problems;
    if (const datafiles::FileStatus s = backup.checkIntegrity(*spec, from, &problems); !s.ok())
      fail(textf(_("the backup's %s is not usable: %s%s. Nothing changed."),
                 std::string(spec->name).c_str(), describe(s).c_str(),
                 problems.empty() ? "" : (" (" + problems.front() + ")").c_str()));
  }
  const auto store = storeFor(dir);
  // A launcher closes the files while a program it called runs: its
  // session tells that it is still at work.
  if (const std::string who = describeSessions(liveSessions(*store, dir), "  "); !who.empty())
    fail(textf(_("signed on now:\n%severy workstation must leave the program first. Nothing "
                 "changed."),
               who.c_str()));
  std::vector<datafiles::InstallationStore::Replacement> done;
  std::string failed;
  if (const datafiles::FileStatus s = store->replaceFiles(kAllFiles, dir, from, &done, &failed);
      !s.ok()) {
    if (s.locked()) {
      const std::string who = describeSessions(liveSessions(*store, dir), "  ");
      fail(who.empty()
               ? textf(_("%s is in use: %s; every workstation must leave the program first. "
                         "Nothing changed."),
                       failed.c_str(), describe(s).c_str())
               : textf(_("%s is in use: %s; signed on now:\n%severy workstation must leave the "
                         "program first. Nothing changed."),
                       failed.c_str(), describe(s).c_str(), who.c_str()));
    }
    fail(textf(_("cannot restore %s: %s. Nothing changed."), failed.c_str(),
               describe(s, *store).c_str()));
  }
  for (const auto& r : done)
    std::cout << r.name << ": "
              << textf(ngettext("%zu record restored", "%zu records restored", r.records),
                       r.records)
              << stateBefore(r.before) << "\n";
  for (const datafiles::FileSpec* spec : kAllFiles) {
    std::vector<std::string> problems;
    if (const datafiles::FileStatus s = store->checkIntegrity(*spec, dir, &problems); !s.ok())
      fail(textf(_("all four files were replaced, but %s fails the check: %s%s"),
                 std::string(spec->name).c_str(), describe(s).c_str(),
                 problems.empty() ? "" : (" (" + problems.front() + ")").c_str()));
  }
  recordChange(*store, dir, datafiles::AuditEvent("RESTORE").withObject("FT00-FX02").withDetail(
                               "from " + from));
  std::cout << textf(_("All four files restored from %s."), from.c_str()) << "\n";
}

}  // namespace

void addInstallationVerbs(CLI::App& app) {
  CLI::App* cmd = nullptr;
  struct AppOptions {
    std::string dir = ".", name;
    std::optional<int> client;  // else the installation's default client
    int number = -1;
  };
  auto ao = std::make_shared<AppOptions>();
  CLI::App* appCmd = app.add_subcommand("app", _("Applications installed per client"));
  appCmd->require_subcommand(1);
  for (const char* verb : {"install", "remove", "list"}) {
    cmd = appCmd->add_subcommand(
        verb, std::string(verb) == "install"  ? _("Install an application for a client")
              : std::string(verb) == "remove" ? _("Remove an application record")
                                              : _("List the applications of a client"));
    if (std::string(verb) != "list")
      cmd->add_option("number", ao->number, _("Application number"))
          ->required()
          ->check(CLI::Range(0, 999));
    if (std::string(verb) == "install") cmd->add_option("--name", ao->name, _("Application name"));
    cmd->add_option("--client", ao->client, _("Client number (default: the installation's default)"))
        ->check(CLI::Range(0, 999));
    cmd->add_option("--dir", ao->dir, _("Data directory"));
    const std::string v = verb;
    cmd->callback([ao, v] { runApp(v, ao->dir, ao->client, ao->number, ao->name); });
  }

  auto dir = std::make_shared<std::string>(".");
  auto target = std::make_shared<std::string>();
  auto repair = std::make_shared<bool>(false);
  cmd = app.add_subcommand("check", _("Open every data file and run the store's integrity check"));
  cmd->add_option("--dir", *dir, _("Data directory"));
  cmd->add_flag("--repair", *repair, _("Make the audit trail of an installation made before it"));
  cmd->callback([dir, repair] { runCheck(*dir, *repair); });
  cmd = app.add_subcommand("backup", _("Copy the four data files into a new dated folder"));
  cmd->add_option("target", *target, _("Folder that receives px-backup-YYYYMMDD-HHMMSS/"))->required();
  cmd->add_option("--dir", *dir, _("Data directory"));
  cmd->callback([dir, target] { runBackup(*dir, *target); });
  cmd = app.add_subcommand("restore", _("Replace the data files' records with a backup's"));
  cmd->add_option("backup", *target, _("A px-backup-... folder"))->required();
  cmd->add_option("--dir", *dir, _("Data directory"));
  cmd->callback([dir, target] { runRestore(*dir, *target); });
}

}  // namespace tools
