// pg_store_bench [CONNINFO]: the server store's speed marks, each printed as
// met or missed, beside the same operations in plain libpq (one statement
// per operation, as a program without the store's batching would send them)
// and on the embedded store, in one run. Without CONNINFO a server of its
// own is started (scripts/pg-test-server, flushing to disk as a real one
// does) and reached over its Unix socket.
//
//   the catalogue itself: the real catalogue run (edition PEDRIX B 30005,
//              999 normal users) on a new installation, then again
//              (refresh, median of several), on the server and the embedded
//              store
//   catalogue  a fresh catalogue-like run as one unit per file: a scan of
//              999 users (read for update), the menu header, 350 menu
//              writes, one permission write per user for each of 292
//              entries with a program (42 of them on a program met before,
//              so the write finds the key)
//   refresh    the same run again: every menu write finds its key and is
//              rewritten, no permission is new
//   listing    start not less than and read-next through each menu
//   read       one keyed read; one read for update and its rewrite
//   open       open for input and close, as the launcher does around every
//              call, and the files of a launcher's start to its first menu
#include <libpq-fe.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "abi/common_area.h"
#include "catalogue/catalogue_run.h"
#include "datafiles/pg_connection.h"
#include "datafiles/pg_store.h"
#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"
#include "encoding/field.h"
#include "platform/program_loader.h"
#include "platform/screen_set.h"

namespace {

namespace stdfs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char* verdict(bool met) { return met ? "met" : "missed"; }
double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

template <class Fn>
double timed(Fn&& fn) {
  const auto t0 = Clock::now();
  fn();
  return seconds(Clock::now() - t0);
}

// The machine is shared: every figure is the best of a few runs.
constexpr int kRepeats = 5;
constexpr int kCatalogueRepeats = 3;
struct Best {
  double v = 1e30;
  void add(double x) { v = std::min(v, x); }
};
// The best of kRepeats runs of `fn(rep)`, run in turn with the others of
// its row so that a busy moment does not favour one column.
template <class... Fns>
std::array<double, sizeof...(Fns)> bestOf(Fns&&... fns) {
  std::array<double, sizeof...(Fns)> best;
  best.fill(1e30);
  for (int rep = 0; rep < kRepeats; ++rep) {
    std::size_t i = 0;
    ((best[i] = std::min(best[i], timed([&] { fns(rep); })), ++i), ...);
  }
  return best;
}

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "pg_store_bench: %s\n", what.c_str());
  std::exit(1);
}

void check(datafiles::FileStatus s, const char* what) {
  if (!s.ok()) die(std::string(what) + ": status " + s.toString());
}

// ---- the operation sequences, written once over an abstract file ----------

struct Ops {
  virtual ~Ops() = default;
  virtual bool open(const datafiles::FileSpec& spec, bool update) = 0;
  virtual void close(const datafiles::FileSpec& spec) = 0;
  virtual void begin(const datafiles::FileSpec& spec) = 0;
  virtual void commit(const datafiles::FileSpec& spec) = 0;
  virtual bool read(const datafiles::FileSpec& spec, std::span<char> rec) = 0;
  virtual bool start(const datafiles::FileSpec& spec, std::span<const char> rec, bool equal) = 0;
  virtual bool readNext(const datafiles::FileSpec& spec, std::span<char> rec) = 0;
  virtual bool write(const datafiles::FileSpec& spec, std::span<const char> rec) = 0;
  virtual bool rewrite(const datafiles::FileSpec& spec, std::span<const char> rec) = 0;
};

constexpr int kUsers = 999;
constexpr int kMenuWrites = 350;
constexpr int kEntriesWithProgram = 292;
constexpr int kRepeatedPrograms = 42;

std::string userName(int u) {
  char b[16];
  std::snprintf(b, sizeof b, "U%06d", u);
  return b;
}
std::string programName(int p) {
  char b[16];
  std::snprintf(b, sizeof b, "P%03d", p % 1000);
  return b;
}

struct RunCount {
  long ops = 0, newEntries = 0, rewritten = 0, permissions = 0;
};

// The catalogue's shape: the user scan reads for update, the menu and
// permission files are one unit each, a write that finds its key is
// followed by a rewrite.
RunCount catalogueRun(Ops& ops) {
  RunCount c;
  long& n = c.ops;
  if (!ops.open(datafiles::kUserFile, true) || !ops.open(datafiles::kMenuFile, true) ||
      !ops.open(datafiles::kPermissionFile, true))
    die("catalogue: open failed");
  n += 3;
  ops.begin(datafiles::kMenuFile);
  ops.begin(datafiles::kPermissionFile);
  n += 2;
  // The normal users, scanned when the first entry hands out permissions.
  std::vector<std::string> users;
  bool scanned = false;
  auto scanUsers = [&] {
    scanned = true;
    datafiles::UserRecord u;
    u.setClient(0);
    u.setEncodedName(std::string(10, '\0'));
    ops.start(datafiles::kUserFile, u.bytes(), false);
    ++n;
    while (ops.readNext(datafiles::kUserFile, u.bytes())) {
      ++n;
      if (u.userClass() == 'N') users.emplace_back(u.encodedName());
    }
    ++n;
  };
  datafiles::MenuRecord m;
  m.setKey(0, 0);
  if (!ops.read(datafiles::kMenuFile, m.bytes())) {
    ops.write(datafiles::kMenuFile, m.bytes());
  } else {
    ops.rewrite(datafiles::kMenuFile, m.bytes());
  }
  n += 2;
  int entriesWithProgram = 0;
  for (int i = 1; i < kMenuWrites; ++i) {
    m.setKey(1 + i / 20, 1 + i % 20);
    m.setText("Eintrag");
    const bool withProgram = entriesWithProgram < kEntriesWithProgram && i % 6 != 0;
    const int program = entriesWithProgram < kEntriesWithProgram - kRepeatedPrograms
                            ? entriesWithProgram
                            : entriesWithProgram - (kEntriesWithProgram - kRepeatedPrograms);
    m.setProgram(withProgram ? programName(program) : "    ");
    ++n;
    if (!ops.write(datafiles::kMenuFile, m.bytes())) {
      if (ops.rewrite(datafiles::kMenuFile, m.bytes())) ++c.rewritten;
      ++n;
      continue;
    }
    ++c.newEntries;
    if (!withProgram) continue;
    ++entriesWithProgram;
    if (!scanned) scanUsers();
    datafiles::PermissionRecord p;
    for (const std::string& user : users) {
      p.setKey(0, user, programName(program));
      p.setFlag('J');
      if (ops.write(datafiles::kPermissionFile, p.bytes())) ++c.permissions;
      ++n;
    }
  }
  ops.commit(datafiles::kMenuFile);
  ops.commit(datafiles::kPermissionFile);
  n += 2;
  ops.close(datafiles::kUserFile);
  ops.close(datafiles::kMenuFile);
  ops.close(datafiles::kPermissionFile);
  return c;
}

// Start and read-next through each menu; returns the records read.
long menuListing(Ops& ops, int rounds) {
  long records = 0;
  for (int round = 0; round < rounds; ++round) {
    for (int menu = 1; menu <= 18; ++menu) {
      datafiles::MenuRecord m;
      m.setKey(menu, 0);
      if (!ops.start(datafiles::kMenuFile, m.bytes(), false)) continue;
      while (ops.readNext(datafiles::kMenuFile, m.bytes())) {
        if (m.menu() != menu) break;
        ++records;
      }
    }
  }
  return records;
}

// The embedded store's benchmark mix: through each menu, and for every
// entry a start equal on the permission file (250,000 records), as the
// launcher does for a normal user; returns the operations.
long listingWithPermissions(Ops& ops, int rounds) {
  long n = 0;
  for (int round = 0; round < rounds; ++round) {
    const std::string user = userName(round % 1000);
    for (int menu = 1; menu <= 18; ++menu) {
      datafiles::MenuRecord m;
      m.setKey(menu, 0);
      ++n;
      if (!ops.start(datafiles::kMenuFile, m.bytes(), false)) continue;
      while (ops.readNext(datafiles::kMenuFile, m.bytes())) {
        ++n;
        if (m.menu() != menu) break;
        if (m.opensSubmenu()) continue;
        datafiles::PermissionRecord p;
        p.setKey(0, user, m.program());
        (void)ops.start(datafiles::kPermissionFile, p.bytes(), true);
        ++n;
      }
    }
  }
  return n;
}

void permissionFile(datafiles::FileStore& store, const std::string& dir) {
  auto f = store.file(datafiles::kPermissionFile, dir);
  check(f->open(datafiles::OpenMode::kInputOutput), "open FX02");
  check(f->begin(), "begin");
  for (int u = 0; u < 1000; ++u) {
    for (int p = 0; p < 250; ++p) {
      datafiles::PermissionRecord r;
      r.setKey(0, userName(u), programName(p));
      (void)f->write(r.bytes());  // some exist from the catalogue run
    }
  }
  check(f->commit(), "commit");
}

// ---- through a store ------------------------------------------------------------

struct LayerOps : Ops {
  LayerOps(datafiles::FileStore& store, std::string dir) : store(store), dir(std::move(dir)) {}
  std::unique_ptr<datafiles::KeyedFile>& at(const datafiles::FileSpec& spec) {
    return files[spec.name];
  }
  bool open(const datafiles::FileSpec& spec, bool update) override {
    at(spec) = store.file(spec, dir);
    return at(spec)
        ->open(update ? datafiles::OpenMode::kInputOutput : datafiles::OpenMode::kInput)
        .ok();
  }
  void close(const datafiles::FileSpec& spec) override { (void)at(spec)->close(); }
  void begin(const datafiles::FileSpec& spec) override { check(at(spec)->begin(), "begin"); }
  void commit(const datafiles::FileSpec& spec) override { check(at(spec)->commit(), "commit"); }
  bool read(const datafiles::FileSpec& spec, std::span<char> r) override {
    return at(spec)->read(r).ok();
  }
  bool start(const datafiles::FileSpec& spec, std::span<const char> r, bool equal) override {
    return at(spec)
        ->start(equal ? datafiles::StartMode::kEqual : datafiles::StartMode::kNotLessThan, r,
                spec.keyLength)
        .ok();
  }
  bool readNext(const datafiles::FileSpec& spec, std::span<char> r) override {
    return at(spec)->readNext(r).ok();
  }
  bool write(const datafiles::FileSpec& spec, std::span<const char> r) override {
    return at(spec)->write(r).ok();
  }
  bool rewrite(const datafiles::FileSpec& spec, std::span<const char> r) override {
    return at(spec)->rewrite(r).ok();
  }
  datafiles::FileStore& store;
  std::string dir;
  std::map<std::string_view, std::unique_ptr<datafiles::KeyedFile>> files;
};

// ---- plain libpq: one prepared statement per operation ---------------------------

struct RawFile {
  PGconn* conn = nullptr;
  PGresult* listing = nullptr;  // rows of the last start
  int next = 0;
};

struct RawOps : Ops {
  explicit RawOps(std::string conninfo) : conninfo(std::move(conninfo)) {}
  ~RawOps() override {
    for (auto& [name, f] : files)
      if (f.conn != nullptr) PQfinish(f.conn);
  }
  RawFile& at(const datafiles::FileSpec& spec) { return files[spec.name]; }
  PGresult* exec(RawFile& f, const char* name, std::initializer_list<std::string_view> params) {
    const char* values[4];
    int lengths[4], formats[4];
    int i = 0;
    for (std::string_view p : params) {
      values[i] = p.data();
      lengths[i] = static_cast<int>(p.size());
      formats[i] = 1;
      ++i;
    }
    return PQexecPrepared(f.conn, name, i, values, lengths, formats, 1);
  }
  bool open(const datafiles::FileSpec& spec, bool) override {
    RawFile& f = at(spec);
    f.conn = PQconnectdb(conninfo.c_str());
    if (PQstatus(f.conn) != CONNECTION_OK) return false;
    const std::string t = datafiles::PgStore::tableName(spec.name);
    const struct {
      const char* name;
      std::string sql;
      int params;
    } statements[] = {
        {"read", "SELECT data FROM " + t + " WHERE key = $1", 1},
        // A listing reads the rows of a menu at once; the user file is read whole.
        {"seek",
         "SELECT key, data FROM " + t + " WHERE key >= $1 ORDER BY key LIMIT " +
             (spec.name == datafiles::kUserFile.name ? "1000" : "32"),
         1},
        {"insert", "INSERT INTO " + t + " VALUES ($1, $2) ON CONFLICT (key) DO NOTHING", 2},
        {"update", "UPDATE " + t + " SET data = $2 WHERE key = $1", 2}};
    for (const auto& st : statements) {
      const Oid types[2] = {17, 17};
      PGresult* r = PQprepare(f.conn, st.name, st.sql.c_str(), st.params, types);
      const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
      PQclear(r);
      if (!ok) return false;
    }
    return true;
  }
  void close(const datafiles::FileSpec& spec) override {
    RawFile& f = at(spec);
    PQclear(f.listing);
    PQfinish(f.conn);
    f = RawFile{};
  }
  void begin(const datafiles::FileSpec& spec) override { PQclear(PQexec(at(spec).conn, "BEGIN")); }
  void commit(const datafiles::FileSpec& spec) override {
    PQclear(PQexec(at(spec).conn, "COMMIT"));
  }
  bool read(const datafiles::FileSpec& spec, std::span<char> r) override {
    RawFile& f = at(spec);
    PGresult* res = exec(f, "read", {{r.data(), spec.keyLength}});
    const bool found = PQntuples(res) == 1;
    if (found) std::memcpy(r.data(), PQgetvalue(res, 0, 0), spec.recordLength);
    PQclear(res);
    return found;
  }
  bool start(const datafiles::FileSpec& spec, std::span<const char> r, bool equal) override {
    RawFile& f = at(spec);
    PQclear(f.listing);
    f.listing = exec(f, "seek", {{r.data(), spec.keyLength}});
    f.next = 0;
    if (PQntuples(f.listing) == 0) return false;
    return !equal || std::memcmp(PQgetvalue(f.listing, 0, 0), r.data(), spec.keyLength) == 0;
  }
  bool readNext(const datafiles::FileSpec& spec, std::span<char> r) override {
    RawFile& f = at(spec);
    if (f.listing == nullptr || f.next >= PQntuples(f.listing)) return false;
    std::memcpy(r.data(), PQgetvalue(f.listing, f.next++, 1), spec.recordLength);
    return true;
  }
  bool write(const datafiles::FileSpec& spec, std::span<const char> r) override {
    PGresult* res =
        exec(at(spec), "insert", {{r.data(), spec.keyLength}, {r.data(), spec.recordLength}});
    const bool ok = std::strcmp(PQcmdTuples(res), "1") == 0;
    PQclear(res);
    return ok;
  }
  bool rewrite(const datafiles::FileSpec& spec, std::span<const char> r) override {
    PGresult* res =
        exec(at(spec), "update", {{r.data(), spec.keyLength}, {r.data(), spec.recordLength}});
    const bool ok = std::strcmp(PQcmdTuples(res), "1") == 0;
    PQclear(res);
    return ok;
  }
  std::string conninfo;
  std::map<std::string_view, RawFile> files;
};

// ---- set-up ----------------------------------------------------------------------

void freshFiles(datafiles::FileStore& store, const std::string& dir) {
  for (const datafiles::FileSpec* spec :
       {&datafiles::kUserFile, &datafiles::kMenuFile, &datafiles::kPermissionFile})
    check(store.create(*spec, dir), "create");
  auto f = store.file(datafiles::kUserFile, dir);
  check(f->open(datafiles::OpenMode::kInputOutput), "open FX00");
  check(f->begin(), "begin");
  for (int i = 0; i < kUsers; ++i) {
    datafiles::UserRecord u;
    u.setClient(0);
    u.setEncodedName(userName(i));
    u.setUserClass('N');
    check(f->write(u.bytes()), "write user");
  }
  check(f->commit(), "commit");
}

std::string sqlOn(const std::string& conninfo, const std::string& text) {
  PGconn* c = PQconnectdb(conninfo.c_str());
  PQsetNoticeProcessor(
      c, [](void*, const char*) {}, nullptr);
  std::string err;
  if (PQstatus(c) != CONNECTION_OK) {
    err = PQerrorMessage(c);
  } else {
    PGresult* r = PQexec(c, text.c_str());
    if (PQresultStatus(r) != PGRES_COMMAND_OK && PQresultStatus(r) != PGRES_TUPLES_OK)
      err = PQresultErrorMessage(r);
    PQclear(r);
  }
  PQfinish(c);
  return err;
}

std::string withSchema(const std::string& conninfo, const std::string& schema) {
  return conninfo + " options='-csearch_path=" + schema + "'";
}

// ---- the catalogue itself -----------------------------------------------------

// U001 and UT00S answer without doing anything; nothing is shown.
class QuietLoader : public platform::ProgramLoader {
 public:
  platform::CallOutcome call(std::string_view, void*, void*) override { return {true, 0}; }
  void unload(std::string_view) override {}
  void preload(std::string_view) override {}
};

class NoScreen : public platform::ScreenSet {
 public:
  std::int32_t call(pxabi::ScreenControlBlock&, std::span<char, pxabi::kScreenDataSize>) override {
    return 0;
  }
};

// The files of a new installation with 999 normal users of client 1 and a
// few of client 2.
void catalogueInstallation(datafiles::FileStore& store, const std::string& dir) {
  for (const datafiles::FileSpec* spec :
       {&datafiles::kUserFile, &datafiles::kMenuFile, &datafiles::kPermissionFile})
    check(store.create(*spec, dir), "create");
  auto users = store.file(datafiles::kUserFile, dir);
  check(users->open(datafiles::OpenMode::kInputOutput), "open FX00");
  check(users->begin(), "begin");
  for (int client : {1, 2}) {
    for (int i = 0; i < (client == 1 ? kUsers : 20); ++i) {
      datafiles::UserRecord u;
      u.setClient(client);
      std::string name(1, 'U');
      name += std::to_string(100000 + i);
      u.setEncodedName(name);
      u.setUserClass('N');
      check(users->write(u.bytes()), "write user");
    }
  }
  check(users->commit(), "commit");
}

catalogue::RunReport runCatalogue(datafiles::FileStore& store, const std::string& dir) {
  using CA = pxabi::CommonArea;
  CA common;
  encoding::putRaw(common.identification(), "PEDRIX");
  common.setEditionOption2('B');
  encoding::putRaw(common.installationNumber(), "30005");
  encoding::putRaw(common.versionText(), CA::kVersionConstant);
  encoding::putDigits(common.workingDate(), 261207);
  common.setClient(1);
  encoding::putBigEndian(common.savedControlBlock().subspan<6, 2>(), 0);
  QuietLoader loader;
  NoScreen screen;
  catalogue::RunOptions options;
  options.directory = dir;
  const catalogue::RunReport report = catalogue::runCatalogue(common, store, loader, screen, options);
  if (report.outcome != catalogue::RunOutcome::kComplete)
    die("the catalogue run failed: " + report.failedFile + report.failedStatus.toString());
  return report;
}

struct CatalogueFigures {
  double fresh = 0, refresh = 0;  // seconds; refresh: the median
  catalogue::RunReport report;
};

CatalogueFigures timeCatalogue(datafiles::FileStore& store, const std::string& dir) {
  CatalogueFigures f;
  catalogueInstallation(store, dir);
  f.fresh = timed([&] { f.report = runCatalogue(store, dir); });
  std::vector<double> again;
  for (int i = 0; i < 11; ++i) again.push_back(timed([&] { (void)runCatalogue(store, dir); }));
  std::sort(again.begin(), again.end());
  f.refresh = again[again.size() / 2];
  return f;
}

struct Row {
  std::string what;
  double layer, raw, embedded;  // in the row's unit
  std::string unit, mark;
};

void print(const Row& r) {
  auto cell = [&](double v) {
    char b[32];
    if (v < 0)
      std::snprintf(b, sizeof b, "%12s", "-");
    else
      std::snprintf(b, sizeof b, "%9.3f %s", v, r.unit.c_str());
    return std::string(b);
  };
  std::printf("%-44s %14s %14s %14s  %s\n", r.what.c_str(), cell(r.layer).c_str(),
              cell(r.raw).c_str(), cell(r.embedded).c_str(), r.mark.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::string server = argc > 1 ? argv[1] : "";
  std::string folder;
  const char* script = std::getenv("PX_PG_TEST_SERVER");
  if (server.empty()) {
    const std::string cmd = std::string(script != nullptr ? script : PX_PG_TEST_SERVER) +
                            " start --owner " + std::to_string(::getpid());
    FILE* p = ::popen(cmd.c_str(), "r");
    char buf[512] = {};
    if (p == nullptr || std::fgets(buf, sizeof buf, p) == nullptr) die("cannot start a server");
    ::pclose(p);
    folder = buf;
    while (!folder.empty() && folder.back() == '\n') folder.pop_back();
    server = "host=" + folder + " user=postgres dbname=postgres";
  }
  const std::string run = "b" + std::to_string(::getpid());
  const std::string embeddedBase =
      (stdfs::temp_directory_path() / ("pg_store_bench-" + std::to_string(::getpid()))).string();
  {
    PGconn* c = PQconnectdb(server.c_str());
    PGresult* r =
        PQexec(c, "SELECT current_setting('fsync'), current_setting('synchronous_commit')");
    std::printf(
        "pg_store_bench: PostgreSQL %d over %s; fsync %s, synchronous_commit %s;"
        " best of %d runs each\n\n",
        PQserverVersion(c), folder.empty() ? "the given connection" : "a Unix socket",
        PQntuples(r) == 1 ? PQgetvalue(r, 0, 0) : "?",
        PQntuples(r) == 1 ? PQgetvalue(r, 0, 1) : "?", kRepeats);
    PQclear(r);
    PQfinish(c);
  }
  std::printf("%-44s %14s %14s %14s  %s\n", "sequence", "server store", "plain libpq", "embedded",
              "mark");

  // The catalogue itself, on new files of each store.
  {
    const std::string schema = run + "catalogue";
    if (const std::string e = sqlOn(server, "CREATE SCHEMA " + schema); !e.empty()) die(e);
    const std::string dir = embeddedBase + "/catalogue";
    stdfs::create_directories(dir);
    datafiles::PgStore onServer(withSchema(server, schema));
    datafiles::SqliteStore embedded;
    const CatalogueFigures pg = timeCatalogue(onServer, "");
    const CatalogueFigures emb = timeCatalogue(embedded, dir);
    (void)sqlOn(server, "DROP SCHEMA " + schema + " CASCADE");
    std::printf("  (the catalogue itself: %d entries new, %d permission records)\n",
                pg.report.counts.newEntries, pg.report.counts.permissions);
    print({"the catalogue itself, fresh", pg.fresh, -1, emb.fresh, "s ",
           std::string("<= 3 s ") + verdict(pg.fresh <= 3.0)});
    print({"the catalogue itself, refresh (median)", pg.refresh * 1e3, -1, emb.refresh * 1e3, "ms",
           std::string("<= 50 ms ") + verdict(pg.refresh <= 0.050)});
  }

  // Catalogue, fresh, then again (refresh), each time on new files; the
  // measurements after it use the files of the last time.
  std::string layerInfo, rawInfo, embeddedDir;
  Best layerCat, rawCat, embCat, layerRef, rawRef, embRef;
  RunCount counts, again;
  for (int rep = 0; rep < kCatalogueRepeats; ++rep) {
    const std::string suffix = std::to_string(rep);
    for (const char* s : {"layer", "raw"}) {
      const std::string e = sqlOn(server, "CREATE SCHEMA " + run + s + suffix);
      if (!e.empty()) die(e);
    }
    layerInfo = withSchema(server, run + "layer" + suffix);
    rawInfo = withSchema(server, run + "raw" + suffix);
    embeddedDir = embeddedBase + "/" + suffix;
    stdfs::create_directories(embeddedDir);
    datafiles::PgStore layerStore(layerInfo), rawSetUp(rawInfo);
    datafiles::SqliteStore embedded;
    freshFiles(layerStore, "");
    freshFiles(rawSetUp, "");
    freshFiles(embedded, embeddedDir);
    ::sync();
    LayerOps layer(layerStore, "");
    RawOps raw(rawInfo);
    LayerOps emb(embedded, embeddedDir);
    layerCat.add(timed([&] { counts = catalogueRun(layer); }));
    rawCat.add(timed([&] { (void)catalogueRun(raw); }));
    embCat.add(timed([&] { (void)catalogueRun(emb); }));
    layerRef.add(timed([&] { again = catalogueRun(layer); }));
    rawRef.add(timed([&] { (void)catalogueRun(raw); }));
    embRef.add(timed([&] { (void)catalogueRun(emb); }));
  }
  std::printf("  (%ld operations: %ld new entries, %ld permission records)\n", counts.ops,
              counts.newEntries, counts.permissions);
  print({"catalogue run, fresh", layerCat.v, rawCat.v, embCat.v, "s ",
         std::string("<= 3 s ") + verdict(layerCat.v <= 3.0)});
  print({"catalogue run, refresh (" + std::to_string(again.rewritten) + " rewrites)",
         layerRef.v * 1e3, rawRef.v * 1e3, embRef.v * 1e3, "ms",
         std::string("<= 50 ms ") + verdict(layerRef.v <= 0.050)});
  datafiles::PgStore pgStore(layerInfo);
  datafiles::SqliteStore embedded;

  // Listing through the menus.
  {
    LayerOps layer(pgStore, "");
    RawOps raw(rawInfo);
    LayerOps emb(embedded, embeddedDir);
    for (Ops* o : {static_cast<Ops*>(&layer), static_cast<Ops*>(&raw), static_cast<Ops*>(&emb)})
      if (!o->open(datafiles::kMenuFile, false)) die("open for the listing");
    const int rounds = 100;
    const long records = menuListing(layer, 1) * rounds;
    const auto t = bestOf([&](int) { (void)menuListing(layer, rounds); },
                          [&](int) { (void)menuListing(raw, rounds); },
                          [&](int) { (void)menuListing(emb, rounds); });
    auto per = [&](double s) { return s / static_cast<double>(records) * 1e6; };
    print({"listing: start + read-next, per record", per(t[0]), per(t[1]), per(t[2]), "us",
           std::string("<= 10 us ") + verdict(per(t[0]) <= 10.0)});
    // The mix of the embedded store's benchmark.
    {
      datafiles::PgStore rawStore(rawInfo);
      permissionFile(pgStore, "");
      permissionFile(rawStore, "");
      permissionFile(embedded, embeddedDir);
    }
    for (Ops* o : {static_cast<Ops*>(&layer), static_cast<Ops*>(&raw), static_cast<Ops*>(&emb)})
      if (!o->open(datafiles::kPermissionFile, false)) die("open for the listing");
    const int mixRounds = 20;
    const long ops = listingWithPermissions(layer, mixRounds);
    const auto tm = bestOf([&](int) { (void)listingWithPermissions(layer, mixRounds); },
                           [&](int) { (void)listingWithPermissions(raw, mixRounds); },
                           [&](int) { (void)listingWithPermissions(emb, mixRounds); });
    auto perOp = [&](double s) { return s / static_cast<double>(ops) * 1e6; };
    print({"  with a permission start per entry, per op", perOp(tm[0]), perOp(tm[1]), perOp(tm[2]),
           "us", ""});
    for (Ops* o : {static_cast<Ops*>(&layer), static_cast<Ops*>(&raw), static_cast<Ops*>(&emb)}) {
      o->close(datafiles::kMenuFile);
      o->close(datafiles::kPermissionFile);
    }
  }

  // Keyed reads; read for update and rewrite; single writes.
  {
    LayerOps layer(pgStore, "");
    RawOps raw(rawInfo);
    LayerOps emb(embedded, embeddedDir);
    const int n = 2000;
    auto key = [](int i) {
      datafiles::MenuRecord m;
      const int j = 1 + i % 339;  // the entries the catalogue run wrote
      m.setKey(1 + j / 20, 1 + j % 20);
      return m;
    };
    auto readLoop = [&](Ops& o) {
      for (int i = 0; i < n; ++i) {
        datafiles::MenuRecord m = key(i);
        if (!o.read(datafiles::kMenuFile, m.bytes())) die("read");
      }
    };
    auto us = [&](double s) { return s / n * 1e6; };
    for (Ops* o : {static_cast<Ops*>(&layer), static_cast<Ops*>(&raw), static_cast<Ops*>(&emb)})
      if (!o->open(datafiles::kMenuFile, false)) die("open");
    // Round trips per operation, counted.
    auto tripsOf = [&](auto&& fn) {
      const std::uint64_t before = datafiles::pg::roundTrips();
      fn();
      return static_cast<double>(datafiles::pg::roundTrips() - before) / n;
    };
    const double trips = tripsOf([&] { readLoop(layer); });
    const auto t = bestOf([&](int) { readLoop(layer); }, [&](int) { readLoop(raw); },
                          [&](int) { readLoop(emb); });
    print({"keyed read, input", us(t[0]), us(t[1]), us(t[2]), "us",
           "<= 1 round trip " + std::string(verdict(trips <= 1.0)) + " (" +
               std::to_string(trips).substr(0, 4) + ")"});
    for (Ops* o : {static_cast<Ops*>(&layer), static_cast<Ops*>(&raw), static_cast<Ops*>(&emb)}) {
      o->close(datafiles::kMenuFile);
      if (!o->open(datafiles::kMenuFile, true)) die("open");
    }
    const double tripsU = tripsOf([&] { readLoop(layer); });
    const auto tu = bestOf([&](int) { readLoop(layer); }, [&](int) { readLoop(raw); },
                           [&](int) { readLoop(emb); });
    print({"keyed read for update (takes the record lock)", us(tu[0]), us(tu[1]), us(tu[2]), "us",
           "<= 1 round trip " + std::string(verdict(tripsU <= 1.0)) + " (" +
               std::to_string(tripsU).substr(0, 4) + ")"});
    auto rrw = [&](Ops& o) {
      for (int i = 0; i < n; ++i) {
        datafiles::MenuRecord m = key(i);
        if (!o.read(datafiles::kMenuFile, m.bytes()) || !o.rewrite(datafiles::kMenuFile, m.bytes()))
          die("read and rewrite");
      }
    };
    const auto t2 =
        bestOf([&](int) { rrw(layer); }, [&](int) { rrw(raw); }, [&](int) { rrw(emb); });
    print({"read for update, then rewrite (committed)", us(t2[0]), us(t2[1]), us(t2[2]), "us", ""});
    auto fresh = [](int rep, int i) {
      datafiles::MenuRecord m;
      m.setKey(600 + rep * 10 + i / 500, i % 500);
      return m;
    };
    auto writes = [&](Ops& o, int rep) {
      for (int i = 0; i < n; ++i)
        if (!o.write(datafiles::kMenuFile, fresh(rep, i).bytes())) die("write");
    };
    const auto t3 = bestOf([&](int rep) { writes(layer, rep); }, [&](int rep) { writes(raw, rep); },
                           [&](int rep) { writes(emb, rep); });
    print({"single write, committed", us(t3[0]), us(t3[1]), us(t3[2]), "us", ""});
    auto rewrites = [&](Ops& o) {
      for (int i = 0; i < n; ++i)
        if (!o.rewrite(datafiles::kMenuFile, fresh(0, i).bytes())) die("rewrite");
    };
    const auto t4 = bestOf([&](int) { rewrites(layer); }, [&](int) { rewrites(raw); },
                           [&](int) { rewrites(emb); });
    print({"single rewrite, committed", us(t4[0]), us(t4[1]), us(t4[2]), "us", ""});
    layer.close(datafiles::kMenuFile);
    raw.close(datafiles::kMenuFile);
    emb.close(datafiles::kMenuFile);
  }

  // Opens.
  {
    const int n = 300;
    auto openRead = [&](datafiles::FileStore& store, const std::string& dir) {
      auto f = store.file(datafiles::kMenuFile, dir);
      check(f->open(datafiles::OpenMode::kInput), "open");
      datafiles::MenuRecord m;
      m.setKey(1, 2);
      check(f->read(m.bytes()), "read");
      (void)f->close();
    };
    const auto t = bestOf(
        [&](int) {
          for (int i = 0; i < n; ++i) openRead(pgStore, "");
        },
        [&](int) {
          for (int i = 0; i < n; ++i) {
            PGconn* c = PQconnectdb(rawInfo.c_str());
            PQfinish(c);
          }
        },
        [&](int) {
          for (int i = 0; i < n; ++i) openRead(embedded, embeddedDir);
        });
    print({"open for input, read, close", t[0] / n * 1e3, t[1] / n * 1e3, t[2] / n * 1e3, "ms",
           "(plain libpq: connect only)"});
    // A launcher's start: a new process (a store with no sessions yet) opens
    // the installation, menu and permission files for input, lists the top
    // menu with a permission check per entry, and closes them; then, around
    // a program call, the same again.
    auto launcher = [&](datafiles::FileStore& store, const std::string& dir) {
      std::unique_ptr<datafiles::KeyedFile> files[3];
      const datafiles::FileSpec* specs[3] = {&datafiles::kInstallationFile, &datafiles::kMenuFile,
                                             &datafiles::kPermissionFile};
      for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 3; ++i) {
          files[i] = store.file(*specs[i], dir);
          const datafiles::FileStatus s = files[i]->open(datafiles::OpenMode::kInput);
          if (!s.ok() && s != datafiles::kFileMissing) check(s, "open");
        }
        datafiles::MenuRecord m;
        m.setKey(1, 0);
        if (files[1]->start(datafiles::StartMode::kNotLessThan, m.bytes(), 6).ok()) {
          while (files[1]->readNext(m.bytes()).ok() && m.menu() == 1) {
            datafiles::PermissionRecord p;
            p.setKey(0, userName(5), m.program());
            (void)files[2]->start(datafiles::StartMode::kEqual, p.bytes(), 17);
          }
        }
        for (auto& f : files)
          if (f->isOpen()) (void)f->close();
      }
    };
    const auto tl = bestOf(
        [&](int) {
          datafiles::PgStore fresh(layerInfo);
          launcher(fresh, "");
        },
        [&](int) {},
        [&](int) {
          datafiles::SqliteStore fresh;
          launcher(fresh, embeddedDir);
        });
    print({"launcher's files: start to first menu, a call", tl[0] * 1e3, -1, tl[2] * 1e3, "ms",
           std::string("<= 100 ms ") + verdict(tl[0] <= 0.1)});
  }

  std::error_code ec;
  stdfs::remove_all(embeddedBase, ec);
  for (int rep = 0; rep < kCatalogueRepeats; ++rep)
    for (const char* s : {"layer", "raw"})
      (void)sqlOn(server, "DROP SCHEMA " + run + s + std::to_string(rep) + " CASCADE");
  if (!folder.empty()) {
    const std::string cmd =
        std::string(script != nullptr ? script : PX_PG_TEST_SERVER) + " stop " + folder;
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "pg_store_bench: stop failed\n");
  }
  return 0;
}
