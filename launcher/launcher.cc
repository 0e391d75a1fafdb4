#include "launcher/launcher.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "abi/command_line.h"
#include "encoding/packed.h"
#include "launcher/rules.h"

namespace launcher {

using pxabi::CommonArea;
using pxabi::ScreenDataBlock;
using pxabi::MessageArea;
using pxabi::applyCommandLine;
namespace {

using namespace std::chrono_literals;

// How long a lock met on the way out after an end signal is waited for, and
// the pause between tries.
constexpr auto kEndingLockLimit = 2000ms;
constexpr auto kEndingLockPause = 50ms;

constexpr std::string_view kUnloadList[] = {
    "U001", "U002", "U003", "U004", "U005", "U006", "U007", "U009", "U010", "U012", "U014", "U018",
    "U025", "U026", "U027", "U028", "U039", "U041", "U070", "U097", "U200", "UPLZ", "UTAB"};

std::string padded(std::string_view s, std::size_t width) {
  std::string out(s.substr(0, std::min(width, s.size())));
  out.resize(width, ' ');
  return out;
}

bool blankOrZero(std::span<const char> f) {
  return encoding::isBlank(f) || std::all_of(f.begin(), f.end(), [](char c) { return c == '\0'; });
}

std::string fourDigits(unsigned value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04u", value % 10000);
  return buf;
}

}  // namespace

int exitStatus(std::int32_t returnCode) {
  if (returnCode >= 0 && returnCode <= kOtherFailure) return returnCode;
  return kOtherFailure;
}

Launcher::Launcher(platform::ProgramLoader& loader, platform::ScreenSet& screen,
                   datafiles::FileStore& store, platform::Process& process)
    : loader_(loader),
      screen_(screen),
      store_(store),
      process_(process),
      ft00_(store.file(datafiles::kInstallationFile)),
      fx01_(store.file(datafiles::kMenuFile)),
      fx02_(store.file(datafiles::kPermissionFile)),
      audit_(store, "", "PX01"),
      auditClock_([] { return std::chrono::system_clock::now(); }),
      session_(store, ""),
      captions_{"      ", " Info ", "Sperre", "Rechn.", "Druck.",
                "Kalend", "      ", "      ", "      "} {
  message_.clear();
}

// ---- start-up and shutdown ------------------------------------------------

int Launcher::run() {
  applyCommandLine(process_.commandLine(), area_);
  callName_ = padded("PX00", 10);
  encoding::blank(area_.nextProgram1());
  encoding::blank(area_.nextProgram2());
  encoding::putRaw(area_.versionText(), CommonArea::kVersionConstant);
  dispatch();
  // No user signed on, or ended before anything was shown: end without a
  // dialog and without touching a file.
  if (stopped_ || ending() || blankOrZero(area_.userName())) return rc_;
  beginSession();

  callSettings('L');
  if (encoding::view(settings_.checkValue()) != encoding::view(area_.checkValue()))
    callUtility("PM3G", area_.data(), nullptr, /*unload=*/false);

  control_.reset();
  data_.reset();
  encoding::putRaw(data_.menuValue(), encoding::view(area_.menuValue()));
  // After each phase that shows something: the error stop ends the run as
  // it stands, without the orderly shutdown. An end signal skips the phases
  // still to come and goes to the orderly shutdown.
  startScreenSet();
  if (stopped_) return rc_;
  if (!ending()) checkMenuVersion();
  if (stopped_) return rc_;
  if (!ending()) setSignOn('J');
  if (stopped_) return rc_;
  if (!ending()) openMenuFiles();
  if (stopped_) return rc_;
  if (!abort_ && !ending()) runMenu();
  if (stopped_) return rc_;

  closeMenuFilesAndStore();
  setSignOn('N');
  if (stopped_) return rc_;
  endSession("OK", ending() ? "ended by signal " + std::to_string(process_.endSignal()) : "");
  endScreenSet();
  return rc_;
}

void Launcher::callSettings(char function) {
  settings_.setFunction(function);
  encoding::putRaw(settings_.identification(), encoding::view(area_.identification()));
  encoding::putDigits(settings_.client(), area_.client());
  encoding::putRaw(settings_.module(), kModuleName);
  callUtility("U009", settings_.data());
}

void Launcher::startScreenSet() {
  using SCB = pxabi::ScreenControlBlock;
  control_.setSetCommand(SCB::kStart);
  control_.identifyMPX01();
  encoding::putRaw(data_.clubText(), encoding::view(area_.clubText()));
  encoding::putRaw(data_.screenValueA(), encoding::view(area_.screenValueA()));
  encoding::putRaw(data_.screenValueB(), encoding::view(area_.screenValueB()));
  control_.setProcedure("");
  message_.clear();
  callScreen();
}

void Launcher::checkMenuVersion() {
  datafiles::MenuRecord header;
  header.setKey(0, 0);
  callUtility("UX01L", area_.data(), header.data(), /*unload=*/false);
  if (header.versionStamp() == encoding::view(area_.versionText()).substr(0, 6)) return;
  callName_ = padded("PX00P", 10);
  dispatch();
  if (stopped_ || ending()) return;
  callName_ = padded("PX07", 10);
  dispatch();
}

void Launcher::setSignOn(char flag) {
  std::unique_ptr<datafiles::KeyedFile> fx00 = store_.file(datafiles::kUserFile);
  if (!withLockWait("FX00", [&] { return fx00->open(datafiles::OpenMode::kInputOutput); }).ok())
    return;

  // The mark is taken off the user who was signed on at start, even when a
  // called program has changed the user name or client in the common area
  // since: otherwise that user would stay marked as signed on for good.
  if (flag == 'J') {
    signedOnName_ = std::string(encoding::view(area_.userName()));
    signedOnClient_ = area_.client();
  }
  pxabi::UserNameBlock u001(pxabi::UserNameBlock::kEncode, signedOnName_);
  callUtility("U001", u001.data(), nullptr, /*unload=*/false);  // the dispatch unloads it

  datafiles::UserRecord user;
  user.setClient(signedOnClient_);
  user.setEncodedName(encoding::view(u001.name()));
  if (!withLockWait("FX00", [&] { return fx00->read(user.bytes()); }).ok()) {
    (void)fx00->close();
    return;
  }
  user.setSignOnFlag(flag);
  if (const datafiles::FileStatus s = fx00->rewrite(user.bytes()); !s.ok())
    showFileError("Fehler!", "FX00", "REWR", s);
  (void)fx00->close();
}

void Launcher::openMenuFiles() {
  encoding::putText(area_.windowTitle(), "                M e n ü");
  encoding::putText(area_.menuText(), "M e n ü");
  encoding::putRaw(area_.helpTopic(), kModuleName);
  date_ = displayDate(encoding::view(area_.workingDate()));

  struct Target {
    datafiles::KeyedFile* file;
    std::string_view code;
  };
  for (const Target& t :
       {Target{ft00_.get(), "FT00"}, Target{fx01_.get(), "FX01"}, Target{fx02_.get(), "FX02"}}) {
    const datafiles::FileStatus s =
        withLockWait(t.code, [&] { return t.file->open(datafiles::OpenMode::kInput); });
    if (stopped_) return;
    if (!s.ok()) {
      showFileError("Fehler", t.code, "OPEN", s);
      abort_ = true;
      return;
    }
  }
  captions_[4] = "      ";
  captions_[8] = "      ";
}

void Launcher::closeMenuFilesAndStore() {
  closeOpenFiles();
  callSettings('L');
  const std::string_view menuValue = encoding::view(area_.menuValue());
  if (!storesMenuValue(menuValue)) return;
  encoding::putRaw(settings_.checkValue(), encoding::view(area_.checkValue()));
  encoding::putRaw(settings_.menuValue(), menuValue);
  callSettings('S');
}

void Launcher::closeOpenFiles() {
  for (auto* f : {ft00_.get(), fx01_.get(), fx02_.get()})
    if (f != nullptr && f->isOpen()) (void)f->close();
}

void Launcher::endScreenSet() {
  control_.setSetCommand(pxabi::ScreenControlBlock::kEnd);
  control_.setProcedure("");
  encoding::putRaw(data_.message(), message_.view());
  rc_ = screen_.call(control_, data_.bytes());  // error code not examined
}

// ---- messages and error stops ---------------------------------------------

void Launcher::callScreen() {
  // After the error stop nothing is shown any more, nor once the process is
  // ending: its callers look at ending() before they use an answer.
  if (stopped_ || ending()) return;
  encoding::putRaw(data_.message(), message_.view());
  rc_ = screen_.call(control_, data_.bytes());
  control_.setProcedure("");
  if (control_.errorCode() == 0) return;
  process_.writeConsoleLine("Fehlernr. : " + fourDigits(control_.errorCode()));
  process_.writeConsoleLine("Details 1 : " + fourDigits(control_.errorDetail1()));
  process_.writeConsoleLine("Details 2 : " + fourDigits(control_.errorDetail2()));
  message_.setReply(process_.readKey());
  stopAtOnce();
}

void Launcher::runProcedure(std::string_view procedure) {
  control_.setProcedure(procedure);
  callScreen();
}

void Launcher::showBox(std::string_view procedure) {
  runProcedure(procedure);
  message_.clear();
}

void Launcher::showFileError(std::string_view msg, std::string_view code,
                             std::string_view operation, datafiles::FileStatus status) {
  message_.setText(msg);
  message_.setFileCode(code);
  message_.setOperation(operation);
  message_.setStatus(status.raw());
  showBox("BOX-FEHLER-OK");
}

bool Launcher::askToRetry(std::string_view code, datafiles::FileStatus status) {
  if (ending()) {
    // Nobody is asked any more, and the user cannot cancel into the error
    // stop: a short wait, then the operation fails as any other would.
    if (!endingWait_) endingWait_.emplace(kEndingLockLimit, kEndingLockPause);
    return endingWait_->retry(status, 0);
  }
  message_.setFileCode(code);
  message_.setOperation("OPEN");  // whatever the operation that met the lock
  message_.setStatus(status.raw());
  message_.setText("Datei zur Zeit gesperrt - bitte warten!");
  showBox("BOX-FEHLER-RC");
  if (ending()) return askToRetry(code, status);  // the box was cut short
  if (data_.reply() != 'C') return true;
  stopAtOnce();
  return false;
}

bool Launcher::fileFailed(std::string_view code, std::string_view operation,
                          datafiles::FileStatus status) {
  if (status.ok() || status.atEnd() || status.invalidKey() || status.locked()) return false;
  showFileError("Fehler", code, operation, status);
  abort_ = true;
  return true;
}

datafiles::FileStatus Launcher::withLockWait(std::string_view code,
                                             const std::function<datafiles::FileStatus()>& op) {
  // No limit on the retries and no pause but the user's answer.
  datafiles::AskEveryTime askUser([&](datafiles::FileStatus s) { return askToRetry(code, s); });
  return datafiles::runWaitingForLocks(askUser, op);
}

void Launcher::stopAtOnce() {
  closeOpenFiles();
  if (!stopped_) endSession("STOP", "error stop");
  stopped_ = true;
}

// ---- audit trail and session ------------------------------------------------

void Launcher::audit(std::string_view event, std::string_view object, std::string_view result,
                     std::string detail) {
  (void)audit_.record(datafiles::AuditEvent(event, auditUser_, auditClient_)
                          .withObject(object)
                          .withResult(result)
                          .withDetail(std::move(detail)));
}

void Launcher::beginSession() {
  auditUser_ = std::string(encoding::trimmed(area_.userName()));
  auditClient_ = area_.client();
  // The session is marked before the sign-on flag: a flag "J" without a
  // live session behind it is one left over.
  const datafiles::FileStatus s =
      session_.begin(audit_.workstation(), auditClient_, auditUser_, auditClock_());
  if (!s.ok()) datafiles::countAuditFailure(s);
  sessionOpen_ = true;
}

void Launcher::endSession(std::string_view result, std::string detail) {
  if (!sessionOpen_) return;
  sessionOpen_ = false;
  audit("SIGNOFF", "", result, std::move(detail));
  session_.end();
  audit_.close();
}

// ---- program dispatch -----------------------------------------------------

void Launcher::callUtility(std::string_view name, void* first, void* second, bool unload) {
  const platform::CallOutcome out = loader_.call(name, first, second);
  if (out.loaded) rc_ = out.returnCode;
  if (unload) loader_.unload(name);
}

void Launcher::dispatch() {
  for (;;) {
    // No program is started once the process is ending.
    if (ending()) return;
    loader_.unload("U001");
    encoding::putRaw(area_.savedControlBlock(), control_.view());
    encoding::blank(area_.savedControlTail());
    encoding::putRaw(area_.carriedValues(), encoding::view(data_.carriedValues()));
    encoding::putRaw(area_.callName(), callName_);
    callUtility("UX10", area_.data());

    // Every program called after the sign-on, recorded before it runs (so
    // that a program the process dies in is on record) and when it returns.
    const bool recorded = platform::trimName(callName_) != "PX00";
    const std::string program(platform::trimName(callName_));
    if (recorded) audit("CALL", program, "", std::exchange(callOrigin_, {}));
    const platform::CallOutcome out = loader_.call(callName_, area_.data());
    if (recorded)
      audit("RETURN", program, out.loaded ? std::to_string(out.returnCode) : "NOLOAD",
            out.loaded ? "" : "Programm kann nicht geladen werden.");
    if (!out.loaded) {
      message_.setText("Programm kann nicht geladen werden. - ENTER");
      message_.setFileCode(std::string_view(callName_).substr(0, 5));
      callName_.assign(10, ' ');
      showBox("BOX-FEHLER-OK");
      return;
    }
    rc_ = out.returnCode;
    rc_ = process_.changeDirectory(encoding::getText(area_.dataDirectory()));
    encoding::putRaw(control_.bytes(), encoding::view(area_.savedControlBlock()));
    encoding::putRaw(data_.carriedValues(), encoding::view(area_.carriedValues()));
    if (platform::trimName(callName_) == "PX00")
      callName_.assign(10, ' ');
    else
      runProcedure("SETZEN-DESKTOP-WINDOW");
    if (stopped_) return;
    if (!encoding::isBlank(callName_)) loader_.unload(callName_);
    for (std::string_view name : kUnloadList) loader_.unload(name);
    statusName_ = callName_.substr(0, 5);
    if (ending()) return;  // the follow-up programs stay where they are

    auto next1 = area_.nextProgram1();
    auto next2 = area_.nextProgram2();
    callOrigin_ = "after " + program;
    if (!encoding::isBlank(next2)) {
      // Next program 2 runs only behind next program 1, even a blank one.
      callName_ = std::string(encoding::view(next1));
      encoding::putRaw(next1, encoding::view(next2));
      encoding::blank(next2);
    } else if (!encoding::isBlank(next1)) {
      callName_ = std::string(encoding::view(next1));
      encoding::blank(next1);
    } else {
      callOrigin_.clear();
      return;
    }
  }
}

}  // namespace launcher
