// The sample function programs: what a called program receives.
#include "programs/module.h"
#include "programs/module_screen.h"
#include "programs/screens.h"

namespace programs {

using Area = pxabi::CommonArea;

std::string receivedText(const pxabi::CommonArea& area, std::string_view name) {
  std::string text(name);
  text += " Benutzer " + encoding::getText(area.at<Area::kUserName>());
  text += ", Recht " + encoding::getText(area.at<Area::kPermissionFlag>());
  const std::string permission = encoding::getText(area.at<Area::kPermissionText>());
  if (!permission.empty()) text += " " + permission;
  const std::string entryFlag = encoding::getText(area.at<Area::kEntryFlag>());
  text += ", Kz. " + (entryFlag.empty() ? std::string("-") : entryFlag);
  text += ", Titel " + encoding::getText(area.at<Area::kWindowTitle>());
  // The title was centred: drop the blanks inside before the box cuts it.
  std::string compact;
  for (char c : text)
    if (c != ' ' || compact.empty() || compact.back() != ' ') compact += c;
  return compact;
}

std::int32_t showReceived(pxabi::CommonArea& area, platform::ScreenSet& screen,
                          std::string_view name, std::string_view followUp) {
  {
    ModuleScreen module(area, screen);
    module.run("BOX-INFO", receivedText(area, name));
  }
  if (!followUp.empty() && encoding::isBlank(area.at<Area::kNextProgram1>()))
    encoding::putRaw(area.at<Area::kNextProgram1>(), followUp);
  return kDone;
}

}  // namespace programs
