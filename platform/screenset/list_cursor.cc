#include "platform/screenset/list_cursor.h"

#include <algorithm>

#include "encoding/cp850.h"

namespace screenset {

ListCursor::ListCursor(int count, std::optional<int> selection, std::optional<int> position)
    : count_(std::max(count, 0)) {
  selection_ = count_ == 0 ? 0 : std::clamp(selection.value_or(1), 1, count_);
  top_ = count_ == 0 ? 1 : std::clamp(position.value_or(1), 1, count_);
  // The view follows the selection once the window's height is known.
}

void ListCursor::setHeight(int rows) {
  height_ = std::max(rows, 1);
  keepInView();
}

void ListCursor::moveTo(int row) {
  if (count_ == 0) return;
  selection_ = std::clamp(row, 1, count_);
  keepInView();
}

void ListCursor::keepInView() {
  if (count_ == 0) {
    top_ = 1;
    return;
  }
  if (selection_ < top_) top_ = selection_;
  if (selection_ > top_ + height_ - 1) top_ = selection_ - height_ + 1;
  // No empty space below the last row when the list could fill the window.
  top_ = std::clamp(top_, 1, std::max(1, count_ - height_ + 1));
  if (selection_ < top_) top_ = selection_;
}

char32_t foldCase(char32_t c) {
  if (c >= U'A' && c <= U'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;  // À..Þ
  return c;
}

namespace {

bool startsWith(std::string_view row, const std::u32string& prefix) {
  std::size_t i = 0;
  while (i < row.size() && row[i] == ' ') ++i;  // texts may be indented
  for (char32_t p : prefix) {
    if (i >= row.size()) return false;
    if (foldCase(encoding::cp850::toCodePoint(static_cast<unsigned char>(row[i++]))) != p)
      return false;
  }
  return true;
}

std::optional<int> search(const std::vector<std::string_view>& rows, const std::u32string& prefix,
                          int from) {
  const int n = static_cast<int>(rows.size());
  for (int k = 0; k < n; ++k) {
    const int row = (from - 1 + k) % n + 1;
    if (startsWith(rows[row - 1], prefix)) return row;
  }
  return std::nullopt;
}

}  // namespace

std::optional<int> TypeAhead::key(char32_t c, const std::vector<std::string_view>& rows,
                                  int current, Clock::time_point now) {
  if (rows.empty()) return std::nullopt;
  const bool fresh = prefix_.empty() || now - last_ > kPause;
  last_ = now;
  const char32_t k = foldCase(c);
  if (!fresh) {
    prefix_ += k;
    // A longer prefix may still match the current row.
    if (auto row = search(rows, prefix_, std::max(current, 1))) return row;
  }
  prefix_.assign(1, k);
  return search(rows, prefix_, current % static_cast<int>(rows.size()) + 1);
}

}  // namespace screenset
