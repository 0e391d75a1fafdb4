// The main menu loop and the access checks of the launcher.
#include <algorithm>

#include "encoding/cp850.h"
#include "launcher/launcher.h"
#include "launcher/rules.h"

namespace launcher {

using pxabi::CommonArea;
using pxabi::ScreenDataBlock;
namespace {

std::string text40(std::string_view utf8) {
  std::string out(40, ' ');
  encoding::putText(out, utf8);
  return out;
}

const std::string kTopTitle = text40("A n w e n d u n g e n");
const std::string kLockBanner = text40("  System für Normalbenutzer gesperrt!");
const std::string kBlank40(40, ' ');

void putFour(std::span<char, 4> field, int value) { encoding::putDigits(field, value); }

}  // namespace

// ---- access checks ----------------------------------------------------------

datafiles::FileStatus Launcher::readControl() {
  datafiles::ControlRecord record;
  const datafiles::FileStatus s = withLockWait("FT00", [&] { return ft00_->read(record.bytes()); });
  // A failed read leaves the flag last read in force.
  if (s.ok()) control0_ = record;
  return s;
}

Launcher::Step Launcher::lockedOut(std::string_view program) {
  audit("LOCKOUT", program, "", "Programmaufruf durch Administrator z.Z. gesperrt.");
  banner_ = kLockBanner;
  message_.setText("Programmaufruf durch Administrator z.Z. gesperrt.");
  showBox("BOX-INFO");
  return Step::kLeave;
}

bool Launcher::permitted(std::string_view program) {
  datafiles::PermissionRecord record;
  record.setKey(area_.client(), encoding::view(area_.userName()), program);
  const datafiles::FileStatus s = withLockWait("FX02", [&] { return fx02_->read(record.bytes()); });
  if (stopped_ || fileFailed("FX02", "READ", s)) return false;
  if (s.invalidKey()) {
    audit("DENIED", program, s.toString(), "Sie sind nicht berechtigt!");
    callName_.assign(10, ' ');
    message_.setStatus(s.raw());
    message_.setText("Sie sind nicht berechtigt!");
    showBox("BOX-WARNUNG");
    return false;
  }
  area_.setPermissionFlag(record.flag());
  encoding::putRaw(area_.permissionText(), record.text());
  return true;
}

void Launcher::toggleLock() {
  auto reopenForInput = [&] {
    if (stopped_) return;  // the error stop has closed every file for good
    (void)ft00_->close();
    (void)ft00_->open(datafiles::OpenMode::kInput);
  };
  (void)ft00_->close();
  if (!withLockWait("FT00", [&] { return ft00_->open(datafiles::OpenMode::kInputOutput); }).ok()) {
    // Left closed, every later read of the control record would fail and
    // lock normal users out; the menu phase needs the file open for input.
    reopenForInput();
    return;
  }
  datafiles::ControlRecord record;
  if (!withLockWait("FT00", [&] { return ft00_->read(record.bytes()); }).ok()) {
    // Not left open for input-output: later reads would take record locks.
    reopenForInput();
    return;
  }
  if (record.lockFlag() == 'J') {
    record.setLockFlag('N');
    banner_ = kBlank40;
  } else {
    record.setLockFlag('J');
    banner_ = kLockBanner;
  }
  const datafiles::FileStatus rewritten = ft00_->rewrite(record.bytes());
  audit(record.locked() ? "LOCK" : "UNLOCK", "FT00", rewritten.toString(), "key Sperre");
  control0_ = record;
  reopenForInput();
}

// ---- the loop ---------------------------------------------------------------

void Launcher::runMenu() {
  level_ = 1;
  stack_.fill(Level{});
  putFour(data_.listPosition(), 1);
  putFour(data_.selection(), 1);
  title_ = kTopTitle;
  menu_ = 0;
  for (Step step = Step::kList;;) {
    if (stopped_ || ending()) return;
    switch (step) {
      case Step::kList:
        step = buildList();
        break;
      case Step::kShow:
        step = show();
        break;
      case Step::kLeave:
      case Step::kStop:
        return;
    }
  }
}

Launcher::Step Launcher::buildList() {
  statusLine_.assign(kStatusLineWidth, ' ');
  rows_.fill(Row{});
  count_ = 0;
  const char userClass = area_.userClass();

  datafiles::MenuRecord record;
  record.setKey(menu_, 0);
  const datafiles::FileStatus started = withLockWait("FX01", [&] {
    return fx01_->start(datafiles::StartMode::kNotLessThan, record.bytes(),
                        datafiles::MenuRecord::kKeyLength);
  });
  if (stopped_) return Step::kStop;
  if (fileFailed("FX01", "STRT", started)) return Step::kLeave;
  if (!started.invalidKey()) {
    for (;;) {
      // The end of the file ends the list; a failure ends the menu phase
      // rather than show a list cut short.
      const datafiles::FileStatus next =
          withLockWait("FX01", [&] { return fx01_->readNext(record.bytes()); });
      if (stopped_) return Step::kStop;
      if (fileFailed("FX01", "NEXT", next)) return Step::kLeave;
      if (!next.ok()) break;
      if (record.isHeader()) continue;
      if (record.menu() != menu_) break;
      const std::string_view program = record.program();
      Visibility v = entryVisibility(userClass, record.accessClass(), program);
      if (v == Visibility::kNeedsPermission) {
        datafiles::PermissionRecord key;
        key.setKey(area_.client(), encoding::view(area_.userName()), program);
        const datafiles::FileStatus s = withLockWait("FX02", [&] {
          return fx02_->start(datafiles::StartMode::kEqual, key.bytes(),
                              datafiles::PermissionRecord::kKeyLength);
        });
        if (stopped_) return Step::kStop;
        if (fileFailed("FX02", "STRT", s)) return Step::kLeave;
        v = s.invalidKey() ? Visibility::kHidden : Visibility::kShown;
      }
      if (v == Visibility::kHidden) continue;
      if (!encoding::isBlank(record.programField())) buildStatusLine(std::string(program) + " ");
      if (count_ < kMaxRows) ++count_;  // past 99 rows every entry replaces row 99
      Row& row = rows_[count_ - 1];
      row.entry = record.entry().value_or(0);
      row.text = std::string(encoding::view(record.textField()));
      row.program = std::string(program) + " ";
      row.flag = record.entryFlag();
    }
  }
  for (std::size_t i = 0; i < kMaxRows; ++i)
    encoding::putRaw(data_.row(i + 1), i < count_ ? std::string_view(rows_[i].text) : kBlank40);
  putFour(data_.entryCount(), static_cast<int>(count_));
  return Step::kShow;
}

void Launcher::buildStatusLine(std::string_view program5) {
  const StatusGroup group = statusGroup(program5);
  if (group == StatusGroup::kPositions) callUtility("UM21", area_.data());
  if (group == StatusGroup::kAddresses) callUtility("UM30", area_.data());
  statusLine_ = statusLineFor(group, area_, statusLine_);
  encoding::putRaw(data_.statusLine(), statusLine_);
}

void Launcher::fillDisplay() {
  using D = ScreenDataBlock;
  data_.setEventCode(D::kEventNone);
  encoding::putRaw(data_.title(), title_);
  encoding::putRaw(data_.banner(), banner_);
  for (int key = 1; key <= 9; ++key) {
    const int action = area_.functionKeyAction(key);
    encoding::putRaw(data_.caption(key), action >= 1 && action <= 9 ? captions_[action - 1] : "");
  }
  encoding::putRaw(data_.identification(), encoding::view(area_.identification()));
  encoding::putDigits(data_.client(), area_.client());
  encoding::putRaw(data_.clubText(), encoding::view(area_.clubText()));
  encoding::putRaw(data_.menuText(), encoding::view(area_.menuText()));
  data_.setPermissionFlag(area_.permissionFlag());
  encoding::putRaw(data_.date(), date_);
  encoding::putRaw(data_.moduleId(), kModuleId);
  encoding::putRaw(data_.moduleName(), kModuleName);
  encoding::putRaw(data_.headerLine(), headerLine(area_));
  encoding::putRaw(data_.menuValue(), encoding::view(area_.menuValue()));
}

Launcher::Step Launcher::show() {
  if (ending()) return Step::kLeave;
  (void)readControl();  // status not examined: the flag last read counts
  if (stopped_) return Step::kStop;
  if (control0_.locked()) {
    if (!isAdministrator(area_.userClass())) return lockedOut();
    banner_ = kLockBanner;
  } else {
    banner_ = kBlank40;
  }
  fillDisplay();
  runProcedure("NEUSTART");
  if (stopped_) return Step::kStop;
  if (ending()) return Step::kLeave;  // the answer is not the user's
  message_.clear();
  encoding::putRaw(area_.menuValue(), encoding::view(data_.menuValue()));
  const auto chosen = encoding::getDigits(data_.chosenRow());
  chosen_ = chosen ? static_cast<std::size_t>(*chosen) : 0;
  return act(actionForEvent(data_.eventCode(), area_));
}

const Launcher::Row* Launcher::currentRow() const {
  // A row number outside the list (the screen set's answer) chooses nothing.
  if (chosen_ < 1 || chosen_ > count_) return nullptr;
  return &rows_[chosen_ - 1];
}

Launcher::Step Launcher::act(int action) {
  switch (action) {
    case 0:
      return goUp();
    case 2:
      if (const Row* row = currentRow()) {
        std::string topic = row->program.substr(0, 4);
        if (encoding::isBlank(topic)) {
          topic.assign(3, '0');
          encoding::putDigits(topic, row->entry);
          topic += ' ';
        }
        help('I', topic, row->text);
      }
      return Step::kShow;
    case 3:
      if (isAdministrator(area_.userClass())) toggleLock();
      return Step::kShow;
    case 4:
      callOrigin_ = "key Rechn.";
      callName_ = "PX98      ";
      return callFromMenu();
    case 6:
      encoding::putRaw(area_.calendarStart(), "000000000");
      callOrigin_ = "key Kalend";
      callName_ = "PX97      ";
      return callFromMenu();
    case 10:
      help('1', kModuleName, "");
      return Step::kShow;
    case ScreenDataBlock::kEventEnter:
      return choose();
    default:
      return Step::kShow;
  }
}

void Launcher::help(char mode, std::string_view topic, std::string_view helpText) {
  area_.setHelpMode(mode);
  encoding::putRaw(area_.helpTopic(), topic);
  if (mode == 'I') encoding::putRaw(area_.helpText(), helpText);
  // The help shows its text through the screen set: hand it the live screen
  // state, not the copy left from the last program call.
  encoding::putRaw(area_.savedControlBlock(), control_.view());
  encoding::blank(area_.savedControlTail());
  encoding::putRaw(area_.carriedValues(), encoding::view(data_.carriedValues()));
  callUtility("U000", area_.data());
}

Launcher::Step Launcher::choose() {
  if (encoding::view(data_.selection()) == "0000") return Step::kShow;
  const Row* row = currentRow();
  if (row == nullptr) return Step::kShow;
  if (encoding::isBlank(std::string_view(row->program).substr(0, 4))) return openSubmenu(*row);

  const Row chosen = *row;
  callName_ = chosen.program.substr(0, 4) + "      ";
  area_.setEntryFlag(chosen.flag);
  if (!isAdministrator(area_.userClass())) {
    if (!permitted(chosen.program.substr(0, 4)))
      return stopped_ ? Step::kStop : abort_ ? Step::kLeave : Step::kShow;
    const datafiles::FileStatus control = readControl();
    if (stopped_) return Step::kStop;
    if (fileFailed("FT00", "READ", control)) return Step::kLeave;
    if (!control.ok() || control0_.locked()) {
      const std::string program(platform::trimName(callName_));
      callName_.assign(10, ' ');
      return lockedOut(program);
    }
  } else {
    area_.setPermissionFlag('J');
    encoding::blank(area_.permissionText());
  }
  encoding::putRaw(area_.menuText(), chosen.text);

  pxabi::TitleBlock u007;
  u007.setFunction(pxabi::TitleBlock::kCentre);
  u007.setLength(40);
  encoding::putRaw(u007.text(), chosen.text);
  callUtility("U007", u007.data());
  encoding::putRaw(area_.windowTitle(), encoding::view(u007.text().first<40>()));
  callOrigin_ = "menu " + std::to_string(menu_) + "/" + std::to_string(chosen.entry) + " " +
                encoding::cp850::toUtf8(encoding::trimmed(chosen.text));
  return callFromMenu();
}

Launcher::Step Launcher::callFromMenu() {
  if (!isAdministrator(area_.userClass())) {
    const datafiles::FileStatus control = readControl();
    if (stopped_) return Step::kStop;
    if (fileFailed("FT00", "READ", control)) return Step::kLeave;
    if (!control.ok() || control0_.locked()) {
      const std::string program(platform::trimName(callName_));
      callName_.assign(10, ' ');
      return lockedOut(program);
    }
  }
  closeMenuFilesAndStore();
  dispatch();
  if (stopped_) return Step::kStop;
  if (ending()) return Step::kLeave;
  openMenuFiles();
  if (stopped_) return Step::kStop;
  if (abort_) return Step::kLeave;
  buildStatusLine(statusName_);
  return Step::kShow;
}

Launcher::Step Launcher::openSubmenu(const Row& row) {
  const char userClass = area_.userClass();
  if (datafiles::needsApplication(userClass, menu_, row.entry)) {
    datafiles::InstallationRecord app;
    app.setKey(datafiles::InstallationRecord::kApplicationType, area_.client(), row.entry);
    const datafiles::FileStatus s = withLockWait("FT00", [&] { return ft00_->read(app.bytes()); });
    if (stopped_) return Step::kStop;
    if (fileFailed("FT00", "READ", s)) return Step::kLeave;
    if (s.invalidKey()) {
      audit("NOTINST", std::to_string(row.entry), s.toString(), "Anwendung nicht installiert!");
      message_.setText("Anwendung nicht installiert!");
      showBox("BOX-WARNUNG");
      return Step::kShow;
    }
  }
  Level& saved = stack_[level_];
  saved.menu = menu_;
  saved.title = title_;
  saved.positions = (encoding::getDigits(data_.listPosition()).value_or(0) % 100) * 100 +
                    encoding::getDigits(data_.selection()).value_or(0) % 100;
  if (level_ < kMaxLevel) ++level_;  // at the deepest level the new menu replaces the current one
  menu_ = row.entry;
  title_ = row.text;
  encoding::putRaw(data_.title(), title_);
  putFour(data_.listPosition(), 1);
  putFour(data_.selection(), 1);
  return Step::kList;
}

Launcher::Step Launcher::goUp() {
  if (level_ <= 1) {
    message_.setText("Wollen Sie das System verlassen?");
    showBox("BOX-FRAGE");
    return data_.reply() == 'J' ? Step::kLeave : Step::kShow;
  }
  statusLine_.assign(kStatusLineWidth, ' ');
  encoding::blank(data_.statusLine());
  --level_;
  const Level& saved = stack_[level_];
  menu_ = saved.menu;
  title_ = saved.title;
  putFour(data_.listPosition(), saved.positions / 100);
  putFour(data_.selection(), saved.positions % 100);
  if (level_ == 1) title_ = kTopTitle;
  return Step::kList;
}

}  // namespace launcher
