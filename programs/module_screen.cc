#include "programs/module_screen.h"

#include <algorithm>

#include "abi/message_area.h"

namespace programs {

using Area = pxabi::CommonArea;
using Data = pxabi::ScreenDataBlock;

ModuleScreen::ModuleScreen(pxabi::CommonArea& area, platform::ScreenSet& screen)
    : area_(area), screen_(screen), data_(std::make_unique<Data>()) {
  const auto saved = area_.savedControlBlock();
  std::copy(saved.begin(), saved.end(), control_.bytes().begin());
  const auto carried = area_.carriedValues();
  std::copy(carried.begin(), carried.end(), data_->carriedValues().begin());
  encoding::putRaw(data_->clubText(), encoding::view(area_.clubText()));
  // Only the program dispatch hands over the launcher's block; a program
  // called from elsewhere (the help) may find an old or empty copy, which is
  // made to name the running set so that the runtime accepts it.
  if (!control_.identifiesMPX01()) {
    control_.identifyMPX01();
    control_.setSetCommand(' ');
    control_.setError(0, 0, 0);
  }
}

ModuleScreen::~ModuleScreen() {
  const auto control = control_.bytes();
  std::copy(control.begin(), control.end(), area_.savedControlBlock().begin());
  const auto carried = data_->carriedValues();
  std::copy(carried.begin(), carried.end(), area_.carriedValues().begin());
}

bool ModuleScreen::run(std::string_view procedure, std::string_view message) {
  if (failed_) return false;
  // The message area's text is 70 characters; file code, operation and
  // status behind it stay blank.
  const auto box = data_->message();
  encoding::blank(box);
  encoding::putText(box.first<70>(), message);
  control_.setProcedure(procedure);
  (void)screen_.call(control_, data_->bytes());
  control_.setProcedure("");
  failed_ = control_.errorCode() != 0;
  return !failed_;
}

bool ModuleScreen::showPage(std::string_view title, const std::vector<std::string>& lines) {
  encoding::putText(data_->pageTitle(), title);
  encoding::blank(data_->pageLines());
  const std::size_t used = std::min(lines.size(), Data::kPageLineCount);
  for (std::size_t i = 0; i < used; ++i) encoding::putText(data_->pageLine(i + 1), lines[i]);
  encoding::putDigits(data_->pageUsed(), static_cast<long long>(used));
  return run("TEXT-ANZEIGEN");
}

bool ModuleScreen::runFileBox(std::string_view procedure, std::string_view text,
                              std::string_view fileCode, std::string_view operation,
                              datafiles::FileStatus status) {
  if (failed_) return false;
  pxabi::MessageArea m;
  m.setText(text);
  m.setFileCode(fileCode);
  m.setOperation(operation);
  m.setStatus(status.raw());
  const auto box = data_->message();
  encoding::blank(box);
  encoding::putRaw(box, encoding::view(m.bytes()));
  control_.setProcedure(procedure);
  (void)screen_.call(control_, data_->bytes());
  control_.setProcedure("");
  failed_ = control_.errorCode() != 0;
  return !failed_;
}

std::optional<ListChoice> ModuleScreen::showList(const ListScreen& list, std::string_view message) {
  encoding::putText(data_->listTitle(), list.title);
  encoding::putText(data_->listHeader(), list.header);
  for (std::size_t k = 0; k < list.keys.size(); ++k)
    encoding::putText(data_->listKey(k + 1), list.keys[k]);
  const std::size_t used = std::min(list.rows.size(), Data::kListRowCount);
  for (std::size_t i = 0; i < Data::kListRowCount; ++i) {
    if (i < used) encoding::putText(data_->listRow(i + 1), list.rows[i]);
    else encoding::blank(data_->listRow(i + 1));
  }
  (void)encoding::putDigits(data_->listCount(), static_cast<long long>(used));
  if (!encoding::getDigits(data_->listSelection())) setListPosition(1, 1);
  data_->setEventCode(Data::kEventNone);
  // Rows beyond the block's are not shown: say so rather than cut silently.
  const std::string cut = list.rows.size() > used && message.empty()
                              ? "Nur die ersten " + std::to_string(used) + " von " +
                                    std::to_string(list.rows.size()) + " Zeilen."
                              : std::string(message);
  if (!run("LISTE", cut)) return std::nullopt;
  ListChoice c;
  c.event = data_->eventCode() & 0xFF;
  c.row = static_cast<int>(encoding::getDigits(data_->listChosen()).value_or(0));
  if (c.row < 0 || c.row > static_cast<int>(used)) c.row = 0;
  return c;
}

void ModuleScreen::setListPosition(int selection, int top) {
  (void)encoding::putDigits(data_->listSelection(), std::clamp(selection, 0, 9999));
  (void)encoding::putDigits(data_->listTop(), std::clamp(top, 0, 9999));
}

int ModuleScreen::listSelection() const {
  return static_cast<int>(encoding::getDigits(data_->listSelection()).value_or(1));
}

int ModuleScreen::listTop() const {
  return static_cast<int>(encoding::getDigits(data_->listTop()).value_or(1));
}

std::optional<char> ModuleScreen::showForm(std::string_view title, std::vector<FormField>& fields,
                                           std::string_view message, int focus) {
  encoding::putText(data_->formTitle(), title);
  encoding::blank(data_->formFields());
  const std::size_t used = std::min(fields.size(), Data::kFormFieldCount);
  for (std::size_t i = 0; i < used; ++i) {
    const FormField& f = fields[i];
    const int width = std::clamp(f.width, 1, static_cast<int>(Data::kFormValueWidth));
    encoding::putText(data_->formLabel(i + 1), f.label);
    (void)encoding::putDigits(data_->formWidth(i + 1), width);
    encoding::putRaw(data_->formValue(i + 1).first(static_cast<std::size_t>(width)), f.value);
  }
  (void)encoding::putDigits(data_->formCount(), static_cast<long long>(used));
  (void)encoding::putDigits(data_->formFocus(), std::clamp(focus, 1, std::max(1, static_cast<int>(used))));
  data_->setReply(' ');
  if (!run("MASKE", message)) return std::nullopt;
  const char reply = data_->reply();
  if (reply == 'C') return reply;
  for (std::size_t i = 0; i < used; ++i) {
    const auto width = static_cast<std::size_t>(std::clamp(fields[i].width, 1, 40));
    fields[i].value = std::string(encoding::trimmed(data_->formValue(i + 1).first(width)));
  }
  return 'J';
}

}  // namespace programs
