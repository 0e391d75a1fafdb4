// cobol_bench [DIR]: one catalogue-like unit (about 217,000 writes and
// rewrites, write-else-rewrite, on a 58-byte menu file and a 35-byte
// permission file) and a listing (start not less than, read-next), run
//   - from a COBOL program through PXEXTFH (the store),
//   - from the same COBOL program on the run-time's own indexed files,
//   - in C++ directly on the store,
// in one run. Marks: PXEXTFH within 1.5 times the C++ layer on both
// sequences, and ahead of the run-time's own files on the catalogue unit.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "abi/common_area.h"
#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"
#include "platform/dl_program_loader.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMenus = 20, kEntries = 20, kPrograms = 330, kRepeated = 300, kUsers = 600,
              kListedUsers = 600;

struct Result {
  double catalogue = 0, listing = 0;
  long catalogueOps = 0, listingOps = 0;
};

double secondsOf(const std::function<void()>& f) {
  const auto t0 = Clock::now();
  f();
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "cobol_bench: %s\n", what.c_str());
  std::exit(1);
}

// The COBOL program NAME with phase S (setup), C (catalogue), L (listing).
Result runCobol(platform::DlProgramLoader& loader, const char* name) {
  Result r;
  for (const char* phase : {"S", "C", "L"}) {
    pxabi::CommonArea a;
    encoding::putRaw(a.secondWord(), phase);
    const double s = secondsOf([&] {
      const auto out = loader.call(name, a.data());
      if (!out.loaded) fail(std::string(name) + ": " + loader.lastError());
    });
    loader.unload(name);
    const auto text = encoding::trimmed(a.statusText());
    if (!text.empty())
      fail(std::string(name) + " phase " + phase + ": status " + std::string(text));
    const long ops = std::stol(std::string(encoding::view(a.statusValue())));
    if (*phase == 'C') r.catalogue = s, r.catalogueOps = ops;
    if (*phase == 'L') r.listing = s, r.listingOps = ops;
  }
  return r;
}

void check(datafiles::FileStatus s, const char* what) {
  if (!s.ok()) fail(std::string(what) + ": " + s.toString());
}

Result runCxx(const std::string& dir) {
  const datafiles::FileSpec menuSpec{"BMENU.DAT", 58, 6}, permSpec{"BPERM.DAT", 35, 17};
  datafiles::SqliteStore store;
  check(store.create(menuSpec, dir), "create");
  check(store.create(permSpec, dir), "create");
  Result r;
  r.catalogue = secondsOf([&] {
    auto menu = store.file(menuSpec, dir);
    auto perm = store.file(permSpec, dir);
    check(menu->open(datafiles::OpenMode::kInputOutput), "open");
    check(perm->open(datafiles::OpenMode::kInputOutput), "open");
    check(menu->begin(), "begin");
    check(perm->begin(), "begin");
    for (int pass = 0; pass < 2; ++pass)
      for (int m = 1; m <= kMenus; ++m)
        for (int e = 1; e <= kEntries; ++e) {
          datafiles::MenuRecord rec;
          rec.setKey(m, e);
          rec.setText("EINTRAG");
          rec.setProgram("PA60");
          rec.setAccessClass('N');
          ++r.catalogueOps;
          if (!menu->write(rec.bytes()).ok()) {
            ++r.catalogueOps;
            check(menu->rewrite(rec.bytes()), "rewrite");
          }
        }
    char user[11], prog[5];
    for (int p = 0; p < kPrograms; ++p)
      for (int u = 1; u <= kUsers; ++u) {
        std::snprintf(user, sizeof user, "U%06d   ", u);
        std::snprintf(prog, sizeof prog, "P%03d", p % kRepeated);
        datafiles::PermissionRecord rec;
        rec.setKey(1, user, prog);
        rec.setGrantDate("260101");
        rec.setFlag('J');
        ++r.catalogueOps;
        if (!perm->write(rec.bytes()).ok()) {
          ++r.catalogueOps;
          check(perm->rewrite(rec.bytes()), "rewrite");
        }
      }
    check(menu->commit(), "commit");
    check(perm->commit(), "commit");
    (void)menu->close();
    (void)perm->close();
  });
  r.listing = secondsOf([&] {
    auto menu = store.file(menuSpec, dir);
    auto perm = store.file(permSpec, dir);
    check(menu->open(datafiles::OpenMode::kInput), "open");
    check(perm->open(datafiles::OpenMode::kInput), "open");
    for (int m = 1; m <= kMenus; ++m) {
      datafiles::MenuRecord rec;
      rec.setKey(m, 0);
      ++r.listingOps;
      datafiles::FileStatus s = menu->start(datafiles::StartMode::kNotLessThan, rec.bytes(), 6);
      while (s.ok()) {
        ++r.listingOps;
        s = menu->readNext(rec.bytes());
        if (s.ok() && rec.menu() != m) break;
      }
    }
    char user[11];
    for (int u = 1; u <= kListedUsers; ++u) {
      std::snprintf(user, sizeof user, "U%06d   ", u);
      datafiles::PermissionRecord rec;
      rec.setKey(1, user, "");
      encoding::zero(rec.programField());
      encoding::zero(rec.keyBlankField());
      ++r.listingOps;
      datafiles::FileStatus s = perm->start(datafiles::StartMode::kNotLessThan, rec.bytes(), 17);
      while (s.ok()) {
        ++r.listingOps;
        s = perm->readNext(rec.bytes());
        if (s.ok() && rec.userName() != std::string_view(user, 10)) break;
      }
    }
    (void)menu->close();
    (void)perm->close();
  });
  return r;
}

void line(const char* what, double s, long ops) {
  std::printf("  %-34s %8.3f s %9ld ops %10.0f ops/s\n", what, s, ops, ops / s);
}

}  // namespace

int main(int argc, char** argv) {
  std::string base;
  if (argc > 1) {
    base = argv[1];
    std::filesystem::create_directories(base);
  } else {
    char tmpl[] = "/tmp/cobol_bench-XXXXXX";
    base = ::mkdtemp(tmpl);
  }
  const std::string build = platform::installationRoot();
  platform::DlProgramLoader loader({build + "/lib/px01/bench"});
  const auto cwd = std::filesystem::current_path();

  Result x, b, c;
  for (auto [sub, result, fn] :
       {std::tuple{"pxextfh", &x,
                   std::function<Result(const std::string&)>(
                       [&](const std::string&) { return runCobol(loader, "BENCHX"); })},
        std::tuple{"runtime", &b,
                   std::function<Result(const std::string&)>(
                       [&](const std::string&) { return runCobol(loader, "BENCHB"); })},
        std::tuple{"cxx", &c, std::function<Result(const std::string&)>(runCxx)}}) {
    const std::string dir = base + "/" + sub;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    *result = fn(dir);
    std::filesystem::current_path(cwd);
  }
  loader.shutdown();

  std::printf("catalogue-like unit (write-else-rewrite):\n");
  line("COBOL through PXEXTFH (store)", x.catalogue, x.catalogueOps);
  line("COBOL on the run-time's own files", b.catalogue, b.catalogueOps);
  line("C++ on the store", c.catalogue, c.catalogueOps);
  std::printf("listing (start not less than, read-next):\n");
  line("COBOL through PXEXTFH (store)", x.listing, x.listingOps);
  line("COBOL on the run-time's own files", b.listing, b.listingOps);
  line("C++ on the store", c.listing, c.listingOps);
  const double rc = x.catalogue / c.catalogue, rl = x.listing / c.listing;
  const bool sameOps = x.catalogueOps == c.catalogueOps && x.listingOps == c.listingOps &&
                       b.catalogueOps == c.catalogueOps && b.listingOps == c.listingOps;
  std::printf("PXEXTFH / C++: catalogue %.2f, listing %.2f (mark <= 1.5: %s)\n", rc, rl,
              rc <= 1.5 && rl <= 1.5 ? "met" : "missed");
  std::printf(
      "PXEXTFH vs run-time's own files on the catalogue: %.2f times as fast (mark > 1: %s)\n",
      b.catalogue / x.catalogue, x.catalogue < b.catalogue ? "met" : "missed");
  std::printf("same operations in all three: %s\n", sameOps ? "yes" : "NO");
  if (argc <= 1) std::filesystem::remove_all(base);
  return sameOps ? 0 : 1;
}
