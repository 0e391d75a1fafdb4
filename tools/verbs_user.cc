// user add/list/remove/passwd/class: the users of an installation. Names
// reach the user file through U001 called by name, so that the tool and the
// sign-on share one encoding. Passwords are kept only as salted yescrypt
// hashes; neither a password nor a hash is ever printed.
#include <unistd.h>

#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "abi/utility_blocks.h"
#include "datafiles/records.h"
#include "encoding/cp850.h"
#include "encoding/packed.h"
#include "platform/dl_program_loader.h"
#include "platform/terminal.h"
#include "programs/console.h"
#include "programs/password.h"
#include "tools/admin_common.h"
#include "tools/audit_log.h"
#include "tools/i18n.h"
#include "tools/text.h"
#include "tools/verbs.h"

namespace tools {
namespace {

struct UserOptions {
  std::string dir = ".";
  std::string name;
  std::optional<int> client;
  std::string userClass = "N";
  bool passwordStdin = false;
  bool noPassword = false;
};

// U001 through `loader`; fails the verb when U001 cannot be loaded.
std::string nameCode(platform::ProgramLoader& loader, char function, std::string_view name) {
  const auto code = userNameCode(loader, function, name);
  if (!code) fail(_("U001 cannot be loaded (check PX_PROGRAM_PATH)"));
  return *code;
}

int clientOf(datafiles::FileStore& store, const UserOptions& o) {
  return clientOr(store, o.dir, o.client);
}

char classOf(const std::string& c) {
  if (c != "N" && c != "H" && c != "M") fail(_("a user class is N, H or M"), kExitUsage);
  return c[0];
}

// One line, without its end; a line longer than the sign-on reads is
// refused, as is a NUL byte, which would end the password for the hash
// function. The buffer is never reallocated, so that no copy of the
// password stays behind.
std::string readSecretLine(const char* prompt) {
  platform::EchoOff quiet(STDIN_FILENO, /*echoLineEnd=*/false);
  if (quiet.active()) std::cerr << prompt << std::flush;
  std::string line;
  line.reserve(programs::kMaxLineBytes + 1);
  bool tooLong = false, nul = false;
  for (int c; (c = std::cin.get()) != std::char_traits<char>::eof() && c != '\n';) {
    nul = nul || c == '\0';
    if (line.size() < programs::kMaxLineBytes + 1)
      line += static_cast<char>(c);
    else
      tooLong = true;
  }
  if (quiet.active()) {
    quiet.restore();
    std::cerr << "\n";
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  tooLong = tooLong || line.size() > programs::kMaxLineBytes;
  if (tooLong || nul) {
    programs::password::wipe(line);
    if (tooLong)
      fail(textf(_("a password has at most %zu bytes: the sign-on reads no more"),
                 static_cast<std::size_t>(programs::kMaxLineBytes)),
           kExitUsage);
    fail(_("a password cannot hold a NUL character"), kExitUsage);
  }
  return line;
}

// The hash for the new password, or "" for none.
std::string newPasswordHash(const UserOptions& o) {
  if (o.noPassword) return "";
  std::string phrase;
  if (o.passwordStdin) {
    phrase = readSecretLine("Kennwort: ");
  } else if (::isatty(STDIN_FILENO)) {
    phrase = readSecretLine("Kennwort: ");
    std::string again = readSecretLine("Kennwort wiederholen: ");
    const bool same = again == phrase;
    programs::password::wipe(again);
    if (!same) {
      programs::password::wipe(phrase);
      fail(_("the two passwords differ"));
    }
  } else {
    fail(_("give --password-stdin or --no-password"), kExitUsage);
  }
  if (phrase.empty()) fail(_("an empty password; use --no-password for none"), kExitUsage);
  const auto hash = programs::password::hash(phrase);
  programs::password::wipe(phrase);
  if (!hash) fail(_("the crypt library could not make a password hash"));
  if (hash->size() > datafiles::UserRecord::kPasswordHash.width) fail(_("password hash too long"));
  return *hash;
}

// Reads the user's record (for update on an input-output handle); fails the
// verb when there is none.
datafiles::UserRecord readUser(datafiles::KeyedFile& f, platform::ProgramLoader& loader, int client,
                               const std::string& name) {
  datafiles::UserRecord u;
  const auto key =
      datafiles::UserRecord::key(client, nameCode(loader, pxabi::UserNameBlock::kEncode, name));
  std::copy(key.begin(), key.end(), u.bytes().begin());
  const datafiles::FileStatus s = f.read(u.bytes());
  if (s.invalidKey())
    fail(textf(_("no user %s for client %d"), encoding::cp850::toUtf8(name).c_str(), client));
  if (!s.ok()) fail(textf(_("cannot read %s: %s"), "FX00.DAT", describe(s).c_str()));
  return u;
}

void rewriteUser(datafiles::KeyedFile& f, const datafiles::UserRecord& u) {
  const datafiles::FileStatus s = f.rewrite(u.bytes());
  (void)f.close();
  if (!s.ok()) fail(textf(_("cannot rewrite the user record: %s"), describe(s).c_str()));
}

void runAdd(const UserOptions& o) {
  const auto store = storeFor(o.dir);
  platform::DlProgramLoader loader(platform::defaultProgramPath());
  const std::string name = userNameOrFail(o.name);
  const char cls = classOf(o.userClass);
  const int client = clientOf(*store, o);
  const std::string hash = newPasswordHash(o);
  datafiles::UserRecord u;
  u.setClient(client);
  u.setEncodedName(nameCode(loader, pxabi::UserNameBlock::kEncode, name));
  u.setSignOnFlag('N');
  u.setUserClass(cls);
  u.setPasswordHash(hash);
  auto f = openOrFail(*store, datafiles::kUserFile, o.dir, datafiles::OpenMode::kInputOutput);
  const datafiles::FileStatus s = f->write(u.bytes());
  (void)f->close();
  if (s.invalidKey())
    fail(textf(_("user %s exists already for client %d"), o.name.c_str(), client));
  if (!s.ok()) fail(textf(_("cannot write the user record: %s"), describe(s).c_str()));
  recordChange(*store, o.dir,
               datafiles::AuditEvent("USERADD", {}, client)
                   .withSubject(name)
                   .withObject("FX00")
                   .withDetail(std::string("class ") + cls +
                          (hash.empty() ? ", no password" : ", with password")));
  std::cout << textf(hash.empty() ? _("User %s added (client %d, class %c, no password)")
                                  : _("User %s added (client %d, class %c, with password)"),
                     o.name.c_str(), client, cls)
            << "\n";
}

// Widths count characters, not the bytes of their UTF-8.
std::string padded(std::string s, std::size_t width) {
  std::size_t chars = 0;
  for (unsigned char c : s) chars += (c & 0xC0) != 0x80;
  s.append(chars < width ? width - chars : 1, ' ');
  return s;
}

void runList(const UserOptions& o) {
  const auto store = storeFor(o.dir);
  platform::DlProgramLoader loader(platform::defaultProgramPath());
  auto f = openOrFail(*store, datafiles::kUserFile, o.dir, datafiles::OpenMode::kInput);
  datafiles::UserRecord u;
  std::fill(u.bytes().begin(), u.bytes().end(), '\0');
  datafiles::FileStatus s = datafiles::kOk;
  if (o.client) {
    u.setClient(*o.client);
    s = f->start(datafiles::StartMode::kNotLessThan, u.bytes(), datafiles::UserRecord::kKeyLength);
  } else {
    s = f->start(datafiles::StartMode::kNotLessThan, u.bytes(), 1);
  }
  std::cout << padded(_("client"), 8) << padded(_("user"), 12) << padded(_("class"), 7)
            << padded(_("signed-on"), 11) << _("password") << "\n";
  while (s.ok()) {
    s = f->readNext(u.bytes());
    if (!s.ok()) break;
    if (o.client && u.client() != o.client) break;
    const std::string name = nameCode(loader, pxabi::UserNameBlock::kDecode, u.encodedName());
    char line[80];
    std::snprintf(line, sizeof line, "%6d  ", u.client().value_or(-1));
    std::string row = line + shown(name);
    std::cout << row << std::string(row.size() < 20 ? 20 - row.size() : 1, ' ') << u.userClass()
              << "      " << u.signOnFlag() << "          "
              << (u.passwordHash().empty() ? _("no") : _("yes")) << "\n";
  }
  (void)f->close();
  if (!s.atEnd() && !s.invalidKey())
    fail(textf(_("cannot read %s: %s"), "FX00.DAT", describe(s).c_str()));
}

void runRemove(const UserOptions& o) {
  const auto store = storeFor(o.dir);
  platform::DlProgramLoader loader(platform::defaultProgramPath());
  const std::string name = userNameOrFail(o.name);
  const int client = clientOf(*store, o);
  auto f = openOrFail(*store, datafiles::kUserFile, o.dir, datafiles::OpenMode::kInputOutput);
  const datafiles::UserRecord u = readUser(*f, loader, client, name);
  const datafiles::FileStatus s = f->remove(u.bytes());
  (void)f->close();
  if (!s.ok()) fail(textf(_("cannot remove the user record: %s"), describe(s).c_str()));
  recordChange(*store, o.dir,
               datafiles::AuditEvent("USERDEL", {}, client)
                   .withSubject(name)
                   .withObject("FX00"));
  std::cout << textf(_("User %s removed (client %d)"), o.name.c_str(), client) << "\n";
}

// The password is asked for before the user's record is read for update:
// the record stays free while it is typed, so that the user's sign-on does
// not meet a lock meanwhile.
void runPasswd(const UserOptions& o) {
  const auto store = storeFor(o.dir);
  platform::DlProgramLoader loader(platform::defaultProgramPath());
  const std::string name = userNameOrFail(o.name);
  const int client = clientOf(*store, o);
  {
    auto look = openOrFail(*store, datafiles::kUserFile, o.dir, datafiles::OpenMode::kInput);
    (void)readUser(*look, loader, client, name);  // no such user: no password asked
  }
  const std::string hash = newPasswordHash(o);
  auto f = openOrFail(*store, datafiles::kUserFile, o.dir, datafiles::OpenMode::kInputOutput);
  datafiles::UserRecord u = readUser(*f, loader, client, name);
  u.setPasswordHash(hash);
  const bool none = u.passwordHash().empty();
  rewriteUser(*f, u);
  recordChange(*store, o.dir,
               datafiles::AuditEvent("PASSWD", {}, client)
                   .withSubject(name)
                   .withObject("FX00")
                   .withDetail(none ? "password removed" : "password changed"));
  std::cout << textf(none ? _("Password of %s removed") : _("Password of %s changed"),
                     o.name.c_str())
            << "\n";
}

void runClass(const UserOptions& o) {
  const auto store = storeFor(o.dir);
  platform::DlProgramLoader loader(platform::defaultProgramPath());
  const std::string name = userNameOrFail(o.name);
  const char cls = classOf(o.userClass);
  const int client = clientOf(*store, o);
  auto f = openOrFail(*store, datafiles::kUserFile, o.dir, datafiles::OpenMode::kInputOutput);
  datafiles::UserRecord u = readUser(*f, loader, client, name);
  const char before = u.userClass();
  u.setUserClass(cls);
  rewriteUser(*f, u);
  recordChange(*store, o.dir,
               datafiles::AuditEvent("CLASS", {}, client)
                   .withSubject(name)
                   .withObject("FX00")
                   .withDetail(std::string("class ") + before + " -> " + cls));
  std::cout << textf(_("User %s now has class %c"), o.name.c_str(), cls) << "\n";
}

void commonOptions(CLI::App* cmd, UserOptions& o) {
  cmd->add_option("--dir", o.dir, _("Data directory (default: the current directory)"));
  cmd->add_option("--client", o.client, _("Client number (default: the installation's default)"));
}
void passwordOptions(CLI::App* cmd, UserOptions& o) {
  auto* in = cmd->add_flag("--password-stdin", o.passwordStdin, _("Read the password from stdin"));
  auto* none = cmd->add_flag("--no-password", o.noPassword, _("No password"));
  in->excludes(none);
}

}  // namespace

void addUserVerbs(CLI::App& app) {
  auto o = std::make_shared<UserOptions>();
  CLI::App* user = app.add_subcommand("user", _("Users of the installation"));
  user->require_subcommand(1);

  CLI::App* add = user->add_subcommand("add", _("Add a user"));
  add->add_option("NAME", o->name, _("User name (up to 10 characters)"))->required();
  add->add_option("--class", o->userClass, _("User class N, H or M (default N)"));
  commonOptions(add, *o);
  passwordOptions(add, *o);
  add->callback([o] { runAdd(*o); });

  CLI::App* list = user->add_subcommand("list", _("List the users"));
  list->add_option("--dir", o->dir, _("Data directory (default: the current directory)"));
  list->add_option("--client", o->client, _("Only this client"));
  list->callback([o] { runList(*o); });

  CLI::App* remove = user->add_subcommand("remove", _("Remove a user"));
  remove->add_option("NAME", o->name, _("User name"))->required();
  commonOptions(remove, *o);
  remove->callback([o] { runRemove(*o); });

  CLI::App* passwd = user->add_subcommand("passwd", _("Set or remove a user's password"));
  passwd->add_option("NAME", o->name, _("User name"))->required();
  commonOptions(passwd, *o);
  passwordOptions(passwd, *o);
  passwd->callback([o] { runPasswd(*o); });

  CLI::App* cls = user->add_subcommand("class", _("Change a user's class"));
  cls->add_option("NAME", o->name, _("User name"))->required();
  cls->add_option("CLASS", o->userClass, _("N, H or M"))->required();
  commonOptions(cls, *o);
  cls->callback([o] { runClass(*o); });
}

}  // namespace tools
