// The real px01 with the real PX00P and PX07 on an installation whose
// permission file cannot be written (a preloaded shim refuses to open it for
// writing, as for a read-only file whoever runs the test): the start's
// catalogue run shows its error box with file, operation and status, changes
// nothing, and the launcher goes on with the menus as they were.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"
#include "testing/store_contents.h"
#include "testing/temp_dir.h"
#include "testing/test_files.h"

namespace {

using testing_support::buildDir;
using testing_support::lines;
using testing_support::readFile;

std::map<std::string, std::map<std::string, std::string>> contents(const std::string& dir) {
  datafiles::SqliteStore store;
  std::map<std::string, std::map<std::string, std::string>> out;
  for (const auto* spec : {&datafiles::kInstallationFile, &datafiles::kMenuFile,
                           &datafiles::kPermissionFile})
    out[std::string(spec->name)] = testing_support::allRecords(store, dir, *spec);
  return out;
}

TEST(LauncherCatalogue, UnwritablePermissionFileShowsTheFailureAndKeepsTheMenus) {
  testing_support::TempDir temp{"px-catalogue-e2e"};
  const std::string root = temp.path(), data = root + "/daten", b = buildDir();
  auto admin = [&](const std::string& args) {
    return std::system((b + "/bin/pxadmin " + args + " >/dev/null 2>&1").c_str());
  };
  ASSERT_EQ(admin("init " + data + " --id GILDAX --option1 N --installation 30005"), 0);
  ASSERT_EQ(admin("user add ADMIN --class M --no-password --dir " + data), 0);
  ASSERT_EQ(admin("user add NORMAL --class N --no-password --dir " + data), 0);
  const auto before = contents(data);

  std::ofstream(root + "/run.script") << "key ESC\nreply J\n";
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string cmd =
      "cd '" + data + "' && env LD_PRELOAD=" + b + "/lib/pxdiskfaults.so PX_FAULT_DIR=" + data +
      " PX_FAULT_READONLY=FX02.DAT ASAN_OPTIONS=verify_asan_link_order=0" +
      (asan != nullptr && *asan != '\0' ? std::string(":") + asan : "") +
      " PX_PROGRAM_PATH=" + b + "/lib/px01/scripted:" + b + "/lib/px01/programs DSGRUN_SCRIPT=" +
      root + "/run.script DSGRUN_TRANSCRIPT=" + root + "/run.jsonl XDG_CONFIG_HOME=" + root +
      "/config " + b + "/bin/px01 ADMIN </dev/null >" + root + "/out.txt 2>&1";
  const int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status)) << readFile(root + "/out.txt");
  EXPECT_EQ(WEXITSTATUS(status), 0) << readFile(root + "/out.txt");

  std::vector<std::string> boxes, menus;
  for (const auto& l : lines(readFile(root + "/run.jsonl"))) {
    if (l.find("\"procedure\":\"BOX-FEHLER-OK\"") != std::string::npos) boxes.push_back(l);
    if (l.find("\"procedure\":\"NEUSTART\"") != std::string::npos) menus.push_back(l);
  }
  ASSERT_EQ(boxes.size(), 1u) << readFile(root + "/run.jsonl");
  EXPECT_NE(boxes[0].find("\"message\":\"Fehler - Programmabbruch\""), std::string::npos)
      << boxes[0];
  EXPECT_NE(boxes[0].find("\"file\":\"FX02\""), std::string::npos) << boxes[0];
  EXPECT_NE(boxes[0].find("\"operation\":\"WRIT\""), std::string::npos) << boxes[0];
  EXPECT_NE(boxes[0].find("\"status_code\":\"30\""), std::string::npos) << boxes[0];
  EXPECT_EQ(menus.size(), 1u);  // the launcher went on to its menu
  EXPECT_EQ(contents(data), before);
}

}  // namespace
