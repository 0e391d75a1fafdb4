// U000: help texts of the installation, one file per topic.
#include <algorithm>
#include <cctype>
#include <fstream>

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
                      const std::string& helpDirectory) {
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
