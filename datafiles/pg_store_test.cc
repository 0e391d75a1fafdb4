// The server store's own rules: its tables and what it makes of tables of
// other tools, damaged records, schemas, replaced tables, units sent in
// batches, copies into the embedded store, and the choice of store by
// px-store.conf.
#include "datafiles/pg_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"
#include "datafiles/store_config.h"
#include "testing/pg_fixture.h"
#include "testing/temp_dir.h"

namespace {

using datafiles::OpenMode;
using datafiles::StartMode;
using testing_support::TempDir;

datafiles::MenuRecord menu(int menuNo, int entry, std::string_view text = "x") {
  datafiles::MenuRecord r;
  r.setKey(menuNo, entry);
  r.setText(text);
  return r;
}

// The key of a menu record as an SQL literal.
std::string menuKey(int menuNo, int entry) {
  return testing_support::byteaLiteral(datafiles::MenuRecord::key(menuNo, entry));
}

// ---- the server store ----------------------------------------------------------

class PgStoreTest : public ::testing::Test, public testing_support::ServerFixture {
 protected:
  void SetUp() override { ASSERT_TRUE(server.ok()) << server.error(); }
  std::unique_ptr<datafiles::KeyedFile> file(
      const datafiles::FileSpec& spec = datafiles::kMenuFile) {
    return store.file(spec);
  }
  static constexpr const char* kTable =
      "CREATE TABLE fx01(key bytea PRIMARY KEY, data bytea NOT NULL);";
  static constexpr const char* kLayout =
      "CREATE TABLE px_layout(file text PRIMARY KEY, record_length integer NOT NULL,"
      " key_length integer NOT NULL);";
};

TEST_F(PgStoreTest, CreateMakesThePinnedSchema) {
  ASSERT_EQ(store.create(datafiles::kPermissionFile), datafiles::kOk);
  ASSERT_EQ(store.create(datafiles::kMenuFile), datafiles::kOk);
  EXPECT_EQ(store.create(datafiles::kMenuFile), datafiles::kDuplicateKey);
  EXPECT_EQ(value("SELECT string_agg(column_name || ' ' || data_type || ' ' || is_nullable, ', '"
                  " ORDER BY ordinal_position) FROM information_schema.columns"
                  " WHERE table_schema = current_schema() AND table_name = 'fx02'"),
            "key bytea NO, data bytea NO");
  EXPECT_EQ(value("SELECT string_agg(file || ':' || record_length || ':' || key_length, ' '"
                  " ORDER BY file) FROM px_layout"),
            "fx01:58:6 fx02:35:17");
  EXPECT_EQ(value("SELECT count(*) FROM pg_index WHERE indrelid = 'fx02'::regclass"
                  " AND indisprimary"),
            "1");
  EXPECT_EQ(datafiles::PgStore::tableName("FX01.DAT"), "fx01");
  EXPECT_EQ(datafiles::PgStore::tableName("ft00"), "ft00");
  EXPECT_EQ(datafiles::PgStore::tableName("My.File.DAT"), "my.file");
}

TEST_F(PgStoreTest, TablesThatMustBeReorganised) {
  struct Case {
    const char* what;
    std::string setup;
    datafiles::FileStatus status;
  };
  const std::string layoutRow = "INSERT INTO px_layout VALUES('fx01', 58, 6);";
  const Case cases[] = {
      {"no table", std::string(kLayout) + layoutRow, datafiles::kFileMissing},
      {"a view of that name",
       std::string(kLayout) + layoutRow +
           "CREATE VIEW fx01 AS SELECT '\\x00'::bytea AS key, '\\x00'::bytea AS data",
       datafiles::kIndexMissing},
      {"a key of another type",
       std::string(kLayout) + layoutRow +
           "CREATE TABLE fx01(key text PRIMARY KEY, data bytea NOT NULL)",
       datafiles::kIndexMissing},
      {"no unique key",
       std::string(kLayout) + layoutRow + "CREATE TABLE fx01(key bytea, data bytea NOT NULL)",
       datafiles::kIndexMissing},
      {"a column more",
       std::string(kLayout) + layoutRow +
           "CREATE TABLE fx01(key bytea PRIMARY KEY, data bytea, extra int)",
       datafiles::kIndexMissing},
      {"no layout table", kTable, datafiles::kIndexMissing},
      {"no layout row", std::string(kTable) + kLayout, datafiles::kIndexMissing},
      {"a layout table of another shape",
       std::string(kTable) + "CREATE TABLE px_layout(file text, size text);"
                             "INSERT INTO px_layout VALUES('fx01', 'big')",
       datafiles::kIndexMissing},
      {"other record length",
       std::string(kTable) + kLayout + "INSERT INTO px_layout VALUES('fx01', 60, 6)",
       datafiles::kAttributeMismatch},
      {"other key length",
       std::string(kTable) + kLayout + "INSERT INTO px_layout VALUES('fx01', 58, 4)",
       datafiles::kAttributeMismatch},
      {"made by another tool", std::string(kTable) + kLayout + layoutRow, datafiles::kOk},
      {"without NOT NULL, in a unique index",
       std::string(kLayout) + layoutRow +
           "CREATE TABLE fx01(key bytea NOT NULL, data bytea);"
           "CREATE UNIQUE INDEX ON fx01(key)",
       datafiles::kOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(sql("DO $$ BEGIN EXECUTE format('DROP SCHEMA %1$I CASCADE; CREATE SCHEMA %1$I',"
                  " current_schema()); END $$"),
              "");
    ASSERT_EQ(sql(c.setup), "");
    auto f = file();
    EXPECT_EQ(f->open(OpenMode::kInput), c.status);
    EXPECT_EQ(f->isOpen(), c.status.ok());
    // Nothing stays held by a refused open.
    auto x = file();
    if (f->isOpen()) {
      ASSERT_EQ(f->close(), datafiles::kOk);
    }
    if (c.status != datafiles::kFileMissing) {
      EXPECT_EQ(x->open(OpenMode::kExclusive), c.status);
    }
    if (x->isOpen()) {
      ASSERT_EQ(x->close(), datafiles::kOk);
    }
    std::vector<std::string> problems;
    EXPECT_EQ(store.checkIntegrity(datafiles::kMenuFile, {}, &problems), c.status);
  }
}

TEST_F(PgStoreTest, DamagedRecordsAreNeverReturned) {
  ASSERT_EQ(store.create(datafiles::kMenuFile), datafiles::kOk);
  {
    auto f = file();
    ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
    for (int e = 1; e <= 4; ++e) ASSERT_EQ(f->write(menu(1, e).bytes()), datafiles::kOk);
  }
  // Entry 2 cut short, entry 3 with a head that differs from its key.
  ASSERT_EQ(sql("UPDATE fx01 SET data = substr(data, 1, 20) WHERE key = " + menuKey(1, 2) + ";" +
                "UPDATE fx01 SET data = '\\xffff'::bytea || substr(data, 3) WHERE key = " +
                menuKey(1, 3)),
            "");
  for (OpenMode mode : {OpenMode::kInput, OpenMode::kInputOutput}) {
    SCOPED_TRACE(mode == OpenMode::kInput ? "input" : "input-output");
    auto f = file();
    ASSERT_EQ(f->open(mode), datafiles::kOk);
    datafiles::MenuRecord r = menu(1, 2);
    EXPECT_EQ(f->read(r.bytes()), datafiles::kIndexDamaged);
    r = menu(1, 3);
    EXPECT_EQ(f->read(r.bytes()), datafiles::kIndexDamaged);
    EXPECT_EQ(r.text(), "x");  // the buffer as it was
    r = menu(1, 1);
    ASSERT_EQ(f->start(StartMode::kNotLessThan, r.bytes(), 6), datafiles::kOk);
    EXPECT_EQ(f->readNext(r.bytes()), datafiles::kOk);
    EXPECT_EQ(f->readNext(r.bytes()), datafiles::kIndexDamaged);
    r = menu(1, 2);
    EXPECT_EQ(f->start(StartMode::kEqual, r.bytes(), 6), datafiles::kIndexDamaged);
  }
  std::vector<std::string> problems;
  EXPECT_EQ(store.checkIntegrity(datafiles::kMenuFile, {}, &problems), datafiles::kIndexDamaged);
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_NE(problems[0].find("1 records of the wrong length"), std::string::npos) << problems[0];
  EXPECT_NE(problems[1].find("1 records whose key differs"), std::string::npos) << problems[1];
  int seen = 0;
  EXPECT_EQ(store.exportRecords(datafiles::kMenuFile, [&](std::string_view) { return ++seen > 0; }),
            datafiles::kIndexDamaged);
  EXPECT_EQ(seen, 1);
}

TEST_F(PgStoreTest, OtherPermanentErrors) {
  ASSERT_EQ(store.create(datafiles::kMenuFile), datafiles::kOk);
  auto f = file();
  ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
  std::vector<char> small(10, ' ');
  EXPECT_EQ(f->write(small), datafiles::kPermanentError);
  EXPECT_EQ(f->read(small), datafiles::kPermanentError);
  EXPECT_EQ(f->rewrite(small), datafiles::kPermanentError);
  ASSERT_EQ(f->close(), datafiles::kOk);

  // A schema that does not exist: nothing to open, nowhere to create.
  datafiles::PgStore nowhere(server.conninfo("no_such_schema"));
  EXPECT_EQ(nowhere.file(datafiles::kMenuFile)->open(OpenMode::kInput), datafiles::kFileMissing);
  EXPECT_EQ(nowhere.create(datafiles::kMenuFile), datafiles::kPermanentError);
  EXPECT_NE(nowhere.lastError(), "");
  // A server that does not answer.
  datafiles::PgStore absent("host=/nonexistent-folder user=postgres dbname=postgres");
  EXPECT_EQ(absent.file(datafiles::kMenuFile)->open(OpenMode::kInput), datafiles::kPermanentError);
  EXPECT_NE(absent.lastError().find("/nonexistent-folder"), std::string::npos)
      << absent.lastError();
  EXPECT_EQ(absent.create(datafiles::kMenuFile), datafiles::kPermanentError);
}

// Two installations on one server, one schema each: the same file names,
// apart.
TEST_F(PgStoreTest, SchemasKeepInstallationsApart) {
  testing_support::ServerFixture other;
  ASSERT_EQ(store.create(datafiles::kMenuFile), datafiles::kOk);
  ASSERT_EQ(other.store.create(datafiles::kMenuFile), datafiles::kOk);
  auto a = store.file(datafiles::kMenuFile), b = other.store.file(datafiles::kMenuFile);
  ASSERT_EQ(a->open(OpenMode::kExclusive), datafiles::kOk);
  ASSERT_EQ(b->open(OpenMode::kExclusive), datafiles::kOk);  // another table, another lock
  ASSERT_EQ(a->write(menu(1, 1, "here").bytes()), datafiles::kOk);
  datafiles::MenuRecord r = menu(1, 1);
  EXPECT_EQ(b->read(r.bytes()), datafiles::kNotFound);
}

// The file replaced under its name (dropped and made again, as a restore
// does) while the process keeps its sessions: the next open finds the new
// table.
TEST_F(PgStoreTest, ReplacedTableIsSeenByTheNextOpen) {
  ASSERT_EQ(store.create(datafiles::kMenuFile), datafiles::kOk);
  auto f = file();
  ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
  ASSERT_EQ(f->write(menu(1, 1, "old").bytes()), datafiles::kOk);
  datafiles::MenuRecord r = menu(1, 1);
  ASSERT_EQ(f->read(r.bytes()), datafiles::kOk);
  ASSERT_EQ(f->close(), datafiles::kOk);
  ASSERT_EQ(sql("DROP TABLE fx01; CREATE TABLE fx01(key bytea PRIMARY KEY, data bytea NOT NULL);"
                "INSERT INTO fx01 VALUES (" +
                menuKey(1, 1) + ", '\\x" + testing_support::hex(menu(1, 1, "new").bytes()) + "')"),
            "");
  ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
  ASSERT_EQ(f->read(r.bytes()), datafiles::kOk);
  EXPECT_EQ(r.text(), "new");
  ASSERT_EQ(f->close(), datafiles::kOk);
  ASSERT_EQ(sql("DROP TABLE fx01; CREATE TABLE fx01(key text PRIMARY KEY, data text)"), "");
  EXPECT_EQ(f->open(OpenMode::kInput), datafiles::kIndexMissing);
}

// Many writes in a unit, more than one batch of them, and a batch that the
// server refuses at commit: the commit fails and nothing of the unit stays.
TEST_F(PgStoreTest, UnitWritesAreSentInBatchesAndAFailedBatchFailsTheCommit) {
  ASSERT_EQ(store.create(datafiles::kPermissionFile), datafiles::kOk);
  auto f = file(datafiles::kPermissionFile);
  ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
  auto perm = [](int n) {
    datafiles::PermissionRecord p;
    p.setKey(n % 1000, "USER" + std::to_string(n / 1000), "PA64");
    return p;
  };
  ASSERT_EQ(f->begin(), datafiles::kOk);
  for (int n = 0; n < 20000; ++n) ASSERT_EQ(f->write(perm(n).bytes()), datafiles::kOk) << n;
  EXPECT_EQ(f->write(perm(7).bytes()), datafiles::kDuplicateKey);
  EXPECT_EQ(f->write(perm(19999).bytes()), datafiles::kDuplicateKey);
  ASSERT_EQ(f->commit(), datafiles::kOk);
  EXPECT_EQ(value("SELECT count(*) FROM fx02"), "20000");

  // A rule of another tool that the server checks only when the rows come.
  ASSERT_EQ(sql("ALTER TABLE fx02 ADD CONSTRAINT no_x CHECK (substr(data, 13, 4) <> 'XXXX')"), "");
  ASSERT_EQ(f->begin(), datafiles::kOk);
  for (int n = 20000; n < 20100; ++n) ASSERT_EQ(f->write(perm(n).bytes()), datafiles::kOk);
  datafiles::PermissionRecord bad;
  bad.setKey(1, "BAD", "XXXX");
  ASSERT_EQ(f->write(bad.bytes()), datafiles::kOk);  // queued: its fate is the commit's
  EXPECT_EQ(f->commit(), datafiles::kPermanentError);
  EXPECT_EQ(f->commit(), datafiles::kOk);  // no unit any more
  EXPECT_EQ(value("SELECT count(*) FROM fx02"), "20000");
  EXPECT_NE(store.lastError().find("no_x"), std::string::npos) << store.lastError();
  // The handle goes on working.
  datafiles::PermissionRecord p = perm(5);
  EXPECT_EQ(f->read(p.bytes()), datafiles::kOk);
  EXPECT_EQ(f->write(perm(20000).bytes()), datafiles::kOk);
}

// A backup of the server store is a folder of embedded files: record for
// record, and never over a file that exists.
TEST_F(PgStoreTest, CopiesIntoTheEmbeddedStoreAreRecordForRecord) {
  ASSERT_EQ(store.create(datafiles::kPermissionFile), datafiles::kOk);
  auto f = file(datafiles::kPermissionFile);
  ASSERT_EQ(f->open(OpenMode::kInputOutput), datafiles::kOk);
  ASSERT_EQ(f->begin(), datafiles::kOk);
  for (int n = 0; n < 25000; ++n) {
    datafiles::PermissionRecord p;
    p.setKey(n % 7, "U" + std::to_string(n), "P" + std::to_string(n % 13));
    p.setText(std::to_string(n));
    ASSERT_EQ(f->write(p.bytes()), datafiles::kOk);
  }
  ASSERT_EQ(f->commit(), datafiles::kOk);
  std::vector<std::string> fromServer;
  ASSERT_EQ(store.exportRecords(datafiles::kPermissionFile,
                                [&](std::string_view r) {
                                  fromServer.emplace_back(r);
                                  return true;
                                }),
            datafiles::kOk);
  ASSERT_EQ(fromServer.size(), 25000u);
  auto copied = [](datafiles::SqliteStore& embedded, const std::string& dir,
                   const datafiles::FileSpec& spec) {
    std::vector<std::string> records;
    auto c = embedded.file(spec, dir);
    if (!c->open(OpenMode::kInput).ok()) return records;
    std::string r(spec.recordLength, '\0');
    if (c->start(StartMode::kNotLessThan, r, spec.keyLength).ok())
      while (c->readNext(r).ok()) records.push_back(r);
    return records;
  };

  datafiles::SqliteStore embedded;
  // A file of its own under the name asked for, alone (no log, index or
  // lock file beside it, no temporary file left), that passes the check.
  TempDir backup;
  ASSERT_EQ(store.copyTo(datafiles::kPermissionFile, {}, backup / "FX02.DAT"), datafiles::kOk);
  EXPECT_EQ(store.copyTo(datafiles::kPermissionFile, {}, backup / "FX02.DAT"),
            datafiles::kDuplicateKey);
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(backup.path()))
    names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"FX02.DAT"});
  EXPECT_TRUE(copied(embedded, backup.path(), datafiles::kPermissionFile) == fromServer);
  EXPECT_EQ(embedded.checkIntegrity(datafiles::kPermissionFile, backup.path(), nullptr),
            datafiles::kOk);
  ASSERT_EQ(store.copyTo(datafiles::kPermissionFile, {}, backup / "copy.DAT"), datafiles::kOk);
  const datafiles::FileSpec renamed{"copy.DAT", datafiles::kPermissionFile.recordLength,
                                    datafiles::kPermissionFile.keyLength};
  EXPECT_TRUE(copied(embedded, backup.path(), renamed) == fromServer);

  // A maintenance open elsewhere refuses the copy, and nothing is left.
  auto x = file(datafiles::kPermissionFile);
  ASSERT_EQ(f->close(), datafiles::kOk);
  ASSERT_EQ(x->open(OpenMode::kExclusive), datafiles::kOk);
  TempDir other;
  EXPECT_EQ(store.copyTo(datafiles::kPermissionFile, {}, other / "FX02.DAT"),
            datafiles::kFileLocked);
  EXPECT_FALSE(std::filesystem::exists(other / "FX02.DAT"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(other.path()),
                          std::filesystem::directory_iterator()),
            0);
}

// Several files made with their records in one transaction (init, migrate,
// restore): together or not at all, never over a file in use.
TEST_F(PgStoreTest, FilesAreMadeTogetherOrNotAtAll) {
  auto menus = [](int n, std::string_view text) {
    return [n, text](const datafiles::PgStore::RecordSink& put) {
      for (int i = 0; i < n; ++i)
        if (const datafiles::FileStatus s = put(menu(1 + i / 500, 1 + i % 500, text).view());
            !s.ok())
          return s;
      return datafiles::kOk;
    };
  };
  auto none = [](const datafiles::PgStore::RecordSink&) { return datafiles::kOk; };
  auto texts = [&](std::string_view table) {
    return value("SELECT string_agg(encode(substr(data, 14, 3), 'escape'), ',' ORDER BY key) FROM " +
                 std::string(table));
  };
  std::string which;
  // 20 000 menu records: more than one batch.
  ASSERT_EQ(store.createFiles({{datafiles::kMenuFile, menus(20000, "new")},
                               {datafiles::kPermissionFile, none}},
                              false, &which),
            datafiles::kOk)
      << store.lastError();
  EXPECT_EQ(value("SELECT count(*) FROM fx01"), "20000");
  EXPECT_EQ(value("SELECT string_agg(file || ':' || record_length || ':' || key_length, ' '"
                  " ORDER BY file) FROM px_layout"),
            "fx01:58:6 fx02:35:17");
  {
    auto f = file();
    ASSERT_EQ(f->open(OpenMode::kInput), datafiles::kOk);
    datafiles::MenuRecord r = menu(1, 7);
    ASSERT_EQ(f->read(r.bytes()), datafiles::kOk);
    EXPECT_EQ(r.text(), "new");
  }

  struct Case {
    const char* what;
    std::vector<datafiles::PgStore::FileContents> files;
    bool replace;
    datafiles::FileStatus status;
    std::string file;
  };
  const std::vector<Case> cases = {
      {"one exists already",
       {{datafiles::kUserFile, none}, {datafiles::kMenuFile, menus(3, "old")}},
       false,
       datafiles::kDuplicateKey,
       "FX01.DAT"},
      {"a record of the wrong length",
       {{datafiles::kUserFile, none},
        {datafiles::kInstallationFile,
         [](const datafiles::PgStore::RecordSink& put) { return put("short"); }}},
       false,
       datafiles::kIndexDamaged,
       "FT00.DAT"},
      {"a key twice",
       {{datafiles::kUserFile, none},
        {datafiles::kMenuFile,
         [](const datafiles::PgStore::RecordSink& put) {
           (void)put(menu(1, 1, "a").view());
           return put(menu(1, 1, "b").view());
         }}},
       true,
       datafiles::kDuplicateKey,
       "FX01.DAT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    which.clear();
    EXPECT_EQ(store.createFiles(c.files, c.replace, &which), c.status);
    EXPECT_EQ(which, c.file);
    EXPECT_EQ(value("SELECT count(*) FROM fx01"), "20000");  // as it was
    EXPECT_EQ(value("SELECT to_regclass('fx00') IS NULL"), "t");
  }

  // Replacing: a file in use refuses, and nothing changes; a table of
  // another shape and a view are replaced whole; the records are new.
  ASSERT_EQ(sql("CREATE TABLE fx00(key text, size int); CREATE VIEW ft00 AS SELECT 1 AS x"), "");
  auto user = file(datafiles::kPermissionFile);
  ASSERT_EQ(user->open(OpenMode::kInput), datafiles::kOk);
  const std::vector<datafiles::PgStore::FileContents> all = {
      {datafiles::kInstallationFile, none},
      {datafiles::kUserFile, none},
      {datafiles::kMenuFile, menus(2, "bak")},
      {datafiles::kPermissionFile, none}};
  EXPECT_EQ(store.createFiles(all, true, &which), datafiles::kFileLocked);
  EXPECT_EQ(which, "FX02.DAT");
  EXPECT_EQ(value("SELECT count(*) FROM fx01"), "20000");
  ASSERT_EQ(user->close(), datafiles::kOk);
  ASSERT_EQ(store.createFiles(all, true, &which), datafiles::kOk);
  EXPECT_EQ(texts("fx01"), "bak,bak");
  for (const datafiles::FileSpec* spec : {&datafiles::kInstallationFile, &datafiles::kUserFile,
                                          &datafiles::kMenuFile, &datafiles::kPermissionFile}) {
    SCOPED_TRACE(spec->name);
    EXPECT_EQ(store.checkIntegrity(*spec, {}, nullptr), datafiles::kOk);
  }
  // A file opened meanwhile by this process reads the new records.
  auto f = file();
  ASSERT_EQ(f->open(OpenMode::kInput), datafiles::kOk);
  datafiles::MenuRecord r = menu(1, 0);
  ASSERT_EQ(f->start(StartMode::kNotLessThan, r.bytes(), 6), datafiles::kOk);
  ASSERT_EQ(f->readNext(r.bytes()), datafiles::kOk);
  EXPECT_EQ(r.text(), "bak");
}

// Where the files are, for messages: never the password.
TEST_F(PgStoreTest, LocationNamesTheServerWithoutSecrets) {
  datafiles::PgStore s(
      "host=db.example port=5433 dbname=club user=px password=geheim "
      "options=-csearch_path=verein");
  const std::string where = s.location({});
  EXPECT_NE(where.find("db.example"), std::string::npos) << where;
  EXPECT_NE(where.find("verein"), std::string::npos) << where;
  EXPECT_EQ(where.find("geheim"), std::string::npos) << where;
}

// ---- the choice of store -------------------------------------------------------

using Kind = datafiles::StoreChoice::Kind;

TEST(StoreConfig, ParsesOneConnectionStringAmongComments) {
  struct Case {
    const char* what;
    std::string text;
    bool readableByOthers;
    Kind kind;
    std::string conninfoOrError;  // the connection string, or a part of the error
  };
  const Case cases[] = {
      {"key=value", "host=db.club.example dbname=club user=px\n", true, Kind::kServer,
       "host=db.club.example dbname=club user=px"},
      {"URI with comments and blank lines",
       "# the club's server\n\n  # schema per "
       "installation\npostgresql://px@db/club?options=-csearch_path%3Dverein\n",
       true, Kind::kServer, "postgresql://px@db/club?options=-csearch_path%3Dverein"},
      {"service and search path, CRLF", "service=club options=-csearch_path=verein\r\n", true,
       Kind::kServer, "service=club options=-csearch_path=verein"},
      {"password, owner only", "host=db password=geheim\n", false, Kind::kServer,
       "host=db password=geheim"},
      {"password, others may read", "host=db password=geheim\n", true, Kind::kInvalid,
       "holds a password"},
      {"password in a URI", "postgresql://px:geheim@db/club\n", true, Kind::kInvalid,
       "holds a password"},
      {"key passphrase", "host=db sslpassword=geheim\n", true, Kind::kInvalid, "holds a password"},
      {"empty password counts as none", "host=db password=''\n", true, Kind::kServer,
       "host=db password=''"},
      {"nothing but comments", "# nothing here\n\n", false, Kind::kInvalid, "no connection string"},
      {"empty", "", false, Kind::kInvalid, "no connection string"},
      {"two strings", "host=a\nhost=b\n", false, Kind::kInvalid, "more than one"},
      {"not a connection string", "host=a nonsense\n", false, Kind::kInvalid,
       "not a connection string"},
      {"unknown keyword", "hots=a\n", false, Kind::kInvalid, "not a connection string"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const datafiles::StoreChoice choice = datafiles::parseStoreConfig(c.text, c.readableByOthers);
    EXPECT_EQ(choice.kind, c.kind);
    if (c.kind == Kind::kServer) {
      EXPECT_EQ(choice.conninfo, c.conninfoOrError);
    } else {
      EXPECT_NE(choice.error.find(c.conninfoOrError), std::string::npos) << choice.error;
      EXPECT_NE(choice.error.find("px-store.conf"), std::string::npos) << choice.error;
    }
  }
}

TEST(StoreConfig, ChoosesTheStoreByTheFileInTheDataDirectory) {
  testing_support::TempDir dir;
  EXPECT_EQ(datafiles::chooseStore(dir.path()).kind, Kind::kEmbedded);
  std::string error;
  auto embedded = datafiles::openStore(dir.path(), &error);
  ASSERT_NE(embedded, nullptr);
  EXPECT_NE(dynamic_cast<datafiles::SqliteStore*>(embedded.get()), nullptr);

  const std::string conf = dir / "px-store.conf";
  std::ofstream(conf) << "# server\nhost=/tmp dbname=club password=geheim\n";
  ASSERT_EQ(::chmod(conf.c_str(), 0644), 0);
  datafiles::StoreChoice c = datafiles::chooseStore(dir.path());
  EXPECT_EQ(c.kind, Kind::kInvalid);
  // Refused: no server, and never the embedded files instead.
  auto refused = datafiles::openStore(dir.path(), &error);
  EXPECT_NE(error.find("holds a password"), std::string::npos) << error;
  ASSERT_NE(refused, nullptr);
  EXPECT_EQ(refused->file(datafiles::kMenuFile, dir.path())->open(OpenMode::kInput),
            datafiles::kPermanentError);
  EXPECT_EQ(refused->create(datafiles::kMenuFile, dir.path()), datafiles::kPermanentError);
  EXPECT_FALSE(std::filesystem::exists(dir / "FX01.DAT"));
  EXPECT_EQ(refused->lastError(), error);
  ASSERT_EQ(::chmod(conf.c_str(), 0640), 0);  // the group counts as others
  EXPECT_EQ(datafiles::chooseStore(dir.path()).kind, Kind::kInvalid);
  ASSERT_EQ(::chmod(conf.c_str(), 0600), 0);
  c = datafiles::chooseStore(dir.path());
  EXPECT_EQ(c.kind, Kind::kServer);
  EXPECT_EQ(c.conninfo, "host=/tmp dbname=club password=geheim");
  auto server = datafiles::openStore(dir.path(), &error);
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(error, "");
  EXPECT_NE(dynamic_cast<datafiles::PgStore*>(server.get()), nullptr);

  // Something else under that name is an error, not a silent fallback to
  // the embedded files.
  std::filesystem::remove(conf);
  std::filesystem::create_directory(conf);
  c = datafiles::chooseStore(dir.path());
  EXPECT_EQ(c.kind, Kind::kInvalid);
  EXPECT_NE(c.error.find("not a file"), std::string::npos) << c.error;
}

}  // namespace
