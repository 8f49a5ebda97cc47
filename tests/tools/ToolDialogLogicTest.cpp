// The tool windows' decisions without a window: the MoveUp / MoveDown walk, the deletion
// order, the compression-bits toggle, the double-click rule, columns under the pointer
// and the address fields.
#include <gtest/gtest.h>

#include "common/RowMoves.h"
#include "tools/ToolDialogLogic.h"

namespace edog {
namespace {

std::vector<std::pair<int, int>> Moves(std::vector<int> selected, int rows, int direction) {
  std::vector<std::pair<int, int>> out;
  for (const RowSwap& s : PlanRowMoves(std::move(selected), rows, direction))
    out.emplace_back(s.from, s.to);
  return out;
}

using Pairs = std::vector<std::pair<int, int>>;

TEST(RowMoves, MoveUpStopsAtTheFirstRowThatCannotMove) {
  EXPECT_EQ(Moves({0, 2}, 5, -1), Pairs{});             // row 0 cannot move: nothing does
  EXPECT_EQ(Moves({1, 3}, 5, -1), (Pairs{{1, 0}, {3, 2}}));
  EXPECT_EQ(Moves({3, 1}, 5, -1), (Pairs{{1, 0}, {3, 2}}));  // walked in ascending order
  EXPECT_EQ(Moves({1, 2}, 5, -1), (Pairs{{1, 0}, {2, 1}}));  // a block moves as one
  EXPECT_EQ(Moves({}, 5, -1), Pairs{});
}

TEST(RowMoves, MoveDownWalksFromTheLastAndStopsAtTheEnd) {
  EXPECT_EQ(Moves({1, 4}, 5, +1), Pairs{});             // the last row cannot move
  EXPECT_EQ(Moves({0, 2}, 5, +1), (Pairs{{2, 3}, {0, 1}}));
  EXPECT_EQ(Moves({2, 3}, 5, +1), (Pairs{{3, 4}, {2, 3}}));
  EXPECT_EQ(Moves({0}, 1, +1), Pairs{});
}

TEST(RowMoves, DeletionGoesFromTheHighestIndexDown) {
  EXPECT_EQ(DeletionOrder({1, 4, 2}), (std::vector<int>{4, 2, 1}));
  EXPECT_EQ(DeletionOrder({3, 3}), (std::vector<int>{3}));
  EXPECT_TRUE(DeletionOrder({}).empty());
}

TEST(CompressionBits, FourBecomesThreeAndEverythingElseFour) {
  EXPECT_EQ(ToggledCompressionBits("4"), "3");
  EXPECT_EQ(ToggledCompressionBits("3"), "4");
  EXPECT_EQ(ToggledCompressionBits(ToggledCompressionBits("4")), "4");
  for (const char* other : {"", "5", " 4", "4 ", "x"}) EXPECT_EQ(ToggledCompressionBits(other), "4") << other;
}

TEST(CompressionBits, DoubleClickTogglesOnlyInColumnTwoWithTheOption) {
  EXPECT_TRUE(DoubleClickToggles(true, 0, 2));
  EXPECT_TRUE(DoubleClickToggles(true, 7, 2));
  EXPECT_FALSE(DoubleClickToggles(false, 0, 2));
  EXPECT_FALSE(DoubleClickToggles(true, -1, 2));
  for (long column : {-1L, 0L, 1L, 3L, 4L}) EXPECT_FALSE(DoubleClickToggles(true, 0, column));
}

TEST(ColumnUnderPointer, FollowsWidthsInShownOrder) {
  const std::vector<int> widths = {200, 50, 70, 70, 300};
  const std::vector<int> natural = {0, 1, 2, 3, 4};
  EXPECT_EQ(ColumnAtX(0, widths, natural), 0);
  EXPECT_EQ(ColumnAtX(199, widths, natural), 0);
  EXPECT_EQ(ColumnAtX(250, widths, natural), 2);
  EXPECT_EQ(ColumnAtX(319, widths, natural), 2);
  EXPECT_EQ(ColumnAtX(320, widths, natural), 3);
  EXPECT_EQ(ColumnAtX(689, widths, natural), 4);
  EXPECT_EQ(ColumnAtX(690, widths, natural), -1);
  EXPECT_EQ(ColumnAtX(-1, widths, natural), -1);
  // Headers dragged: "N bit Comp" shown first.
  EXPECT_EQ(ColumnAtX(10, widths, {2, 0, 1, 3, 4}), 2);
  EXPECT_EQ(ColumnAtX(75, widths, {2, 0, 1, 3, 4}), 0);
}

TEST(AddressField, ReadAsFormattedHexInput) {
  EXPECT_EQ(ReadHexField("40000"), 0x40000u);
  EXPECT_EQ(ReadHexField("  0x1A2b"), 0x1A2Bu);
  EXPECT_EQ(ReadHexField("0X10"), 0x10u);
  EXPECT_EQ(ReadHexField("12G4"), 0x12u);      // stops at the first other character
  EXPECT_EQ(ReadHexField(""), 0u);             // no digits: 0
  EXPECT_EQ(ReadHexField("zz"), 0u);
  EXPECT_EQ(ReadHexField("0x"), 0u);           // the 0 itself is the number
  EXPECT_EQ(ReadHexField("FFFFFFFF"), 0xFFFFFFFFu);
  EXPECT_EQ(ReadHexField("00000000FF"), 0xFFu);
  EXPECT_EQ(ReadHexField("100000000"), std::nullopt);
}

}  // namespace
}  // namespace edog
