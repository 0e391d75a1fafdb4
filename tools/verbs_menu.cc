// menu tree, export, import: the menu file as a user sees it, and as CSV or
// JSON for editing elsewhere.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "abi/utility_blocks.h"
#include "datafiles/menu_access.h"
#include "datafiles/records.h"
#include "platform/dl_program_loader.h"
#include "tools/admin_common.h"
#include "tools/audit_log.h"
#include "tools/i18n.h"
#include "tools/menu_io.h"
#include "tools/text.h"
#include "tools/verbs.h"

namespace tools {
namespace {

using datafiles::MenuRecord;
using datafiles::PermissionRecord;

// ---- menu tree ------------------------------------------------------------------

struct TreeOptions {
  std::string dir = ".", user;
  std::optional<int> client;  // else the installation's default client
  bool all = false;
};

// A read that neither found a record nor came to the end: the listing would
// be short, so the verb fails instead.
void readFailed(std::string_view file, datafiles::FileStatus s) {
  fail(textf(_("cannot read %s: %s"), std::string(file).c_str(), describe(s).c_str()));
}

// Why the user does not see or cannot open an entry, by the reason's kind.
// The German catalogue gives the system's own words, which the menu
// maintenance and the help use; other languages get their own.
std::string reasonOf(datafiles::Refusal refusal, const MenuRecord& entry) {
  switch (refusal) {
    case datafiles::Refusal::kNone:
      return "";
    case datafiles::Refusal::kClassM:
      return _("access class M: for user class M only");
    case datafiles::Refusal::kNoPermission:
      return textf(_("no permission record for program %s"), shown(entry.programField()).c_str());
    case datafiles::Refusal::kNotInstalled:
      return _("application not installed!");
  }
  return datafiles::explain(refusal, entry);
}

// One line of the tree: number, text, program, and why the user does not see
// or cannot open the entry.
void printLine(const datafiles::TreeLine& line, std::ostream& out) {
  const MenuRecord& r = line.entry;
  char num[8];
  std::snprintf(num, sizeof num, "%3d", r.entry().value_or(0));
  out << std::string(line.depth * 2, ' ') << num << "  " << shown(r.textField());
  if (!r.opensSubmenu()) out << "  [" << shown(r.programField()) << "]";
  if (line.refusal != datafiles::Refusal::kNone)
    out << "  -- " << reasonOf(line.refusal, r);
  out << "\n";
}

void runMenuTree(const TreeOptions& o) {
  const auto store = storeFor(o.dir);
  const int client = clientOr(*store, o.dir, o.client);
  auto menu = openOrFail(*store, datafiles::kMenuFile, o.dir, datafiles::OpenMode::kInput);
  auto perms = openOrFail(*store, datafiles::kPermissionFile, o.dir, datafiles::OpenMode::kInput);
  auto inst = openOrFail(*store, datafiles::kInstallationFile, o.dir, datafiles::OpenMode::kInput);
  datafiles::AccessUser user{'M', client};
  std::ostringstream out;
  if (!o.user.empty()) {
    const std::string name = userNameOrFail(o.user);
    platform::DlProgramLoader loader(platform::defaultProgramPath());
    const auto encoded = userNameCode(loader, pxabi::UserNameBlock::kEncode, name);
    if (!encoded) fail(_("U001 cannot be loaded: check the program directory"));
    auto users = openOrFail(*store, datafiles::kUserFile, o.dir, datafiles::OpenMode::kInput);
    datafiles::UserRecord u;
    const auto key = datafiles::UserRecord::key(client, *encoded);
    std::copy(key.begin(), key.end(), u.data());
    if (const datafiles::FileStatus s = users->read(u.bytes()); !s.ok())
      fail(textf(_("no user %s for client %d: %s"), o.user.c_str(), client, describe(s).c_str()));
    (void)users->close();
    user.userClass = u.userClass();
    user.name = name;
    user.name.resize(10, ' ');
    out << textf(_("Menu tree for %s (class %c, client %d)"), o.user.c_str(), user.userClass,
                 client)
        << "\n";
    datafiles::ControlRecord control;
    if (inst->read(control.bytes()).ok() && control.locked())
      out << (datafiles::isAdministrator(user.userClass)
                  ? _("Note: the system is locked for normal users.")
                  : _("Note: the system is locked for normal users: this user cannot sign on "
                      "now."))
          << "\n";
  } else {
    out << _("Menu tree (all entries, as class M sees them)") << "\n";
  }
  out << "A n w e n d u n g e n\n";
  datafiles::FileAccessLookup lookup(*perms, *inst);
  std::optional<datafiles::ReadFailure> failure;
  const auto tree = datafiles::menuTree(*menu, user, lookup, o.all, &failure);
  if (!failure) failure = lookup.failure();
  if (failure) readFailed(failure->file, failure->status);
  for (const auto& line : tree) printLine(line, out);
  std::cout << out.str();
}

// ---- menu export / import --------------------------------------------------------

MenuFormat formatOf(const std::string& format, const std::string& file) {
  if (format == "csv") return MenuFormat::kCsv;
  if (format == "json") return MenuFormat::kJson;
  if (!format.empty()) fail(_("--format is csv or json"), kExitUsage);
  return file.size() > 5 && file.substr(file.size() - 5) == ".json" ? MenuFormat::kJson
                                                                    : MenuFormat::kCsv;
}

void runMenuExport(const std::string& dir, const std::string& format, const std::string& output) {
  const auto store = storeFor(dir);
  auto f = openOrFail(*store, datafiles::kMenuFile, dir, datafiles::OpenMode::kInput);
  std::vector<MenuRecord> all;
  MenuRecord r;
  encoding::zero(r.bytes());
  datafiles::FileStatus s =
      f->start(datafiles::StartMode::kNotLessThan, r.bytes(), MenuRecord::kKeyLength);
  if (s.ok())
    while ((s = f->readNext(r.bytes())).ok()) all.push_back(r);
  (void)f->close();
  if (!s.atEnd() && !s.invalidKey()) readFailed("FX01.DAT", s);
  std::string error;
  const auto text = exportMenu(all, formatOf(format, output), &error);
  if (!text) fail(error);
  if (output.empty() || output == "-") {
    std::cout << *text;
    return;
  }
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  out << *text;
  out.close();
  if (!out) fail(textf(_("cannot write %s"), output.c_str()));
  std::cerr << textf(ngettext("%zu menu record exported to %s", "%zu menu records exported to %s",
                              all.size()),
                     all.size(), output.c_str())
            << "\n";
}

// The keys of the menu records that an import of `records` with --replace
// would remove.
std::set<std::string> keysToRemove(datafiles::KeyedFile& f, const std::set<std::string>& keep) {
  std::set<std::string> drop;
  MenuRecord r;
  encoding::zero(r.bytes());
  datafiles::FileStatus s =
      f.start(datafiles::StartMode::kNotLessThan, r.bytes(), MenuRecord::kKeyLength);
  if (s.ok())
    while ((s = f.readNext(r.bytes())).ok())
      if (!keep.count(std::string(r.view().substr(0, 6))))
        drop.insert(std::string(r.view().substr(0, 6)));
  if (!s.atEnd() && !s.invalidKey()) readFailed("FX01.DAT", s);
  return drop;
}

// --replace that would remove records: asked on a terminal, else --yes.
void confirmRemoval(std::size_t count, const std::string& input, bool yes) {
  if (count == 0 || yes) return;
  const std::string what =
      textf(ngettext("%zu menu record that %s does not hold would be removed",
                     "%zu menu records that %s does not hold would be removed", count),
            count, input.c_str());
  if (!::isatty(STDIN_FILENO))
    fail(textf(_("%s; give --yes to confirm. Nothing changed."), what.c_str()), kExitUsage);
  std::cerr << textf(_("%s. Remove them? [j/N] "), what.c_str()) << std::flush;
  std::string answer;
  std::getline(std::cin, answer);
  if (answer != "j" && answer != "J" && answer != "y" && answer != "Y")
    fail(_("nothing changed"));
}

void runMenuImport(const std::string& dir, const std::string& format, const std::string& input,
                   bool replace, bool yes) {
  std::ifstream in(input, std::ios::binary);
  if (!in) fail(textf(_("cannot read %s"), input.c_str()));
  std::string error;
  const auto records = importMenu(in, formatOf(format, input), &error);
  if (!records) fail(input + ": " + error);
  if (in.bad()) fail(textf(_("cannot read %s"), input.c_str()));
  const auto store = storeFor(dir);
  std::set<std::string> keep;
  std::size_t confirmed = 0;
  if (replace) {
    for (const auto& r : *records) keep.insert(std::string(r.view().substr(0, 6)));
    // Asked before anything is locked or changed.
    auto look = openOrFail(*store, datafiles::kMenuFile, dir, datafiles::OpenMode::kInput);
    confirmed = keysToRemove(*look, keep).size();
    (void)look->close();
    confirmRemoval(confirmed, input, yes);
  }
  auto f = openOrFail(*store, datafiles::kMenuFile, dir, datafiles::OpenMode::kInputOutput);
  // One unit: the import stands whole or not at all.
  if (const datafiles::FileStatus s = f->begin(); !s.ok())
    fail(textf(_("cannot start the import: %s"), describe(s).c_str()));
  int added = 0, replaced = 0, removed = 0;
  datafiles::FileStatus failed = datafiles::kOk;
  if (replace) {
    const std::set<std::string> drop = keysToRemove(*f, keep);
    if (!yes && drop.size() > confirmed) {
      (void)f->rollback();
      (void)f->close();
      fail(_("the menu file changed while you were asked; nothing changed"));
    }
    for (const auto& key : drop) {
      if (!failed.ok()) break;
      MenuRecord d;
      std::copy(key.begin(), key.end(), d.bytes().begin());
      if (const datafiles::FileStatus s = f->remove(d.bytes()); !s.ok()) failed = s;
      ++removed;
    }
  }
  for (const auto& r : *records) {
    if (!failed.ok()) break;
    datafiles::FileStatus s = f->write(r.bytes());
    if (s == datafiles::kDuplicateKey) {
      s = f->rewrite(r.bytes());
      ++replaced;
    } else {
      ++added;
    }
    if (!s.ok()) failed = s;
  }
  if (!failed.ok()) {
    (void)f->rollback();
    (void)f->close();
    fail(textf(_("import abandoned, nothing changed: %s"), describe(failed).c_str()));
  }
  if (const datafiles::FileStatus s = f->commit(); !s.ok()) {
    (void)f->rollback();
    (void)f->close();
    fail(textf(_("import abandoned, nothing changed: %s"), describe(s).c_str()));
  }
  (void)f->close();
  recordChange(*store, dir,
               datafiles::AuditEvent("MENUIMP")
                   .withObject("FX01")
                   .withDetail(std::filesystem::path(input).filename().string() + ": " +
                               std::to_string(added) + " added, " + std::to_string(replaced) +
                               " replaced" +
                               (replace ? ", " + std::to_string(removed) + " removed" : "")));
  std::cout << textf(_("%d added, %d replaced"), added, replaced);
  if (replace) std::cout << textf(_(", %d removed"), removed);
  std::cout << "\n";
}

}  // namespace

void addMenuVerbs(CLI::App& app) {
  CLI::App* cmd = nullptr;
  CLI::App* menu = app.add_subcommand("menu", _("The menu file: tree, export, import"));
  menu->require_subcommand(1);
  auto tree = std::make_shared<TreeOptions>();
  cmd = menu->add_subcommand("tree", _("Print the menu tree as a user sees it"));
  cmd->add_option("--user", tree->user, _("Apply this user's class and permissions"));
  cmd->add_option("--client", tree->client, _("Client number (default: the installation's default)"))
      ->check(CLI::Range(0, 999));
  cmd->add_flag("--all", tree->all, _("Also list what the user does not see, and why"));
  cmd->add_option("--dir", tree->dir, _("Data directory"));
  cmd->callback([tree] { runMenuTree(*tree); });

  struct IoOptions {
    std::string dir = ".", format, file;
    bool replace = false, yes = false;
  };
  auto io = std::make_shared<IoOptions>();
  cmd = menu->add_subcommand("export", _("Write every menu record as CSV or JSON"));
  cmd->add_option("--format", io->format, _("csv or json (default: by file name, else csv)"));
  cmd->add_option("-o,--output", io->file, _("Output file (default: standard output)"));
  cmd->add_option("--dir", io->dir, _("Data directory"));
  cmd->callback([io] { runMenuExport(io->dir, io->format, io->file); });
  cmd = menu->add_subcommand("import", _("Store menu records from a CSV or JSON export"));
  cmd->add_option("file", io->file, _("The export to import"))->required();
  cmd->add_option("--format", io->format, _("csv or json (default: by file name)"));
  cmd->add_flag("--replace", io->replace, _("Also remove menu records the file does not hold"));
  cmd->add_flag("--yes", io->yes,
                _("With --replace: remove without asking (needed when not on a terminal)"));
  cmd->add_option("--dir", io->dir, _("Data directory"));
  cmd->callback([io] { runMenuImport(io->dir, io->format, io->file, io->replace, io->yes); });
}

}  // namespace tools
