// init --server and migrate: an installation on a database server, made new
// or moved there from the embedded files, and back.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "datafiles/pg_store.h"
#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"
#include "datafiles/store_config.h"
#include "tools/admin_common.h"
#include "tools/i18n.h"
#include "tools/audit_log.h"
#include "tools/verbs.h"

namespace tools {
namespace {

namespace fs = std::filesystem;

const std::string kConfigName(datafiles::kStoreConfigName);

// The connection string as px-store.conf will hold it, refused (exit 2)
// when px01 would refuse the file. A password is allowed: the file is then
// written readable by its owner only.
std::string checkedConninfo(const std::string& conninfo) {
  const datafiles::StoreChoice c = datafiles::parseStoreConfig(conninfo, false);
  if (c.kind != datafiles::StoreChoice::Kind::kServer) fail(c.error, kExitUsage);
  if (conninfo.find('\n') != std::string::npos)
    fail(_("the connection string is one line"), kExitUsage);
  return c.conninfo;
}

bool holdsPassword(const std::string& conninfo) {
  return datafiles::parseStoreConfig(conninfo, true).kind != datafiles::StoreChoice::Kind::kServer;
}

// px-store.conf written complete under a temporary name in `dir`; put in
// place by placeConfig. Readable by the owner only when it holds a password.
class NewConfig {
 public:
  NewConfig(const fs::path& dir, const std::string& conninfo)
      : temp_(dir / ("." + kConfigName + ".new-" + std::to_string(::getpid()))),
        target_(dir / kConfigName) {
    ::unlink(temp_.c_str());
    const int fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                          holdsPassword(conninfo) ? 0600 : 0644);
    if (fd < 0) fail(textf(_("cannot write in %s: %s"), dir.string().c_str(), std::strerror(errno)));
    const std::string text =
        "# The data files of this installation are on a database server\n"
        "# (pxadmin, " +
        localNow("%Y-%m-%d %H:%M") + "); see docs/server.md.\n" + conninfo + "\n";
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    if (!written || !synced) {
      ::unlink(temp_.c_str());
      fail(textf(_("cannot write %s"), temp_.string().c_str()));
    }
  }
  ~NewConfig() { ::unlink(temp_.c_str()); }
  NewConfig(const NewConfig&) = delete;
  NewConfig& operator=(const NewConfig&) = delete;
  // From now on the directory uses the server; false when a px-store.conf
  // appeared meanwhile.
  bool place() { return ::link(temp_.c_str(), target_.c_str()) == 0; }

 private:
  fs::path temp_, target_;
};

// The records of an open handle, in key order, into `put`.
datafiles::FileStatus copyRecords(datafiles::KeyedFile& from,
                                  const datafiles::PgStore::RecordSink& put, std::size_t* count) {
  const datafiles::FileSpec& spec = from.spec();
  std::string record(spec.recordLength, '\0');
  datafiles::FileStatus s = from.start(datafiles::StartMode::kNotLessThan, record, spec.keyLength);
  while (s.ok() && (s = from.readNext(record)).ok()) {
    s = put(record);
    ++*count;
  }
  return s.atEnd() || s.notFound() ? datafiles::kOk : s;
}

// Every file of the installation opened exclusively through `store`, and
// its audit trail when it has one: one in use (or missing, or damaged)
// refuses the verb, naming who is signed on, and nothing is changed.
std::vector<std::unique_ptr<datafiles::KeyedFile>> holdAll(datafiles::InstallationStore& store,
                                                           const std::string& dir) {
  std::vector<std::unique_ptr<datafiles::KeyedFile>> held;
  for (const datafiles::FileSpec* spec : kAllFilesAndTrail) {
    auto f = store.file(*spec, dir);
    const datafiles::FileStatus s = f->open(datafiles::OpenMode::kExclusive);
    if (s == datafiles::kFileMissing && spec == &datafiles::kAuditFile) continue;
    if (s.locked()) {
      held.clear();
      const std::string who = describeSessions(liveSessions(store, dir), "  ");
      const std::string name(spec->name);
      fail(who.empty()
               ? textf(_("%s is in use: %s; every workstation must leave the program first. "
                         "Nothing changed."),
                       name.c_str(), describe(s).c_str())
               : textf(_("%s is in use: %s; signed on now:\n%severy workstation must leave the "
                         "program first. Nothing changed."),
                       name.c_str(), describe(s).c_str(), who.c_str()));
    }
    if (!s.ok())
      fail(textf(_("cannot open %s in %s: %s. Nothing changed."), std::string(spec->name).c_str(),
                 store.location(dir).c_str(), describe(s, store).c_str()));
    held.push_back(std::move(f));
  }
  return held;
}

fs::path existingDirectory(const std::string& dir) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) fail(textf(_("%s is not a directory"), dir.c_str()));
  return fs::path(dir);
}

void refuseConfig(const fs::path& dir) {
  std::error_code ec;
  if (fs::exists(dir / kConfigName, ec) || fs::is_symlink(dir / kConfigName, ec))
    fail(textf(_("%s exists already: the installation is on a server"),
               (dir / kConfigName).string().c_str()));
}

void refuseEmbeddedFiles(const fs::path& dir, const std::string& why) {
  std::error_code ec;
  for (const datafiles::FileSpec* spec : kAllFilesAndTrail)
    if (fs::exists(dir / spec->name, ec))
      fail(textf(_("%s exists in %s: %s"), std::string(spec->name).c_str(), dir.string().c_str(),
                 why.c_str()));
}

// ---- migrate ------------------------------------------------------------------

struct MigrateOptions {
  std::string dir = ".";
  std::string toServer;
  bool toFiles = false;
};

// The embedded files, held exclusively, copied record for record into
// tables on the server in one transaction; then px-store.conf, and the old
// files are put aside.
void migrateToServer(const fs::path& dir, const std::string& conninfo) {
  refuseConfig(dir);
  auto files = std::make_unique<datafiles::SqliteStore>();
  std::vector<std::unique_ptr<datafiles::KeyedFile>> held = holdAll(*files, dir.string());
  NewConfig config(dir, conninfo);
  datafiles::PgStore server(conninfo);
  std::vector<std::size_t> counts(held.size(), 0);
  std::vector<std::string> names;
  for (const auto& f : held) names.emplace_back(f->spec().name);
  std::vector<datafiles::PgStore::FileContents> contents;
  for (std::size_t i = 0; i < held.size(); ++i) {
    datafiles::KeyedFile& from = *held[i];
    std::size_t& count = counts[i];
    contents.push_back({from.spec(), [&from, &count](const datafiles::PgStore::RecordSink& put) {
                          return copyRecords(from, put, &count);
                        }});
  }
  std::string which;
  if (const datafiles::FileStatus s = server.createFiles(contents, false, &which); !s.ok()) {
    if (s == datafiles::kDuplicateKey)
      fail(textf(_("the server holds %s already (table %s in %s): another installation's? Use a "
                   "schema of its own. Nothing changed."),
                 which.c_str(), datafiles::PgStore::tableName(which).c_str(),
                 server.location({}).c_str()));
    fail(textf(_("cannot move %s to %s: %s. Nothing changed."),
               which.empty() ? _("the files") : which.c_str(), server.location({}).c_str(),
               describe(s, server).c_str()));
  }
  if (!config.place())
    fail(textf(_("tables made on the server, but %s appeared meanwhile; the installation still "
                 "uses its files"),
               (dir / kConfigName).string().c_str()));
  // The old files go aside, whole: they are no longer used.
  for (auto& f : held) (void)f->close();
  held.clear();
  files.reset();  // its kept connections copy the logs into the files
  const fs::path aside = dir / ("before-migration-" + localNow("%Y%m%d-%H%M%S"));
  std::error_code ec;
  fs::create_directory(aside, ec);
  for (const datafiles::FileSpec* spec : kAllFilesAndTrail) {
    const std::string name(spec->name);
    if (!fs::exists(dir / name, ec)) continue;
    fs::rename(dir / name, aside / name, ec);
    // A log that still holds changes goes with its file; the empty log,
    // its index and the lock file are only the store's working files.
    if (fs::file_size(dir / (name + "-wal"), ec) > 0 && !ec)
      fs::rename(dir / (name + "-wal"), aside / (name + "-wal"), ec);
    for (const char* companion : {"-wal", "-shm", "-lock"})
      fs::remove(dir / (name + companion), ec);
  }
  for (std::size_t i = 0; i < counts.size(); ++i)
    std::cout << names[i] << ": "
              << textf(ngettext("%zu record moved", "%zu records moved", counts[i]), counts[i])
              << "\n";
  recordChange(server, dir.string(),
               datafiles::AuditEvent("MIGRATE").withObject("FT00-FXAU").withDetail(
                   "to " + server.location({})));
  std::cout << textf(_("The installation in %s now uses %s; its former files are in %s."),
                     dir.string().c_str(), server.location({}).c_str(), aside.string().c_str())
            << "\n";
}

// The tables, held exclusively, copied record for record into new embedded
// files; then px-store.conf is put aside, which switches the directory to
// the files. The tables stay on the server, no longer used.
void migrateToFiles(const fs::path& dir) {
  std::error_code ec;
  if (!fs::exists(dir / kConfigName, ec))
    fail(textf(_("no %s in %s: the installation uses its files"), std::string(kConfigName).c_str(),
               dir.string().c_str()));
  refuseEmbeddedFiles(dir, _("remove or move it first"));
  const auto store = storeFor(dir.string());
  std::vector<std::unique_ptr<datafiles::KeyedFile>> held = holdAll(*store, dir.string());
  // Built in a folder of their own, then linked into the directory.
  const fs::path build = dir / (".migrate-" + std::to_string(::getpid()));
  fs::remove_all(build, ec);
  fs::create_directory(build, ec);
  if (ec) fail(textf(_("cannot create %s: %s"), build.string().c_str(), ec.message().c_str()));
  auto abandon = [&](const std::string& why) {
    fs::remove_all(build, ec);
    fail(textf(_("%s. Nothing changed."), why.c_str()));
  };
  std::vector<std::size_t> counts;
  std::vector<std::string> names;
  for (auto& f : held) {
    names.emplace_back(f->spec().name);
    std::size_t count = 0;
    const datafiles::FileSpec& spec = f->spec();
    const datafiles::FileStatus s = datafiles::SqliteStore::buildFile(
        spec, (build / spec.name).string(), [&](datafiles::KeyedFile& to) {
          return copyRecords(
              *f, [&](std::string_view r) { return to.write(r); }, &count);
        });
    if (!s.ok()) abandon(textf(_("cannot copy %s: %s"), std::string(spec.name).c_str(),
                              describe(s, *store).c_str()));
    counts.push_back(count);
  }
  std::vector<fs::path> linked;
  for (const auto& f : held) {
    const datafiles::FileSpec* spec = &f->spec();
    if (::link((build / spec->name).c_str(), (dir / spec->name).c_str()) != 0) {
      const int err = errno;
      for (const fs::path& l : linked) fs::remove(l, ec);
      abandon(textf(_("cannot create %s: %s"), (dir / spec->name).string().c_str(),
                    std::strerror(err)));
    }
    linked.push_back(dir / spec->name);
  }
  fs::remove_all(build, ec);
  const fs::path aside = dir / (kConfigName + ".before-migration-" + localNow("%Y%m%d-%H%M%S"));
  if (::rename((dir / kConfigName).c_str(), aside.c_str()) != 0) {
    const int err = errno;
    for (const fs::path& l : linked) fs::remove(l, ec);
    fail(textf(_("cannot put %s aside: %s. Nothing changed."), std::string(kConfigName).c_str(),
               std::strerror(err)));
  }
  for (std::size_t i = 0; i < counts.size(); ++i)
    std::cout << names[i] << ": "
              << textf(ngettext("%zu record moved", "%zu records moved", counts[i]), counts[i])
              << "\n";
  {
    datafiles::SqliteStore files;
    recordChange(files, dir.string(),
                 datafiles::AuditEvent("MIGRATE").withObject("FT00-FXAU").withDetail(
                     "to the files, from " + store->location({})));
  }
  std::cout << textf(_("The installation in %s now uses its files; the tables stay on %s, no "
                       "longer used; its %s is %s."),
                     dir.string().c_str(), store->location({}).c_str(),
                     std::string(kConfigName).c_str(), aside.string().c_str())
            << "\n";
}

void runMigrate(const MigrateOptions& o) {
  const fs::path dir = existingDirectory(o.dir);
  if (o.toFiles == !o.toServer.empty())
    fail(_("give either --to-server CONNINFO or --to-files"), kExitUsage);
  if (o.toFiles) {
    migrateToFiles(dir);
  } else {
    migrateToServer(dir, checkedConninfo(o.toServer));
  }
}

}  // namespace

void initOnServer(const std::string& dir, const std::string& conninfoGiven,
                  const datafiles::ControlRecord& control) {
  const std::string conninfo = checkedConninfo(conninfoGiven);
  std::error_code ec;
  // A folder made here goes again when the init fails.
  struct MadeFolder {
    fs::path path;
    bool keep = false;
    ~MadeFolder() {
      std::error_code ec;
      if (!keep && !path.empty()) fs::remove(path, ec);
    }
  } made;
  if (!fs::exists(dir, ec)) {
    fs::create_directories(dir, ec);
    made.path = dir;
  }
  const fs::path target = existingDirectory(dir);
  refuseConfig(target);
  refuseEmbeddedFiles(target, _("an installation exists here"));
  NewConfig config(target, conninfo);
  datafiles::PgStore server(conninfo);
  const auto none = [](const datafiles::PgStore::RecordSink&) { return datafiles::kOk; };
  std::vector<datafiles::PgStore::FileContents> files = {
      {datafiles::kInstallationFile,
       [&control](const datafiles::PgStore::RecordSink& put) { return put(control.view()); }},
      {datafiles::kUserFile, none},
      {datafiles::kMenuFile, none},
      {datafiles::kPermissionFile, none},
      {datafiles::kAuditFile, none}};
  std::string which;
  if (const datafiles::FileStatus s = server.createFiles(files, false, &which); !s.ok()) {
    if (s == datafiles::kDuplicateKey)
      fail(textf(_("the server holds %s already (table %s in %s): refusing to overwrite an "
                   "installation; nothing created"),
                 which.c_str(), datafiles::PgStore::tableName(which).c_str(),
                 server.location({}).c_str()));
    fail(textf(_("cannot create the tables on %s: %s; nothing created"),
               server.location({}).c_str(), describe(s, server).c_str()));
  }
  if (!config.place())
    fail(textf(_("tables made on the server, but %s appeared meanwhile"),
               (target / kConfigName).string().c_str()));
  made.keep = true;
  std::cout << textf(_("Installation created on %s, used from %s"), server.location({}).c_str(),
                     dir.c_str())
            << "\n";
}

void addServerVerbs(CLI::App& app) {
  auto o = std::make_shared<MigrateOptions>();
  CLI::App* cmd = app.add_subcommand(
      "migrate", _("Move an installation from its files to a database server, or back"));
  cmd->add_option("--dir", o->dir, _("Data directory (default: the current directory)"));
  auto* server = cmd->add_option("--to-server", o->toServer,
                                 _("Move the files into tables on the server this libpq "
                                   "connection string names"));
  auto* files = cmd->add_flag("--to-files", o->toFiles, _("Move the tables back into files"));
  server->excludes(files);
  cmd->callback([o] { runMigrate(*o); });
}

}  // namespace tools
