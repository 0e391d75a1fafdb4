// U000: help texts of the installation, one file per topic.
#include <algorithm>
#include <cctype>
#include <fstream>

#include "datafiles/menu_access.h"
#include "encoding/cp850.h"
#include "datafiles/records.h"
#include "platform/dl_program_loader.h"
#include "programs/module.h"
#include "programs/module_screen.h"
#include "programs/screens.h"

namespace programs {
namespace {

using Area = pxabi::CommonArea;

bool isTopic(std::string_view topic) {
  return !topic.empty() && topic.size() <= 4 &&
         std::all_of(topic.begin(), topic.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

// The menu entry a row of the launcher's list came from: the one with the
// row's text and program (or, for a row without program, the entry number
// that the topic holds) that `user` sees; the first such entry when she sees
// none. Nothing when no entry fits.
std::optional<datafiles::MenuRecord> entryOfRow(datafiles::KeyedFile& menus,
                                                std::string_view topic,
                                                std::span<const char> text,
                                                const datafiles::AccessUser& user,
                                                datafiles::AccessLookup& lookup) {
  const bool isMenu = !topic.empty() && std::all_of(topic.begin(), topic.end(), [](char c) {
    return c >= '0' && c <= '9';
  });
  const int opens = isMenu ? std::stoi(std::string(topic)) : -1;
  datafiles::MenuRecord r;
  encoding::zero(r.bytes());
  if (!menus.start(datafiles::StartMode::kNotLessThan, r.bytes(),
                   datafiles::MenuRecord::kKeyLength)
           .ok())
    return std::nullopt;
  std::optional<datafiles::MenuRecord> first;
  while (menus.readNext(r.bytes()).ok()) {
    if (r.isHeader() || encoding::view(r.textField()) != encoding::view(text)) continue;
    const bool fits = isMenu ? r.opensSubmenu() && r.entry() == opens
                             : encoding::trimmed(r.programField()) == topic;
    if (!fits) continue;
    if (datafiles::entryVisibility(user.userClass, r.accessClass(), r.program()) !=
            datafiles::Visibility::kHidden &&
        datafiles::refusalFor(user, r, lookup) != datafiles::Refusal::kNoPermission)
      return r;
    if (!first) first = r;
  }
  return first;
}

// The lines on who may call the row's entry, in the words of the menu
// maintenance; none when the files cannot be read.
std::vector<std::string> accessLines(const pxabi::CommonArea& area, datafiles::FileStore& store,
                                     std::string_view topic) {
  auto menus = store.file(datafiles::kMenuFile);
  auto permissions = store.file(datafiles::kPermissionFile);
  auto installation = store.file(datafiles::kInstallationFile);
  std::vector<std::string> lines;
  if (menus->open(datafiles::OpenMode::kInput).ok() &&
      permissions->open(datafiles::OpenMode::kInput).ok() &&
      installation->open(datafiles::OpenMode::kInput).ok()) {
    datafiles::FileAccessLookup lookup(*permissions, *installation);
    datafiles::AccessUser user{area.userClass(), area.client(),
                               std::string(encoding::view(area.userName()))};
    if (const auto entry = entryOfRow(*menus, topic, area.helpText(), user, lookup)) {
      const std::string name = encoding::getText(area.userName());
      const datafiles::Refusal why = datafiles::refusalFor(user, *entry, lookup);
      lines.push_back("Zugriff:  Zugriffsklasse " +
                      encoding::cp850::toUtf8(std::string(1, entry->accessClass())));
      if (why == datafiles::Refusal::kNone)
        lines.push_back("Aufruf:   " + name +
                        (entry->opensSubmenu() ? " darf den Eintrag öffnen."
                                               : " darf den Eintrag aufrufen."));
      else
        lines.push_back("Aufruf:   nicht für " + name + ": " + datafiles::explain(why, *entry));
    }
  }
  for (auto* f : {&menus, &permissions, &installation})
    if ((*f)->isOpen()) (void)(*f)->close();
  return lines;
}

}  // namespace

std::string installedHelpDirectory() { return platform::installationRoot() + "/share/px01/help"; }

std::optional<std::vector<std::string>> readHelp(const std::string& helpDirectory,
                                                 std::string_view topic) {
  // A topic comes from the shared menu file: it must never name another path.
  if (!isTopic(topic)) return std::nullopt;
  std::ifstream in(helpDirectory + "/" + std::string(topic) + ".txt");
  if (!in) return std::nullopt;
  std::vector<std::string> lines;
  std::string line;
  while (lines.size() < pxabi::ScreenDataBlock::kPageLineCount && std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::int32_t showHelp(pxabi::CommonArea& area, platform::ScreenSet& screen,
                      const std::string& helpDirectory, datafiles::FileStore& store) {
  const char mode = area.helpMode();
  const std::string topic = encoding::getText(area.helpTopic());
  const auto text = readHelp(helpDirectory, topic);
  ModuleScreen module(area, screen);
  if (mode == '1') {
    if (!text) {
      module.run("BOX-INFO", "Zum Thema \"" + topic + "\" gibt es keinen Hilfetext.");
      return kRefused;
    }
    module.showPage("Hilfe " + topic, *text);
    return kDone;
  }
  if (mode == 'I') {
    const bool isMenu = !topic.empty() && std::all_of(topic.begin(), topic.end(), [](char c) {
      return c >= '0' && c <= '9';
    });
    std::vector<std::string> lines = {
        "Eintrag:  " + encoding::getText(area.helpText()),
        std::string(isMenu ? "Menü:     " : "Programm: ") + topic,
    };
    const auto access = accessLines(area, store, encoding::trimmed(area.helpTopic()));
    lines.insert(lines.end(), access.begin(), access.end());
    if (text) {
      lines.emplace_back();
      lines.insert(lines.end(), text->begin(), text->end());
    }
    module.showPage("Information", lines);
    return kDone;
  }
  return kBadCall;
}

}  // namespace programs
