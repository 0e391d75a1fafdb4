// pxadmin on installations whose files are on the database server: init
// --server, migrate both ways, and the verbs, check, backup and restore on
// either store, run as the administrator runs them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "datafiles/pg_store.h"
#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"
#include "datafiles/store_config.h"
#include "testing/pg_fixture.h"
#include "testing/store_contents.h"
#include "testing/temp_dir.h"
#include "testing/test_files.h"

namespace {

namespace fs = std::filesystem;
using Result = testing_support::CommandResult;

const datafiles::FileSpec* const kAll[] = {&datafiles::kInstallationFile, &datafiles::kUserFile,
                                           &datafiles::kMenuFile, &datafiles::kPermissionFile};

// pxadmin sits beside this test in the build tree.
Result pxadmin(const std::string& args) {
  const std::string tool = (fs::read_symlink("/proc/self/exe").parent_path() / "pxadmin").string();
  return testing_support::runCommand(tool + " " + args);
}

// One word for the shell (connection strings hold quotes themselves).
std::string word(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::vector<std::string> namesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class PxadminServer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.server.ok()) << server.server.error();
    ASSERT_FALSE(server.conninfo.empty());
    dir = temp.path();
  }
  // Every record of the installation in `inst`, through the store it uses.
  std::map<std::string, std::map<std::string, std::string>> records(const std::string& inst) {
    std::map<std::string, std::map<std::string, std::string>> all;
    const auto store = datafiles::openStore(inst, nullptr);
    for (const datafiles::FileSpec* spec : kAll)
      all[std::string(spec->name)] = testing_support::allRecords(*store, inst, *spec);
    return all;
  }
  std::string dumps(const std::string& inst) {
    std::string out;
    for (const datafiles::FileSpec* spec : kAll)
      out += pxadmin("dump " + inst + "/" + std::string(spec->name) + " --csv").out;
    return out;
  }
  // An embedded installation with users, menus and permissions.
  void embeddedInstallation(const std::string& inst) {
    ASSERT_EQ(pxadmin("init " + inst +
                      " --id GILDAX --club 'TV Grün' --option1 N "
                      "--installation 30005 --client 1")
                  .exitCode,
              0);
    for (const char* user : {"ADMIN --class M", "MEIER --class N", "SCHULZ --class N"})
      ASSERT_EQ(pxadmin(std::string("user add ") + user + " --no-password --dir " + inst).exitCode,
                0);
    const Result c = pxadmin("catalogue --dir " + inst);
    ASSERT_EQ(c.exitCode, 0) << c.out;
    ASSERT_EQ(pxadmin("revoke MEIER PA62 --client 1 --dir " + inst).exitCode, 0);
  }

  testing_support::ServerFixture server;
  testing_support::TempDir temp{"pxadmin-server"};
  std::string dir;
};

TEST_F(PxadminServer, InitMakesTheTablesAndPxStoreConf) {
  const std::string inst = dir + "/club";
  Result r = pxadmin("init " + inst + " --server " + word(server.conninfo) +
                     " --id GILDAX --club 'TV Grün' --client 4");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(namesIn(inst), std::vector<std::string>{"px-store.conf"});
  const datafiles::StoreChoice choice = datafiles::chooseStore(inst);
  EXPECT_EQ(choice.kind, datafiles::StoreChoice::Kind::kServer) << choice.error;
  EXPECT_EQ(choice.conninfo, server.conninfo);
  EXPECT_EQ(server.value("SELECT string_agg(file, ' ' ORDER BY file) FROM px_layout"),
            "ft00 fx00 fx01 fx02 fxau");
  r = pxadmin("audit --event INIT --dir " + inst);
  EXPECT_NE(r.out.find("\n1 record\n"), std::string::npos) << r.out;
  r = pxadmin("dump " + inst + "/FT00.DAT --csv");
  EXPECT_NE(r.out.find("0,0,0,GILDAX,TV Grün,,,,,,4,,N,"), std::string::npos) << r.out;
  for (const datafiles::FileSpec* spec : kAll)
    EXPECT_EQ(server.store.checkIntegrity(*spec, {}, nullptr), datafiles::kOk) << spec->name;

  struct Case {
    const char* what;
    std::string args;
    int exitCode;
    std::string output;
  };
  const std::string other = dir + "/other";
  const Case cases[] = {
      {"the tables exist", "init " + other + " --server " + word(server.conninfo), 1,
       "holds FT00.DAT already"},
      {"px-store.conf exists", "init " + inst + " --server " + word(server.conninfo), 1,
       "exists already"},
      {"not a connection string", "init " + other + " --server 'host=a nonsense'", 2,
       "not a connection string"},
      {"an identification too long",
       "init " + other + " --server " + word(server.conninfo) + " --id GILDAX2", 2, "--id"},
      {"no server there", "init " + other + " --server 'host=/nonexistent-folder dbname=x'", 1,
       "/nonexistent-folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    r = pxadmin(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out;
    EXPECT_NE(r.out.find(c.output), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(other)) << "nothing made";
  }
  // Beside embedded files: refused.
  ASSERT_EQ(pxadmin("init " + other).exitCode, 0);
  testing_support::ServerFixture second;
  r = pxadmin("init " + other + " --server " + word(second.conninfo));
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_EQ(second.value("SELECT count(*) FROM pg_tables WHERE schemaname = current_schema()"),
            "0");

  // A password in the connection string: px-store.conf for its owner only.
  const std::string secret = dir + "/secret";
  r = pxadmin("init " + secret + " --server " + word(second.conninfo + " password=geheim"));
  ASSERT_EQ(r.exitCode, 0) << r.out;
  struct stat st {};
  ASSERT_EQ(::stat((secret + "/px-store.conf").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(pxadmin("status --dir " + secret).exitCode, 0);
}

// The verbs on an installation whose px-store.conf names the server: they
// work on its tables, and leave no embedded file in the directory.
TEST_F(PxadminServer, VerbsWorkOnTheServerThatPxStoreConfNames) {
  const std::string inst = dir + "/inst";
  ASSERT_EQ(pxadmin("init " + inst + " --server " + word(server.conninfo) +
                    " --id GILDAX --option1 N --installation 30005")
                .exitCode,
            0);
  struct Step {
    std::string args;
    int exitCode;
    std::string output;
  };
  const Step steps[] = {
      {"lock --dir " + inst, 0, "flag \"J\""},
      {"status --dir " + inst, 0, "System locked"},
      {"user add MEIER --class N --no-password --dir " + inst, 0, "added"},
      {"user list --dir " + inst, 0, "MEIER"},
      {"grant MEIER PA64 --dir " + inst, 0, "may call"},
      {"permissions MEIER --dir " + inst, 0, "PA64"},
      {"app install 17 --name Aufgaben --dir " + inst, 0, "installed"},
      {"dump " + inst + "/FX02.DAT --csv", 0, "MEIER,PA64"},
      {"catalogue --dir " + inst, 0, "entries new"},
      {"menu export -o " + dir + "/menus.csv --dir " + inst, 0, "exported"},
      {"menu import " + dir + "/menus.csv --dir " + inst, 0, ""},
      {"menu tree --user MEIER --dir " + inst, 0, "Veranstaltungen"},
      {"check --dir " + inst, 0, "FX02.DAT: ok"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.args);
    const Result r = pxadmin(s.args);
    EXPECT_EQ(r.exitCode, s.exitCode) << r.out;
    EXPECT_NE(r.out.find(s.output), std::string::npos) << r.out;
  }
  EXPECT_EQ(server.value("SELECT count(*) FROM fx00"), "1");
  EXPECT_EQ(
      server.value("SELECT get_byte(data, 160) FROM ft00 WHERE substr(key, 1, 1) = '\\x30'::bytea"),
      "74");  // 'J'
  EXPECT_EQ(namesIn(inst), std::vector<std::string>{"px-store.conf"});

  // The server gone: a clear failure naming it, never the embedded files.
  std::ofstream(inst + "/px-store.conf") << "host=/nonexistent-folder dbname=club\n";
  Result r = pxadmin("status --dir " + inst);
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.out.find("/nonexistent-folder"), std::string::npos) << r.out;
  r = pxadmin("user list --dir " + inst);
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.out.find("status 30"), std::string::npos) << r.out;
  // A password others may read: refused before anything is touched.
  std::ofstream(inst + "/px-store.conf") << server.conninfo << " password=geheim\n";
  fs::permissions(inst + "/px-store.conf", fs::perms::others_read, fs::perm_options::add);
  r = pxadmin("unlock --dir " + inst);
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.out.find("holds a password"), std::string::npos) << r.out;
  EXPECT_EQ(
      server.value("SELECT get_byte(data, 160) FROM ft00 WHERE substr(key, 1, 1) = '\\x30'::bytea"),
      "74");
  EXPECT_EQ(namesIn(inst), std::vector<std::string>{"px-store.conf"});
}

// From the files to the server and back: every record byte for byte, each
// verb showing the same before and after.
TEST_F(PxadminServer, MigrateThereAndBackKeepsEveryByte) {
  const std::string inst = dir + "/inst";
  embeddedInstallation(inst);
  const auto before = records(inst);
  const std::string dumped = dumps(inst);
  ASSERT_GT(before.at("FX02.DAT").size(), 100u);

  Result r = pxadmin("migrate --dir " + inst + " --to-server " + word(server.conninfo));
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(
      r.out.find("FX02.DAT: " + std::to_string(before.at("FX02.DAT").size()) + " records moved"),
      std::string::npos)
      << r.out;
  EXPECT_EQ(datafiles::chooseStore(inst).kind, datafiles::StoreChoice::Kind::kServer);
  EXPECT_EQ(records(inst), before);
  EXPECT_EQ(dumps(inst), dumped);
  for (const auto& [name, recs] : before)
    EXPECT_FALSE(fs::exists(inst + "/" + name)) << name << " put aside";
  EXPECT_EQ(pxadmin("check --dir " + inst).exitCode, 0);
  // The trail moved along and says so.
  r = pxadmin("audit --event INIT,MIGRATE --dir " + inst);
  EXPECT_NE(r.out.find("2 records"), std::string::npos) << r.out;
  // Work on the server in between.
  ASSERT_EQ(pxadmin("grant SCHULZ PX99 --client 1 --dir " + inst).exitCode, 0);
  auto changed = records(inst);
  ASSERT_EQ(changed.at("FX02.DAT").size(), before.at("FX02.DAT").size() + 1);

  r = pxadmin("migrate --dir " + inst + " --to-files");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(datafiles::chooseStore(inst).kind, datafiles::StoreChoice::Kind::kEmbedded);
  EXPECT_EQ(records(inst), changed);
  datafiles::SqliteStore files;
  for (const datafiles::FileSpec* spec : kAll)
    EXPECT_EQ(files.checkIntegrity(*spec, inst, nullptr), datafiles::kOk) << spec->name;
  ASSERT_EQ(pxadmin("revoke SCHULZ PX99 --client 1 --dir " + inst).exitCode, 0);
  EXPECT_EQ(records(inst), before);
  EXPECT_EQ(dumps(inst), dumped);
  r = pxadmin("audit --event INIT,MIGRATE,GRANT,REVOKE --dir " + inst);
  EXPECT_NE(r.out.find("6 records"), std::string::npos) << r.out;
  // Nothing of the work left beside the files and the trail.
  for (const std::string& name : namesIn(inst))
    EXPECT_TRUE(name.rfind("FT00.DAT", 0) == 0 || name.rfind("FX0", 0) == 0 ||
                name.rfind("FXAU.DAT", 0) == 0 ||
                name.rfind("before-migration-", 0) == 0 ||
                name.rfind("px-store.conf.before-migration-", 0) == 0)
        << name;

  // Each direction refuses a second time.
  r = pxadmin("migrate --dir " + inst + " --to-files");
  EXPECT_EQ(r.exitCode, 1) << r.out;
  r = pxadmin("migrate --dir " + inst + " --to-server " + word(server.conninfo));
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.out.find("holds FT00.DAT already"), std::string::npos) << r.out;
  EXPECT_EQ(records(inst), before);
}

// A file in use stops a migration in either direction before anything
// changes.
TEST_F(PxadminServer, MigrateRefusesWhileAFileIsInUse) {
  const std::string inst = dir + "/inst";
  embeddedInstallation(inst);
  const auto before = records(inst);
  {
    datafiles::SqliteStore files;
    auto f = files.file(datafiles::kMenuFile, inst);
    ASSERT_EQ(f->open(datafiles::OpenMode::kInput), datafiles::kOk);
    const Result r = pxadmin("migrate --dir " + inst + " --to-server " + word(server.conninfo));
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("FX01.DAT is in use: 9/065"), std::string::npos) << r.out;
  }
  EXPECT_EQ(datafiles::chooseStore(inst).kind, datafiles::StoreChoice::Kind::kEmbedded);
  EXPECT_EQ(server.value("SELECT count(*) FROM pg_tables WHERE schemaname = current_schema()"),
            "0");
  EXPECT_EQ(records(inst), before);

  ASSERT_EQ(pxadmin("migrate --dir " + inst + " --to-server " + word(server.conninfo)).exitCode, 0);
  {
    auto f = server.store.file(datafiles::kPermissionFile);
    ASSERT_EQ(f->open(datafiles::OpenMode::kInput), datafiles::kOk);
    const Result r = pxadmin("migrate --dir " + inst + " --to-files");
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("FX02.DAT is in use: 9/065"), std::string::npos) << r.out;
  }
  EXPECT_EQ(datafiles::chooseStore(inst).kind, datafiles::StoreChoice::Kind::kServer);
  EXPECT_EQ(namesIn(inst).size(), 2u) << "px-store.conf and the files put aside";
  EXPECT_EQ(records(inst), before);
}

// A backup is a folder of embedded files whichever store made it, and it
// restores into either. Restore on the server repairs what check finds:
// a table of another shape, a missing table, a view in a table's place.
TEST_F(PxadminServer, BackupsRestoreIntoEitherStore) {
  const std::string files = dir + "/files", onServer = dir + "/server";
  embeddedInstallation(files);
  const auto installed = records(files);
  ASSERT_EQ(pxadmin("init " + onServer + " --server " + word(server.conninfo)).exitCode, 0);

  // Files -> server.
  Result r = pxadmin("backup " + dir + "/saved --dir " + files);
  ASSERT_EQ(r.exitCode, 0) << r.out;
  const std::string fromFiles = testing_support::lines(r.out).back();
  ASSERT_EQ(server.sql("DROP TABLE fx00; ALTER TABLE fx01 DROP COLUMN data;"
                       "ALTER TABLE fx01 ADD COLUMN data text; CREATE VIEW fx00 AS SELECT 1 AS x"),
            "");
  EXPECT_EQ(pxadmin("check --dir " + onServer).exitCode, 1);
  r = pxadmin("restore " + fromFiles + " --dir " + onServer);
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("All four files restored"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("FX01.DAT: " + std::to_string(installed.at("FX01.DAT").size()) +
                       " records restored (it was not a file of this release or system: 9/043)"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(records(onServer), installed);
  EXPECT_EQ(pxadmin("check --dir " + onServer).exitCode, 0);

  // A file in use on the server: refused, nothing changed.
  ASSERT_EQ(pxadmin("grant SCHULZ PX99 --client 1 --dir " + onServer).exitCode, 0);
  const auto granted = records(onServer);
  {
    auto f = server.store.file(datafiles::kUserFile);
    ASSERT_EQ(f->open(datafiles::OpenMode::kInput), datafiles::kOk);
    r = pxadmin("restore " + fromFiles + " --dir " + onServer);
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("FX00.DAT is in use: 9/065"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Nothing changed"), std::string::npos) << r.out;
  }
  EXPECT_EQ(records(onServer), granted);

  // Server -> files.
  r = pxadmin("backup " + dir + "/saved-too --dir " + onServer);
  ASSERT_EQ(r.exitCode, 0) << r.out;
  const std::string fromServer = testing_support::lines(r.out).back();
  EXPECT_EQ(namesIn(fromServer),
            (std::vector<std::string>{"FT00.DAT", "FX00.DAT", "FX01.DAT", "FX02.DAT", "FXAU.DAT"}));
  r = pxadmin("restore " + fromServer + " --dir " + files);
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(records(files), granted);
}

}  // namespace
