// The key bar at the foot of the main menu window and of a list:
// "F2 Info  F3 Sperre ...".
#pragma once

#include <span>
#include <string_view>
#include <vector>

namespace screenset {

struct KeyLabel {
  int key;                  // 1..10
  std::string_view caption; // code page 850, blanks around it dropped
  int column;               // where "Fn" starts
  int captionColumn;        // where the caption starts
};

// Keys with a blank caption are left out. The labels are spaced out as far as
// `width` allows; keys that still do not fit are left out from the right.
// `captions` are those of F1, F2, ... in order.
std::vector<KeyLabel> layoutKeyBar(std::span<const std::string_view> captions, int width);

}  // namespace screenset
