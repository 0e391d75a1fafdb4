#include "catalogue/catalogue_run.h"

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "abi/catalogue_report.h"
#include "abi/common_area.h"
#include "abi/message_area.h"
#include "abi/screen_data_block.h"
#include "abi/utility_blocks.h"
#include "catalogue/groups.h"
#include "catalogue/permissions.h"
#include "datafiles/audit_trail.h"
#include "datafiles/records.h"

namespace catalogue {
namespace {

using CA = pxabi::CommonArea;
using SDB = pxabi::ScreenDataBlock;

// Between two tries of a unit held elsewhere, and of a user record.
constexpr std::chrono::milliseconds kUnitPause{20}, kRecordPause{5};

// The files in the order the run opens them, with their file codes.
struct RunFile {
  const datafiles::FileSpec* spec;
  std::string_view code;
};
// The installation file comes last: UT00S writes it, the run only reads it.
constexpr std::array<RunFile, 4> kFiles{{{&datafiles::kUserFile, "FX00 "},
                                         {&datafiles::kMenuFile, "FX01 "},
                                         {&datafiles::kPermissionFile, "FX02 "},
                                         {&datafiles::kInstallationFile, "FT00 "}}};
constexpr std::size_t kUsers = 0, kMenus = 1, kPermissions = 2, kInstallation = 3;
constexpr std::size_t kOpened = 3;  // the files the run opens for input-output

// The error box text for a failed open, by status class.
std::string_view abortText(datafiles::FileStatus s) {
  if (s.locked()) return "Datei zur Zeit gesperrt - Programmabbruch";
  if (s.needsReorganisation()) return "Datei muß reorganisiert werden - Programmabbruch";
  return "Fehler - Programmabbruch";
}

class Run {
 public:
  Run(CA& common, datafiles::FileStore& store, platform::ProgramLoader& loader,
      platform::ScreenSet& screen, const RunOptions& options)
      : common_(common),
        store_(store),
        loader_(loader),
        screen_(screen),
        options_(options),
        data_(std::make_unique<SDB>()),
        installation_(Installation::from(common)),
        client_(common.client()) {}

  ~Run() { closeFiles(); }

  RunReport execute() {
    takeOverScreen();
    encoding::putRaw(common_.helpTopic(), "PX07");
    std::copy_n(common_.workingDate().begin(), date_.size(), date_.begin());
    if (openFiles() && beginUnits()) {
      writeHeader();
      renumber();
      for (Group g : runGroups(installation_)) writeGroup(g);
      if (broken_)
        abandon();
      else
        commitUnits();
    }
    closeFiles();
    handBackScreen();
    recordRun();
    return report_;
  }

 private:
  // An application handed to UT00S, with its record as it was before.
  struct SetUp {
    std::array<char, datafiles::InstallationRecord::kKeyLength> key;
    std::optional<datafiles::ApplicationRecord> before;
  };

  datafiles::KeyedFile& file(std::size_t i) { return *files_[i]; }

  // The run in the audit trail: the stamp, what it wrote, how it ended.
  void recordRun() {
    static constexpr std::string_view kResults[] = {"OK", "OPENFAIL", "FAILED", "SCREEN"};
    const RunCounts& c = report_.counts;
    std::string detail = "stamp \"" +
                         std::string(encoding::view(common_.versionText()).substr(0, 6)) + "\", " +
                         std::to_string(c.newEntries) + " new, " +
                         std::to_string(c.rewritten) + " rewritten, " + std::to_string(c.kept) +
                         " kept, " + std::to_string(c.permissions) + " permissions";
    if (report_.outcome == RunOutcome::kOpenFailed || report_.outcome == RunOutcome::kCommitFailed)
      detail = report_.failedFile + report_.failedOperation + " " +
               report_.failedStatus.toString() +
               (report_.leftOver.empty() ? ", nothing changed" : "; " + report_.leftOver);
    const std::string actor = options_.actor.empty()
                                  ? std::string(encoding::trimmed(common_.userName()))
                                  : options_.actor;
    datafiles::AuditTrail trail(store_, options_.directory, options_.origin);
    (void)trail.record(datafiles::AuditEvent("CATALOG", actor, client_)
                           .withObject("PX07")
                           .withResult(kResults[static_cast<int>(report_.outcome) - '0'])
                           .withDetail(std::move(detail)));
  }

  // Step 1 and the last step: the caller's screen-set state travels through
  // the run in the common area.
  void takeOverScreen() {
    std::copy_n(common_.savedControlBlock().begin(), control_.kSize, control_.bytes().begin());
    std::copy_n(common_.carriedValues().begin(), SDB::kCarriedValues.width,
                data_->carriedValues().begin());
  }
  void handBackScreen() {
    std::copy_n(control_.bytes().begin(), control_.kSize, common_.savedControlBlock().begin());
    encoding::blank(common_.savedControlTail());
    std::copy_n(data_->carriedValues().begin(), SDB::kCarriedValues.width,
                common_.carriedValues().begin());
  }

  // The error box; false when the screen set itself failed.
  bool showError(std::string_view text, std::string_view fileCode, std::string_view operation,
                 datafiles::FileStatus status) {
    message_.clear();
    message_.setText(text);
    message_.setFileCode(fileCode);
    message_.setOperation(operation);
    message_.setStatus(status.raw());
    auto field = data_->message();
    encoding::blank(field);
    std::copy_n(message_.bytes().begin(), message_.kSize, field.begin());
    control_.setProcedure("BOX-FEHLER-OK");
    const std::int32_t rc = screen_.call(control_, data_->bytes());
    control_.setProcedure("");
    if (control_.errorCode() != 0) {
      report_.outcome = RunOutcome::kScreenFailed;
      report_.screenReturn = rc;
      return false;
    }
    message_.clear();
    return true;
  }

  // Runs `op` on a file of the run; a unit held by another workstation is
  // waited for, boundedly.
  datafiles::FileStatus waitingForLocks(const std::function<datafiles::FileStatus()>& op) {
    datafiles::BoundedWait policy(options_.lockWait, kUnitPause, *options_.clock);
    return datafiles::runWaitingForLocks(policy, op);
  }

  void fail(RunOutcome outcome, std::size_t i, datafiles::FileStatus s,
            std::string_view operation) {
    report_.outcome = outcome;
    report_.failedFile = std::string(kFiles[i].code);
    report_.failedOperation = std::string(operation);
    report_.failedStatus = s;
    (void)showError(abortText(s), kFiles[i].code, operation, s);
  }

  // A change of the build: one that failed because the file cannot be
  // written stops the build (the first such failure is kept). True while the
  // build goes on.
  bool changed(std::size_t i, datafiles::FileStatus s, std::string_view operation) {
    if (!broken_ && fileCannotBeWritten(s)) broken_ = Broken{i, s, std::string(operation)};
    return !broken_;
  }

  // The build stopped: nothing is committed, and what went past the units
  // is taken back.
  void abandon() {
    rollbackUnits();
    undoApplications();
    fail(RunOutcome::kCommitFailed, broken_->file, broken_->status, broken_->operation);
  }

  // Opens the three files in order and stops at the first that fails.
  bool openFiles() {
    for (std::size_t i = 0; i < kOpened; ++i) {
      files_[i] = store_.file(*kFiles[i].spec, options_.directory);
      const datafiles::FileStatus s = files_[i]->open(datafiles::OpenMode::kInputOutput);
      if (!s.ok()) {
        fail(RunOutcome::kOpenFailed, i, s, "OPEN");
        return false;
      }
    }
    return true;
  }

  // One unit on the menu file and one on the permission file, in this order
  // on every workstation, so that two runs queue instead of interleaving.
  bool beginUnits() {
    for (std::size_t i : {kMenus, kPermissions}) {
      const datafiles::FileStatus s = waitingForLocks([&] { return file(i).begin(); });
      if (!s.ok()) {
        rollbackUnits();
        fail(RunOutcome::kOpenFailed, i, s, "OPEN");
        return false;
      }
      inUnit_[i] = true;
    }
    return true;
  }

  // Permissions first: a crash between the two commits leaves the old stamp
  // and permission records that the rerun finds in place.
  void commitUnits() {
    for (std::size_t i : {kPermissions, kMenus}) {
      const datafiles::FileStatus s = waitingForLocks([&] { return file(i).commit(); });
      if (!s.ok()) {
        rollbackUnits();
        if (i == kMenus) undoPermissions();
        undoApplications();
        fail(RunOutcome::kCommitFailed, i, s, "REWR");
        return;
      }
      inUnit_[i] = false;
    }
  }

  // The permission records of a committed permission unit whose menus were
  // not committed: deleted again in one unit.
  void undoPermissions() {
    if (granted_.empty()) return;
    datafiles::KeyedFile& f = file(kPermissions);
    datafiles::FileStatus s = waitingForLocks([&] { return f.begin(); });
    datafiles::PermissionRecord p;
    for (const std::string& key : granted_) {
      if (!s.ok()) break;
      std::copy(key.begin(), key.end(), p.bytes().begin());
      s = f.remove(p.bytes());
      if (s.notFound()) s = datafiles::kOk;  // gone already
    }
    if (s.ok()) s = waitingForLocks([&] { return f.commit(); });
    if (!s.ok()) {
      (void)f.rollback();
      leaveOver("FX02: " + std::to_string(granted_.size()) +
                " permission records of the run stay (status " + s.toString() + ")");
    }
  }

  // The application records as they were before UT00S set them up, put
  // back in one unit: a single commit needs the least room on a full disk.
  void undoApplications() {
    if (setUps_.empty()) return;
    auto f = store_.file(datafiles::kInstallationFile, options_.directory);
    datafiles::FileStatus s = f->open(datafiles::OpenMode::kInputOutput);
    if (s.ok()) s = waitingForLocks([&] { return f->begin(); });
    // Last set up first: an application set up twice gets its first state.
    for (auto u = setUps_.rbegin(); u != setUps_.rend() && s.ok(); ++u) {
      datafiles::ApplicationRecord now;
      std::copy(u->key.begin(), u->key.end(), now.bytes().begin());
      s = f->read(now.bytes());
      if (s.ok())
        s = !u->before ? f->remove(now.bytes())
            : now == *u->before ? datafiles::kOk : f->rewrite(u->before->bytes());
      else if (s.notFound())
        s = u->before ? f->write(u->before->bytes()) : datafiles::kOk;
    }
    if (s.ok()) s = f->commit();
    if (f->isOpen()) (void)f->close();  // rolls back what was not committed
    if (!s.ok())
      leaveOver("FT00: the application records set up by the run stay (status " + s.toString() +
                ")");
  }

  void leaveOver(const std::string& what) {
    if (!report_.leftOver.empty()) report_.leftOver += "; ";
    report_.leftOver += what;
  }

  void rollbackUnits() {
    for (std::size_t i : {kMenus, kPermissions}) {
      if (inUnit_[i]) (void)file(i).rollback();
      inUnit_[i] = false;
    }
  }

  void closeFiles() {
    rollbackUnits();
    for (auto& f : files_)
      if (f && f->isOpen()) (void)f->close();  // never examined
  }

  // A keyed read of the menu file. Only a read that returned "00" brings the
  // record into the buffer; any other status leaves the buffer as it was.
  bool readIntoBuffer(int menu, int entry) {
    datafiles::MenuRecord probe;
    probe.setKey(menu, entry);
    if (!file(kMenus).read(probe.bytes()).ok()) return false;
    buffer_ = probe;
    return true;
  }

  // The header record 0/0/0 gets the release's stamp: written when the read
  // says "23", rewritten on any other status; neither status examined. The
  // stamp stays in the buffer for the entries that follow.
  void writeHeader() {
    if (broken_) return;
    buffer_.setKey(0, 0);
    datafiles::MenuRecord probe;
    probe.setKey(0, 0);
    const datafiles::FileStatus s = file(kMenus).read(probe.bytes());
    if (s.ok()) buffer_ = probe;
    const auto version = common_.versionText();
    buffer_.setVersionStamp({version.data(), 6});
    if (s.notFound())
      changed(kMenus, file(kMenus).write(buffer_.bytes()), "WRIT");
    else
      changed(kMenus, file(kMenus).rewrite(buffer_.bytes()), "REWR");
  }

  // Moves the old menu 17 (opened from 100/17) to 16, so that 17 is free for
  // task management. A record moves only when it was read and written under
  // its new key; otherwise it stays where it is.
  void renumber() {
    for (const Move& m : kMoves) {
      if (broken_ || !readIntoBuffer(m.menu, m.entry)) return;
      moveBuffer(m.menu, m.entry, m.newMenu, m.newEntry);
    }
  }
  void moveBuffer(int menu, int entry, int newMenu, int newEntry) {
    buffer_.setKey(newMenu, newEntry);
    const datafiles::FileStatus s = file(kMenus).write(buffer_.bytes());
    if (!changed(kMenus, s, "WRIT") || !s.ok()) return;
    datafiles::MenuRecord old;
    old.setKey(menu, entry);
    if (!changed(kMenus, file(kMenus).remove(old.bytes()), "DELE")) return;
    ++report_.counts.moved;
  }

  void writeGroup(Group g) {
    if (auto app = applicationOf(g)) setUpApplication(*app);
    const std::span<const Entry> rows = rowsOf(g);
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const Entry& e = rows[i];
      if (g == Group::kHallManagement && e.menu == kHallRemovalBefore.menu &&
          e.entry == kHallRemovalBefore.entry)
        removeEntry(kHallRemoval.menu, kHallRemoval.entry);
      entryStep(e);
      if (i == 0 && (g == Group::kMember || g == Group::kAddress))
        for (const Entry& s : rowsOf(Group::kSelection)) entryStep(s);
    }
  }

  // Hands the application to UT00S before its top-level entry is written;
  // the outcome is not examined.
  // The application record as it stands is kept first, so that a build
  // that fails can put it back; an application record that is not there
  // after UT00S means that the installation file cannot be written.
  void setUpApplication(const Application& app) {
    if (broken_) return;
    pxabi::ApplicationImage image;
    image.setKey(' ', 0, app.number);
    std::copy_n(app.name.bytes.begin(), app.name.bytes.size(), image.name().begin());
    const std::optional<SetUp> before = applicationRecord(image);
    if (before) setUps_.push_back(*before);
    const platform::CallOutcome out = loader_.call("UT00S", common_.data(), image.data());
    if (before && out.loaded) {
      const std::optional<SetUp> after = applicationRecord(image);
      if (!after || !after->before) changed(kInstallation, datafiles::kPermanentError, "WRIT");
    }
  }
  // The application record of the image's key as it stands; nothing when
  // the installation file cannot be read. Opened for each look, so that the
  // run holds no snapshot of it while UT00S writes.
  std::optional<SetUp> applicationRecord(const pxabi::ApplicationImage& image) {
    const auto client = image.client();
    const auto number = image.application();
    if (!client || !number) return std::nullopt;
    SetUp u;
    u.key = datafiles::InstallationRecord::key(datafiles::InstallationRecord::kApplicationType,
                                               *client, *number);
    auto f = store_.file(datafiles::kInstallationFile, options_.directory);
    if (!f->open(datafiles::OpenMode::kInput).ok()) return std::nullopt;
    datafiles::ApplicationRecord r;
    std::copy(u.key.begin(), u.key.end(), r.bytes().begin());
    const datafiles::FileStatus s = f->read(r.bytes());
    (void)f->close();
    if (s.ok()) u.before = r;
    if (!s.ok() && !s.notFound()) return std::nullopt;
    return u;
  }

  void removeEntry(int menu, int entry) {
    if (broken_) return;
    (void)readIntoBuffer(menu, entry);
    datafiles::MenuRecord old;
    old.setKey(menu, entry);
    const datafiles::FileStatus s = file(kMenus).remove(old.bytes());
    if (changed(kMenus, s, "DELE") && s.ok()) ++report_.counts.removed;
  }

  // Write; a new entry hands out its permissions; an existing one is
  // rewritten unless it is written only if new. The version-stamp bytes are
  // left as the buffer holds them.
  void entryStep(const Entry& e) {
    if (broken_ || !isWritten(e, installation_)) return;
    buffer_.setKey(e.menu, e.entry);
    buffer_.setEntryFlag(' ');
    std::copy_n(e.text.bytes.begin(), e.text.bytes.size(), buffer_.textField().begin());
    buffer_.setProgram(programFor(e, installation_));
    buffer_.setAccessClass(e.access);
    RunCounts& c = report_.counts;
    const datafiles::FileStatus s = file(kMenus).write(buffer_.bytes());
    if (!changed(kMenus, s, "WRIT")) return;
    if (s.ok()) {
      ++c.newEntries;
      if (e.grant != Grant::kNone) grantPermissions(static_cast<char>(e.grant));
      return;
    }
    if (e.condition.kind == Condition::kOnlyIfNew) {
      ++c.kept;
      return;
    }
    const datafiles::FileStatus r = file(kMenus).rewrite(buffer_.bytes());
    if (!changed(kMenus, r, "REWR")) return;
    if (r.ok())
      ++c.rewritten;
    else
      ++c.failed;
  }

  void grantPermissions(char flag) {
    RunCounts& c = report_.counts;
    if (!users_.built()) {
      datafiles::BoundedWait waitForLocks(options_.lockWait, kRecordPause, *options_.clock);
      users_.build(file(kUsers), client_, loader_, waitForLocks);
      c.usersScanned = true;
      c.normalUsers = static_cast<int>(users_.names().size());
    }
    datafiles::FileStatus failure = datafiles::kOk;
    c.permissions += grantToAll(file(kPermissions), users_.names(), client_, buffer_.programField(),
                                date_, flag, &granted_, &failure);
    changed(kPermissions, failure, "WRIT");
  }

  CA& common_;
  datafiles::FileStore& store_;
  platform::ProgramLoader& loader_;
  platform::ScreenSet& screen_;
  const RunOptions& options_;
  pxabi::ScreenControlBlock control_;
  std::unique_ptr<SDB> data_;
  pxabi::MessageArea message_;
  Installation installation_;
  int client_;
  std::array<char, 6> date_{};
  std::array<std::unique_ptr<datafiles::KeyedFile>, kOpened> files_;
  std::array<bool, 3> inUnit_{};
  datafiles::MenuRecord buffer_;  // the one menu record every step fills and writes
  NormalUsers users_;
  RunReport report_;
  // The first change that failed because its file cannot be written.
  struct Broken {
    std::size_t file;
    datafiles::FileStatus status;
    std::string operation;
  };
  std::optional<Broken> broken_;
  std::vector<std::string> granted_;  // keys of the permission records written
  std::vector<SetUp> setUps_;  // applications handed to UT00S
};

}  // namespace

RunReport runCatalogue(pxabi::CommonArea& common, datafiles::FileStore& store,
                       platform::ProgramLoader& loader, platform::ScreenSet& screen,
                       const RunOptions& options) {
  Run run(common, store, loader, screen, options);
  return run.execute();
}

void clearReport(pxabi::CommonArea& common) { pxabi::CatalogueReport().storeIn(common); }

void storeReport(pxabi::CommonArea& common, const RunReport& report) {
  pxabi::CatalogueReport r;
  r.setOutcome(static_cast<char>(report.outcome));
  const RunCounts& c = report.counts;
  (void)encoding::putDigits(r.newEntries(), c.newEntries);
  (void)encoding::putDigits(r.rewritten(), c.rewritten);
  (void)encoding::putDigits(r.kept(), c.kept);
  (void)encoding::putDigits(r.permissions(), c.permissions);
  r.storeIn(common);
}

std::optional<StoredReport> loadReport(const pxabi::CommonArea& common) {
  const pxabi::CatalogueReport r = pxabi::CatalogueReport::from(common);
  const char o = r.outcome();
  if (o < '0' || o > '3') return std::nullopt;
  const auto n = encoding::getDigits(r.newEntries());
  const auto w = encoding::getDigits(r.rewritten());
  const auto k = encoding::getDigits(r.kept());
  const auto p = encoding::getDigits(r.permissions());
  if (!n || !w || !k || !p) return std::nullopt;
  return StoredReport{static_cast<RunOutcome>(o), static_cast<int>(*n), static_cast<int>(*w),
                      static_cast<int>(*k), static_cast<int>(*p)};
}

}  // namespace catalogue
