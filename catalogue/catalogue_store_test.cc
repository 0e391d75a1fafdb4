// The catalogue run on real files, embedded in a temporary directory or on
// the database server: a run killed in the middle or between its two
// commits, and two runs started at once, end with the same files as one
// undisturbed run.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "abi/common_area.h"
#include "abi/message_area.h"
#include "abi/screen_data_block.h"
#include "catalogue/catalogue_run.h"
#include "datafiles/records.h"
#include "datafiles/store_config.h"
#include "testing/fake_clock.h"
#include "testing/fake_program_loader.h"
#include "testing/fake_screen_set.h"
#include "testing/fault_store.h"
#include "testing/pg_server.h"
#include "testing/temp_dir.h"
#include "testing/test_files.h"

namespace catalogue {
namespace {

using CA = pxabi::CommonArea;
using testing_support::FaultStore;
using testing_support::Op;
constexpr int kClient = 3;

// Kills the process right after a chosen file's commit returned.
class DyingFile : public datafiles::KeyedFile {
 public:
  DyingFile(std::unique_ptr<datafiles::KeyedFile> f, bool dieAfterCommit)
      : f_(std::move(f)), die_(dieAfterCommit) {}
  datafiles::FileStatus open(datafiles::OpenMode m) override { return f_->open(m); }
  datafiles::FileStatus close() override { return f_->close(); }
  bool isOpen() const override { return f_->isOpen(); }
  datafiles::FileStatus read(std::span<char> r) override { return f_->read(r); }
  datafiles::FileStatus start(datafiles::StartMode m, std::span<const char> r,
                              std::size_t n) override {
    return f_->start(m, r, n);
  }
  datafiles::FileStatus readNext(std::span<char> r) override { return f_->readNext(r); }
  datafiles::FileStatus write(std::span<const char> r) override { return f_->write(r); }
  datafiles::FileStatus rewrite(std::span<const char> r) override { return f_->rewrite(r); }
  datafiles::FileStatus remove(std::span<const char> r) override { return f_->remove(r); }
  datafiles::FileStatus unlock() override { return f_->unlock(); }
  datafiles::FileStatus begin() override { return f_->begin(); }
  datafiles::FileStatus commit() override {
    const datafiles::FileStatus s = f_->commit();
    if (die_) ::raise(SIGKILL);
    return s;
  }
  datafiles::FileStatus rollback() override { return f_->rollback(); }
  const datafiles::FileSpec& spec() const override { return f_->spec(); }

 private:
  std::unique_ptr<datafiles::KeyedFile> f_;
  bool die_;
};

class DyingStore : public datafiles::FileStore {
 public:
  explicit DyingStore(std::unique_ptr<datafiles::FileStore> store) : store_(std::move(store)) {}
  std::unique_ptr<datafiles::KeyedFile> file(const datafiles::FileSpec& spec,
                                             std::string_view dir) override {
    return std::make_unique<DyingFile>(store_->file(spec, dir),
                                       spec.name == datafiles::kPermissionFile.name);
  }
  datafiles::FileStatus create(const datafiles::FileSpec& spec, std::string_view dir) override {
    return store_->create(spec, dir);
  }

 private:
  std::unique_ptr<datafiles::FileStore> store_;
};

enum class Store { kFiles, kServer };

class CatalogueStore : public ::testing::TestWithParam<Store> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.path().empty());
    root_ = temp_.path();
  }

  // An installation's directory; on the server, with a px-store.conf that
  // names a schema of its own.
  std::string installation(const std::string& name) {
    const std::string dir = root_ + "/" + name;
    std::filesystem::create_directories(dir);
    if (GetParam() == Store::kServer) {
      auto& server = testing_support::PgTestServer::get();
      EXPECT_TRUE(server.ok()) << server.error();
      std::ofstream(dir + "/px-store.conf") << server.freshSchema() << "\n";
    }
    const auto store = storeOf(dir);
    for (const auto* spec :
         {&datafiles::kUserFile, &datafiles::kMenuFile, &datafiles::kPermissionFile})
      EXPECT_TRUE(store->create(*spec, dir).ok());
    auto users = store->file(datafiles::kUserFile, dir);
    EXPECT_TRUE(users->open(datafiles::OpenMode::kInputOutput).ok());
    for (int i = 0; i < 40; ++i) {
      datafiles::UserRecord u;
      u.setClient(kClient);
      u.setEncodedName("USER" + std::to_string(10 + i));
      u.setUserClass(i % 4 == 0 ? 'H' : 'N');
      (void)users->write(u.bytes());
    }
    (void)users->close();
    return dir;
  }

  // One catalogue run; `dieAtSetUp` kills the process at the first UT00S
  // call, with files open and the build half done.
  static RunReport run(datafiles::FileStore& store, const std::string& dir,
                       bool dieAtSetUp = false) {
    testing_support::FakeScreenSet screen;
    return run(store, dir, screen, dieAtSetUp);
  }
  static RunReport run(datafiles::FileStore& store, const std::string& dir,
                       testing_support::FakeScreenSet& screen, bool dieAtSetUp = false) {
    CA common;
    encoding::putRaw(common.identification(), "GILDAX");
    common.setEditionOption1('N');
    encoding::putRaw(common.installationNumber(), "30005");
    encoding::putRaw(common.versionText(), CA::kVersionConstant);
    encoding::putDigits(common.workingDate(), 261207);
    encoding::zero(common.savedControlBlock());
    common.setClient(kClient);
    testing_support::FakeProgramLoader loader;
    loader.add("U001", [](void*, void*) { return 0; });
    loader.add("UT00S", [dieAtSetUp](void*, void*) {
      if (dieAtSetUp) ::raise(SIGKILL);
      return 0;
    });
    RunOptions options;
    options.directory = dir;
    return runCatalogue(common, store, loader, screen, options);
  }

  // Runs `body` in a child process; returns how the child ended.
  template <class Body>
  static int inChild(Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      body();
      ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
  }

  // The store of the installation in `dir`, as px01 chooses it.
  static std::unique_ptr<datafiles::InstallationStore> storeOf(const std::string& dir) {
    return datafiles::openStore(dir, nullptr);
  }
  // The file out of sight (renamed), and back.
  void hide(const datafiles::FileSpec& spec, const std::string& dir, bool away) {
    const std::string name(spec.name);
    if (GetParam() == Store::kServer) {
      const std::string table = name.substr(0, 4);
      const std::string conninfo = testing_support::readFile(dir + "/px-store.conf");
      EXPECT_EQ(testing_support::PgTestServer::get().sql(
                    conninfo, away ? "ALTER TABLE " + table + " RENAME TO " + table + "_away"
                                   : "ALTER TABLE " + table + "_away RENAME TO " + table),
                "");
    } else {
      const std::string path = dir + "/" + name;
      away ? std::filesystem::rename(path, path + ".away")
           : std::filesystem::rename(path + ".away", path);
    }
  }

  static std::map<std::string, std::string> dump(const datafiles::FileSpec& spec,
                                                 const std::string& dir) {
    const auto store = storeOf(dir);
    auto f = store->file(spec, dir);
    std::map<std::string, std::string> out;
    EXPECT_TRUE(f->open(datafiles::OpenMode::kInput).ok());
    std::string rec(spec.recordLength, '\0');
    if (f->start(datafiles::StartMode::kNotLessThan, rec, spec.keyLength).ok())
      while (f->readNext(rec).ok()) out[rec.substr(0, spec.keyLength)] = rec;
    (void)f->close();
    return out;
  }

  testing_support::TempDir temp_{"catalogue_store_test"};
  std::string root_;
};

TEST_P(CatalogueStore, KilledRunsLeaveTheOldStampAndTheRerunCompletes) {
  const std::string reference = installation("reference");
  ASSERT_EQ(run(*storeOf(reference), reference).outcome, RunOutcome::kComplete);
  const auto menus = dump(datafiles::kMenuFile, reference);
  const auto permissions = dump(datafiles::kPermissionFile, reference);
  ASSERT_GT(permissions.size(), 30u * 100);

  struct Case {
    const char* name;
    bool dieAtSetUp;
  };
  for (const Case c : {Case{"mid-build", true}, Case{"between-commits", false}}) {
    SCOPED_TRACE(c.name);
    const std::string dir = installation(c.name);
    const int status = inChild([&] {
      DyingStore dying(storeOf(dir));
      const auto plain = storeOf(dir);
      if (c.dieAtSetUp)
        run(*plain, dir, true);
      else
        run(dying, dir);
    });
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    // Nothing of the menus is visible: no stamp, no entry.
    EXPECT_TRUE(dump(datafiles::kMenuFile, dir).empty());
    EXPECT_EQ(dump(datafiles::kPermissionFile, dir).empty(), c.dieAtSetUp);
    const RunReport rerun = run(*storeOf(dir), dir);
    EXPECT_EQ(rerun.outcome, RunOutcome::kComplete);
    EXPECT_EQ(dump(datafiles::kMenuFile, dir), menus);
    EXPECT_EQ(dump(datafiles::kPermissionFile, dir), permissions);
  }
}

TEST_P(CatalogueStore, TwoWorkstationsAtOnceEndAsOneRun) {
  const std::string reference = installation("reference");
  ASSERT_EQ(run(*storeOf(reference), reference).outcome, RunOutcome::kComplete);
  const std::string dir = installation("shared");
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  std::vector<pid_t> children;
  for (int i = 0; i < 2; ++i) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      char c;
      (void)!::read(go[0], &c, 1);
      const auto own = storeOf(dir);
      ::_exit(run(*own, dir).outcome == RunOutcome::kComplete ? 0 : 1);
    }
    children.push_back(pid);
  }
  ASSERT_EQ(::write(go[1], "xx", 2), 2);
  for (pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  ::close(go[0]);
  ::close(go[1]);
  EXPECT_EQ(dump(datafiles::kMenuFile, dir), dump(datafiles::kMenuFile, reference));
  EXPECT_EQ(dump(datafiles::kPermissionFile, dir), dump(datafiles::kPermissionFile, reference));
}

// Another workstation keeps its unit on the menu file open: the run waits
// boundedly, says the file is locked, and changes nothing.
TEST_P(CatalogueStore, GivesUpOnAMenuFileHeldElsewhere) {
  const std::string dir = installation("held");
  const auto files = storeOf(dir);
  datafiles::FileStore& store = *files;
  auto other = store.file(datafiles::kMenuFile, dir);
  ASSERT_TRUE(other->open(datafiles::OpenMode::kInputOutput).ok());
  ASSERT_TRUE(other->begin().ok());
  CA common;
  encoding::putRaw(common.versionText(), CA::kVersionConstant);
  encoding::zero(common.savedControlBlock());
  testing_support::FakeProgramLoader loader;
  testing_support::FakeScreenSet screen;
  RunOptions options;
  options.directory = dir;
  options.lockWait = std::chrono::milliseconds(50);
  const RunReport r = runCatalogue(common, store, loader, screen, options);
  EXPECT_EQ(r.outcome, RunOutcome::kOpenFailed);
  EXPECT_EQ(r.failedFile, "FX01 ");
  ASSERT_EQ(screen.calls().size(), 1u);
  EXPECT_EQ(screen.calls()[0].message(), "Datei zur Zeit gesperrt - Programmabbruch");
  EXPECT_EQ(screen.calls()[0].detail().substr(0, 9), "FX01 OPEN");
  (void)other->rollback();
  (void)other->close();
  EXPECT_TRUE(dump(datafiles::kMenuFile, dir).empty());
}

// An open that fails: one box by status class, no further open, no change.
TEST_P(CatalogueStore, OpenFailures) {
  struct Case {
    const char* file;
    datafiles::FileStatus status;
    const char* text;
    const char* code;
  };
  const Case cases[] = {
      {"FX01.DAT", datafiles::kFileLocked, "Datei zur Zeit gesperrt - Programmabbruch", "FX01 "},
      {"FX00.DAT", datafiles::kTooManyLocks, "Datei zur Zeit gesperrt - Programmabbruch", "FX00 "},
      {"FX01.DAT", datafiles::kIndexDamaged, "Datei muß reorganisiert werden - Programmabbruch",
       "FX01 "},
      {"FX02.DAT", datafiles::kAttributeMismatch,
       "Datei muß reorganisiert werden - Programmabbruch", "FX02 "},
      {"FX02.DAT", datafiles::kFileMissing, "Fehler - Programmabbruch", "FX02 "},
  };
  const std::string dir = installation("faults");
  const auto files = storeOf(dir);
  datafiles::FileStore& sqlite = *files;
  ASSERT_EQ(run(sqlite, dir).outcome, RunOutcome::kComplete);
  const auto menus = dump(datafiles::kMenuFile, dir);
  const auto permissions = dump(datafiles::kPermissionFile, dir);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    FaultStore store(sqlite);
    if (c.status == datafiles::kFileMissing)
      hide(datafiles::kPermissionFile, dir, true);
    else
      store.fail(c.file, Op::kOpen, c.status);
    testing_support::FakeScreenSet screen;
    const RunReport r = run(store, dir, screen);
    if (c.status == datafiles::kFileMissing) hide(datafiles::kPermissionFile, dir, false);
    EXPECT_EQ(r.outcome, RunOutcome::kOpenFailed);
    EXPECT_EQ(r.failedFile, c.code);
    ASSERT_EQ(screen.calls().size(), 1u);
    const auto& box = screen.calls().back();
    EXPECT_EQ(box.procedure, "BOX-FEHLER-OK");
    using SDB = pxabi::ScreenDataBlock;
    const pxabi::MessageArea message = box.messageArea();
    EXPECT_EQ(encoding::getText(message.text()), c.text);
    EXPECT_EQ(encoding::view(message.fileCode()), c.code);
    EXPECT_EQ(encoding::view(message.operation()), "OPEN");
    EXPECT_EQ(message.status(), c.status.raw());
    EXPECT_EQ(encoding::view(box.block().message()).substr(message.kSize),
              std::string(SDB::kMessage.width - message.kSize, ' '));
    // No file after the failed one is opened; those opened are closed again.
    bool after = false;
    for (const char* file : {"FX00.DAT", "FX01.DAT", "FX02.DAT"}) {
      const bool failed = std::string(file) == c.file;
      if (after) {
        EXPECT_EQ(store.calls(file, Op::kOpen), 0) << file;
      }
      EXPECT_EQ(store.calls(file, Op::kOpen) - (failed ? 1 : 0), store.calls(file, Op::kClose))
          << file;
      after = after || failed;
    }
    EXPECT_EQ(dump(datafiles::kMenuFile, dir), menus);
    EXPECT_EQ(dump(datafiles::kPermissionFile, dir), permissions);
  }
}

// A record that another workstation holds only briefly is waited for; one
// that stays held ends the run without changing a file.
TEST_P(CatalogueStore, LocksHeldElsewhere) {
  const std::string dir = installation("locks");
  const auto files = storeOf(dir);
  datafiles::FileStore& sqlite = *files;
  testing_support::FakeClock clock;
  auto runWith = [&](FaultStore& store) {
    CA common;
    encoding::putRaw(common.identification(), "GILDAX");
    encoding::putRaw(common.versionText(), CA::kVersionConstant);
    encoding::zero(common.savedControlBlock());
    common.setClient(kClient);
    testing_support::FakeProgramLoader loader;
    loader.add("U001", [](void*, void*) { return 0; });
    loader.add("UT00S", [](void*, void*) { return 0; });
    testing_support::FakeScreenSet screen;
    RunOptions options;
    options.directory = dir;
    options.clock = &clock;
    return runCatalogue(common, store, loader, screen, options);
  };
  {
    // Two reads of the user scan meet a lock: the scan waits and finds everyone.
    FaultStore store(sqlite);
    store.fail("FX00.DAT", Op::kReadNext, datafiles::kRecordLocked, 2);
    const RunReport r = runWith(store);
    EXPECT_EQ(r.outcome, RunOutcome::kComplete);
    EXPECT_EQ(r.counts.normalUsers, 30);
    EXPECT_GT(clock.slept().count(), 0);
  }
  {
    // The menu file's unit stays held elsewhere: given up after the bounded wait.
    FaultStore store(sqlite);
    store.fail("FX01.DAT", Op::kBegin, datafiles::kFileLocked, -1);
    const auto menus = dump(datafiles::kMenuFile, dir);
    const auto sleptBefore = clock.slept();
    const RunReport r = runWith(store);
    EXPECT_EQ(r.outcome, RunOutcome::kOpenFailed);
    EXPECT_EQ(r.failedStatus, datafiles::kFileLocked);
    EXPECT_GE(clock.slept() - sleptBefore, std::chrono::milliseconds(10000));
    EXPECT_EQ(dump(datafiles::kMenuFile, dir), menus);
  }
}

INSTANTIATE_TEST_SUITE_P(Stores, CatalogueStore, ::testing::Values(Store::kFiles, Store::kServer),
                         [](const ::testing::TestParamInfo<Store>& info) {
                           return info.param == Store::kFiles ? "Files" : "Server";
                         });

}  // namespace
}  // namespace catalogue
