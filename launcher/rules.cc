#include "launcher/rules.h"

#include <array>

#include "encoding/field.h"

namespace launcher {

using pxabi::CommonArea;
namespace {

// The field's characters up to the first two blanks in a row, at most `max`.
std::string_view upToDoubleBlank(std::string_view s, std::size_t max) {
  s = s.substr(0, std::min(max, s.size()));
  const std::size_t cut = s.find("  ");
  return cut == std::string_view::npos ? s : s.substr(0, cut);
}

std::string padded(std::string s, std::size_t width) {
  s.resize(width, ' ');
  return s;
}

std::string countLine(std::uint32_t count, std::string_view word) {
  // The word sits in a 12-character field behind the count.
  std::string line = std::to_string(count) + " ";
  line += word;
  line.resize(line.size() + (12 - word.size()), ' ');
  return padded(std::move(line), kStatusLineWidth - 1);
}

}  // namespace

int actionForEvent(std::uint16_t eventCode, const CommonArea& area) {
  const int low = eventCode & 0xFF;
  if (low >= 1 && low <= 10) return area.functionKeyAction(low);
  if (low == 53) return area.functionKeyAction(7);
  if (low == 54) return area.functionKeyAction(8);
  return low;
}

StatusGroup statusGroup(std::string_view program5) {
  struct Row {
    std::string_view name;
    StatusGroup group;
  };
  static constexpr std::array<Row, 31> kRows = {{
      {"PMB0 ", StatusGroup::kTextAndValue}, {"PM7B ", StatusGroup::kTextAndValue},
      {"PM6W ", StatusGroup::kTextAndValue}, {"PM7Z ", StatusGroup::kValue},
      {"PM49 ", StatusGroup::kPositions},    {"PM44 ", StatusGroup::kPositions},
      {"PM2A ", StatusGroup::kPositions},    {"PL36 ", StatusGroup::kPositions},
      {"PM45 ", StatusGroup::kPositions},    {"PM4F ", StatusGroup::kPositions},
      {"PM19 ", StatusGroup::kAddresses},    {"PM30 ", StatusGroup::kAddresses},
      {"PB35 ", StatusGroup::kAddresses},    {"PB13 ", StatusGroup::kAddresses},
      {"PH70 ", StatusGroup::kAddresses},    {"PR62 ", StatusGroup::kAddresses},
      {"PR6L ", StatusGroup::kAddresses},    {"PB30 ", StatusGroup::kAddresses},
      {"PB31 ", StatusGroup::kAddresses},    {"PM3D ", StatusGroup::kAddresses},
      {"PM75 ", StatusGroup::kAddresses},    {"PM76 ", StatusGroup::kAddresses},
      {"PM36 ", StatusGroup::kAddresses},    {"PS04 ", StatusGroup::kAddresses},
      {"PM2S ", StatusGroup::kAddresses},    {"PD15 ", StatusGroup::kAddresses},
      {"PB32 ", StatusGroup::kAddresses},    {"PB33 ", StatusGroup::kAddresses},
      {"PR6B ", StatusGroup::kAddresses},    {"PS54 ", StatusGroup::kAddresses},
      {"", StatusGroup::kUnchanged},
  }};
  for (const Row& r : kRows)
    if (!r.name.empty() && r.name == program5) return r.group;
  return StatusGroup::kUnchanged;
}

std::string statusLineFor(StatusGroup group, const CommonArea& area, std::string_view current) {
  const std::string_view value = encoding::view(area.statusValue());
  std::string line;
  switch (group) {
    case StatusGroup::kTextAndValue:
      line = std::string(upToDoubleBlank(encoding::view(area.statusText()), 15));
      line += ' ';
      line += upToDoubleBlank(value, 4);
      line = padded(std::move(line), kStatusLineWidth - 1);
      break;
    case StatusGroup::kValue:
      line = padded(std::string(value.substr(0, 4)), kStatusLineWidth - 1);
      break;
    case StatusGroup::kPositions:
      line = countLine(encoding::getBigEndian(area.positionsCount()), "Positionen");
      break;
    case StatusGroup::kAddresses:
      line = countLine(encoding::getBigEndian(area.addressesCount()), "Adressen");
      break;
    case StatusGroup::kUnchanged:
      return padded(std::string(current), kStatusLineWidth);
  }
  line.resize(kStatusLineWidth - 1, ' ');
  return line + ' ';
}

std::string displayDate(std::string_view d) {
  if (d.size() != 6) return std::string(8, ' ');
  std::string out;
  out.append(d.substr(4, 2)).append(".").append(d.substr(2, 2)).append(".").append(d.substr(0, 2));
  return out;
}

std::string headerLine(const CommonArea& area) {
  std::string line(encoding::view(area.identification()));
  line += ' ';
  line += encoding::view(area.headerNumber());
  line += " - ";
  line += encoding::view(area.versionText()).substr(0, 16);
  return padded(std::move(line), 30);
}

bool storesMenuValue(std::string_view menuValue) {
  const std::string_view head = menuValue.substr(0, 4);
  if (head.size() < 4) return true;
  int n = 0;
  for (char c : head) {
    if (c < '0' || c > '9') return true;
    n = n * 10 + (c - '0');
  }
  return n <= 3000;
}

}  // namespace launcher
