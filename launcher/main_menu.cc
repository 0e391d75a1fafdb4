// The main menu loop and the access checks of the launcher.
#include <algorithm>

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

Launcher::Step Launcher::lockedOut() {
  banner_ = kLockBanner;
  message_.setText("Programmaufruf durch Administrator z.Z. gesperrt.");
  showBox("BOX-INFO");
  return Step::kLeave;
}

bool Launcher::permitted(std::string_view program) {
  datafiles::PermissionRecord record;
  record.setKey(area_.client(), encoding::view(area_.at<CommonArea::kUserName>()), program);
  const datafiles::FileStatus s = withLockWait("FX02", [&] { return fx02_->read(record.bytes()); });
  if (s.invalidKey()) {
    callName_.assign(10, ' ');
    message_.setStatus(s.raw());
    message_.setText("Sie sind nicht berechtigt!");
    showBox("BOX-WARNUNG");
    return false;
  }
  encoding::putRaw(area_.at<CommonArea::kPermissionFlag>(),
              encoding::view(record.at<datafiles::PermissionRecord::kFlag>()));
  encoding::putRaw(area_.at<CommonArea::kPermissionText>(), record.text());
  return true;
}

void Launcher::toggleLock() {
  auto reopenForInput = [&] {
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
  (void)ft00_->rewrite(record.bytes());
  control0_ = record;
  reopenForInput();
}

// ---- the loop ---------------------------------------------------------------

void Launcher::runMenu() {
  level_ = 1;
  stack_.fill(Level{});
  putFour(data_.at<ScreenDataBlock::kListPosition>(), 1);
  putFour(data_.at<ScreenDataBlock::kSelection>(), 1);
  title_ = kTopTitle;
  menu_ = 0;
  for (Step step = Step::kList;;) {
    switch (step) {
      case Step::kList:
        step = buildList();
        break;
      case Step::kShow:
        step = show();
        break;
      case Step::kLeave:
        return;
    }
  }
}

Launcher::Step Launcher::buildList() {
  statusLine_.assign(kStatusLineWidth, ' ');
  rows_.fill(Row{});
  count_ = 0;
  const char userClass = area_.at<CommonArea::kUserClass>()[0];

  datafiles::MenuRecord record;
  record.setKey(menu_, 0);
  const datafiles::FileStatus started = withLockWait("FX01", [&] {
    return fx01_->start(datafiles::StartMode::kNotLessThan, record.bytes(),
                        datafiles::MenuRecord::kKeyLength);
  });
  if (!started.invalidKey()) {
    for (;;) {
      // Anything but a record ends the list: end of file, and any failure,
      // which would otherwise repeat for ever.
      if (!withLockWait("FX01", [&] { return fx01_->readNext(record.bytes()); }).ok()) break;
      if (record.isHeader()) continue;
      if (record.menu() != menu_) break;
      const std::string_view program = record.program();
      Visibility v = entryVisibility(userClass, record.accessClass(), program);
      if (v == Visibility::kNeedsPermission) {
        datafiles::PermissionRecord key;
        key.setKey(area_.client(), encoding::view(area_.at<CommonArea::kUserName>()), program);
        const datafiles::FileStatus s = withLockWait("FX02", [&] {
          return fx02_->start(datafiles::StartMode::kEqual, key.bytes(),
                              datafiles::PermissionRecord::kKeyLength);
        });
        v = s.invalidKey() ? Visibility::kHidden : Visibility::kShown;
      }
      if (v == Visibility::kHidden) continue;
      if (!encoding::isBlank(record.at<datafiles::MenuRecord::kProgram>()))
        buildStatusLine(std::string(program) + " ");
      if (count_ < kMaxRows) ++count_;  // past 99 rows every entry replaces row 99
      Row& row = rows_[count_ - 1];
      row.entry = record.entry().value_or(0);
      row.text = std::string(encoding::view(record.at<datafiles::MenuRecord::kText>()));
      row.program = std::string(program) + " ";
      row.flag = record.entryFlag();
    }
  }
  for (std::size_t i = 0; i < kMaxRows; ++i)
    encoding::putRaw(data_.row(i + 1), i < count_ ? std::string_view(rows_[i].text) : kBlank40);
  putFour(data_.at<ScreenDataBlock::kEntryCount>(), static_cast<int>(count_));
  return Step::kShow;
}

void Launcher::buildStatusLine(std::string_view program5) {
  const StatusGroup group = statusGroup(program5);
  if (group == StatusGroup::kPositions) callUtility("UM21", area_.data());
  if (group == StatusGroup::kAddresses) callUtility("UM30", area_.data());
  statusLine_ = statusLineFor(group, area_, statusLine_);
  encoding::putRaw(data_.at<ScreenDataBlock::kStatusLine>(), statusLine_);
}

void Launcher::fillDisplay() {
  using D = ScreenDataBlock;
  data_.setEventCode(D::kEventNone);
  encoding::putRaw(data_.at<D::kTitle>(), title_);
  encoding::putRaw(data_.at<D::kBanner>(), banner_);
  for (int key = 1; key <= 9; ++key) {
    const int action = area_.functionKeyAction(key);
    encoding::putRaw(data_.caption(key), action >= 1 && action <= 9 ? captions_[action - 1] : "");
  }
  encoding::putRaw(data_.at<D::kIdentification>(),
                   encoding::view(area_.at<CommonArea::kIdentification>()));
  encoding::putDigits(data_.at<D::kClient>(), area_.client());
  encoding::putRaw(data_.at<D::kClubText>(), encoding::view(area_.at<CommonArea::kClubText>()));
  encoding::putRaw(data_.at<D::kMenuText>(), encoding::view(area_.at<CommonArea::kMenuText>()));
  encoding::putRaw(data_.at<D::kPermissionFlag>(),
                   encoding::view(area_.at<CommonArea::kPermissionFlag>()));
  encoding::putRaw(data_.at<D::kDate>(), date_);
  encoding::putRaw(data_.at<D::kModuleId>(), kModuleId);
  encoding::putRaw(data_.at<D::kModuleName>(), kModuleName);
  encoding::putRaw(data_.at<D::kHeaderLine>(), headerLine(area_));
  encoding::putRaw(data_.at<D::kMenuValue>(), encoding::view(area_.at<CommonArea::kMenuValue>()));
}

Launcher::Step Launcher::show() {
  (void)readControl();  // status not examined: the flag last read counts
  if (control0_.locked()) {
    if (!isAdministrator(area_.at<CommonArea::kUserClass>()[0])) return lockedOut();
    banner_ = kLockBanner;
  } else {
    banner_ = kBlank40;
  }
  fillDisplay();
  runProcedure("NEUSTART");
  message_.clear();
  encoding::putRaw(area_.at<CommonArea::kMenuValue>(),
              encoding::view(data_.at<ScreenDataBlock::kMenuValue>()));
  const auto chosen = encoding::getDigits(data_.at<ScreenDataBlock::kChosenRow>());
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
      if (isAdministrator(area_.at<CommonArea::kUserClass>()[0])) toggleLock();
      return Step::kShow;
    case 4:
      callName_ = "PX98      ";
      return callFromMenu();
    case 6:
      encoding::putRaw(area_.at<CommonArea::kCalendarStart>(), "000000000");
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
  area_.at<CommonArea::kHelpMode>()[0] = mode;
  encoding::putRaw(area_.at<CommonArea::kHelpTopic>(), topic);
  if (mode == 'I') encoding::putRaw(area_.at<CommonArea::kHelpText>(), helpText);
  // The help shows its text through the screen set: hand it the live screen
  // state, not the copy left from the last program call.
  encoding::putRaw(area_.at<CommonArea::kSavedControlBlock>(), control_.view());
  encoding::blank(area_.at<CommonArea::kSavedControlTail>());
  encoding::putRaw(area_.at<CommonArea::kCarriedValues>(),
              encoding::view(data_.at<ScreenDataBlock::kCarriedValues>()));
  callUtility("U000", area_.data());
}

Launcher::Step Launcher::choose() {
  if (encoding::view(data_.at<ScreenDataBlock::kSelection>()) == "0000") return Step::kShow;
  const Row* row = currentRow();
  if (row == nullptr) return Step::kShow;
  if (encoding::isBlank(std::string_view(row->program).substr(0, 4))) return openSubmenu(*row);

  const Row chosen = *row;
  callName_ = chosen.program.substr(0, 4) + "      ";
  area_.at<CommonArea::kEntryFlag>()[0] = chosen.flag;
  if (!isAdministrator(area_.at<CommonArea::kUserClass>()[0])) {
    if (!permitted(chosen.program.substr(0, 4))) return Step::kShow;
    if (!readControl().ok() || control0_.locked()) {
      callName_.assign(10, ' ');
      return lockedOut();
    }
  } else {
    area_.at<CommonArea::kPermissionFlag>()[0] = 'J';
    encoding::blank(area_.at<CommonArea::kPermissionText>());
  }
  encoding::putRaw(area_.at<CommonArea::kMenuText>(), chosen.text);

  std::array<char, 103> u007;
  u007.fill(' ');
  u007[0] = 'Z';
  encoding::putBigEndian(std::span<char>(u007).subspan(1, 2), 40);
  encoding::putRaw(std::span<char>(u007).subspan(3, 40), chosen.text);
  callUtility("U007", u007.data());
  encoding::putRaw(area_.at<CommonArea::kWindowTitle>(), std::string_view(u007.data() + 3, 40));
  return callFromMenu();
}

Launcher::Step Launcher::callFromMenu() {
  if (!isAdministrator(area_.at<CommonArea::kUserClass>()[0]) &&
      (!readControl().ok() || control0_.locked())) {
    callName_.assign(10, ' ');
    return lockedOut();
  }
  closeMenuFilesAndStore();
  dispatch();
  openMenuFiles();
  if (abort_) return Step::kLeave;
  buildStatusLine(statusName_);
  return Step::kShow;
}

Launcher::Step Launcher::openSubmenu(const Row& row) {
  const char userClass = area_.at<CommonArea::kUserClass>()[0];
  if (menu_ <= 0 && userClass != 'M' && row.entry != 19) {
    datafiles::InstallationRecord app;
    app.setKey(datafiles::InstallationRecord::kApplicationType, area_.client(), row.entry);
    if (withLockWait("FT00", [&] { return ft00_->read(app.bytes()); }).invalidKey()) {
      message_.setText("Anwendung nicht installiert!");
      showBox("BOX-WARNUNG");
      return Step::kShow;
    }
  }
  Level& saved = stack_[level_];
  saved.menu = menu_;
  saved.title = title_;
  saved.positions =
      (encoding::getDigits(data_.at<ScreenDataBlock::kListPosition>()).value_or(0) % 100) * 100 +
      encoding::getDigits(data_.at<ScreenDataBlock::kSelection>()).value_or(0) % 100;
  if (level_ < kMaxLevel) ++level_;  // at the deepest level the new menu replaces the current one
  menu_ = row.entry;
  title_ = row.text;
  encoding::putRaw(data_.at<ScreenDataBlock::kTitle>(), title_);
  putFour(data_.at<ScreenDataBlock::kListPosition>(), 1);
  putFour(data_.at<ScreenDataBlock::kSelection>(), 1);
  return Step::kList;
}

Launcher::Step Launcher::goUp() {
  if (level_ <= 1) {
    message_.setText("Wollen Sie das System verlassen?");
    showBox("BOX-FRAGE");
    return data_.at<ScreenDataBlock::kReply>()[0] == 'J' ? Step::kLeave : Step::kShow;
  }
  statusLine_.assign(kStatusLineWidth, ' ');
  encoding::blank(data_.at<ScreenDataBlock::kStatusLine>());
  --level_;
  const Level& saved = stack_[level_];
  menu_ = saved.menu;
  title_ = saved.title;
  putFour(data_.at<ScreenDataBlock::kListPosition>(), saved.positions / 100);
  putFour(data_.at<ScreenDataBlock::kSelection>(), saved.positions % 100);
  if (level_ == 1) title_ = kTopTitle;
  return Step::kList;
}

}  // namespace launcher
