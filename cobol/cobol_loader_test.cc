// Calling COBOL programs by name: the run-time starts only for a COBOL
// module, RETURN-CODE comes back, unloading goes through the run-time's
// CANCEL (files closed, WORKING-STORAGE fresh, module unmapped), and the
// host's signal handlers and locale survive the run-time's start.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <clocale>

#include "abi/common_area.h"
#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"
#include "platform/dl_program_loader.h"
#include "testing/cobol_support.h"

namespace {

using testing_support::DataDir;
using testing_support::testProgramDir;

platform::DlProgramLoader cobolLoader() {
  return platform::DlProgramLoader(testing_support::cobolProgramPath(),
                                   testing_support::cobolHandler());
}

pxabi::CommonArea commonArea(std::string_view secondWord = {}) {
  pxabi::CommonArea a;
  encoding::putRaw(a.secondWord(), secondWord);
  return a;
}

// Store files PXEXTFH holds open in this process (-1: it is not loaded).
int extfhOpenFiles() {
  auto f = reinterpret_cast<int (*)()>(::dlsym(RTLD_DEFAULT, "PxExtfhOpenFiles"));
  return f != nullptr ? f() : -1;
}

bool mapped(const std::string& module) {
  void* h = ::dlopen(module.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (h != nullptr) ::dlclose(h);
  return h != nullptr;
}

TEST(CobolLoader, ModuleThatIsNotCobolNeverStartsTheRuntime) {
  auto loader = cobolLoader();
  pxabi::CommonArea a = commonArea();
  const auto out = loader.call("TPLAIN", a.data());
  ASSERT_TRUE(out.loaded) << loader.lastError();
  EXPECT_EQ(out.returnCode, 7);
  loader.unload("TPLAIN");
  EXPECT_FALSE(loader.cobolStarted());
  EXPECT_FALSE(testing_support::libcobMapped());
}

TEST(CobolLoader, ReturnCodeStateUntilUnloadAndFreshWorkingStorageAfter) {
  auto loader = cobolLoader();
  pxabi::CommonArea a = commonArea();
  EXPECT_EQ(loader.call("TWS", a.data()).returnCode, 1);
  EXPECT_TRUE(loader.cobolStarted());
  EXPECT_EQ(loader.call("TWS", a.data()).returnCode, 2);  // still loaded: state kept
  const std::string module = testProgramDir() + "/TWS.so";
  EXPECT_TRUE(mapped(module));
  loader.unload("TWS");
  EXPECT_TRUE(loader.lastError().empty()) << loader.lastError();
  EXPECT_FALSE(mapped(module));
  EXPECT_EQ(loader.call("TWS", a.data()).returnCode, 1);  // fresh WORKING-STORAGE
  EXPECT_EQ(encoding::view(a.statusValue()), "000001");
  loader.unload("TWS");
}

TEST(CobolLoader, HostSignalHandlersAndLocaleSurviveTheStart) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    // In a child: the run-time's start happens once per process.
    struct sigaction mine {};
    mine.sa_handler = [](int) {};
    ::sigaction(SIGTERM, &mine, nullptr);
    ::sigaction(SIGINT, &mine, nullptr);
    struct sigaction segv {};
    ::sigaction(SIGSEGV, nullptr, &segv);  // the default, or a sanitizer's
    const std::string locale = std::setlocale(LC_ALL, nullptr);
    auto loader = cobolLoader();
    pxabi::CommonArea a = commonArea();
    if (!loader.call("TWS", a.data()).loaded || !loader.cobolStarted()) ::_exit(1);
    struct sigaction now {};
    ::sigaction(SIGTERM, nullptr, &now);
    if (now.sa_handler != mine.sa_handler) ::_exit(2);
    ::sigaction(SIGINT, nullptr, &now);
    if (now.sa_handler != mine.sa_handler) ::_exit(3);
    ::sigaction(SIGSEGV, nullptr, &now);
    if (now.sa_handler != segv.sa_handler) ::_exit(4);  // not the run-time's reporter
    if (std::setlocale(LC_ALL, nullptr) != locale) ::_exit(5);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

void addMenuRecord(int menu, int entry, std::string_view text) {
  datafiles::SqliteStore store;
  auto f = store.file(datafiles::kMenuFile);
  ASSERT_TRUE(f->open(datafiles::OpenMode::kInputOutput).ok());
  datafiles::MenuRecord r;
  r.setKey(menu, entry);
  r.setText(text);
  ASSERT_TRUE(f->write(r.bytes()).ok());
  ASSERT_TRUE(f->close().ok());
}

// GnuCOBOL 3.1.2 crashes in the CANCEL of a -fcallfh module after it opened
// a file, closed or not. Both ways, repeatedly; the file is free after.
TEST(CobolLoader, UnloadAfterOpenClosesTheFileAndDoesNotCrash) {
  DataDir dir;
  addMenuRecord(1, 1, "ERSTER EINTRAG");
  auto loader = cobolLoader();
  for (const char* mode : {"C", "", "C", ""}) {
    SCOPED_TRACE(*mode == 'C' ? "closed by the program" : "left open");
    pxabi::CommonArea a = commonArea(mode);
    const auto out = loader.call("TLOOP", a.data());
    ASSERT_TRUE(out.loaded) << loader.lastError();
    EXPECT_EQ(out.returnCode, 0);
    EXPECT_EQ(encoding::trimmed(a.statusText()), "ERSTER EINTRAG");
    EXPECT_EQ(extfhOpenFiles(), *mode == 'C' ? 0 : 1);
    loader.unload("TLOOP");
    EXPECT_TRUE(loader.lastError().empty()) << loader.lastError();
    EXPECT_EQ(extfhOpenFiles(), 0);
    // Nobody holds the file any more: maintenance can have it alone.
    datafiles::SqliteStore store;
    auto f = store.file(datafiles::kMenuFile);
    EXPECT_TRUE(f->open(datafiles::OpenMode::kExclusive).ok());
    (void)f->close();
  }
}

// A program CALLed from COBOL is loaded by the run-time; the launcher's
// unload by name (its unload list) cancels it all the same.
TEST(CobolLoader, ProgramsCalledFromCobolAreUnloadedByName) {
  auto loader = cobolLoader();
  pxabi::CommonArea a = commonArea();
  EXPECT_EQ(loader.call("TCALLER", a.data()).returnCode, 1);
  EXPECT_EQ(loader.call("TCALLER", a.data()).returnCode, 2);
  loader.unload("TCALLER");
  EXPECT_EQ(loader.call("TCALLER", a.data()).returnCode, 3);  // TWS stayed loaded
  loader.unload("TCALLER");
  loader.unload("TWS");
  EXPECT_EQ(loader.call("TCALLER", a.data()).returnCode, 1);
  loader.unload("TCALLER");
  loader.unload("TWS");
  EXPECT_FALSE(mapped(testProgramDir() + "/TWS.so"));
  EXPECT_EQ(loader.call("TWS", a.data()).returnCode, 1);
  loader.unload("TWS");
}

// A C++ program that a COBOL program CALLed is held by the run-time as well
// as by the loader: unloading it by name lets both go, so that its next call
// starts it fresh.
TEST(CobolLoader, ProgramHeldByLoaderAndRuntimeIsFreshAfterUnload) {
  auto loader = cobolLoader();
  pxabi::CommonArea a = commonArea();
  EXPECT_EQ(loader.call("PXTST1", a.data()).returnCode, 1);
  encoding::putRaw(a.nextProgram1(), "PXTST1");
  EXPECT_EQ(loader.call("TCALLER", a.data()).returnCode, 2);  // the same loaded copy
  loader.unload("TCALLER");
  loader.unload("PXTST1");
  EXPECT_FALSE(mapped(testProgramDir() + "/PXTST1.so"));
  EXPECT_EQ(loader.call("PXTST1", a.data()).returnCode, 1);
  loader.unload("PXTST1");
}

TEST(CobolLoader, AfterShutdownCobolProgramsNoLongerLoadOthersDo) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    auto loader = cobolLoader();
    pxabi::CommonArea a = commonArea();
    if (!loader.call("TWS", a.data()).loaded) ::_exit(1);
    loader.shutdown();
    if (loader.call("TWS", a.data()).loaded) ::_exit(2);
    if (loader.lastError().find("shut down") == std::string::npos) ::_exit(3);
    if (!loader.call("TPLAIN", a.data()).loaded) ::_exit(4);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(CobolLoader, MissingHandlerLibraryMakesCobolProgramsUnloadable) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    platform::DlProgramLoader loader(testing_support::cobolProgramPath(),
                                     "/nonexistent/libpxextfh.so");
    pxabi::CommonArea a = commonArea();
    if (loader.call("TWS", a.data()).loaded || loader.lastError().empty()) ::_exit(1);
    if (loader.call("TWS", a.data()).loaded) ::_exit(2);  // and it stays so
    if (!loader.call("TPLAIN", a.data()).loaded) ::_exit(3);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
