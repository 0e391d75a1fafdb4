// grant, revoke, permissions: the permission records of a user.
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "datafiles/records.h"
#include "encoding/cp850.h"
#include "tools/admin_common.h"
#include "tools/audit_log.h"
#include "tools/i18n.h"
#include "tools/text.h"
#include "tools/verbs.h"

namespace tools {
namespace {

using datafiles::PermissionRecord;

std::string programOrFail(std::string_view utf8) {
  const std::string p = encoding::cp850::fromUtf8(utf8);
  if (p.size() > 4 || p.find(' ') != std::string::npos)
    fail(textf(_("a program name has up to 4 characters and no blanks: '%s'"),
               std::string(utf8).c_str()),
         kExitUsage);
  return p;
}

char flagOrFail(const std::string& flag) {
  if (flag.empty() || flag == " ") return ' ';
  if (flag.size() == 1) return flag[0];
  fail(_("a flag is one character, for example J or N"), kExitUsage);
}

// ---- grant, revoke, permissions ------------------------------------------------

struct PermissionOptions {
  std::string dir = ".", user, program, flag = "J", text;
  std::optional<int> client;  // else the installation's default client
};

void runGrant(const PermissionOptions& o) {
  const std::string user = userNameOrFail(o.user), program = programOrFail(o.program);
  const auto store = storeFor(o.dir);
  const int client = clientOr(*store, o.dir, o.client);
  auto f = openOrFail(*store, datafiles::kPermissionFile, o.dir, datafiles::OpenMode::kInputOutput);
  PermissionRecord r;
  r.setKey(client, user, program);
  r.setGrantDate(todayYymmdd());
  r.setLevel('1');
  r.setFlag(flagOrFail(o.flag));
  encoding::putText(r.textField(), o.text);
  datafiles::FileStatus s = f->write(r.bytes());
  const char* what = "granted";
  if (s == datafiles::kDuplicateKey) {
    // Keep the grant date and level of the existing record; change flag and text.
    PermissionRecord old;
    old.setKey(client, user, program);
    s = f->read(old.bytes());
    if (s.ok()) {
      old.setFlag(r.flag());
      encoding::putRaw(old.textField(), r.text());
      s = f->rewrite(old.bytes());
      what = "updated";
    }
  }
  (void)f->close();
  if (!s.ok()) fail(textf(_("cannot store the permission: %s"), describe(s).c_str()));
  recordChange(*store, o.dir,
               datafiles::AuditEvent("GRANT", {}, client)
                   .withSubject(user)
                   .withObject(program)
                   .withDetail(std::string(what) + ", flag '" + r.flag() + "'"));
  const std::string called = program.empty() ? _("(blank)") : o.program;
  std::cout << textf(std::string(what) == "granted"
                         ? _("granted: %s may call %s (client %d, flag '%c')")
                         : _("updated: %s may call %s (client %d, flag '%c')"),
                     o.user.c_str(), called.c_str(), client, r.flag())
            << "\n";
}

void runRevoke(const PermissionOptions& o) {
  const std::string user = userNameOrFail(o.user), program = programOrFail(o.program);
  const auto store = storeFor(o.dir);
  const int client = clientOr(*store, o.dir, o.client);
  auto f = openOrFail(*store, datafiles::kPermissionFile, o.dir, datafiles::OpenMode::kInputOutput);
  PermissionRecord r;
  r.setKey(client, user, program);
  const datafiles::FileStatus s = f->remove(r.bytes());
  (void)f->close();
  if (s.invalidKey())
    fail(textf(_("%s holds no permission for %s"), o.user.c_str(), o.program.c_str()));
  if (!s.ok()) fail(textf(_("cannot remove the permission: %s"), describe(s).c_str()));
  recordChange(*store, o.dir,
               datafiles::AuditEvent("REVOKE", {}, client).withSubject(user).withObject(program));
  std::cout << textf(_("revoked: %s may no longer call %s"), o.user.c_str(), o.program.c_str())
            << "\n";
}

// Every permission record of one user of one client, in key order.
std::vector<PermissionRecord> permissionsOf(datafiles::KeyedFile& f, int client,
                                            const std::string& user) {
  std::vector<PermissionRecord> out;
  PermissionRecord k;
  k.setKey(client, user, "");
  encoding::zero(k.programField());
  encoding::zero(k.keyBlankField());
  const datafiles::FileStatus started =
      f.start(datafiles::StartMode::kNotLessThan, k.bytes(), PermissionRecord::kKeyLength);
  if (started.invalidKey()) return out;
  if (!started.ok()) fail(textf(_("cannot read %s: %s"), "FX02.DAT", describe(started).c_str()));
  PermissionRecord r;
  datafiles::FileStatus s;
  while ((s = f.readNext(r.bytes())).ok()) {
    if (r.view().substr(0, 12) != k.view().substr(0, 12)) return out;
    out.push_back(r);
  }
  if (!s.atEnd()) fail(textf(_("cannot read %s: %s"), "FX02.DAT", describe(s).c_str()));
  return out;
}

void runPermissions(const PermissionOptions& o) {
  const std::string user = userNameOrFail(o.user);
  const auto store = storeFor(o.dir);
  const int client = clientOr(*store, o.dir, o.client);
  auto f = openOrFail(*store, datafiles::kPermissionFile, o.dir, datafiles::OpenMode::kInput);
  const auto list = permissionsOf(*f, client, user);
  (void)f->close();
  if (list.empty()) {
    std::cout << textf(_("%s (client %d) holds no permission records"), o.user.c_str(), client)
              << "\n";
    return;
  }
  std::printf("%-8s %-5s %-8s %-6s %s\n", _("program"), _("flag"), _("granted"), _("level"),
              _("text"));
  for (const auto& r : list) {
    const std::string p = shown(r.programField());
    std::printf("%-8s %-5s %-8s %-6s %s\n", p.empty() ? _("(blank)") : p.c_str(),
                shown(r.flagField()).c_str(), shown(r.grantDate()).c_str(),
                shown(std::string_view(&r.data()[datafiles::PermissionRecord::kLevel.offset], 1)).c_str(),
                shown(r.textField()).c_str());
  }
}

}  // namespace

void addPermissionVerbs(CLI::App& app) {
  auto perm = std::make_shared<PermissionOptions>();
  auto addPermissionArgs = [&](CLI::App* cmd, bool withProgram) {
    cmd->add_option("user", perm->user, _("User name"))->required();
    if (withProgram)
      cmd->add_option("program", perm->program, _("Program name (4 characters)"))->required();
    cmd->add_option("--client", perm->client, _("Client number (default: the installation's default)"))
        ->check(CLI::Range(0, 999));
    cmd->add_option("--dir", perm->dir, _("Data directory"));
  };
  CLI::App* cmd = app.add_subcommand("grant", _("Allow a user to call a program"));
  addPermissionArgs(cmd, true);
  cmd->add_option("--flag", perm->flag, _("Permission flag handed to the program (default J)"));
  cmd->add_option("--text", perm->text, _("Permission text handed to the program (10 characters)"));
  cmd->callback([perm] { runGrant(*perm); });
  cmd = app.add_subcommand("revoke", _("Take a user's permission for a program away"));
  addPermissionArgs(cmd, true);
  cmd->callback([perm] { runRevoke(*perm); });
  cmd = app.add_subcommand("permissions", _("List a user's permission records"));
  addPermissionArgs(cmd, false);
  cmd->callback([perm] { runPermissions(*perm); });
}

}  // namespace tools
