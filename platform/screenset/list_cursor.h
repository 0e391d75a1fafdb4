// Where the cursor is in the menu list and which rows are in view, and the
// type-ahead jump. Pure logic, so that the terminal runtime's keys can be
// tested without a terminal.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace screenset {

class ListCursor {
 public:
  // Rows are 1-based. A selection outside 1..count starts on the nearest
  // row; an empty list has selection 0. `position` is the first row in view.
  ListCursor(int count, std::optional<int> selection, std::optional<int> position);

  // The number of rows the window shows; keeps the selection in view.
  void setHeight(int rows);
  void up(int n = 1) { moveTo(selection_ - n); }
  void down(int n = 1) { moveTo(selection_ + n); }
  void pageUp() { up(height_); }
  void pageDown() { down(height_); }
  void home() { moveTo(1); }
  void end() { moveTo(count_); }
  void moveTo(int row);

  int count() const { return count_; }
  int selection() const { return selection_; }
  int top() const { return top_; }        // first row in view
  int height() const { return height_; }
  int bottom() const { return std::min(count_, top_ + height_ - 1); }  // last row in view

 private:
  void keepInView();
  int count_, selection_, top_, height_ = 1;
};

// Typing letters jumps to the next row whose text starts with them. Keys
// typed within `kPause` of each other extend the prefix; after a pause, or
// when the longer prefix matches nothing, the search starts afresh with the
// last key from the row after the current one.
class TypeAhead {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kPause{1000};
  // `rows` are code page 850 texts; returns the row (1-based) to select.
  std::optional<int> key(char32_t c, const std::vector<std::string_view>& rows, int current,
                         Clock::time_point now);

 private:
  std::u32string prefix_;
  Clock::time_point last_{};
};

// Lower case for the letters of code page 850, for prefix matching.
char32_t foldCase(char32_t c);

}  // namespace screenset
