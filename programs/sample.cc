// The sample function programs: what a called program receives.
#include "programs/module.h"
#include "programs/module_screen.h"
#include "programs/screens.h"

namespace programs {

using Area = px::CommonArea;

std::string receivedText(const px::CommonArea& area, std::string_view name) {
  std::string text(name);
  text += " Benutzer " + rec::getText(area.at<Area::kUserName>());
  text += ", Recht " + rec::getText(area.at<Area::kPermissionFlag>());
  const std::string permission = rec::getText(area.at<Area::kPermissionText>());
  if (!permission.empty()) text += " " + permission;
  const std::string entryFlag = rec::getText(area.at<Area::kEntryFlag>());
  text += ", Kz. " + (entryFlag.empty() ? std::string("-") : entryFlag);
  text += ", Titel " + rec::getText(area.at<Area::kWindowTitle>());
  // The title was centred: drop the blanks inside before the box cuts it.
  std::string compact;
  for (char c : text)
    if (c != ' ' || compact.empty() || compact.back() != ' ') compact += c;
  return compact;
}

std::int32_t showReceived(px::CommonArea& area, platform::ScreenSet& screen,
                          std::string_view name, std::string_view followUp) {
  {
    ModuleScreen module(area, screen);
    module.run("BOX-INFO", receivedText(area, name));
  }
  if (!followUp.empty() && rec::isBlank(area.at<Area::kNextProgram1>()))
    rec::putRaw(area.at<Area::kNextProgram1>(), followUp);
  return kDone;
}

}  // namespace programs
