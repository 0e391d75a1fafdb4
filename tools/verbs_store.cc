// init, dump, lock, unlock, status: setting up an installation's data files,
// looking into them, and the normal-user lock flag.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"
#include "encoding/cp850.h"
#include "encoding/packed.h"
#include "tools/admin_common.h"
#include "tools/audit_log.h"
#include "tools/csv.h"
#include "tools/i18n.h"
#include "tools/verbs.h"

namespace tools {
namespace {

// ---- init -------------------------------------------------------------------

struct InitOptions {
  std::string dir;
  std::string server;  // a connection string: the tables on that server
  std::string id, club, option1, option2, installation, region, header;
  int client = 0;
};

// A text option into its field; one longer than the field is refused, since
// a cut value means something else (a cut identification code selects
// another edition's menus).
void putOption(std::span<char> field, const std::string& value, const char* option) {
  if (encoding::cp850::lengthOf(value) > field.size())
    fail(textf(ngettext("%s takes at most %zu character: '%s'",
                        "%s takes at most %zu characters: '%s'", field.size()),
               option, field.size(), value.c_str()),
         kExitUsage);
  encoding::putText(field, value);
}

datafiles::ControlRecord controlRecord(const InitOptions& o) {
  using R = datafiles::ControlRecord;
  R r;
  r.setLockFlag('N');
  putOption(r.identification(), o.id, "--id");
  putOption(r.clubText(), o.club, "--club");
  putOption(r.editionOption1(), o.option1, "--option1");
  putOption(r.editionOption2(), o.option2, "--option2");
  if (!o.installation.empty()) {
    const auto n =
        encoding::getDigits(std::span<const char>(o.installation.data(), o.installation.size()));
    if (!n || o.installation.size() > R::kInstallationNumber.width ||
        !encoding::putDigits(r.installationNumber(), *n))
      fail(_("--installation takes up to 5 digits"), kExitUsage);
  }
  putOption(r.regionCode(), o.region, "--region");
  if (!o.header.empty()) {
    const auto n = encoding::getDigits(std::span<const char>(o.header.data(), o.header.size()));
    if (!n || o.header.size() > R::kHeaderNumber.width ||
        !encoding::putDigits(r.headerNumber(), *n))
      fail(_("--header takes up to 3 digits"), kExitUsage);
  }
  if (!encoding::packed3::encode(o.client, r.defaultClient()))
    fail(_("--client takes a number 0-999"), kExitUsage);
  return r;
}

namespace fs = std::filesystem;

bool flushToDisk(const fs::path& path, bool directory) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (directory ? O_DIRECTORY : 0));
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

// Folders ".NAME.init-PID-XXXXXX" in `where` that an init of NAME killed
// before it finished left behind.
void removeAbandonedBuilds(const fs::path& where, const std::string& name) {
  const std::string prefix = "." + name + ".init-";
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(where, ec)) {
    const std::string n = e.path().filename().string();
    if (n.rfind(prefix, 0) != 0) continue;
    const long pid = std::strtol(n.c_str() + prefix.size(), nullptr, 10);
    if (pid > 0 && fs::exists("/proc/" + std::to_string(pid), ec)) continue;  // still at work
    fs::remove_all(e.path(), ec);
  }
}

// The files an installation starts with: the four data files and the audit
// trail.
constexpr const datafiles::FileSpec* kInitFiles[] = {
    &datafiles::kInstallationFile, &datafiles::kUserFile, &datafiles::kMenuFile,
    &datafiles::kPermissionFile, &datafiles::kAuditFile};

// The files with the control record, built in a new folder inside `where`;
// the folder's path.
fs::path buildInstallation(const fs::path& where, const std::string& name,
                           const datafiles::ControlRecord& control) {
  std::string pattern =
      (where / ("." + name + ".init-" + std::to_string(::getpid()) + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr)
    fail(textf(_("cannot create a folder in %s: %s"), where.string().c_str(), std::strerror(errno)));
  const fs::path temp = pattern;
  std::error_code ec;
  auto abandon = [&](const std::string& why) {
    fs::remove_all(temp, ec);
    fail(textf(_("%s; nothing created"), why.c_str()));
  };
  {
    datafiles::SqliteStore store;
    for (const datafiles::FileSpec* spec : kInitFiles) {
      if (const datafiles::FileStatus s = store.create(*spec, temp.string()); !s.ok())
        abandon(textf(_("cannot create %s: status %s"), std::string(spec->name).c_str(),
                      describe(s).c_str()));
    }
    auto f = store.file(datafiles::kInstallationFile, temp.string());
    datafiles::FileStatus s = f->open(datafiles::OpenMode::kInputOutput);
    if (s.ok()) s = f->write(control.bytes());
    if (const datafiles::FileStatus c = f->close(); s.ok()) s = c;
    if (!s.ok()) abandon(textf(_("cannot write the control record: status %s"), describe(s).c_str()));
  }  // the store's last connection copies the log into the file
  for (const datafiles::FileSpec* spec : kInitFiles) {
    const fs::path file = temp / spec->name;
    if (fs::file_size(fs::path(file.string() + "-wal"), ec) > 0 && !ec)
      abandon(textf(_("the log of %s was not copied into it"), std::string(spec->name).c_str()));
    if (!flushToDisk(file, false)) abandon(textf(_("cannot write %s"), file.string().c_str()));
  }
  if (!flushToDisk(temp, true)) abandon(textf(_("cannot write %s"), temp.string().c_str()));
  return temp;
}

// The new installation's first record in its trail: what it was made with.
void recordInit(const InitOptions& o) {
  std::string options;
  for (const auto& [name, value] : {std::pair<const char*, const std::string&>{"--id", o.id},
                                    {"--option1", o.option1},
                                    {"--option2", o.option2},
                                    {"--installation", o.installation},
                                    {"--region", o.region}})
    if (!value.empty()) options += (options.empty() ? "" : " ") + std::string(name) + " " + value;
  const auto store = storeFor(o.dir);
  recordChange(*store, o.dir, datafiles::AuditEvent("INIT", {}, o.client).withObject("FT00").withDetail(options));
}

// An installation appears whole or not at all: built in a folder beside the
// target and renamed into its place. Into a folder that exists already the
// files are moved one by one, the installation file with the control record
// last, so that an interrupted init never leaves something that starts.
void runInit(const InitOptions& o) {
  const datafiles::ControlRecord control = controlRecord(o);
  if (!o.server.empty()) {
    initOnServer(o.dir, o.server, control);
    recordInit(o);
    return;
  }
  fs::path target = fs::path(o.dir).lexically_normal();
  if (target.has_filename() == false && target.has_parent_path())
    target = target.parent_path();  // "dir/" names "dir"
  std::error_code ec;
  const bool exists = fs::exists(target, ec);
  if (exists && !fs::is_directory(target, ec)) fail(textf(_("%s is not a directory"), o.dir.c_str()));
  for (const datafiles::FileSpec* spec : kInitFiles) {
    if (fs::exists(target / spec->name, ec))
      fail(textf(_("%s exists already in %s: refusing to overwrite an installation"),
                 std::string(spec->name).c_str(), o.dir.c_str()));
  }
  if (!exists) {
    const fs::path parent = target.has_parent_path() ? target.parent_path() : fs::path(".");
    fs::create_directories(parent, ec);
    if (!fs::is_directory(parent, ec))
      fail(textf(_("cannot create directory %s"), parent.string().c_str()));
    const std::string name = target.filename().string();
    removeAbandonedBuilds(parent, name);
    const fs::path temp = buildInstallation(parent, name, control);
    // A folder as mkdir would make it, not mkdtemp's private one.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    (void)::chmod(temp.c_str(), 0777 & ~mask);
    if (::rename(temp.c_str(), target.c_str()) != 0) {
      const int err = errno;
      fs::remove_all(temp, ec);
      fail(textf(_("cannot create %s: %s; nothing created"), o.dir.c_str(), std::strerror(err)));
    }
    (void)flushToDisk(parent, true);
  } else {
    const std::string name = "pxadmin";
    removeAbandonedBuilds(target, name);
    const fs::path temp = buildInstallation(target, name, control);
    std::vector<fs::path> moved;
    for (const datafiles::FileSpec* spec :
         {&datafiles::kUserFile, &datafiles::kMenuFile, &datafiles::kPermissionFile,
          &datafiles::kAuditFile, &datafiles::kInstallationFile}) {
      const fs::path to = target / spec->name;
      if (::link((temp / spec->name).c_str(), to.c_str()) != 0) {
        const int err = errno;
        for (const fs::path& m : moved) fs::remove(m, ec);
        fs::remove_all(temp, ec);
        fail(textf(_("cannot create %s: %s; nothing created"), to.string().c_str(),
                   std::strerror(err)));
      }
      moved.push_back(to);
    }
    fs::remove_all(temp, ec);
    (void)flushToDisk(target, true);
  }
  recordInit(o);
  std::cout << textf(_("Installation created in %s"), o.dir.c_str()) << "\n";
}

// ---- dump -------------------------------------------------------------------

// kPresence: only whether the field holds anything ("set"/"none"); for
// secrets such as the password hash, which a dump must never show.
enum class Kind { kPacked, kText, kHex, kPresence };
struct Column {
  const char* name;
  encoding::Field field;
  Kind kind;
};

using UR = datafiles::UserRecord;
using MR = datafiles::MenuRecord;
using PR = datafiles::PermissionRecord;
using CR = datafiles::ControlRecord;
using AR = datafiles::ApplicationRecord;

const std::vector<Column> kUserColumns = {
    {"client", UR::kClient, Kind::kPacked},         {"encoded_name", UR::kEncodedName, Kind::kHex},
    {"reserved1", UR::kReserved1, Kind::kHex},      {"sign_on", UR::kSignOnFlag, Kind::kText},
    {"reserved2", UR::kReserved2, Kind::kHex},      {"class", UR::kUserClass, Kind::kText},
    {"password", UR::kPasswordHash, Kind::kPresence}, {"reserved3", UR::kReserved3, Kind::kHex}};
const std::vector<Column> kMenuColumns = {
    {"menu_set", MR::kMenuSet, Kind::kPacked},   {"menu", MR::kMenu, Kind::kPacked},
    {"entry", MR::kEntry, Kind::kPacked},        {"version_stamp", MR::kVersionStamp, Kind::kText},
    {"entry_flag", MR::kEntryFlag, Kind::kText}, {"text", MR::kText, Kind::kText},
    {"program", MR::kProgram, Kind::kText},      {"access_class", MR::kAccessClass, Kind::kText}};
const std::vector<Column> kPermissionColumns = {
    {"client", PR::kClient, Kind::kPacked},     {"user", PR::kUserName, Kind::kText},
    {"program", PR::kProgram, Kind::kText},     {"key_blank", PR::kKeyBlank, Kind::kText},
    {"grant_date", PR::kGrantDate, Kind::kText}, {"level", PR::kLevel, Kind::kText},
    {"flag", PR::kFlag, Kind::kText},           {"text", PR::kText, Kind::kText}};
const std::vector<Column> kControlColumns = {
    {"type", CR::kType, Kind::kText},
    {"client", CR::kClient, Kind::kPacked},
    {"application", CR::kApplication, Kind::kPacked},
    {"identification", CR::kIdentification, Kind::kText},
    {"club", CR::kClubText, Kind::kText},
    {"option1", CR::kEditionOption1, Kind::kText},
    {"option2", CR::kEditionOption2, Kind::kText},
    {"installation", CR::kInstallationNumber, Kind::kText},
    {"region", CR::kRegionCode, Kind::kText},
    {"header", CR::kHeaderNumber, Kind::kText},
    {"default_client", CR::kDefaultClient, Kind::kPacked},
    {"data_directory", CR::kDataDirectory, Kind::kText},
    {"lock_flag", CR::kLockFlag, Kind::kText},
    {"reserved", CR::kReserved, Kind::kHex}};
const std::vector<Column> kApplicationColumns = {
    {"type", AR::kType, Kind::kText},           {"client", AR::kClient, Kind::kPacked},
    {"application", AR::kApplication, Kind::kPacked}, {"reserved1", AR::kReserved1, Kind::kHex},
    {"name", AR::kName, Kind::kText},           {"reserved2", AR::kReserved2, Kind::kHex}};
const std::vector<Column> kOtherInstallationColumns = {
    {"type", CR::kType, Kind::kText},
    {"client", CR::kClient, Kind::kPacked},
    {"application", CR::kApplication, Kind::kPacked},
    {"rest", encoding::Field{5, 195}, Kind::kHex}};

std::string hex(std::span<const char> bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

// The value as text, and whether it is a number (unquoted in JSON).
std::pair<std::string, bool> decode(std::span<const char> record, const Column& c) {
  const auto bytes = record.subspan(c.field.offset, c.field.width);
  switch (c.kind) {
    case Kind::kPacked: {
      const auto n = encoding::packed3::decode(std::span<const char, 2>(bytes.data(), 2));
      if (n) return {std::to_string(*n), true};
      return {"x" + hex(bytes), false};
    }
    case Kind::kText: {
      // Control bytes (the unused stamp of an entry record, say) would garble
      // a terminal or a CSV line: such a field is shown as "x" and hex.
      const bool control = std::any_of(bytes.begin(), bytes.end(), [](char ch) {
        return static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F;
      });
      if (control) return {"x" + hex(bytes), false};
      return {encoding::getText(bytes), false};
    }
    case Kind::kHex:
      return {hex(bytes), false};
    case Kind::kPresence: {
      bool any = false;
      for (char c : bytes) any = any || (c != ' ' && c != '\0');
      return {any ? "set" : "none", false};
    }
  }
  return {};
}

std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char b[8];
      std::snprintf(b, sizeof b, "\\u%04x", c);
      out += b;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

enum class Format { kTable, kJson, kCsv };

void runDump(const std::string& file, Format format) {
  const std::filesystem::path p(file);
  std::string name = p.filename().string();
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const datafiles::FileSpec* spec = nullptr;
  for (const datafiles::FileSpec* s : kAllFiles)
    if (s->name == name) spec = s;
  if (spec == nullptr)
    fail(textf(_("cannot tell the layout of %s: expected FT00.DAT, FX00.DAT, FX01.DAT or FX02.DAT"),
               file.c_str()),
         kExitUsage);
  // The file may carry another name (a copy); its layout is the named one's.
  const std::string filename = p.filename().string();
  const datafiles::FileSpec actual{filename, spec->recordLength, spec->keyLength};
  const auto store = storeFor(p.parent_path().string());
  auto f = store->file(actual, p.parent_path().string());
  if (const datafiles::FileStatus s = f->open(datafiles::OpenMode::kInput); !s.ok())
    fail(textf(_("cannot open %s: status %s"), file.c_str(), describe(s, *store).c_str()));
  std::vector<char> record(spec->recordLength);
  datafiles::FileStatus s = f->start(datafiles::StartMode::kNotLessThan, record, 0);
  bool first = true;
  const std::vector<Column>* lastColumns = nullptr;
  if (format == Format::kJson) std::cout << "[";
  while (s.ok() && (s = f->readNext(record)).ok()) {
    const std::vector<Column>* columns = &kMenuColumns;
    if (spec == &datafiles::kUserFile) columns = &kUserColumns;
    if (spec == &datafiles::kPermissionFile) columns = &kPermissionColumns;
    if (spec == &datafiles::kInstallationFile) {
      columns = record[0] == datafiles::InstallationRecord::kControlType ? &kControlColumns
                : record[0] == datafiles::InstallationRecord::kApplicationType
                    ? &kApplicationColumns
                    : &kOtherInstallationColumns;
    }
    std::vector<std::pair<std::string, bool>> values;
    for (const Column& c : *columns) values.push_back(decode(record, c));
    switch (format) {
      case Format::kJson:
        std::cout << (first ? "\n  {" : ",\n  {");
        for (std::size_t i = 0; i < values.size(); ++i)
          std::cout << (i ? ", " : "") << jsonString((*columns)[i].name) << ": "
                    << (values[i].second ? values[i].first : jsonString(values[i].first));
        std::cout << "}";
        break;
      case Format::kCsv:
      case Format::kTable: {
        const char* sep = format == Format::kCsv ? "," : " | ";
        if (columns != lastColumns) {
          for (std::size_t i = 0; i < columns->size(); ++i)
            std::cout << (i ? sep : "") << (*columns)[i].name;
          std::cout << "\n";
        }
        for (std::size_t i = 0; i < values.size(); ++i)
          std::cout << (i ? sep : "")
                    << (format == Format::kCsv ? csvField(values[i].first) : values[i].first);
        std::cout << "\n";
        break;
      }
    }
    lastColumns = columns;
    first = false;
  }
  if (format == Format::kJson) std::cout << (first ? "]\n" : "\n]\n");
  (void)f->close();
  if (!s.atEnd() && !s.invalidKey())
    fail(textf(_("reading %s failed: status %s"), file.c_str(), describe(s).c_str()));
}

// ---- lock, unlock, status ------------------------------------------------------

void runLockFlag(const std::string& dir, std::optional<char> set) {
  const auto store = storeFor(dir);
  auto f = store->file(datafiles::kInstallationFile, dir);
  datafiles::FileStatus s =
      f->open(set ? datafiles::OpenMode::kInputOutput : datafiles::OpenMode::kInput);
  if (!s.ok())
    fail(textf(_("cannot open %s in %s: status %s"), "FT00.DAT", dir.c_str(),
               describe(s, *store).c_str()));
  datafiles::ControlRecord control;
  s = f->read(control.bytes());
  if (!s.ok()) {
    (void)f->close();
    fail(textf(_("cannot read the control record: status %s"), describe(s).c_str()));
  }
  if (set) {
    control.setLockFlag(*set);  // every other byte goes back as read
    s = f->rewrite(control.bytes());
    (void)f->close();
    if (!s.ok()) fail(textf(_("cannot rewrite the control record: status %s"), describe(s).c_str()));
    recordChange(*store, dir,
                 datafiles::AuditEvent(control.locked() ? "LOCK" : "UNLOCK")
                     .withObject("FT00")
                     .withDetail(control.locked() ? "pxadmin lock" : "pxadmin unlock"));
  } else {
    (void)f->close();
  }
  std::cout << textf(control.locked() ? _("System locked for normal users (lock flag \"%c\")")
                                      : _("System not locked for normal users (lock flag \"%c\")"),
                     control.lockFlag())
            << "\n";
}

}  // namespace

void addStoreVerbs(CLI::App& app) {
  auto init = std::make_shared<InitOptions>();
  CLI::App* cmd = app.add_subcommand(
      "init", _("Create the four data files of a new installation in DIR, with the control record"));
  cmd->add_option("DIR", init->dir, _("Data directory"))->required();
  cmd->add_option("--id", init->id, _("Identification code (6 characters)"));
  cmd->add_option("--club", init->club, _("Club text (40 characters)"));
  cmd->add_option("--option1", init->option1, _("Edition option 1 (one character)"));
  cmd->add_option("--option2", init->option2, _("Edition option 2 (one character)"));
  cmd->add_option("--installation", init->installation, _("Installation number (up to 5 digits)"));
  cmd->add_option("--region", init->region, _("Region code (3 characters)"));
  cmd->add_option("--header", init->header, _("Header number (up to 3 digits)"));
  cmd->add_option("--client", init->client, _("Default client number (0-999)"));
  cmd->add_option("--server", init->server,
                  _("Make the files as tables on the database server this libpq connection "
                    "string names, and px-store.conf in DIR that names it"));
  cmd->callback([init] { runInit(*init); });

  auto dump = std::make_shared<std::pair<std::string, Format>>("", Format::kTable);
  cmd = app.add_subcommand("dump", _("Print every record of a data file, decoded"));
  cmd->add_option("FILE", dump->first, _("Path of FT00.DAT, FX00.DAT, FX01.DAT or FX02.DAT"))
      ->required();
  auto* json = cmd->add_flag_callback("--json", [dump] { dump->second = Format::kJson; },
                                      _("One JSON object per record"));
  auto* csv = cmd->add_flag_callback("--csv", [dump] { dump->second = Format::kCsv; },
                                     _("Comma-separated values"));
  json->excludes(csv);
  cmd->callback([dump] { runDump(dump->first, dump->second); });

  struct Flag {
    const char* name;
    const char* help;
    std::optional<char> set;
  };
  for (const Flag& flag : {Flag{"lock", N_("Lock the system for normal users"), 'J'},
                           Flag{"unlock", N_("Unlock the system for normal users"), 'N'},
                           Flag{"status", N_("Show whether the system is locked"), std::nullopt}}) {
    auto dir = std::make_shared<std::string>(".");
    cmd = app.add_subcommand(flag.name, _(flag.help));
    cmd->add_option("--dir", *dir, _("Data directory (default: the current directory)"));
    cmd->callback([dir, set = flag.set] { runLockFlag(*dir, set); });
  }
}

}  // namespace tools
