#include "programs/module_screen.h"

#include <algorithm>

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

}  // namespace programs
