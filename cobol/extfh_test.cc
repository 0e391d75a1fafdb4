// PXEXTFH through the real run-time: a COBOL program's file statements reach
// the store with the statuses the store gives, record locks hold between a
// COBOL program and another process in both directions, units commit and
// roll back (and vanish with a killed process), other files stay with the
// run-time's own handler, and the sample programs do their work.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "abi/common_area.h"
#include "abi/screen_control_block.h"
#include "datafiles/process_store.h"
#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"
#include "platform/dl_program_loader.h"
#include "testing/cobol_support.h"
#include "testing/fault_store.h"

namespace {

using testing_support::Child;
using testing_support::DataDir;
using testing_support::probe;
using testing_support::probeCommand;

// TROBOT's second record: one operation per call.
struct Command {
  char op[2];
  char file[40];
  char status[2];
  char record[58];
};
static_assert(sizeof(Command) == 102);

class Robot {
 public:
  explicit Robot(platform::DlProgramLoader& loader) : loader_(loader) {}
  ~Robot() { loader_.unload("TROBOT"); }
  // The status after operation `op` ("00", "9/068").
  std::string op(std::string_view op, std::string_view arg = {}) {
    Command c;
    std::memset(&c, ' ', sizeof c);
    std::memcpy(c.op, op.data(), 2);
    const bool names =
        op[0] == 'O' || op[0] == 'Q' || (op[0] == 'T' && (op[1] == 'O' || op[1] == 'I'));
    char* to = names ? c.file : c.record;
    const std::size_t room = names ? sizeof c.file : sizeof c.record;
    if (!arg.empty()) std::memcpy(to, arg.data(), std::min(arg.size(), room));
    const auto out = loader_.call("TROBOT", area_.data(), &c);
    EXPECT_TRUE(out.loaded) << loader_.lastError();
    record_.assign(c.record, sizeof c.record);
    return datafiles::FileStatus::fromRaw(c.status).toString();
  }
  const std::string& record() const { return record_; }

 private:
  platform::DlProgramLoader& loader_;
  pxabi::CommonArea area_;
  std::string record_;
};

std::string menuRecord(int menu, int entry, std::string_view text = {}) {
  datafiles::MenuRecord r;
  r.setKey(menu, entry);
  r.setText(text);
  return std::string(r.view());
}
std::string menuKey(int menu, int entry) {
  return menuRecord(menu, entry).substr(0, datafiles::MenuRecord::kKeyLength);
}
std::string textOf(const std::string& bytes) {
  datafiles::MenuRecord r;
  std::memcpy(r.data(), bytes.data(), std::min(bytes.size(), r.kSize));
  return r.text();
}

class Extfh : public ::testing::Test {
 protected:
  void SetUp() override {
    datafiles::SqliteStore store;
    auto f = store.file(datafiles::kMenuFile);
    ASSERT_TRUE(f->open(datafiles::OpenMode::kInputOutput).ok());
    for (auto [menu, entries] : {std::pair{1, 3}, std::pair{2, 2}})
      for (int e = 1; e <= entries; ++e) {
        const std::string r =
            menuRecord(menu, e, "M" + std::to_string(menu) + "E" + std::to_string(e));
        ASSERT_TRUE(f->write(r).ok());
      }
    ASSERT_TRUE(f->close().ok());
  }
  int menuCount() { return testing_support::countRecords(datafiles::kMenuFile); }

  DataDir dir_;
  platform::DlProgramLoader loader_{testing_support::cobolProgramPath(),
                                    testing_support::cobolHandler()};
};

TEST_F(Extfh, ReadByKeyStartAndReadNextGiveTheStoresRecordsAndStatuses) {
  Robot r(loader_);
  ASSERT_EQ(r.op("OI", "FX01.DAT"), "00");
  EXPECT_EQ(r.op("RK", menuKey(1, 2)), "00");
  EXPECT_EQ(textOf(r.record()), "M1E2");
  EXPECT_EQ(r.op("RN"), "00");  // continues behind the record read
  EXPECT_EQ(textOf(r.record()), "M1E3");
  EXPECT_EQ(r.op("RK", menuKey(1, 9)), "23");
  EXPECT_EQ(r.op("SE", menuKey(2, 1)), "00");
  EXPECT_EQ(r.op("RN"), "00");
  EXPECT_EQ(textOf(r.record()), "M2E1");
  EXPECT_EQ(r.op("SE", menuKey(1, 9)), "23");
  EXPECT_EQ(r.op("SG", menuKey(1, 3)), "00");
  EXPECT_EQ(r.op("RN"), "00");
  EXPECT_EQ(textOf(r.record()), "M2E1");
  EXPECT_EQ(r.op("SN", menuKey(1, 0)), "00");
  EXPECT_EQ(r.op("RN"), "00");
  EXPECT_EQ(textOf(r.record()), "M1E1");
  // A partial key: the first 4 bytes (menu set, menu) greater than menu 1.
  EXPECT_EQ(r.op("S4", menuKey(1, 0)), "00");
  EXPECT_EQ(r.op("RN"), "00");
  EXPECT_EQ(textOf(r.record()), "M2E1");
  EXPECT_EQ(r.op("RN"), "00");
  EXPECT_EQ(r.op("RN"), "10");
  EXPECT_EQ(r.op("SG", menuKey(2, 2)), "23");
  EXPECT_EQ(r.op("SF"), "00");
  EXPECT_EQ(r.op("RN"), "00");
  EXPECT_EQ(textOf(r.record()), "M1E1");
  EXPECT_EQ(r.op("RP"), "30");  // the store reads forward only
  EXPECT_EQ(r.op("CL"), "00");
  EXPECT_EQ(r.op("CL"), "42");
  EXPECT_EQ(r.op("RK", menuKey(1, 1)), "42");
}

TEST_F(Extfh, ReadNextRightAfterOpenStartsAtTheFirstRecord) {
  Robot r(loader_);
  ASSERT_EQ(r.op("OI", "FX01.DAT"), "00");
  EXPECT_EQ(r.op("RN"), "00");
  EXPECT_EQ(textOf(r.record()), "M1E1");
}

TEST_F(Extfh, ChangesAndTheirStatuses) {
  Robot r(loader_);
  ASSERT_EQ(r.op("OU", "FX01.DAT"), "00");
  EXPECT_EQ(r.op("WR", menuRecord(1, 1, "DOPPELT")), "22");
  EXPECT_EQ(r.op("WR", menuRecord(3, 1, "NEU")), "00");
  EXPECT_EQ(r.op("RW", menuRecord(1, 1, "GEAENDERT")), "00");  // no read needed first
  EXPECT_EQ(r.op("RW", menuRecord(7, 7, "FEHLT")), "23");
  EXPECT_EQ(r.op("DL", menuRecord(2, 2)), "00");
  EXPECT_EQ(r.op("DL", menuRecord(2, 2)), "23");
  EXPECT_EQ(r.op("CL"), "00");
  // Visible to everyone at once (no unit): another process counts them.
  EXPECT_EQ(menuCount(), 5);
  ASSERT_EQ(r.op("OI", "FX01.DAT"), "00");
  EXPECT_EQ(r.op("RK", menuKey(1, 1)), "00");
  EXPECT_EQ(textOf(r.record()), "GEAENDERT");
  EXPECT_EQ(r.op("WR", menuRecord(4, 1)), "48");
  EXPECT_EQ(r.op("RW", menuRecord(1, 1)), "49");
  EXPECT_EQ(r.op("DL", menuRecord(1, 1)), "49");
  EXPECT_EQ(r.op("OI", "FX01.DAT"), "41");
}

TEST_F(Extfh, OpenStatuses) {
  Robot r(loader_);
  // The four data files keep their layout and are never emptied or made.
  EXPECT_EQ(r.op("OI", "FX00.DAT"), "39");  // 58/6 is not the user file's layout
  EXPECT_EQ(r.op("OO", "FX01.DAT"), "37");
  EXPECT_EQ(menuCount(), 5);
  EXPECT_EQ(r.op("OU", "FX02"), "39");  // the name without ".DAT" means the data file
  // Any other indexed file with the program's layout.
  EXPECT_EQ(r.op("OI", "WORK.DAT"), "35");
  EXPECT_EQ(r.op("OO", "WORK.DAT"), "00");
  EXPECT_EQ(r.op("WR", menuRecord(1, 1, "A")), "00");
  EXPECT_EQ(r.op("RK", menuKey(1, 1)), "47");  // OUTPUT: no reads
  EXPECT_EQ(r.op("CL"), "00");
  EXPECT_EQ(r.op("OO", "WORK.DAT"), "00");  // OUTPUT again: empty again
  EXPECT_EQ(r.op("CL"), "00");
  EXPECT_EQ(r.op("OI", "WORK.DAT"), "00");
  EXPECT_EQ(r.op("RN"), "10");
  EXPECT_EQ(r.op("CL"), "00");
  // OPTIONAL: absent for input is "05" and empty; for I-O it is made.
  EXPECT_EQ(r.op("QI", "OPT.DAT"), "05");
  EXPECT_EQ(r.op("QR"), "10");
  EXPECT_EQ(r.op("QK", menuKey(1, 1)), "23");
  EXPECT_EQ(r.op("QC"), "00");
  EXPECT_FALSE(std::filesystem::exists("OPT.DAT"));
  EXPECT_EQ(r.op("QU", "OPT.DAT"), "05");
  EXPECT_EQ(r.op("QC"), "00");
  EXPECT_TRUE(std::filesystem::exists("OPT.DAT"));
  EXPECT_EQ(r.op("QU", "OPT.DAT"), "00");
  EXPECT_EQ(r.op("QC"), "00");
  // A missing data file is never made, in any spelling of its name.
  std::filesystem::remove("FX01.DAT");
  EXPECT_EQ(r.op("OU", "fx01"), "35");
  EXPECT_EQ(r.op("OU", "./FX01.DAT"), "35");
  EXPECT_FALSE(std::filesystem::exists("FX01.DAT"));
}

TEST_F(Extfh, SequentialAccessRules) {
  Robot r(loader_);
  ASSERT_EQ(r.op("TO", "SEQ.DAT"), "00");
  EXPECT_EQ(r.op("TW", menuRecord(1, 2)), "00");
  EXPECT_EQ(r.op("TW", menuRecord(1, 1)), "21");  // keys must ascend
  EXPECT_EQ(r.op("TW", menuRecord(1, 3)), "00");
  EXPECT_EQ(r.op("TC"), "00");
  ASSERT_EQ(r.op("TI", "SEQ.DAT"), "00");
  EXPECT_EQ(r.op("TX", menuRecord(1, 2)), "43");  // REWRITE needs a READ first
  EXPECT_EQ(r.op("TR"), "00");
  EXPECT_EQ(r.op("TX", menuRecord(1, 3)), "21");  // ... of the same key
  EXPECT_EQ(r.op("TR"), "00");
  EXPECT_EQ(r.op("TX", menuRecord(1, 3, "X")), "00");
  EXPECT_EQ(r.op("TD"), "43");
  EXPECT_EQ(r.op("TC"), "00");
}

// A record read for update by the COBOL program is locked against another
// process, and the other way round; never a lost update.
TEST_F(Extfh, RecordLocksAgainstAnotherProcessInBothDirections) {
  const std::string key = menuKey(1, 1);
  {
    Robot r(loader_);
    ASSERT_EQ(r.op("OU", "FX01.DAT"), "00");
    ASSERT_EQ(r.op("RL", menuKey(1, 1)), "00");
    EXPECT_EQ(probe(datafiles::kMenuFile, "read-update", key), "9/068");
    EXPECT_EQ(r.op("RW", menuRecord(1, 1, "VON COBOL")), "00");
    EXPECT_EQ(probe(datafiles::kMenuFile, "read-update", key), "00");
    // UNLOCK lets go without another operation.
    ASSERT_EQ(r.op("RK", menuKey(1, 1)), "00");
    EXPECT_EQ(probe(datafiles::kMenuFile, "read-update", key), "9/068");
    EXPECT_EQ(r.op("UL"), "00");
    EXPECT_EQ(probe(datafiles::kMenuFile, "read-update", key), "00");
    EXPECT_EQ(r.op("CL"), "00");
  }
  Child holder(probeCommand(datafiles::kMenuFile, "hold", key));
  ASSERT_EQ(holder.readLine(), "00");
  Robot r(loader_);
  ASSERT_EQ(r.op("OU", "FX01.DAT"), "00");
  EXPECT_EQ(r.op("RL", menuKey(1, 1)), "9/068");
  EXPECT_EQ(r.op("RK", menuKey(1, 2)), "00");  // other records are free
  holder.writeLine("");
  holder.wait();
  EXPECT_EQ(r.op("RL", menuKey(1, 1)), "00");
  EXPECT_EQ(textOf(r.record()), "VON COBOL");
}

// After COMMIT or ROLLBACK the program works in units: every record it
// reads on an I-O file stays locked against other processes until the next
// COMMIT or ROLLBACK, also across other operations and UNLOCK.
TEST_F(Extfh, InsideAUnitRecordLocksLastUntilCommitOrRollback) {
  Robot r(loader_);
  ASSERT_EQ(r.op("OU", "FX01.DAT"), "00");
  (void)r.op("CM");  // COMMIT has no file status; it starts unit mode
  ASSERT_EQ(r.op("RL", menuKey(1, 1)), "00");
  ASSERT_EQ(r.op("RK", menuKey(1, 2)), "00");
  ASSERT_EQ(r.op("UL"), "00");
  EXPECT_EQ(probe(datafiles::kMenuFile, "read-update", menuKey(1, 1)), "9/068");
  EXPECT_EQ(probe(datafiles::kMenuFile, "read-update", menuKey(1, 2)), "9/068");
  EXPECT_EQ(probe(datafiles::kMenuFile, "read-update", menuKey(1, 3)), "00");
  ASSERT_EQ(r.op("RW", menuRecord(1, 1, "IN DER EINHEIT")), "00");
  (void)r.op("CM");
  EXPECT_EQ(probe(datafiles::kMenuFile, "read-update", menuKey(1, 1)), "00");
  EXPECT_EQ(probe(datafiles::kMenuFile, "read-update", menuKey(1, 2)), "00");
  ASSERT_EQ(r.op("RK", menuKey(1, 3)), "00");
  ASSERT_EQ(r.op("RW", menuRecord(1, 3, "ZURUECK")), "00");
  EXPECT_EQ(probe(datafiles::kMenuFile, "read-update", menuKey(1, 3)), "9/068");
  (void)r.op("RB");
  EXPECT_EQ(probe(datafiles::kMenuFile, "read-update", menuKey(1, 3)), "00");
  ASSERT_EQ(r.op("CL"), "00");
  ASSERT_EQ(r.op("OI", "FX01.DAT"), "00");
  ASSERT_EQ(r.op("RK", menuKey(1, 1)), "00");
  EXPECT_EQ(textOf(r.record()), "IN DER EINHEIT");
  ASSERT_EQ(r.op("RK", menuKey(1, 3)), "00");
  EXPECT_EQ(textOf(r.record()), "M1E3");  // rolled back
}

TEST_F(Extfh, FileHeldExclusivelyElsewhereIsLocked) {
  datafiles::SqliteStore store;
  auto f = store.file(datafiles::kMenuFile);
  ASSERT_TRUE(f->open(datafiles::OpenMode::kExclusive).ok());
  Robot r(loader_);
  EXPECT_EQ(r.op("OI", "FX01.DAT"), "9/065");
  (void)f->close();
  EXPECT_EQ(r.op("OI", "FX01.DAT"), "00");
  EXPECT_EQ(r.op("CL"), "00");
  // OPEN ... WITH LOCK: the COBOL program has the file alone.
  EXPECT_EQ(r.op("OX", "FX01.DAT"), "00");
  EXPECT_EQ(probe(datafiles::kMenuFile, "read-update", menuKey(1, 1)), "9/065");
  EXPECT_EQ(r.op("CL"), "00");
  EXPECT_EQ(probe(datafiles::kMenuFile, "read-update", menuKey(1, 1)), "00");
}

int permissions() { return testing_support::countRecords(datafiles::kPermissionFile); }

pxabi::CommonArea user(std::string_view name, std::string_view secondWord) {
  pxabi::CommonArea a;
  a.setClient(1);
  encoding::putRaw(a.userName(), name);
  encoding::putRaw(a.secondWord(), secondWord);
  return a;
}

// A COBOL program's files go to the store installed for the programs called
// by name (the launcher installs its own), and whatever status that store
// gives reaches the program's FILE STATUS as it is.
TEST_F(Extfh, FilesGoToTheInstalledStoreAndItsStatusesReachTheProgram) {
  using testing_support::Op;
  datafiles::SqliteStore sqlite;
  testing_support::FaultStore faults(sqlite);
  datafiles::setProcessStore(&faults);
  struct Uninstall {
    ~Uninstall() { datafiles::setProcessStore(nullptr); }
  } uninstall;
  faults.fail("FX01.DAT", Op::kOpen, datafiles::kIndexMissing);
  faults.fail("FX01.DAT", Op::kRead, datafiles::kIndexDamaged);
  faults.fail("FX01.DAT", Op::kReadNext, datafiles::kTooManyLocks);
  faults.fail("FX01.DAT", Op::kWrite, datafiles::kFileLocked);
  faults.fail("FX01.DAT", Op::kRewrite, datafiles::kPermanentError);
  Robot r(loader_);
  EXPECT_EQ(r.op("OU", "FX01.DAT"), "9/043");
  ASSERT_EQ(r.op("OU", "FX01.DAT"), "00");
  EXPECT_EQ(r.op("RK", menuKey(1, 1)), "9/041");
  EXPECT_EQ(r.op("RK", menuKey(1, 1)), "00");
  EXPECT_EQ(r.op("RN"), "9/213");
  EXPECT_EQ(r.op("WR", menuRecord(5, 5)), "9/065");
  EXPECT_EQ(r.op("RW", menuRecord(1, 1, "X")), "30");
  EXPECT_EQ(r.op("RK", menuKey(1, 1)), "00");
  EXPECT_EQ(textOf(r.record()), "M1E1");  // nothing failed reached the file
  EXPECT_EQ(r.op("UL"), "00");
  EXPECT_EQ(r.op("CL"), "00");
  EXPECT_EQ(faults.calls("FX01.DAT", Op::kOpen), 2);
  EXPECT_EQ(faults.calls("FX01.DAT", Op::kUnlock), 1);
  EXPECT_EQ(faults.calls("FX01.DAT", Op::kClose), 1);
}

TEST_F(Extfh, UnitsCommitRollBackAndDieWithTheProcess) {
  pxabi::CommonArea a = user("ANNA", "R");
  ASSERT_TRUE(loader_.call("TUNIT", a.data()).loaded);
  loader_.unload("TUNIT");
  EXPECT_EQ(encoding::trimmed(a.statusText()), "");
  EXPECT_EQ(permissions(), 0);
  a = user("ANNA", "N");  // CLOSE without COMMIT: the unit is undone
  ASSERT_TRUE(loader_.call("TUNIT", a.data()).loaded);
  loader_.unload("TUNIT");
  EXPECT_EQ(permissions(), 0);
  a = user("ANNA", "C");
  ASSERT_TRUE(loader_.call("TUNIT", a.data()).loaded);
  loader_.unload("TUNIT");
  EXPECT_EQ(permissions(), 100);

  // kill -9 in the middle of a unit leaves the file as it was.
  const pid_t pid = ::fork();
  if (pid == 0) {
    platform::DlProgramLoader loader(testing_support::cobolProgramPath(),
                                     testing_support::cobolHandler());
    pxabi::CommonArea b = user("BERT", "S");
    loader.call("TUNIT", b.data());
    ::_exit(0);
  }
  for (int i = 0; i < 500 && !std::filesystem::exists("READY.TXT"); ++i) ::usleep(20000);
  ASSERT_TRUE(std::filesystem::exists("READY.TXT"));
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  EXPECT_EQ(permissions(), 100);
  EXPECT_EQ(probe(datafiles::kPermissionFile, "read-update"), "23");  // file intact, usable
}

TEST_F(Extfh, LineSequentialAndSortFilesStayWithTheRuntime) {
  pxabi::CommonArea a = user("ANNA", "");
  const auto out = loader_.call("TREPORT", a.data());
  ASSERT_TRUE(out.loaded) << loader_.lastError();
  loader_.unload("TREPORT");
  EXPECT_EQ(encoding::view(a.statusValue()), "000005");
  EXPECT_EQ(encoding::view(a.statusText()).substr(0, 4), "1000");
  std::ifstream sorted("SORTED.TXT");
  std::vector<std::string> lines;
  for (std::string l; std::getline(sorted, l);) lines.push_back(l);
  EXPECT_EQ(lines, (std::vector<std::string>{"M1E1", "M1E2", "M1E3", "M2E1", "M2E2"}));
}

TEST_F(Extfh, SampleProgramsListAndWriteUnderLock) {
  // PC01 shows its list through the screen set (the scripted one, first on
  // the path), with the control block the launcher would hand over.
  pxabi::CommonArea a = user("ANNA", "");
  pxabi::ScreenControlBlock control;
  control.identifyMPX01();
  encoding::putRaw(a.savedControlBlock(), control.view());
  ASSERT_EQ(loader_.call("PC01", a.data()).returnCode, 0) << loader_.lastError();
  loader_.unload("PC01");
  EXPECT_EQ(encoding::view(a.statusValue()), "000000");
  EXPECT_EQ(encoding::view(a.savedControlBlock()), control.view());  // handed back
  ASSERT_EQ(loader_.call("PC02", a.data()).returnCode, 0);           // written
  loader_.unload("PC02");
  EXPECT_EQ(encoding::trimmed(a.statusText()), "Satz geschrieb.");
  ASSERT_EQ(loader_.call("PC02", a.data()).returnCode, 0);  // rewritten
  loader_.unload("PC02");
  ASSERT_EQ(loader_.call("PC01", a.data()).returnCode, 0);
  loader_.unload("PC01");
  EXPECT_EQ(encoding::view(a.statusValue()), "000001");
  EXPECT_EQ(encoding::trimmed(a.statusText()), "PC02");

  const auto key = datafiles::PermissionRecord::key(1, "ANNA      ", "PC02");
  Child holder(probeCommand(datafiles::kPermissionFile, "hold", {key.data(), key.size()}));
  ASSERT_EQ(holder.readLine(), "00");
  EXPECT_EQ(loader_.call("PC02", a.data()).returnCode, 1);
  loader_.unload("PC02");
  EXPECT_EQ(encoding::trimmed(a.statusText()), "Satz gesperrt");
}

}  // namespace
