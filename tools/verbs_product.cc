// The administrator's daily verbs: permissions (grant, revoke, permissions),
// the menu (tree, export, import), applications (app install/remove/list),
// and the installation as a whole (check, backup, restore).
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"
#include "encoding/cp850.h"
#include "launcher/rules.h"
#include "tools/admin_common.h"
#include "tools/menu_io.h"
#include "tools/verbs.h"

namespace tools {
namespace {

using datafiles::MenuRecord;
using datafiles::PermissionRecord;

std::string programOrFail(std::string_view utf8) {
  const std::string p = encoding::cp850::fromUtf8(utf8);
  if (p.size() > 4 || p.find(' ') != std::string::npos)
    fail("a program name has up to 4 characters and no blanks: '" + std::string(utf8) + "'",
         kExitUsage);
  return p;
}

char flagOrFail(const std::string& flag) {
  if (flag.empty() || flag == " ") return ' ';
  if (flag.size() == 1) return flag[0];
  fail("a flag is one character, for example J or N", kExitUsage);
}

// ---- grant, revoke, permissions ------------------------------------------------

struct PermissionOptions {
  std::string dir = ".", user, program, flag = "J", text;
  int client = 0;
};

void runGrant(const PermissionOptions& o) {
  const std::string user = userNameOrFail(o.user), program = programOrFail(o.program);
  datafiles::SqliteStore store;
  auto f = openOrFail(store, datafiles::kPermissionFile, o.dir, datafiles::OpenMode::kInputOutput);
  PermissionRecord r;
  r.setKey(o.client, user, program);
  r.setGrantDate(todayYymmdd());
  r.setLevel('1');
  r.setFlag(flagOrFail(o.flag));
  encoding::putText(r.textField(), o.text);
  datafiles::FileStatus s = f->write(r.bytes());
  const char* what = "granted";
  if (s == datafiles::kDuplicateKey) {
    // Keep the grant date and level of the existing record; change flag and text.
    PermissionRecord old;
    old.setKey(o.client, user, program);
    s = f->read(old.bytes());
    if (s.ok()) {
      old.setFlag(r.flag());
      encoding::putRaw(old.textField(), r.text());
      s = f->rewrite(old.bytes());
      what = "updated";
    }
  }
  (void)f->close();
  if (!s.ok()) fail("cannot store the permission: " + describe(s));
  std::cout << what << ": " << o.user << " may call " << (program.empty() ? "(blank)" : o.program)
            << " (client " << o.client << ", flag '" << r.flag() << "')\n";
}

void runRevoke(const PermissionOptions& o) {
  const std::string user = userNameOrFail(o.user), program = programOrFail(o.program);
  datafiles::SqliteStore store;
  auto f = openOrFail(store, datafiles::kPermissionFile, o.dir, datafiles::OpenMode::kInputOutput);
  PermissionRecord r;
  r.setKey(o.client, user, program);
  const datafiles::FileStatus s = f->remove(r.bytes());
  (void)f->close();
  if (s.invalidKey()) fail(o.user + " holds no permission for " + o.program);
  if (!s.ok()) fail("cannot remove the permission: " + describe(s));
  std::cout << "revoked: " << o.user << " may no longer call " << o.program << "\n";
}

// Every permission record of one user of one client, in key order.
std::vector<PermissionRecord> permissionsOf(datafiles::KeyedFile& f, int client,
                                            const std::string& user) {
  std::vector<PermissionRecord> out;
  PermissionRecord k;
  k.setKey(client, user, "");
  encoding::zero(k.programField());
  encoding::zero(k.keyBlankField());
  if (!f.start(datafiles::StartMode::kNotLessThan, k.bytes(), PermissionRecord::kKeyLength).ok())
    return out;
  PermissionRecord r;
  while (f.readNext(r.bytes()).ok()) {
    if (r.view().substr(0, 12) != k.view().substr(0, 12)) break;
    out.push_back(r);
  }
  return out;
}

void runPermissions(const PermissionOptions& o) {
  const std::string user = userNameOrFail(o.user);
  datafiles::SqliteStore store;
  auto f = openOrFail(store, datafiles::kPermissionFile, o.dir, datafiles::OpenMode::kInput);
  const auto list = permissionsOf(*f, o.client, user);
  (void)f->close();
  if (list.empty()) {
    std::cout << o.user << " (client " << o.client << ") holds no permission records\n";
    return;
  }
  std::cout << "program  flag  granted  level  text\n";
  for (const auto& r : list) {
    const std::string p = encoding::getText(r.programField());
    std::printf("%-8s %-5c %-8s %-6c %s\n", p.empty() ? "(blank)" : p.c_str(), r.flag(),
                std::string(r.grantDate()).c_str(), r.level(),
                encoding::getText(r.textField()).c_str());
  }
}

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
    if (c.installation->read(app.bytes()).invalidKey()) return "refused: Anwendung nicht installiert!";
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
  datafiles::SqliteStore store;
  auto menu = openOrFail(store, datafiles::kMenuFile, o.dir, datafiles::OpenMode::kInput);
  auto perms = openOrFail(store, datafiles::kPermissionFile, o.dir, datafiles::OpenMode::kInput);
  auto inst = openOrFail(store, datafiles::kInstallationFile, o.dir, datafiles::OpenMode::kInput);
  TreeContext c{menu.get(), perms.get(), inst.get(), 'M', o.client, "", o.all, {}};
  std::ostringstream out;
  if (!o.user.empty()) {
    const std::string name = userNameOrFail(o.user);
    const auto encoded = encodeUserName(name);
    if (!encoded) fail("U001 cannot be loaded: check the program directory");
    auto users = openOrFail(store, datafiles::kUserFile, o.dir, datafiles::OpenMode::kInput);
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
  datafiles::SqliteStore store;
  auto f = openOrFail(store, datafiles::kMenuFile, dir, datafiles::OpenMode::kInput);
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
  datafiles::SqliteStore store;
  auto f = openOrFail(store, datafiles::kMenuFile, dir, datafiles::OpenMode::kInputOutput);
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

// ---- app install / remove / list -----------------------------------------------------

void runApp(const std::string& verb, const std::string& dir, int client, int number,
            const std::string& name) {
  datafiles::SqliteStore store;
  const bool change = verb != "list";
  auto f = openOrFail(store, datafiles::kInstallationFile, dir,
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
  datafiles::SqliteStore store;
  bool clean = true;
  for (const datafiles::FileSpec* spec : kAllFiles) {
    std::vector<std::string> problems;
    const datafiles::FileStatus s = store.checkIntegrity(*spec, dir, &problems);
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
  datafiles::SqliteStore store;
  for (const datafiles::FileSpec* spec : kAllFiles) {
    const datafiles::FileStatus s = store.copyTo(*spec, dir, (into / spec->name).string());
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
                           const std::string& dir, const std::string& from, std::size_t* count) {
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

void addProductVerbs(CLI::App& app) {
  auto perm = std::make_shared<PermissionOptions>();
  auto addPermissionArgs = [&](CLI::App* cmd, bool withProgram) {
    cmd->add_option("user", perm->user, "User name")->required();
    if (withProgram) cmd->add_option("program", perm->program, "Program name (4 characters)")->required();
    cmd->add_option("--client", perm->client, "Client number")->check(CLI::Range(0, 999));
    cmd->add_option("--dir", perm->dir, "Data directory");
  };
  CLI::App* cmd = app.add_subcommand("grant", "Allow a user to call a program");
  addPermissionArgs(cmd, true);
  cmd->add_option("--flag", perm->flag, "Permission flag handed to the program (default J)");
  cmd->add_option("--text", perm->text, "Permission text handed to the program (10 characters)");
  cmd->callback([perm] { runGrant(*perm); });
  cmd = app.add_subcommand("revoke", "Take a user's permission for a program away");
  addPermissionArgs(cmd, true);
  cmd->callback([perm] { runRevoke(*perm); });
  cmd = app.add_subcommand("permissions", "List a user's permission records");
  addPermissionArgs(cmd, false);
  cmd->callback([perm] { runPermissions(*perm); });

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

  struct AppOptions {
    std::string dir = ".", name;
    int client = 0, number = -1;
  };
  auto ao = std::make_shared<AppOptions>();
  CLI::App* appCmd = app.add_subcommand("app", "Applications installed per client");
  appCmd->require_subcommand(1);
  for (const char* verb : {"install", "remove", "list"}) {
    cmd = appCmd->add_subcommand(verb, std::string(verb) == "install"
                                           ? "Install an application for a client"
                                       : std::string(verb) == "remove"
                                           ? "Remove an application record"
                                           : "List the applications of a client");
    if (std::string(verb) != "list")
      cmd->add_option("number", ao->number, "Application number")->required()->check(CLI::Range(0, 999));
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
