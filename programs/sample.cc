// The sample function programs: what a called program receives.
#include "programs/module.h"
#include "programs/module_screen.h"
#include "programs/screens.h"

namespace programs {

using Area = pxabi::CommonArea;

std::string receivedText(const pxabi::CommonArea& area, std::string_view name) {
  const char permissionFlag = area.permissionFlag(), entry = area.entryFlag();
  std::string text(name);
  text += " Benutzer " + encoding::getText(area.userName());
  text += ", Recht " + encoding::getText({&permissionFlag, 1});
  const std::string permission = encoding::getText(area.permissionText());
  if (!permission.empty()) text += " " + permission;
  const std::string entryFlag = encoding::getText({&entry, 1});
  text += ", Kz. " + (entryFlag.empty() ? std::string("-") : entryFlag);
  text += ", Titel " + encoding::getText(area.windowTitle());
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
  if (!followUp.empty() && encoding::isBlank(area.nextProgram1()))
    encoding::putRaw(area.nextProgram1(), followUp);
  return kDone;
}

}  // namespace programs
