#include "platform/screenset/key_bar.h"

namespace screenset {

std::vector<KeyLabel> layoutKeyBar(std::span<const std::string_view> captions, int width) {
  std::vector<KeyLabel> keys;
  for (int k = 0; k < static_cast<int>(captions.size()); ++k) {
    std::string_view c = captions[k];
    while (!c.empty() && c.front() == ' ') c.remove_prefix(1);
    while (!c.empty() && c.back() == ' ') c.remove_suffix(1);
    if (!c.empty()) keys.push_back({k + 1, c, 0, 0});
  }
  // (gap between keys, gap between key and caption), widest first.
  constexpr int kSpacings[][2] = {{2, 1}, {1, 1}, {1, 0}};
  for (const auto& [between, inside] : kSpacings) {
    int col = 0;
    std::vector<KeyLabel> placed;
    for (KeyLabel k : keys) {
      const int len = 2 + inside + static_cast<int>(k.caption.size());
      const int start = placed.empty() ? 0 : col + between;
      if (start + len > width) break;
      k.column = start;
      k.captionColumn = start + 2 + inside;
      placed.push_back(k);
      col = start + len;
    }
    if (placed.size() == keys.size() || (between == 1 && inside == 0)) return placed;
  }
  return {};
}

}  // namespace screenset
