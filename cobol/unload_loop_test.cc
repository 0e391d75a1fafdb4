// unload_loop N: N times load TLOOP (a COBOL program that opens the menu
// file, reads a record and returns, every other time without closing it),
// call it and unload it, the way the launcher calls a function program.
// Fails when a call or an unload goes wrong, or when the resident memory or
// the heap in use grows after the first tenth of the loop (the warm-up).
// Under AddressSanitizer only the memory measurement is left out: its
// quarantine keeps freed memory on purpose.
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "abi/common_area.h"
#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"
#include "platform/dl_program_loader.h"
#include "testing/temp_dir.h"

namespace {

long residentKiB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMeasureMemory = false;
#else
constexpr bool kMeasureMemory = true;
#endif

int fail(const std::string& what) {
  std::fprintf(stderr, "unload_loop: %s\n", what.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 1000;
  const std::string build = platform::installationRoot();
  testing_support::TempDir dir("px-unload");
  const auto oldDir = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  {
    datafiles::SqliteStore store;
    if (!store.create(datafiles::kMenuFile).ok()) return fail("cannot make FX01.DAT");
    auto f = store.file(datafiles::kMenuFile);
    datafiles::MenuRecord r;
    r.setKey(1, 1);
    r.setText("SCHLEIFE");
    if (!f->open(datafiles::OpenMode::kInputOutput).ok() || !f->write(r.bytes()).ok())
      return fail("cannot write FX01.DAT");
    (void)f->close();
  }
  platform::DlProgramLoader loader({build + "/lib/px01/testprograms"});
  const int warmup = n / 10 > 0 ? n / 10 : 1;
  long rssBase = 0;
  std::size_t heapBase = 0;
  for (int i = 0; i < n; ++i) {
    pxabi::CommonArea a;
    encoding::putRaw(a.secondWord(), i % 2 == 0 ? "C" : "");
    const auto out = loader.call("TLOOP", a.data());
    if (!out.loaded || out.returnCode != 0 || encoding::trimmed(a.statusText()) != "SCHLEIFE" ||
        encoding::view(a.statusValue()) != "000001")
      return fail("call " + std::to_string(i) + " failed: " + loader.lastError());
    loader.unload("TLOOP");
    if (!loader.lastError().empty())
      return fail("unload " + std::to_string(i) + ": " + loader.lastError());
    if (i + 1 == warmup) {
      rssBase = residentKiB();
      heapBase = ::mallinfo2().uordblks;
    }
  }
  const long rssGrowth = residentKiB() - rssBase;
  const long heapGrowth = static_cast<long>(::mallinfo2().uordblks) - static_cast<long>(heapBase);
  loader.shutdown();
  std::filesystem::current_path(oldDir);
  if (!kMeasureMemory) {
    std::printf("unload_loop: %d calls; memory not measured under the sanitizer\n", n);
    return 0;
  }
  std::printf(
      "unload_loop: %d calls; after the warm-up of %d: resident %+ld KiB, heap in use "
      "%+ld bytes\n",
      n, warmup, rssGrowth, heapGrowth);
  // A leak of 100 bytes per call would show as about 88 KiB over 900 calls.
  if (rssGrowth > 64 || heapGrowth > 16 * 1024) return fail("memory grows");
  return 0;
}
