// store_bench [DIR]: the data files' speed marks, each printed as met or
// missed, through the keyed file layer and through raw SQLite running the
// same statements on the same schema, in one process and one run. DIR
// (default: a new directory under the temporary directory) must be on the
// file system to be measured.
//
//   catalogue  a fresh catalogue-like run as one unit per file: a scan of
//              999 users, the menu header, 350 menu writes, one permission
//              write per user for each of 292 entries with a program (42 of
//              them on a program met before, so the write finds the key)
//   listing    start not less than and read-next over each menu, one start
//              equal on a permission file of 250,000 records per entry
//   write      one write (then one rewrite, then a read for update and a
//              rewrite) on its own, committed
//   open       open for input (another handle keeps the file open, as on a
//              busy installation, and alone) and close
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* verdict(bool met) { return met ? "met" : "missed"; }
// The layer's cost over raw SQLite: at most 1.5 times, on every sequence.
std::string ratioMark(double ratio) {
  return std::string("ratio <= 1.5 ") + verdict(ratio <= 1.5);
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

bool check(datafiles::FileStatus s, const char* what) {
  if (s.ok()) return true;
  std::fprintf(stderr, "store_bench: %s: status %s\n", what, s.toString().c_str());
  std::exit(1);
}

// ---- the operation sequences, written once over an abstract file ----------

struct Ops {
  // Statements as the layer runs them.
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

// Returns the number of operations.
long catalogueRun(Ops& ops) {
  long n = 0;
  check(ops.open(datafiles::kUserFile, true) ? datafiles::kOk : datafiles::kPermanentError,
        "open FX00");
  check(ops.open(datafiles::kMenuFile, true) ? datafiles::kOk : datafiles::kPermanentError,
        "open FX01");
  check(ops.open(datafiles::kPermissionFile, true) ? datafiles::kOk : datafiles::kPermanentError,
        "open FX02");
  n += 3;
  ops.begin(datafiles::kMenuFile);
  ops.begin(datafiles::kPermissionFile);
  n += 2;
  // The normal users of client 0.
  std::vector<std::string> users;
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
  // The header record: read, on "not found" write.
  datafiles::MenuRecord m;
  m.setKey(0, 0);
  if (!ops.read(datafiles::kMenuFile, m.bytes())) ops.write(datafiles::kMenuFile, m.bytes());
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
      ops.rewrite(datafiles::kMenuFile, m.bytes());
      ++n;
      continue;
    }
    if (!withProgram) continue;
    ++entriesWithProgram;
    datafiles::PermissionRecord p;
    for (const std::string& user : users) {
      p.setKey(0, user, programName(program));
      p.setFlag('J');
      (void)ops.write(datafiles::kPermissionFile, p.bytes());
      ++n;
    }
  }
  ops.commit(datafiles::kMenuFile);
  ops.commit(datafiles::kPermissionFile);
  return n + 2;
}

// The closes after the run; the last close of a file copies its log into
// the file and flushes it.
void catalogueClose(Ops& ops) {
  ops.close(datafiles::kUserFile);
  ops.close(datafiles::kMenuFile);
  ops.close(datafiles::kPermissionFile);
}

// Returns the number of start and read operations.
long listing(Ops& ops, int rounds) {
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

// ---- through the layer --------------------------------------------------------

struct LayerOps : Ops {
  explicit LayerOps(std::string dir) : dir(std::move(dir)) {}
  std::unique_ptr<datafiles::KeyedFile>& at(const datafiles::FileSpec& spec) {
    return spec.name == datafiles::kUserFile.name ? user
           : spec.name == datafiles::kMenuFile.name ? menu : perm;
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
  datafiles::SqliteStore store;
  std::string dir;
  std::unique_ptr<datafiles::KeyedFile> user, menu, perm;
};

// ---- raw SQLite, the same statements --------------------------------------------

struct RawFile {
  sqlite3* db = nullptr;
  sqlite3_stmt *read = nullptr, *seek = nullptr, *insert = nullptr, *update = nullptr;
  bool live = false, pending = false;
};

struct RawOps : Ops {
  explicit RawOps(std::string dir) : dir(std::move(dir)) {}
  RawFile& at(const datafiles::FileSpec& spec) {
    return spec.name == datafiles::kUserFile.name   ? user
           : spec.name == datafiles::kMenuFile.name ? menu
                                                    : perm;
  }
  bool open(const datafiles::FileSpec& spec, bool) override {
    RawFile& f = at(spec);
    const std::string path = dir + "/" + std::string(spec.name);
    if (sqlite3_open_v2(path.c_str(), &f.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK)
      return false;
    sqlite3_busy_timeout(f.db, 1500);
    sqlite3_exec(f.db,
                 "PRAGMA synchronous=NORMAL;PRAGMA cache_size=-65536;PRAGMA journal_mode=WAL",
                 nullptr, nullptr, nullptr);
    auto prep = [&](const char* sql, sqlite3_stmt** st) {
      sqlite3_prepare_v3(f.db, sql, -1, SQLITE_PREPARE_PERSISTENT, st, nullptr);
    };
    prep("SELECT data FROM records WHERE key=?1", &f.read);
    prep("SELECT key, data FROM records WHERE key>=?1 ORDER BY key", &f.seek);
    prep("INSERT OR IGNORE INTO records(key, data) VALUES(?1, ?2)", &f.insert);
    prep("UPDATE records SET data=?2 WHERE key=?1", &f.update);
    return true;
  }
  void close(const datafiles::FileSpec& spec) override {
    RawFile& f = at(spec);
    for (sqlite3_stmt* st : {f.read, f.seek, f.insert, f.update}) sqlite3_finalize(st);
    sqlite3_close(f.db);
    f = RawFile{};
  }
  void begin(const datafiles::FileSpec& spec) override {
    sqlite3_exec(at(spec).db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  }
  void commit(const datafiles::FileSpec& spec) override {
    RawFile& f = at(spec);
    sqlite3_reset(f.seek);
    sqlite3_exec(f.db, "COMMIT", nullptr, nullptr, nullptr);
  }
  bool read(const datafiles::FileSpec& spec, std::span<char> r) override {
    RawFile& f = at(spec);
    sqlite3_bind_blob(f.read, 1, r.data(), static_cast<int>(spec.keyLength), SQLITE_STATIC);
    const bool found = sqlite3_step(f.read) == SQLITE_ROW;
    if (found) std::memcpy(r.data(), sqlite3_column_blob(f.read, 0), spec.recordLength);
    sqlite3_reset(f.read);
    return found;
  }
  bool start(const datafiles::FileSpec& spec, std::span<const char> r, bool equal) override {
    RawFile& f = at(spec);
    sqlite3_reset(f.seek);
    sqlite3_bind_blob(f.seek, 1, r.data(), static_cast<int>(spec.keyLength), SQLITE_STATIC);
    if (sqlite3_step(f.seek) != SQLITE_ROW) return false;
    if (equal && std::memcmp(sqlite3_column_blob(f.seek, 0), r.data(), spec.keyLength) != 0)
      return false;
    f.pending = true;
    return true;
  }
  bool readNext(const datafiles::FileSpec& spec, std::span<char> r) override {
    RawFile& f = at(spec);
    if (!f.pending && sqlite3_step(f.seek) != SQLITE_ROW) return false;
    f.pending = false;
    std::memcpy(r.data(), sqlite3_column_blob(f.seek, 1), spec.recordLength);
    return true;
  }
  bool write(const datafiles::FileSpec& spec, std::span<const char> r) override {
    RawFile& f = at(spec);
    sqlite3_bind_blob(f.insert, 1, r.data(), static_cast<int>(spec.keyLength), SQLITE_STATIC);
    sqlite3_bind_blob(f.insert, 2, r.data(), static_cast<int>(spec.recordLength), SQLITE_STATIC);
    const int rc = sqlite3_step(f.insert);
    sqlite3_reset(f.insert);
    return rc == SQLITE_DONE && sqlite3_changes(f.db) == 1;
  }
  bool rewrite(const datafiles::FileSpec& spec, std::span<const char> r) override {
    RawFile& f = at(spec);
    sqlite3_bind_blob(f.update, 1, r.data(), static_cast<int>(spec.keyLength), SQLITE_STATIC);
    sqlite3_bind_blob(f.update, 2, r.data(), static_cast<int>(spec.recordLength), SQLITE_STATIC);
    const int rc = sqlite3_step(f.update);
    sqlite3_reset(f.update);
    return rc == SQLITE_DONE && sqlite3_changes(f.db) == 1;
  }
  std::string dir;
  RawFile user, menu, perm;
};

// ---- set-up ---------------------------------------------------------------------

void freshFiles(const std::string& dir) {
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  std::filesystem::create_directories(dir);
  datafiles::SqliteStore store;
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

// Permission file of 250,000 records (1000 users, 250 programs) beside the
// menu file of a catalogue run.
void listingFiles(const std::string& dir) {
  datafiles::SqliteStore store;
  std::error_code ec;
  for (const char* suffix : {"", "-wal", "-shm", "-lock"})
    std::filesystem::remove(dir + "/FX02.DAT" + suffix, ec);
  check(store.create(datafiles::kPermissionFile, dir), "create");
  auto f = store.file(datafiles::kPermissionFile, dir);
  check(f->open(datafiles::OpenMode::kInputOutput), "open FX02");
  check(f->begin(), "begin");
  for (int u = 0; u < 1000; ++u) {
    for (int p = 0; p < 250; ++p) {
      datafiles::PermissionRecord r;
      r.setKey(0, userName(u), programName(p));
      check(f->write(r.bytes()), "write permission");
    }
  }
  check(f->commit(), "commit");
}

double cpuNow() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Wall time; `cpu` (if given) receives the process's CPU time, which a
// machine busy with other work inflates less.
template <class Fn>
double timed(Fn&& fn, double* cpu = nullptr) {
  const double c0 = cpuNow();
  const auto t0 = Clock::now();
  fn();
  if (cpu != nullptr) *cpu = cpuNow() - c0;
  return seconds(Clock::now() - t0);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string base =
      argc > 1
          ? std::string(argv[1])
          : (std::filesystem::temp_directory_path() / ("store_bench-" + std::to_string(::getpid())))
                .string();
  const std::string layerDir = base + "/layer", rawDir = base + "/raw";
  std::printf("store_bench in %s (SQLite %s)\n\n", base.c_str(), sqlite3_libversion());
  std::printf("%-46s %12s %12s %7s %s\n", "sequence", "layer", "raw SQLite", "ratio", "mark");

  // Catalogue run, fresh files.
  freshFiles(layerDir);
  freshFiles(rawDir);
  long ops = 0;
  LayerOps layer(layerDir);
  RawOps raw(rawDir);
  double rawCpu = 0, layerCpu = 0;
  ::sync();  // the set-up's writes out of the way
  const double rawCat = timed([&] { catalogueRun(raw); }, &rawCpu);
  const double rawClose = timed([&] { catalogueClose(raw); });
  ::sync();
  const double layerCat = timed([&] { ops = catalogueRun(layer); }, &layerCpu);
  const double layerClose = timed([&] { catalogueClose(layer); });
  std::printf("%-46s %10.3f s %10.3f s %7.2f %s\n",
              ("catalogue run, " + std::to_string(ops) + " ops, one unit").c_str(), layerCat,
              rawCat, layerCat / rawCat, ("< 1.0 s " + std::string(verdict(layerCat < 1.0)) + ", " + ratioMark(layerCat / rawCat)).c_str());
  std::printf("%-46s %10.3f s %10.3f s %7.2f\n", "  the same, CPU time", layerCpu, rawCpu,
              layerCpu / rawCpu);
  std::printf("%-46s %10.3f s %10.3f s %7.2f\n", "  then closing the three files", layerClose,
              rawClose, layerClose / rawClose);

  // Listing.
  listingFiles(layerDir);
  listingFiles(rawDir);
  const int rounds = 200;
  double layerList = 0, rawList = 0;
  long listOps = 0;
  {
    check(layer.open(datafiles::kMenuFile, false) ? datafiles::kOk : datafiles::kPermanentError,
          "open");
    check(
        layer.open(datafiles::kPermissionFile, false) ? datafiles::kOk : datafiles::kPermanentError,
        "open");
    raw.open(datafiles::kMenuFile, false);
    raw.open(datafiles::kPermissionFile, false);
    listing(layer, 5);  // warm both caches alike
    listing(raw, 5);
    rawList = timed([&] { listing(raw, rounds); });
    layerList = timed([&] { listOps = listing(layer, rounds); });
    layer.close(datafiles::kMenuFile);
    layer.close(datafiles::kPermissionFile);
    raw.close(datafiles::kMenuFile);
    raw.close(datafiles::kPermissionFile);
  }
  const double layerPer = layerList / static_cast<double>(listOps) * 1e6;
  const double rawPer = rawList / static_cast<double>(listOps) * 1e6;
  std::printf("%-46s %9.2f us %9.2f us %7.2f %s\n",
              ("listing, " + std::to_string(listOps) + " ops, per op").c_str(), layerPer, rawPer,
              layerPer / rawPer, ("< 3 us " + std::string(verdict(layerPer < 3.0)) + ", " + ratioMark(layerPer / rawPer)).c_str());

  // Single writes and rewrites, each committed on its own.
  const int writes = 2000;
  double layerW = 0, rawW = 0, layerRw = 0, rawRw = 0, layerRrw = 0, rawRrw = 0;
  double layerFirstW = 0, rawFirstW = 0;
  double layerWCpu = 0, layerRwCpu = 0;
  {
    layer.open(datafiles::kMenuFile, true);
    raw.open(datafiles::kMenuFile, true);
    auto rec = [](int i) {
      datafiles::MenuRecord m;
      m.setKey(500 + i / 500, i % 500);
      return m;
    };
    // The first writes after a file was made grow its log file (the file
    // system allocates each new block); a file in use reuses its log after
    // every checkpoint. Both are shown; the mark is for the file in use.
    auto other = [&](int i) {
      auto m = rec(i);
      m.setKey(700 + i / 500, i % 500);
      return m;
    };
    rawFirstW = timed([&] {
      for (int i = 0; i < writes; ++i) raw.write(datafiles::kMenuFile, other(i).bytes());
    });
    layerFirstW = timed([&] {
      for (int i = 0; i < writes; ++i)
        check(layer.write(datafiles::kMenuFile, other(i).bytes()) ? datafiles::kOk
                                                                  : datafiles::kPermanentError,
              "write");
    });
    rawW = timed([&] {
      for (int i = 0; i < writes; ++i) raw.write(datafiles::kMenuFile, rec(i).bytes());
    });
    layerW = timed(
        [&] {
          for (int i = 0; i < writes; ++i)
            check(layer.write(datafiles::kMenuFile, rec(i).bytes()) ? datafiles::kOk
                                                                    : datafiles::kPermanentError,
                  "write");
        },
        &layerWCpu);
    rawRw = timed([&] {
      for (int i = 0; i < writes; ++i) raw.rewrite(datafiles::kMenuFile, rec(i).bytes());
    });
    layerRw = timed(
        [&] {
          for (int i = 0; i < writes; ++i)
            check(layer.rewrite(datafiles::kMenuFile, rec(i).bytes()) ? datafiles::kOk
                                                                      : datafiles::kPermanentError,
                  "rewrite");
        },
        &layerRwCpu);
    // The usual change: read the record for update, then rewrite it.
    rawRrw = timed([&] {
      for (int i = 0; i < writes; ++i) {
        auto r = rec(i);
        raw.read(datafiles::kMenuFile, r.bytes());
        raw.rewrite(datafiles::kMenuFile, r.bytes());
      }
    });
    layerRrw = timed([&] {
      for (int i = 0; i < writes; ++i) {
        auto r = rec(i);
        check(layer.read(datafiles::kMenuFile, r.bytes()) ? datafiles::kOk
                                                          : datafiles::kPermanentError,
              "read");
        check(layer.rewrite(datafiles::kMenuFile, r.bytes()) ? datafiles::kOk
                                                             : datafiles::kPermanentError,
              "rewrite");
      }
    });
    layer.close(datafiles::kMenuFile);
    raw.close(datafiles::kMenuFile);
  }
  auto us = [&](double s) { return s / writes * 1e6; };
  std::printf("%-46s %9.2f us %9.2f us %7.2f\n", "single write into a new log file", us(layerFirstW),
              us(rawFirstW), layerFirstW / rawFirstW);
  std::printf("%-46s %9.2f us %9.2f us %7.2f %s\n", "single write, committed", us(layerW),
              us(rawW), layerW / rawW, ("< 40 us " + std::string(verdict(us(layerW) < 40)) + ", " + ratioMark(layerW / rawW)).c_str());
  std::printf("%-46s %9.2f us %9.2f us %7.2f %s\n", "single rewrite, committed", us(layerRw),
              us(rawRw), layerRw / rawRw, ("< 40 us " + std::string(verdict(us(layerRw) < 40)) + ", " + ratioMark(layerRw / rawRw)).c_str());
  std::printf("%-46s %9.2f us %9.2f us %7.2f %s\n", "read for update, then rewrite", us(layerRrw),
              us(rawRrw), layerRrw / rawRrw, ratioMark(layerRrw / rawRrw).c_str());
  std::printf("%-46s %9.2f us / %.2f us\n", "  CPU time per write / rewrite", us(layerWCpu),
              us(layerRwCpu));

  // Open and close for input, as the launcher does around every call.
  const int opens = 500;
  for (bool alone : {false, true}) {
    datafiles::SqliteStore store;
    auto keeper = store.file(datafiles::kMenuFile, layerDir);
    if (!alone) check(keeper->open(datafiles::OpenMode::kInput), "open");
    double openS = 0, closeS = 0, openCpu = 0;
    for (int i = 0; i < opens; ++i) {
      auto f = store.file(datafiles::kMenuFile, layerDir);
      double c = 0;
      openS += timed([&] { check(f->open(datafiles::OpenMode::kInput), "open"); }, &c);
      openCpu += c;
      datafiles::MenuRecord m;
      m.setKey(1, 2);
      check(f->read(m.bytes()), "read");
      closeS += timed([&] { (void)f->close(); });
    }
    double rawOpenS = 0;
    for (int i = 0; i < opens; ++i) {
      RawOps r(layerDir);
      rawOpenS += timed([&] { r.open(datafiles::kMenuFile, false); });
      r.close(datafiles::kMenuFile);
    }
    const double perOpen = openS / opens * 1e3;
    std::printf("%-46s %9.3f ms %9.3f ms %7.2f %s\n",
                alone ? "open for input, file otherwise closed" : "open for input, file open elsewhere",
                perOpen, rawOpenS / opens * 1e3, openS / rawOpenS,
                ("< 0.3 ms " + std::string(verdict(perOpen < 0.3)) + ", " + ratioMark(openS / rawOpenS)).c_str());
    std::printf("%-46s %9.3f ms\n", "  CPU time per open", openCpu / opens * 1e3);
    std::printf("%-46s %9.3f ms\n", alone ? "  close, last handle" : "  close", closeS / opens * 1e3);
  }
  if (argc <= 1) {
    std::error_code ec;
    std::filesystem::remove_all(base, ec);
  }
  return 0;
}
