// pxadmin on files it cannot write, damaged or missing files, files in use,
// and processes killed in the middle: every verb either does its work or
// ends non-zero saying why, and a failed verb changes nothing. Read-only
// files and a full disk come from a preloaded shim (testing/disk_faults.c),
// so that the tests run the same for root and in containers.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"
#include "testing/store_contents.h"
#include "testing/temp_dir.h"
#include "testing/test_files.h"

namespace {

namespace fs = std::filesystem;
using Result = testing_support::CommandResult;

const datafiles::FileSpec* const kFiles[] = {&datafiles::kInstallationFile, &datafiles::kUserFile,
                                             &datafiles::kMenuFile, &datafiles::kPermissionFile};

std::string bin() { return testing_support::buildDir() + "/bin"; }

Result pxadmin(const std::string& args, const std::string& env = "") {
  return testing_support::runCommand(env + " " + bin() + "/pxadmin " + args);
}

// The environment that preloads the shim for `dir`. The sanitizers' runtime
// may come after it.
std::string faults(const std::string& dir, const std::string& settings) {
  const char* asan = std::getenv("ASAN_OPTIONS");
  return "env LD_PRELOAD=" + testing_support::buildDir() +
         "/lib/pxdiskfaults.so ASAN_OPTIONS=verify_asan_link_order=0" +
         (asan != nullptr && *asan != '\0' ? std::string(":") + asan : "") + " PX_FAULT_DIR=" +
         dir + " " + settings;
}

// Every record of the four files, by file.
using Contents = std::map<std::string, std::map<std::string, std::string>>;
Contents contents(const std::string& dir) {
  datafiles::SqliteStore store;
  Contents out;
  for (const auto* spec : kFiles)
    out[std::string(spec->name)] = testing_support::allRecords(store, dir, *spec);
  return out;
}

class PxadminFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp.path().empty());
    root = temp.path();
  }
  // A GILDAX installation with two normal users and application 5.
  std::string installation(const std::string& name) {
    const std::string dir = root + "/" + name;
    EXPECT_EQ(pxadmin("init " + dir + " --id GILDAX --option1 N --installation 30005").exitCode,
              0);
    for (const char* user : {"ANNA", "BERT"})
      EXPECT_EQ(pxadmin("user add " + std::string(user) + " --no-password --dir " + dir).exitCode,
                0);
    EXPECT_EQ(pxadmin("app install 5 --name Mitglieder --dir " + dir).exitCode, 0);
    return dir;
  }
  std::string copyOf(const std::string& dir, const std::string& name) {
    const std::string to = root + "/" + name;
    fs::remove_all(to);
    fs::copy(dir, to, fs::copy_options::recursive);
    return to;
  }

  testing_support::TempDir temp{"pxadmin-faults"};
  std::string root;
};

// The catalogue cannot write a menu, permission or installation file: it
// ends 1 naming the file, the operation and the status, and nothing changed.
TEST_F(PxadminFaults, CatalogueOnReadOnlyFilesChangesNothing) {
  const std::string base = installation("base");
  const Contents before = contents(base);
  for (const char* file : {"FX01.DAT", "FX02.DAT", "FT00.DAT"}) {
    SCOPED_TRACE(file);
    const std::string dir = copyOf(base, "ro");
    const Result r =
        pxadmin("catalogue --dir " + dir, faults(dir, std::string("PX_FAULT_READONLY=") + file));
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find(std::string(file) + ": WRIT status 30"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("nothing changed"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Fehler - Programmabbruch"), std::string::npos) << r.out;
    EXPECT_EQ(contents(dir), before);
  }
}

// A disk that fills up at any point of the run: the catalogue either builds
// the menus whole, or ends 1 and changes nothing, or (when even taking back
// what it had committed fails) says exactly what stays.
TEST_F(PxadminFaults, CatalogueOnAFullDiskEndsNonZeroAndSaysWhatChanged) {
  const std::string base = installation("base");
  const Contents before = contents(base);
  const std::string whole = copyOf(base, "whole");
  ASSERT_EQ(pxadmin("catalogue --dir " + whole).exitCode, 0);
  const Contents built = contents(whole);
  ASSERT_NE(built, before);
  int unchanged = 0, atCommit = 0, complete = 0;
  for (int space = 0; space <= 400000; space += 10000) {
    SCOPED_TRACE("room for " + std::to_string(space) + " bytes");
    const std::string dir = copyOf(base, "full");
    const Result r =
        pxadmin("catalogue --dir " + dir, faults(dir, "PX_FAULT_SPACE=" + std::to_string(space)));
    const Contents after = contents(dir);
    if (r.exitCode == 0) {
      EXPECT_EQ(after, built);
      ++complete;
      continue;
    }
    ASSERT_EQ(r.exitCode, 1) << r.out;
    if (r.out.find("nothing changed") != std::string::npos) {
      EXPECT_EQ(after, before) << r.out;
      ++unchanged;
      atCommit += r.out.find("REWR status 30") != std::string::npos;
    } else {
      // Only the permission records of the run may stay, and it says so.
      EXPECT_NE(r.out.find("but FX02: "), std::string::npos) << r.out;
      for (const char* file : {"FT00.DAT", "FX00.DAT", "FX01.DAT"})
        EXPECT_EQ(after.at(file), before.at(file)) << file;
    }
  }
  EXPECT_GT(unchanged, 0);
  EXPECT_GT(atCommit, 0);  // a run that got as far as its commits
  EXPECT_GT(complete, 0);
}

}  // namespace
