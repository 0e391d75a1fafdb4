// pxadmin on files it cannot write, damaged or missing files, files in use,
// and processes killed in the middle: every verb either does its work or
// ends non-zero saying why, and a failed verb changes nothing. Read-only
// files and a full disk come from a preloaded shim (testing/disk_faults.c),
// so that the tests run the same for root and in containers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"
#include "encoding/field.h"
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

// ---- backup ----------------------------------------------------------------

// Runs SQL on a file directly, as another tool (or a fault) would.
void sql(const std::string& path, const std::string& text) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* err = nullptr;
  EXPECT_EQ(sqlite3_exec(db, text.c_str(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
  sqlite3_free(err);
  sqlite3_close(db);
}


// A file that a restore would refuse makes no backup; a backup appears
// under its name only whole.
TEST_F(PxadminFaults, BackupRefusesAFileWithAMalformedRecord) {
  const std::string dir = installation("live");
  sql(dir + "/FX02.DAT", "INSERT INTO records VALUES(x'00', x'0000')");
  fs::create_directories(root + "/backups");
  const Result r = pxadmin("backup " + root + "/backups --dir " + dir);
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.out.find("FX02.DAT fails the check: 9/041"), std::string::npos) << r.out;
  EXPECT_TRUE(fs::is_empty(root + "/backups"));
}

// ---- listings ----------------------------------------------------------------

std::string hexOf(std::span<const char> bytes) {
  std::string out;
  char b[3];
  for (char c : bytes) {
    std::snprintf(b, sizeof b, "%02x", static_cast<unsigned char>(c));
    out += b;
  }
  return out;
}

// A malformed record in the middle of a listing: the listing ends 1 with the
// status instead of a shortened list; an export that cannot be written too.
TEST_F(PxadminFaults, ListingsThatMeetAReadErrorEndNonZero) {
  const std::string dir = installation("live");
  ASSERT_EQ(pxadmin("catalogue --dir " + dir).exitCode, 0);
  struct Case {
    const char* file;
    std::string key;  // hex
    const char* verb;
  };
  const Case cases[] = {
      {"FX01.DAT", hexOf(datafiles::MenuRecord::key(0, 99)), "menu export"},
      {"FX01.DAT", hexOf(datafiles::MenuRecord::key(0, 99)), "menu tree"},
      {"FX01.DAT", hexOf(datafiles::MenuRecord::key(17, 99)), "menu tree --user ANNA"},
      {"FX02.DAT", hexOf(datafiles::PermissionRecord::key(0, "ANNA", "ZZZZ")), "permissions ANNA"},
      {"FT00.DAT", hexOf(datafiles::InstallationRecord::key('1', 0, 99)), "app list"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.verb);
    const std::string path = dir + "/" + c.file;
    const Result good = pxadmin(std::string(c.verb) + " --dir " + dir);
    EXPECT_EQ(good.exitCode, 0) << good.out;
    sql(path, "INSERT INTO records VALUES(x'" + c.key + "', x'" + c.key + "')");
    const Result r = pxadmin(std::string(c.verb) + " --dir " + dir);
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find(std::string("cannot read ") + c.file + ": 9/041"), std::string::npos)
        << r.out;
    sql(path, "DELETE FROM records WHERE key = x'" + c.key + "'");
  }
  const Result full =
      testing_support::runCommand("{ " + bin() + "/pxadmin menu export --dir " + dir +
                                  " >/dev/full; }");
  EXPECT_EQ(full.exitCode, 1) << full.out;
  EXPECT_NE(full.out.find("cannot write the output"), std::string::npos) << full.out;
}

// An installation whose client is not 0: every verb that takes --client
// works on the installation's client when it is not given, never on client
// 0, where a grant would be written for nobody.
TEST_F(PxadminFaults, VerbsWithoutClientWorkOnTheInstallationsClient) {
  const std::string dir = root + "/client1";
  ASSERT_EQ(pxadmin("init " + dir + " --id GILDAX --option1 N --installation 30005 --client 1")
                .exitCode,
            0);
  ASSERT_EQ(pxadmin("user add ANNA --no-password --dir " + dir).exitCode, 0);
  ASSERT_EQ(pxadmin("catalogue --dir " + dir).exitCode, 0);
  struct Step {
    std::string args;
    std::string output;  // expected somewhere in the output
  };
  const Step steps[] = {
      {"app install 5 --name Mitglieder", "installed for client 1"},
      {"app list", "Mitglieder"},
      {"grant ANNA PXRA", "(client 1, flag 'J')"},
      {"permissions ANNA", "PXRA"},
      {"permissions ANNA --client 0", "(client 0) holds no permission records"},
      {"menu tree --user ANNA", "(class N, client 1)"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.args);
    const Result r = pxadmin(step.args + " --dir " + dir);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find(step.output), std::string::npos) << r.out;
  }
  const std::string apps = pxadmin("app list --dir " + dir).out;
  EXPECT_EQ(apps, pxadmin("app list --client 1 --dir " + dir).out);
  EXPECT_NE(apps, pxadmin("app list --client 0 --dir " + dir).out);
  datafiles::SqliteStore store;
  const auto grantOf = [&](int client) {
    return testing_support::getRecord(store, dir, datafiles::kPermissionFile,
                                      datafiles::PermissionRecord::key(client, "ANNA", "PXRA"));
  };
  EXPECT_TRUE(grantOf(1));
  EXPECT_FALSE(grantOf(0));
  EXPECT_TRUE(testing_support::getRecord(store, dir, datafiles::kInstallationFile,
                                         datafiles::InstallationRecord::key('1', 1, 5)));

  const Result revoked = pxadmin("revoke ANNA PXRA --dir " + dir);
  EXPECT_EQ(revoked.exitCode, 0) << revoked.out;
  EXPECT_FALSE(grantOf(1));
  const Result removed = pxadmin("app remove 5 --dir " + dir);
  EXPECT_EQ(removed.exitCode, 0) << removed.out;
  EXPECT_NE(removed.out.find("removed for client 1"), std::string::npos) << removed.out;
}

// Control characters in user names and menu texts never reach the terminal
// raw: they are shown as their control pictures, and an export with them
// reads back to the same bytes.
TEST_F(PxadminFaults, ControlCharactersAreShownEscaped) {
  const std::string dir = installation("live");
  ASSERT_EQ(pxadmin("user add $'EVIL\x1b[2J' --no-password --dir " + dir).exitCode, 0);
  datafiles::MenuRecord m;
  m.setKey(0, 30);
  encoding::putRaw(m.textField(), std::string("Men\x1b]0;pwned\x07\x7f\x01u"));
  m.setAccessClass('N');
  {
    datafiles::SqliteStore store;
    testing_support::putRecord(store, dir, datafiles::kMenuFile, m.view());
  }
  const Contents before = contents(dir);
  for (const char* verb : {"user list", "menu tree", "menu tree --user ANNA --all",
                           "menu export", "menu export --format json"}) {
    SCOPED_TRACE(verb);
    const Result r = pxadmin(std::string(verb) + " --dir " + dir);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    for (char c : r.out) {
      const auto b = static_cast<unsigned char>(c);
      EXPECT_TRUE((b >= 0x20 && b != 0x7F) || c == '\n') << "raw byte " << int(b) << " in " << r.out;
    }
    const std::string v = verb;
    if (v == "user list") {
      EXPECT_NE(r.out.find("EVIL\u241b[2J"), std::string::npos) << r.out;
    } else if (v != "menu export --format json") {
      EXPECT_NE(r.out.find("Men\u241b]0;pwned\u2407\u2421\u2401u"), std::string::npos) << r.out;
    }
  }
  for (const char* format : {"csv", "json"}) {
    SCOPED_TRACE(format);
    const std::string file = root + "/menu." + format;
    ASSERT_EQ(pxadmin("menu export -o " + file + " --dir " + dir).exitCode, 0);
    ASSERT_EQ(pxadmin("menu import --yes --replace " + file + " --dir " + dir).exitCode, 0);
    EXPECT_EQ(contents(dir), before);
  }
}

// ---- menu import -----------------------------------------------------------

// Runs pxadmin with `args` and standard input from /dev/null; its exit code
// and its largest resident size in KiB.
std::pair<int, long> measured(const std::vector<std::string>& args) {
  const std::string tool = bin() + "/pxadmin";
  std::vector<char*> argv{const_cast<char*>("pxadmin")};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int devNull = ::open("/dev/null", O_RDWR);
    ::dup2(devNull, 0);
    ::dup2(devNull, 1);
    ::dup2(devNull, 2);
    ::execv(tool.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, usage.ru_maxrss};
}

// A CSV import holds one record of its input at a time: 16 MiB of blank
// lines (a gigabyte and more when read whole) or one 16 MiB line cost no more
// memory than a small file.
TEST_F(PxadminFaults, CsvImportStreamsItsInput) {
  const std::string dir = installation("live");
  const std::string header = "set,menu,entry,flag,text,program,access,stamp\n";
  const std::string small = root + "/small.csv", blank = root + "/blank.csv",
                    long_ = root + "/long.csv";
  std::ofstream(small) << header << "0,17,1,,Eintrag,PA64,N,\n";
  {
    std::ofstream out(blank);
    out << header << "0,17,1,,Eintrag,PA64,N,\n";
    const std::string mib(1 << 20, '\n');
    for (int i = 0; i < 16; ++i) out << mib;
  }
  {
    std::ofstream out(long_);
    out << header << "0,17,1,,";
    const std::string mib(1 << 20, 'x');
    for (int i = 0; i < 16; ++i) out << mib;
  }
  const auto base = measured({"menu", "import", small, "--dir", dir});
  ASSERT_EQ(base.first, 0);
  const auto blanks = measured({"menu", "import", blank, "--dir", dir});
  EXPECT_EQ(blanks.first, 0);  // blank lines at the end are no records
  EXPECT_LT(blanks.second, base.second + 16 * 1024) << "KiB, against " << base.second;
  const auto line = measured({"menu", "import", long_, "--dir", dir});
  EXPECT_EQ(line.first, 1);  // a record far longer than any menu record
  EXPECT_LT(line.second, base.second + 16 * 1024) << "KiB, against " << base.second;
  std::ofstream(small) << header << "0,17,1,," << std::string(70000, 'x') << "\n";
  EXPECT_NE(pxadmin("menu import " + small + " --dir " + dir).out.find("longer than"),
            std::string::npos);
}

// --replace that would remove records needs --yes when nobody can be asked;
// without it nothing changes.
TEST_F(PxadminFaults, MenuImportReplaceAsksOrNeedsYes) {
  const std::string dir = installation("live");
  ASSERT_EQ(pxadmin("catalogue --dir " + dir).exitCode, 0);
  const std::string file = root + "/menu.json";
  ASSERT_EQ(pxadmin("menu export -o " + file + " --dir " + dir).exitCode, 0);
  datafiles::MenuRecord extra;
  extra.setKey(17, 99);
  extra.setText("Zusatz");
  {
    datafiles::SqliteStore store;
    testing_support::putRecord(store, dir, datafiles::kMenuFile, extra.view());
  }
  const Contents before = contents(dir);
  const Result refused = pxadmin("menu import --replace " + file + " --dir " + dir + " </dev/null");
  EXPECT_EQ(refused.exitCode, 2) << refused.out;
  EXPECT_NE(refused.out.find("1 menu record that " + file + " does not hold would be removed"),
            std::string::npos)
      << refused.out;
  EXPECT_NE(refused.out.find("--yes"), std::string::npos) << refused.out;
  EXPECT_EQ(contents(dir), before);
  // Nothing to remove: nothing to confirm.
  EXPECT_EQ(pxadmin("menu import " + file + " --dir " + dir + " </dev/null").exitCode, 0);
  const Result done =
      pxadmin("menu import --replace --yes " + file + " --dir " + dir + " </dev/null");
  EXPECT_EQ(done.exitCode, 0) << done.out;
  EXPECT_NE(done.out.find("1 removed"), std::string::npos) << done.out;
}

// ---- passwords ---------------------------------------------------------------

std::string userRecords(const std::string& dir) {
  datafiles::SqliteStore store;
  std::string all;
  for (const auto& [key, record] : testing_support::allRecords(store, dir, datafiles::kUserFile))
    all += record;
  return all;
}

// A password that the sign-on cannot read back whole (longer than its line,
// or with a NUL byte, where the hash function stops) is refused; a user
// with it could never sign on.
TEST_F(PxadminFaults, PasswordsTheSignOnCannotReadAreRefused) {
  const std::string dir = installation("live");
  const std::string longest(256, 'p'), longer(257, 'p');
  const struct {
    std::string input;
    int exitCode;
    const char* said;
  } cases[] = {
      {longer, 2, "at most 256 bytes"},
      {std::string(100000, 'p'), 2, "at most 256 bytes"},
      {std::string("ab\0cd", 5), 2, "NUL"},
      {longest, 0, "with password"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said);
    const std::string user = "U" + std::to_string(++n);
    const std::string file = root + "/password";
    std::ofstream(file) << c.input << "\n";
    const Result r = pxadmin("user add " + user + " --password-stdin --dir " + dir +
                             " < " + file);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out;
    EXPECT_NE(r.out.find(c.said), std::string::npos) << r.out;
  }
  const std::string before = userRecords(dir);
  std::ofstream(root + "/password") << longer << "\n";
  EXPECT_EQ(pxadmin("user passwd ANNA --password-stdin --dir " + dir + " < " + root + "/password")
                .exitCode,
            2);
  EXPECT_EQ(userRecords(dir), before);
}

// user passwd reads the user's record for update only once the password is
// given: while it is typed, the sign-on finds the record free.
TEST_F(PxadminFaults, PasswdAsksBeforeItLocksTheRecord) {
  const std::string dir = installation("live");
  const std::string before = userRecords(dir);
  int input[2];
  ASSERT_EQ(::pipe(input), 0);
  const std::string tool = bin() + "/pxadmin";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(input[0], 0);
    ::close(input[1]);
    const int devNull = ::open("/dev/null", O_WRONLY);
    ::dup2(devNull, 1);
    ::execl(tool.c_str(), "pxadmin", "user", "passwd", "ANNA", "--password-stdin", "--dir",
            dir.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(input[0]);
  // Every user record read for update, again and again while pxadmin waits.
  datafiles::SqliteStore store;
  auto f = store.file(datafiles::kUserFile, dir);
  ASSERT_TRUE(f->open(datafiles::OpenMode::kInputOutput).ok());
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  int reads = 0;
  while (std::chrono::steady_clock::now() < until) {
    datafiles::UserRecord u;
    encoding::zero(u.bytes());
    ASSERT_TRUE(f->start(datafiles::StartMode::kNotLessThan, u.bytes(), 12).ok());
    datafiles::FileStatus s;
    while ((s = f->readNext(u.bytes())).ok()) ++reads;
    ASSERT_TRUE(s.atEnd()) << s.toString();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  (void)f->close();
  EXPECT_GT(reads, 0);
  ASSERT_EQ(::write(input[1], "neu\n", 4), 4);
  ::close(input[1]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_NE(userRecords(dir), before);  // the password is set
}

// ---- restore ---------------------------------------------------------------

void removeWithCompanions(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(path + suffix);
}

// Menu records 1/1 ... 1/n with `text`.
void fillMenus(const std::string& dir, int n, std::string_view text) {
  datafiles::SqliteStore store;
  auto f = store.file(datafiles::kMenuFile, dir);
  ASSERT_TRUE(f->open(datafiles::OpenMode::kInputOutput).ok());
  ASSERT_TRUE(f->begin().ok());
  for (int i = 1; i <= n; ++i) {
    datafiles::MenuRecord r;
    r.setKey(i / 1000 + 1, i % 1000);
    r.setText(text);
    if (!f->write(r.bytes()).ok()) {
      ASSERT_TRUE(f->rewrite(r.bytes()).ok());
    }
  }
  ASSERT_TRUE(f->commit().ok());
}

std::string backupOf(const std::string& dir, const std::string& into) {
  fs::create_directories(into);
  const Result r = pxadmin("backup " + into + " --dir " + dir);
  EXPECT_EQ(r.exitCode, 0) << r.out;
  return r.out.substr(0, r.out.find('\n'));
}

std::string lastLine(const std::string& out) {
  const auto ls = testing_support::lines(out);
  return ls.empty() ? "" : ls.back();
}

// Exactly the files a restore is for: a truncated, a foreign, another
// release's, a missing one, and one holding a malformed record. Each comes
// back whole with the backup's records, together with the other files.
TEST_F(PxadminFaults, RestoreRepairsDamagedForeignMissingAndMalformedFiles) {
  const std::string dir = installation("live");
  ASSERT_EQ(pxadmin("catalogue --dir " + dir).exitCode, 0);
  const Contents reference = contents(dir);
  const std::string backup = backupOf(dir, root + "/backups");
  struct Case {
    const char* what;
    const char* file;
    std::function<void(const std::string& path)> harm;
    const char* said;
  };
  const Case cases[] = {
      {"truncated", "FX01.DAT",
       [](const std::string& p) {
         fs::resize_file(p, fs::file_size(p) / 2 + 100);
         fs::remove(p + "-wal");
       },
       "damaged"},
      {"foreign", "FX02.DAT",
       [](const std::string& p) {
         removeWithCompanions(p);
         sql(p, "CREATE TABLE records(key BLOB PRIMARY KEY, data BLOB NOT NULL)");
       },
       "not a file of this release or system: 9/043"},
      {"another layout", "FX00.DAT",
       [](const std::string& p) {
         removeWithCompanions(p);
         sql(p, std::string(
                    "CREATE TABLE records(key BLOB PRIMARY KEY, data BLOB NOT NULL) WITHOUT ROWID;"
                    "CREATE TABLE layout(record_length INTEGER NOT NULL, key_length INTEGER NOT "
                    "NULL); INSERT INTO layout VALUES(99, 4)"));
       },
       "not a file of this release or system: 39"},
      {"missing", "FT00.DAT", [](const std::string& p) { removeWithCompanions(p); },
       "it was missing"},
      {"malformed record", "FX01.DAT",
       [](const std::string& p) {
         sql(p, "INSERT INTO records VALUES(x'0000000A000C', x'00')");
       },
       "damaged or held malformed records"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(pxadmin("revoke ANNA PX03 --dir " + dir).exitCode, 0);  // another file changed too
    c.harm(dir + "/" + c.file);
    const Result r = pxadmin("restore " + backup + " --dir " + dir);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find(std::string(c.file) + ": "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(c.said), std::string::npos) << r.out;
    EXPECT_EQ(lastLine(r.out), "All four files restored from " + backup + ".");
    const Result check = pxadmin("check --dir " + dir);
    EXPECT_EQ(check.exitCode, 0) << check.out;
    EXPECT_EQ(contents(dir), reference);
  }
  for (const auto& e : fs::directory_iterator(dir))
    EXPECT_EQ(e.path().filename().string().find(".restore-"), std::string::npos) << e.path();
}

// A file in use anywhere stops the restore before it changes anything, even
// the files before it; the message names the file and the lock status.
TEST_F(PxadminFaults, RestoreRefusesAFileInUseAndChangesNothing) {
  const std::string dir = installation("live");
  const std::string backup = backupOf(dir, root + "/backups");
  ASSERT_EQ(pxadmin("app install 7 --name Neu --dir " + dir).exitCode, 0);  // FT00 comes first
  ASSERT_EQ(pxadmin("user remove BERT --dir " + dir).exitCode, 0);
  const Contents changed = contents(dir);
  for (const auto* held : {&datafiles::kUserFile, &datafiles::kPermissionFile}) {
    SCOPED_TRACE(held->name);
    datafiles::SqliteStore store;
    auto f = store.file(*held, dir);
    ASSERT_TRUE(f->open(datafiles::OpenMode::kInput).ok());
    const Result r = pxadmin("restore " + backup + " --dir " + dir);
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find(std::string(held->name) + " is in use: 9/065"), std::string::npos)
        << r.out;
    EXPECT_NE(lastLine(r.out).find("Nothing changed."), std::string::npos) << r.out;
    (void)f->close();
    EXPECT_EQ(contents(dir), changed);
  }
  EXPECT_EQ(pxadmin("restore " + backup + " --dir " + dir).exitCode, 0);
  EXPECT_NE(contents(dir), changed);
}

// A restore killed at any moment leaves every file whole, each either as it
// was or as in the backup; the next restore cleans up after it.
TEST_F(PxadminFaults, RestoreKilledAtAnyMomentLeavesOldOrNewFiles) {
  const std::string dir = installation("live");
  fillMenus(dir, 3000, "alt");
  const Contents oldContents = contents(dir);
  const std::string backupOld = backupOf(dir, root + "/old");
  fillMenus(dir, 4000, "neu");
  ASSERT_EQ(pxadmin("user remove ANNA --dir " + dir).exitCode, 0);
  const Contents newContents = contents(dir);
  const std::string backupNew = backupOf(dir, root + "/new");
  // How long an undisturbed restore takes: the kills fall inside it.
  ASSERT_EQ(pxadmin("restore " + backupOld + " --dir " + dir).exitCode, 0);
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(pxadmin("restore " + backupNew + " --dir " + dir).exitCode, 0);
  const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - t0);
  std::mt19937 random(20261207);
  for (int round = 0; round < 30; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const Result back = pxadmin("restore " + backupOld + " --dir " + dir);
    ASSERT_EQ(back.exitCode, 0) << back.out;
    ASSERT_EQ(contents(dir), oldContents);
    const std::string tool = bin() + "/pxadmin";
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int devNull = ::open("/dev/null", O_WRONLY);
      ::dup2(devNull, 1);
      ::dup2(devNull, 2);
      ::execl(tool.c_str(), "pxadmin", "restore", backupNew.c_str(), "--dir", dir.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % (took.count() + 1)));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const Contents now = contents(dir);
    datafiles::SqliteStore store;
    for (const auto* spec : kFiles) {
      const std::string name(spec->name);
      std::vector<std::string> problems;
      EXPECT_EQ(store.checkIntegrity(*spec, dir, &problems), datafiles::kOk)
          << name << (problems.empty() ? "" : ": " + problems.front());
      const bool isOld = now.at(name) == oldContents.at(name);
      const bool isNew = now.at(name) == newContents.at(name);
      EXPECT_TRUE(isOld || isNew) << name;
    }
  }
  ASSERT_EQ(pxadmin("restore " + backupNew + " --dir " + dir).exitCode, 0);
  EXPECT_EQ(contents(dir), newContents);
  for (const auto& e : fs::directory_iterator(dir))
    EXPECT_EQ(e.path().filename().string().find(".restore-"), std::string::npos) << e.path();
}

}  // namespace
