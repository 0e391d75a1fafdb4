#include "platform/screenset/list_cursor.h"

#include <gtest/gtest.h>

#include "platform/screenset/key_bar.h"

namespace screenset {
namespace {

TEST(ListCursor, StartsWhereTheCallerLeftItAndStaysInsideTheList) {
  const struct {
    int count;
    std::optional<int> selection, position;
    int height, wantSelection, wantTop;
  } cases[] = {
      {0, 0, 1, 16, 0, 1},     // empty list: no selection
      {0, 5, 5, 16, 0, 1},
      {10, 3, 1, 16, 3, 1},
      {10, std::nullopt, std::nullopt, 16, 1, 1},  // not digits
      {10, 0, 1, 16, 1, 1},    // "0000" with rows: the first row
      {10, 99, 1, 16, 10, 1},  // past the end: the last row
      {40, 30, 25, 16, 30, 25},
      {40, 30, 1, 16, 30, 15},  // selection out of view: scrolled to it
      {40, 30, 38, 16, 30, 25}, // no blank space below the last row
      {40, 2, 20, 16, 2, 2},
  };
  for (const auto& c : cases) {
    ListCursor l(c.count, c.selection, c.position);
    l.setHeight(c.height);
    EXPECT_EQ(l.selection(), c.wantSelection) << c.count << " " << c.selection.value_or(-1);
    EXPECT_EQ(l.top(), c.wantTop) << c.count << " " << c.selection.value_or(-1);
  }
}

TEST(ListCursor, MovesAndScrolls) {
  ListCursor l(30, 1, 1);
  l.setHeight(10);
  l.up();
  EXPECT_EQ(l.selection(), 1);
  l.pageDown();
  EXPECT_EQ(l.selection(), 11);
  EXPECT_EQ(l.top(), 2);
  EXPECT_EQ(l.bottom(), 11);
  l.end();
  EXPECT_EQ(l.selection(), 30);
  EXPECT_EQ(l.top(), 21);
  l.pageUp();
  EXPECT_EQ(l.selection(), 20);
  EXPECT_EQ(l.top(), 20);
  l.home();
  EXPECT_EQ(l.selection(), 1);
  EXPECT_EQ(l.top(), 1);
  l.setHeight(5);  // a smaller window keeps the selection in view
  l.moveTo(9);
  l.setHeight(3);
  EXPECT_GE(9, l.top());
  EXPECT_LE(9, l.bottom());
  ListCursor empty(0, 0, 0);
  empty.down();
  empty.end();
  EXPECT_EQ(empty.selection(), 0);
}

TEST(TypeAhead, JumpsToTheNextRowStartingWithWhatWasTyped) {
  // Code page 850: 0x9A = Ü, 0x81 = ü.
  const std::vector<std::string_view> rows = {"Mitglieder", "Beitr\x84ge", "Meldungen",
                                              "  \x9A" "bungsleiter", "Mahnwesen", "Berichte"};
  using namespace std::chrono_literals;
  TypeAhead t;
  const auto t0 = TypeAhead::Clock::time_point{} + 10s;
  EXPECT_EQ(t.key(U'm', rows, 1, t0), 3);                 // next row, not the current one
  EXPECT_EQ(t.key(U'a', rows, 3, t0 + 200ms), 5);         // "ma"
  EXPECT_EQ(t.key(U'm', rows, 5, t0 + 3s), 1);            // a pause starts afresh; wraps
  EXPECT_EQ(t.key(U'i', rows, 1, t0 + 3s + 100ms), 1);    // "mi" still the current row
  EXPECT_EQ(t.key(U'b', rows, 1, t0 + 3s + 200ms), 2);    // "mib" matches nothing: "b"
  EXPECT_EQ(t.key(U'\u00FC', rows, 2, t0 + 9s), 4);       // ü finds Ü after the indent
  EXPECT_EQ(t.key(U'x', rows, 4, t0 + 12s), std::nullopt);
  EXPECT_EQ(TypeAhead().key(U'a', {}, 0, t0), std::nullopt);
}

TEST(KeyBar, LeavesBlankCaptionsOutAndFitsTheWidth) {
  std::array<std::string_view, 9> captions = {"", " Info ", "Sperre", "Rechn.", "",
                                              "Kalend", "", "", ""};
  auto keys = layoutKeyBar(captions, 78);
  ASSERT_EQ(keys.size(), 4u);
  EXPECT_EQ(keys[0].key, 2);
  EXPECT_EQ(keys[0].caption, "Info");
  EXPECT_EQ(keys[0].column, 0);
  EXPECT_EQ(keys[0].captionColumn, 3);
  EXPECT_EQ(keys[1].key, 3);
  EXPECT_EQ(keys[1].column, 9);  // "F2 Info" + two blanks
  EXPECT_EQ(keys[3].key, 6);

  const std::array<std::string_view, 9> full = {"Eins..", "Zwei..", "Drei..", "Vier..", "Fuenf.",
                                                "Sechs.", "Sieben", "Acht..", "Neun.."};
  keys = layoutKeyBar(full, 80);  // all nine fit only when packed
  ASSERT_EQ(keys.size(), 9u);
  EXPECT_LE(keys[8].captionColumn + 6, 80);
  keys = layoutKeyBar(full, 40);  // what does not fit is left out
  ASSERT_FALSE(keys.empty());
  EXPECT_LT(keys.size(), 9u);
  EXPECT_LE(keys.back().captionColumn + static_cast<int>(keys.back().caption.size()), 40);
}

}  // namespace
}  // namespace screenset
