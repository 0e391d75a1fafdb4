// menu tree, export, import: the menu file as a user sees it, and as CSV or
// JSON for editing elsewhere.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "abi/utility_blocks.h"
#include "datafiles/records.h"
#include "launcher/rules.h"
#include "platform/dl_program_loader.h"
#include "tools/admin_common.h"
#include "tools/menu_io.h"
#include "tools/verbs.h"

namespace tools {
namespace {

using datafiles::MenuRecord;
using datafiles::PermissionRecord;

// ---- menu tree ------------------------------------------------------------------

struct TreeOptions {
  std::string dir = ".", user;
  int client = 0;
  bool all = false;
};

struct TreeContext {
  datafiles::KeyedFile* menu;
  datafiles::KeyedFile* permissions;
  datafiles::KeyedFile* installation;
  char userClass;
  int client;
  std::string user;  // code page 850, blank-padded to 10
  bool all;
  std::set<int> path;  // menus on the way down, against cycles
};

std::vector<MenuRecord> listMenu(datafiles::KeyedFile& f, int menu) {
  std::vector<MenuRecord> out;
  MenuRecord k;
  k.setKey(menu, 0);
  if (f.start(datafiles::StartMode::kNotLessThan, k.bytes(), MenuRecord::kKeyLength).invalidKey())
    return out;
  MenuRecord r;
  while (f.readNext(r.bytes()).ok()) {
    if (r.isHeader()) continue;
    if (r.menu() != menu) break;
    out.push_back(r);
  }
  return out;
}

// Why the user does not see or cannot open the entry; empty when she can.
std::string refusal(TreeContext& c, const MenuRecord& r, int menu) {
  const std::string_view program = r.program();
  switch (launcher::entryVisibility(c.userClass, r.accessClass(), program)) {
    case launcher::Visibility::kHidden:
      return "hidden: access class " + std::string(1, r.accessClass()) + " is for class M only";
    case launcher::Visibility::kNeedsPermission: {
      PermissionRecord k;
      k.setKey(c.client, c.user, program);
      if (c.permissions
              ->start(datafiles::StartMode::kEqual, k.bytes(), PermissionRecord::kKeyLength)
              .invalidKey())
        return "hidden: no permission record for " + encoding::getText(r.programField());
      break;
    }
    case launcher::Visibility::kShown:
      break;
  }
  if (menu == 0 && r.opensSubmenu() && c.userClass != 'M' && r.entry() != 19) {
    datafiles::InstallationRecord k;
    k.setKey(datafiles::InstallationRecord::kApplicationType, c.client, r.entry().value_or(0));
    datafiles::InstallationRecord app;
    std::copy_n(k.data(), datafiles::InstallationRecord::kKeyLength, app.data());
    if (c.installation->read(app.bytes()).invalidKey())
      return "refused: Anwendung nicht installiert!";
  }
  return "";
}

void printTree(TreeContext& c, int menu, int depth, std::ostream& out) {
  if (depth > 20 || !c.path.insert(menu).second) return;
  for (const MenuRecord& r : listMenu(*c.menu, menu)) {
    const std::string why = refusal(c, r, menu);
    if (!why.empty() && !c.all) continue;
    const int entry = r.entry().value_or(0);
    char num[8];
    std::snprintf(num, sizeof num, "%3d", entry);
    out << std::string(depth * 2, ' ') << num << "  " << r.text();
    if (!r.opensSubmenu()) out << "  [" << encoding::getText(r.programField()) << "]";
    if (!why.empty()) out << "  -- " << why;
    out << "\n";
    if (r.opensSubmenu() && why.empty()) printTree(c, entry, depth + 1, out);
  }
  c.path.erase(menu);
}

void runMenuTree(const TreeOptions& o) {
  const auto store = storeFor(o.dir);
  auto menu = openOrFail(*store, datafiles::kMenuFile, o.dir, datafiles::OpenMode::kInput);
  auto perms = openOrFail(*store, datafiles::kPermissionFile, o.dir, datafiles::OpenMode::kInput);
  auto inst = openOrFail(*store, datafiles::kInstallationFile, o.dir, datafiles::OpenMode::kInput);
  TreeContext c{menu.get(), perms.get(), inst.get(), 'M', o.client, "", o.all, {}};
  std::ostringstream out;
  if (!o.user.empty()) {
    const std::string name = userNameOrFail(o.user);
    platform::DlProgramLoader loader(platform::defaultProgramPath());
    const auto encoded = userNameCode(loader, pxabi::UserNameBlock::kEncode, name);
    if (!encoded) fail("U001 cannot be loaded: check the program directory");
    auto users = openOrFail(*store, datafiles::kUserFile, o.dir, datafiles::OpenMode::kInput);
    datafiles::UserRecord u;
    const auto key = datafiles::UserRecord::key(o.client, *encoded);
    std::copy(key.begin(), key.end(), u.data());
    if (const datafiles::FileStatus s = users->read(u.bytes()); !s.ok())
      fail("no user " + o.user + " for client " + std::to_string(o.client) + ": " + describe(s));
    (void)users->close();
    c.userClass = u.userClass();
    c.user = name;
    c.user.resize(10, ' ');
    out << "Menu tree for " << o.user << " (class " << c.userClass << ", client " << o.client
        << ")\n";
    datafiles::ControlRecord control;
    if (inst->read(control.bytes()).ok() && control.locked())
      out << (launcher::isAdministrator(c.userClass)
                  ? "Note: the system is locked for normal users.\n"
                  : "Note: the system is locked for normal users: this user cannot sign on now.\n");
  } else {
    out << "Menu tree (all entries, as class M sees them)\n";
  }
  out << "A n w e n d u n g e n\n";
  printTree(c, 0, 1, out);
  std::cout << out.str();
}

// ---- menu export / import --------------------------------------------------------

MenuFormat formatOf(const std::string& format, const std::string& file) {
  if (format == "csv") return MenuFormat::kCsv;
  if (format == "json") return MenuFormat::kJson;
  if (!format.empty()) fail("--format is csv or json", kExitUsage);
  return file.size() > 5 && file.substr(file.size() - 5) == ".json" ? MenuFormat::kJson
                                                                    : MenuFormat::kCsv;
}

void runMenuExport(const std::string& dir, const std::string& format, const std::string& output) {
  const auto store = storeFor(dir);
  auto f = openOrFail(*store, datafiles::kMenuFile, dir, datafiles::OpenMode::kInput);
  std::vector<MenuRecord> all;
  MenuRecord r;
  encoding::zero(r.bytes());
  if (f->start(datafiles::StartMode::kNotLessThan, r.bytes(), MenuRecord::kKeyLength).ok())
    while (f->readNext(r.bytes()).ok()) all.push_back(r);
  (void)f->close();
  std::string error;
  const auto text = exportMenu(all, formatOf(format, output), &error);
  if (!text) fail(error);
  if (output.empty() || output == "-") {
    std::cout << *text;
    return;
  }
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  out << *text;
  if (!out.flush()) fail("cannot write " + output);
  std::cerr << all.size() << " menu records exported to " << output << "\n";
}

void runMenuImport(const std::string& dir, const std::string& format, const std::string& input,
                   bool replace) {
  std::ifstream in(input, std::ios::binary);
  if (!in) fail("cannot read " + input);
  std::stringstream buf;
  buf << in.rdbuf();
  std::string error;
  const auto records = importMenu(buf.str(), formatOf(format, input), &error);
  if (!records) fail(input + ": " + error);
  const auto store = storeFor(dir);
  auto f = openOrFail(*store, datafiles::kMenuFile, dir, datafiles::OpenMode::kInputOutput);
  // One unit: the import stands whole or not at all.
  if (const datafiles::FileStatus s = f->begin(); !s.ok())
    fail("cannot start the import: " + describe(s));
  int added = 0, replaced = 0, removed = 0;
  datafiles::FileStatus failed = datafiles::kOk;
  if (replace) {
    std::set<std::string> keep;
    for (const auto& r : *records) keep.insert(std::string(r.view().substr(0, 6)));
    std::vector<MenuRecord> drop;
    MenuRecord r;
    encoding::zero(r.bytes());
    if (f->start(datafiles::StartMode::kNotLessThan, r.bytes(), MenuRecord::kKeyLength).ok())
      while (f->readNext(r.bytes()).ok())
        if (!keep.count(std::string(r.view().substr(0, 6)))) drop.push_back(r);
    for (const auto& d : drop) {
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
    fail("import abandoned, nothing changed: " + describe(failed));
  }
  if (const datafiles::FileStatus s = f->commit(); !s.ok()) {
    (void)f->rollback();
    (void)f->close();
    fail("import abandoned, nothing changed: " + describe(s));
  }
  (void)f->close();
  std::cout << added << " added, " << replaced << " replaced";
  if (replace) std::cout << ", " << removed << " removed";
  std::cout << "\n";
}

}  // namespace

void addMenuVerbs(CLI::App& app) {
  CLI::App* cmd = nullptr;
  CLI::App* menu = app.add_subcommand("menu", "The menu file: tree, export, import");
  menu->require_subcommand(1);
  auto tree = std::make_shared<TreeOptions>();
  cmd = menu->add_subcommand("tree", "Print the menu tree as a user sees it");
  cmd->add_option("--user", tree->user, "Apply this user's class and permissions");
  cmd->add_option("--client", tree->client, "Client number")->check(CLI::Range(0, 999));
  cmd->add_flag("--all", tree->all, "Also list what the user does not see, and why");
  cmd->add_option("--dir", tree->dir, "Data directory");
  cmd->callback([tree] { runMenuTree(*tree); });

  struct IoOptions {
    std::string dir = ".", format, file;
    bool replace = false;
  };
  auto io = std::make_shared<IoOptions>();
  cmd = menu->add_subcommand("export", "Write every menu record as CSV or JSON");
  cmd->add_option("--format", io->format, "csv or json (default: by file name, else csv)");
  cmd->add_option("-o,--output", io->file, "Output file (default: standard output)");
  cmd->add_option("--dir", io->dir, "Data directory");
  cmd->callback([io] { runMenuExport(io->dir, io->format, io->file); });
  cmd = menu->add_subcommand("import", "Store menu records from a CSV or JSON export");
  cmd->add_option("file", io->file, "The export to import")->required();
  cmd->add_option("--format", io->format, "csv or json (default: by file name)");
  cmd->add_flag("--replace", io->replace, "Also remove menu records the file does not hold");
  cmd->add_option("--dir", io->dir, "Data directory");
  cmd->callback([io] { runMenuImport(io->dir, io->format, io->file, io->replace); });
}

}  // namespace tools
