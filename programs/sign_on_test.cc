// PX00 on its logic: an in-memory store behind a FaultStore (the embedded
// store for the lock wait), U001 and U009 as fakes called by name, and a
// console fed from a pipe or a script.
#include "programs/sign_on.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <deque>

#include "datafiles/audit_records.h"
#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"
#include "encoding/packed.h"
#include "programs/module.h"
#include "programs/password.h"
#include "programs/settings_store.h"
#include "programs/user_name_code.h"
#include "testing/fake_program_loader.h"
#include "testing/fault_store.h"
#include "testing/memory_store.h"
#include "testing/store_contents.h"
#include "testing/temp_dir.h"

namespace {

using Area = pxabi::CommonArea;
using testing_support::FakeProgramLoader;
using testing_support::FaultStore;
using testing_support::MemoryStore;

class ScriptConsole : public programs::Console {
 public:
  std::deque<std::string> lines;
  std::vector<std::string> prompts, told;
  std::optional<std::string> readLine(std::string_view prompt, bool) override {
    prompts.emplace_back(prompt);
    if (lines.empty()) return std::nullopt;
    std::string l = lines.front();
    lines.pop_front();
    return l;
  }
  void tell(std::string_view line) override { told.emplace_back(line); }
};

std::string field(const Area& a, encoding::Field f) {
  return std::string(a.view().substr(f.offset, f.width));
}

class SignOnTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(memory.create(datafiles::kInstallationFile).ok());
    ASSERT_TRUE(memory.create(datafiles::kUserFile).ok());
    encoding::putRaw(control.identification(), "GILDAX");
    encoding::putText(control.clubText(), "TV Musterstadt 1860 e.V.");
    control.editionOption1()[0] = 'A';
    control.editionOption2()[0] = 'B';
    encoding::putRaw(control.installationNumber(), "12345");
    encoding::putRaw(control.regionCode(), "NRW");
    encoding::putRaw(control.headerNumber(), "042");
    encoding::packed3::encode(3, control.defaultClient());
    memory.put("FT00.DAT", control.view());
    addUser(3, "ANNA", 'H', "");
    addUser(5, "ANNA", 'N', "");
    loader.add("U001", [](void* block, void*) {
      return programs::withRecord<pxabi::UserNameBlock>(block, [](pxabi::UserNameBlock& b) {
        programs::user_name::apply(b);
        return 0;
      });
    });
    loader.add("U009", [this](void* block, void*) {
      return programs::withRecord<pxabi::SettingsBlock>(block, [&](pxabi::SettingsBlock& b) {
        using S = pxabi::SettingsBlock;
        settingsKey = std::string(b.view().substr(S::kKey.offset, S::kKey.width));
        std::copy(storedMenu.begin(), storedMenu.end(), b.menuValue().begin());
        return 0;
      });
    });
    today.tm_year = 126, today.tm_mon = 11, today.tm_mday = 7;
  }
  void addUser(int client, std::string_view name, char cls, std::string_view hash) {
    datafiles::UserRecord u;
    std::array<char, 10> plain;
    plain.fill(' ');
    std::copy(name.begin(), name.end(), plain.begin());
    u.setClient(client);
    u.setEncodedName(encoding::view(programs::user_name::encode(plain)));
    u.setSignOnFlag('N');
    u.setUserClass(cls);
    u.setPasswordHash(hash);
    memory.put("FX00.DAT", u.view());
  }
  std::int32_t run(Area& area, programs::Console& console) {
    programs::SignOnContext ctx{store, loader, console, "/srv/club"};
    ctx.today = today;
    return programs::signOn(area, ctx);
  }
  Area withUser(std::string_view name, std::string_view second = "") {
    Area a;
    encoding::putRaw(a.userName(), name);
    encoding::putRaw(a.secondWord(), second);
    return a;
  }

  MemoryStore memory;
  FaultStore store{memory};
  FakeProgramLoader loader;
  datafiles::ControlRecord control;
  std::tm today{};
  std::string storedMenu = "20240115";
  std::string settingsKey;
  std::string cwd = "/srv/club";
};

TEST_F(SignOnTest, FillsEveryFieldTheLauncherReads) {
  Area area = withUser("ANNA");
  const Area before = area;
  ScriptConsole console;
  ASSERT_EQ(run(area, console), programs::kDone);
  EXPECT_EQ(field(area, Area::kIdentification), "GILDAX");
  EXPECT_EQ(area.client(), 3);  // the installation's default client
  EXPECT_EQ(field(area, Area::kUserName), "ANNA      ");
  EXPECT_EQ(field(area, Area::kHeaderNumber), "042");
  EXPECT_EQ(encoding::getText(area.clubText()), "TV Musterstadt 1860 e.V.");
  EXPECT_EQ(field(area, Area::kEditionOption1), "A");
  EXPECT_EQ(field(area, Area::kEditionOption2), "B");
  EXPECT_EQ(field(area, Area::kInstallationNumber), "12345");
  EXPECT_EQ(field(area, Area::kRegionCode), "NRW");
  EXPECT_EQ(encoding::trimmed(area.dataDirectory()), "/srv/club");
  EXPECT_EQ(field(area, Area::kUserClass), "H");
  EXPECT_EQ(field(area, Area::kWorkingDate), "261207");
  const int keys[10] = {10, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  for (int k = 1; k <= 10; ++k) EXPECT_EQ(area.functionKeyAction(k), keys[k - 1]) << "F" << k;
  EXPECT_EQ(field(area, Area::kMenuValue), "20240115");  // from the settings store
  EXPECT_EQ(field(area, Area::kCheckValue), std::string(programs::kCheckValue));
  EXPECT_EQ(settingsKey, "GILDAX003PX01    ");
  // Nothing else changed: the version text, call name and the programs' gaps.
  for (encoding::Field f : {Area::kVersionText, Area::kCallName, Area::kGap4,
                            Area::kSavedControlBlock, Area::kCarriedValues, Area::kSecondWord})
    EXPECT_EQ(field(area, f), field(before, f));
  EXPECT_TRUE(console.prompts.empty());
}

TEST_F(SignOnTest, ClientDirectoryAndMenuValueChoices) {
  struct Case {
    std::string second;   // second command-line word
    std::string dataDir;  // in the control record
    std::string stored;   // menu value in the settings store
    int client;
    std::string directory, menuValue;
  };
  const Case cases[] = {
      {"5", "", "20240115", 5, "/srv/club", "20240115"},
      {"005", "daten", "        ", 5, "/srv/club/daten", "00000000"},
      {"X1", "/mnt/daten/", "12ab5678", 3, "/mnt/daten", "00000000"},
      {"1000", "../andere", "30009999", 3, "/srv/andere", "30009999"},
      {"", "Vereinsbüro", "20240115", 3, "/srv/club/Vereinsb\x81ro", "20240115"},  // code page 850
  };
  for (const auto& c : cases) {
    encoding::putText(control.dataDirectory(), c.dataDir);
    memory.put("FT00.DAT", control.view());
    storedMenu = c.stored;
    Area area = withUser("ANNA", c.second);
    ScriptConsole console;
    ASSERT_EQ(run(area, console), programs::kDone) << c.second;
    EXPECT_EQ(area.client(), c.client) << c.second;
    EXPECT_EQ(encoding::trimmed(area.dataDirectory()), c.directory) << c.second;
    EXPECT_EQ(field(area, Area::kMenuValue), c.menuValue) << c.second;
    EXPECT_EQ(field(area, Area::kUserClass), c.client == 5 ? "N" : "H");
  }
}

TEST_F(SignOnTest, RefusesUnknownUsersAndUnusableFiles) {
  struct Case {
    const char* why;
    std::string name, second;
    std::function<void()> arrange;
  };
  const Case cases[] = {
      {"unknown user", "BERND", "", [] {}},
      {"user of another client", "ANNA", "7", [] {}},
      {"no user file", "ANNA", "", [this] { memory.removeFile("FX00.DAT"); }},
      {"no control record", "ANNA", "", [this] { memory.contents("FT00.DAT").records.clear(); }},
      {"no installation file", "ANNA", "", [this] { memory.removeFile("FT00.DAT"); }},
      {"U001 missing", "ANNA", "", [this] { loader = FakeProgramLoader(); }},
      {"directory not in code page 850", "ANNA", "",
       [this] {
         encoding::putRaw(control.dataDirectory(), "");
         memory.put("FT00.DAT", control.view());
         cwd = "/srv/\xE2\x82\xAC";  // the euro sign
       }},
      {"directory too long", "ANNA", "",
       [this] {
         encoding::putRaw(control.dataDirectory(), std::string(94, 'd'));
         memory.put("FT00.DAT", control.view());  // below a deep current directory
       }},
  };
  for (const auto& c : cases) {
    memory = MemoryStore();
    loader = FakeProgramLoader();
    control = datafiles::ControlRecord();
    SetUp();
    Area area = withUser(c.name, c.second);
    ScriptConsole console;
    cwd = std::string_view(c.why) == "directory too long" ? "/" + std::string(200, 'x')
                                                          : std::string("/srv/club");
    c.arrange();
    programs::SignOnContext ctx{store, loader, console, cwd};
    ctx.today = today;
    EXPECT_EQ(programs::signOn(area, ctx), programs::kRefused) << c.why;
    EXPECT_TRUE(encoding::isBlank(area.userName())) << c.why;
    ASSERT_EQ(console.told.size(), 1u) << c.why;
    EXPECT_EQ(console.told[0].rfind("Anmeldung abgelehnt: ", 0), 0u) << c.why;
  }
}

TEST_F(SignOnTest, AsksForTheNameWhenTheCommandLineHasNone) {
  Area area = withUser("");
  ScriptConsole console;
  console.lines = {"ANNA"};
  ASSERT_EQ(run(area, console), programs::kDone);
  EXPECT_EQ(console.prompts, std::vector<std::string>{"Benutzer: "});
  EXPECT_EQ(field(area, Area::kUserName), "ANNA      ");

  Area none = withUser("");
  ScriptConsole empty;  // end of input
  EXPECT_EQ(run(none, empty), programs::kRefused);
  EXPECT_TRUE(encoding::isBlank(none.userName()));
}

// On the embedded store: the user file held elsewhere twice, then free.
TEST_F(SignOnTest, LockedFileIsWaitedFor) {
  testing_support::TempDir dir("px-signon");
  datafiles::SqliteStore sqlite;
  for (const auto* spec : {&datafiles::kInstallationFile, &datafiles::kUserFile})
    ASSERT_TRUE(sqlite.create(*spec, dir.path()).ok());
  for (const auto* spec : {&datafiles::kInstallationFile, &datafiles::kUserFile})
    for (const auto& [key, record] : memory.contents(spec->name).records)
      testing_support::putRecord(sqlite, dir.path(), *spec, record);
  FaultStore faults(sqlite, dir.path());
  faults.fail("FX00.DAT", testing_support::Op::kOpen, datafiles::kFileLocked, 2);
  Area area = withUser("ANNA");
  ScriptConsole console;
  int waits = 0;
  programs::SignOnContext ctx{faults, loader, console, dir.path()};
  ctx.waitForLock = [&] { ++waits; };
  EXPECT_EQ(programs::signOn(area, ctx), programs::kDone);
  EXPECT_EQ(waits, 2);
  EXPECT_EQ(faults.calls("FX00.DAT", testing_support::Op::kOpen), 3);
  EXPECT_EQ(console.told, std::vector<std::string>{"Datei zur Zeit gesperrt - bitte warten!"});
  EXPECT_EQ(encoding::trimmed(area.dataDirectory()), dir.path());
}

// Writes `input` into a pipe and gives its reading end to a console.
struct PipedConsole {
  explicit PipedConsole(std::string_view input) {
    EXPECT_EQ(::pipe(in), 0);
    EXPECT_EQ(::pipe(out), 0);
    EXPECT_EQ(::write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    ::close(in[1]);
    console.emplace(in[0], out[1]);
  }
  ~PipedConsole() {
    ::close(in[0]);
    ::close(out[0]);
  }
  std::string said() {
    ::close(out[1]);
    std::string s;
    char buf[512];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) s.append(buf, n);
    return s;
  }
  int in[2] = {-1, -1}, out[2] = {-1, -1};
  std::optional<programs::FdConsole> console;
};

TEST_F(SignOnTest, PasswordFromAPipe) {
  const auto hash = programs::password::hash("geheim42");
  ASSERT_TRUE(hash);
  memory.contents("FX00.DAT").records.clear();
  addUser(3, "ANNA", 'M', *hash);
  struct Case {
    std::string input;
    bool accepted;
  };
  const Case cases[] = {
      {"geheim42\n", true},
      {"irrig\ngeheim42\n", true},
      {"irrig\nIRRIG\ngeheim42\n", true},
      {"a\nb\nc\ngeheim42\n", false},  // three failures end it
      {"irrig\n", false},              // end of input
      {"", false},
      {"geheim42 \n", false},
  };
  for (const auto& c : cases) {
    PipedConsole piped(c.input);
    Area area = withUser("ANNA");
    const auto rc = run(area, *piped.console);
    const std::string said = piped.said();
    EXPECT_EQ(rc, c.accepted ? programs::kDone : programs::kRefused) << c.input;
    EXPECT_EQ(encoding::isBlank(area.userName()), !c.accepted) << c.input;
    // Neither the password nor the hash ever reaches the area or the screen.
    for (const std::string& secret : {std::string("geheim42"), std::string("irrig"), *hash}) {
      EXPECT_EQ(area.view().find(secret), std::string::npos) << c.input;
      EXPECT_EQ(said.find(secret), std::string::npos) << c.input;
    }
    EXPECT_NE(said.find("Kennwort: "), std::string::npos);
    if (!c.accepted) {
      EXPECT_NE(said.find("Anmeldung abgelehnt"), std::string::npos);
    }
  }
  // The user record is never written by the sign-on.
  EXPECT_EQ(store.calls("FX00.DAT", testing_support::Op::kRewrite), 0);
  EXPECT_EQ(store.calls("FX00.DAT", testing_support::Op::kWrite), 0);
}

// Every event of the trail as "EVENT user client result detail".
std::vector<std::string> events(MemoryStore& memory) {
  std::vector<std::string> out;
  if (!memory.exists("FXAU.DAT")) return out;
  for (const auto& [key, bytes] : memory.contents("FXAU.DAT").records) {
    datafiles::AuditRecord r;
    encoding::putRaw(r.bytes(), bytes);
    if (r.kind() != datafiles::AuditRecord::kEventKind) continue;
    EXPECT_EQ(encoding::trimmed(r.origin()), "PX00");
    out.push_back(std::string(encoding::trimmed(r.event())) + " " +
                  std::string(encoding::trimmed(r.user())) + " " +
                  std::string(encoding::view(r.client())) + " " +
                  std::string(encoding::trimmed(r.result())) + " " + encoding::getText(r.detail()));
  }
  return out;
}

TEST_F(SignOnTest, SignOnsAreRecordedWithTheReason) {
  ScriptConsole console;
  Area anna = withUser("ANNA");
  ASSERT_EQ(run(anna, console), programs::kDone);
  Area bernd = withUser("BERND", "5");
  ASSERT_EQ(run(bernd, console), programs::kRefused);
  EXPECT_EQ(events(memory), (std::vector<std::string>{
                                "SIGNON ANNA 003 OK class H, no password",
                                "SIGNFAIL BERND 005 REFUSED Benutzer unbekannt.",
                            }));
}

// Three refused passwords, then every attempt waits, longer each time, over
// as many sign-ons as it takes, until the right password resets the count.
// Each sign-on is a fresh start of the program: only the trail remembers.
TEST_F(SignOnTest, RefusedPasswordsSlowDownTheNextAttemptsAcrossSignOns) {
  const auto hash = programs::password::hash("geheim42");
  ASSERT_TRUE(hash);
  memory.contents("FX00.DAT").records.clear();
  addUser(3, "ANNA", 'N', *hash);
  addUser(3, "BERND", 'N', *hash);
  std::vector<long> waited;
  auto signOn = [&](std::string_view user, std::deque<std::string> lines) {
    ScriptConsole console;
    console.lines = std::move(lines);
    Area area = withUser(user);
    programs::SignOnContext ctx{store, loader, console, "/srv/club"};
    ctx.throttle = [&](std::chrono::seconds s) { waited.push_back(s.count()); };
    return programs::signOn(area, ctx);
  };
  EXPECT_EQ(signOn("ANNA", {"a", "b", "c"}), programs::kRefused);
  EXPECT_TRUE(waited.empty());
  EXPECT_EQ(signOn("ANNA", {"d", "e", "f"}), programs::kRefused);
  EXPECT_EQ(waited, (std::vector<long>{1, 2, 4}));
  // Another user is not slowed down.
  EXPECT_EQ(signOn("BERND", {"geheim42"}), programs::kDone);
  EXPECT_EQ(waited.size(), 3u);
  EXPECT_EQ(signOn("ANNA", {"g", "h", "geheim42"}), programs::kDone);
  EXPECT_EQ(waited, (std::vector<long>{1, 2, 4, 8, 16, 30}));
  EXPECT_EQ(signOn("ANNA", {"Zx9wq", "geheim42"}), programs::kDone);
  EXPECT_EQ(waited.size(), 6u);  // reset by the right password
  const auto e = events(memory);
  ASSERT_EQ(e.size(), 11u);
  EXPECT_EQ(e[0], "SIGNFAIL ANNA 003 REFUSED Kennwort falsch.");
  EXPECT_EQ(e[1], "THROTTLE ANNA 003 1 waited 1 s after 3 refused passwords");
  EXPECT_EQ(e[4], "SIGNFAIL ANNA 003 REFUSED Kennwort falsch.");
  EXPECT_EQ(e[5], "SIGNON BERND 003 OK class N, password");
  EXPECT_EQ(e[8], "THROTTLE ANNA 003 30 waited 30 s after 8 refused passwords");
  EXPECT_EQ(e[9], "SIGNON ANNA 003 OK class N, password");
  EXPECT_EQ(e[10], "SIGNON ANNA 003 OK class N, password");
  // Neither the passwords nor the hash are in any record of the trail.
  for (const auto& [key, record] : memory.contents("FXAU.DAT").records)
    for (const std::string& secret : {std::string("geheim42"), std::string("Zx9wq"), *hash})
      EXPECT_EQ(record.find(secret), std::string::npos);
}

// A trail that cannot be used neither stops nor slows the sign-on.
TEST_F(SignOnTest, ATrailThatFailsDoesNotStopTheSignOn) {
  store.fail("FXAU.DAT", testing_support::Op::kOpen, datafiles::kFileLocked, -1);
  const auto hash = programs::password::hash("geheim42");
  ASSERT_TRUE(hash);
  memory.contents("FX00.DAT").records.clear();
  addUser(3, "ANNA", 'N', *hash);
  PipedConsole piped("a\nb\nc\n");
  Area refused = withUser("ANNA");
  EXPECT_EQ(run(refused, *piped.console), programs::kRefused);
  PipedConsole again("geheim42\n");
  Area area = withUser("ANNA");
  EXPECT_EQ(run(area, *again.console), programs::kDone);
  EXPECT_FALSE(memory.exists("FXAU.DAT"));
}

TEST(Password, HashesAreSaltedYescryptAndVerify) {
  const auto a = programs::password::hash("Kennwort");
  const auto b = programs::password::hash("Kennwort");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->rfind("$y$", 0), 0u);
  EXPECT_NE(*a, *b);
  EXPECT_LE(a->size(), datafiles::UserRecord::kPasswordHash.width);
  EXPECT_TRUE(programs::password::verify("Kennwort", *a));
  EXPECT_FALSE(programs::password::verify("kennwort", *a));
  EXPECT_FALSE(programs::password::verify("Kennwort", ""));
  EXPECT_FALSE(programs::password::verify("Kennwort", "*0"));
  EXPECT_FALSE(programs::password::verify("", *a));
}

}  // namespace
