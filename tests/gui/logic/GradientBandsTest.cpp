// The band arithmetic of the gradient progress bar.
#include <gtest/gtest.h>

#include "widgets/GradientBands.h"

namespace edog {
namespace {

constexpr ColorRef kBlack = 0x000000;
constexpr ColorRef kBlue = 0xFF0000;
constexpr ColorRef kFace = 0xD0D0D0;

TEST(GradientBands, BandCountIsTheLargestChannelDifference) {
  EXPECT_EQ(PlanGradient(kBlack, kBlue, kFace, 300, 20, 300).bandCount, 255);
  EXPECT_EQ(PlanGradient(MakeColorRef(10, 200, 0), MakeColorRef(40, 20, 5), kFace, 300, 20, 300)
                .bandCount,
            180);
  EXPECT_EQ(PlanGradient(0x800000, 0xFF0000, kFace, 300, 20, 300).bandCount, 127);
}

TEST(GradientBands, FullPositionDrawsContiguousBandsToTheRightEdge) {
  const int right = 330, bottom = 15;
  const GradientPlan plan = PlanGradient(kBlack, kBlue, kFace, right, bottom, right);
  ASSERT_EQ(plan.fills.size(), 255u);  // every band, no background fill after them
  EXPECT_EQ(plan.fills.front().left, 0);
  for (size_t i = 1; i < plan.fills.size(); ++i) {
    EXPECT_EQ(plan.fills[i].left, plan.fills[i - 1].right) << "band " << i;
    EXPECT_GE(plan.fills[i].right, plan.fills[i].left);
  }
  EXPECT_GE(plan.fills.back().right, right - 1);
  EXPECT_LE(plan.fills.back().right, right);
  // Bands reach one pixel beyond the client bottom.
  for (const auto& band : plan.fills) {
    EXPECT_EQ(band.top, 0);
    EXPECT_EQ(band.bottom, bottom + 1);
  }
}

TEST(GradientBands, ColoursRunFromStartTowardsEnd) {
  const ColorRef start = MakeColorRef(200, 10, 60), end = MakeColorRef(20, 250, 60);
  const GradientPlan plan = PlanGradient(start, end, kFace, 480, 10, 480);
  ASSERT_EQ(plan.bandCount, 240);
  EXPECT_EQ(plan.fills.front().color, start);
  int previousRed = 256, previousGreen = -1;
  for (const auto& band : plan.fills) {
    EXPECT_LE(RedOf(band.color), previousRed);  // falling, never wrapping round
    EXPECT_GE(GreenOf(band.color), previousGreen);
    EXPECT_EQ(BlueOf(band.color), 60);
    previousRed = RedOf(band.color);
    previousGreen = GreenOf(band.color);
  }
  // The last band is one step short of the end colour.
  EXPECT_NEAR(RedOf(plan.fills.back().color), 20, 1);
  EXPECT_NEAR(GreenOf(plan.fills.back().color), 249, 1);
}

TEST(GradientBands, PartialFillDrawsTheCrossingBandWholeThenBackground) {
  const int right = 330;
  const int filled = GradientFilledWidth(37, 100, right);
  EXPECT_EQ(filled, 37 * right / 100);
  const GradientPlan plan = PlanGradient(kBlack, kBlue, kFace, right, 15, filled);
  ASSERT_GE(plan.fills.size(), 2u);
  const FillRect& background = plan.fills.back();
  const FillRect& crossing = plan.fills[plan.fills.size() - 2];
  EXPECT_EQ(background.color, kFace);
  EXPECT_GT(crossing.right, filled);
  EXPECT_LE(crossing.left, filled);
  EXPECT_EQ(background.left, crossing.right);
  EXPECT_EQ(background.right, right);
  EXPECT_EQ(background.top, 0);
  EXPECT_EQ(background.bottom, 15);
  // Every band before the crossing one ends inside the filled width.
  for (size_t i = 0; i + 2 < plan.fills.size(); ++i) EXPECT_LE(plan.fills[i].right, filled);
}

TEST(GradientBands, ZeroFilledWidthLeavesOnlyBackground) {
  const GradientPlan plan = PlanGradient(kBlack, kBlue, kFace, 200, 12, 0);
  ASSERT_EQ(plan.fills.size(), 2u);  // the first band, then the whole client area
  const FillRect& last = plan.fills.back();
  EXPECT_EQ(last.color, kFace);
  EXPECT_EQ(last.left, 0);
  EXPECT_EQ(last.right, 200);
  EXPECT_EQ(last.bottom, 12);
}

TEST(GradientBands, EqualColoursPaintTheBackground) {
  const GradientPlan plan = PlanGradient(kBlue, kBlue, kFace, 200, 12, 150);
  EXPECT_EQ(plan.bandCount, 0);
  ASSERT_EQ(plan.fills.size(), 1u);
  EXPECT_EQ(plan.fills[0].color, kFace);
  EXPECT_EQ(plan.fills[0].right, 200);
  EXPECT_EQ(plan.fills[0].bottom, 12);
}

TEST(GradientBands, FilledWidthMeasuresAgainstUpperOnly) {
  // With a lower end of 20 the bar still measures 50 against 100, not 30 against 80.
  EXPECT_EQ(GradientFilledWidth(50, 100, 400), 200);
  EXPECT_EQ(GradientFilledWidth(100, 100, 333), 333);
  EXPECT_EQ(GradientFilledWidth(1, 3, 100), 33);  // truncated, not rounded
  EXPECT_EQ(GradientFilledWidth(5, 0, 100), 0);   // no division by zero
  EXPECT_LT(GradientFilledWidth(-5, 10, 100), 0);
}

TEST(GradientBands, PercentTextAndCaption) {
  EXPECT_EQ(GradientPercentText(37, 100, ""), "37%");
  EXPECT_EQ(GradientPercentText(0, 100, ""), "0%");
  EXPECT_EQ(GradientPercentText(2, 3, ""), "67%");
  EXPECT_EQ(GradientPercentText(100, 100, "edogvoice.hdr"), "100% : edogvoice.hdr");
  EXPECT_EQ(GradientPercentText(0, 0, ""), "0%");
}

TEST(GradientBands, TextColourKeptWhereItReadsElseWhiteOrBlack) {
  struct Case {
    ColorRef text, under, expected;
  };
  const Case cases[] = {
      {0xFFFFFF, 0xFF0000, 0xFFFFFF},  // the main window's white over its blue fill
      {0xFFFFFF, 0x000000, 0xFFFFFF},
      {0xFFFFFF, kFace, 0x000000},     // white over a light face cannot be read
      {0x008000, 0x800000, 0xFFFFFF},  // the status window's green over its navy fill
      {0x008000, 0x808000, 0xFFFFFF},  // and over its teal start
      {0x008000, 0xFFFFFF, 0x008000},  // green over white reads
      {0x00FFFF, 0x00FFFF, 0x000000},  // yellow on yellow
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LegibleTextColor(c.text, c.under), c.expected)
        << std::hex << c.text << " over " << c.under;
  }
  const GradientPlan plan = PlanGradient(kBlack, kBlue, kFace, 300, 20, 150);
  EXPECT_EQ(PlanColorAt(plan, 0, kFace), kBlack);
  EXPECT_EQ(RedOf(PlanColorAt(plan, 149, kFace)), 0);
  EXPECT_NEAR(BlueOf(PlanColorAt(plan, 149, kFace)), 127, 2);
  EXPECT_EQ(PlanColorAt(plan, 200, kFace), kFace);
}

TEST(GradientBands, OutOfRangeAndBlankText) {
  EXPECT_TRUE(GradientOutOfRange(-1, 0, 100));
  EXPECT_TRUE(GradientOutOfRange(101, 0, 100));
  EXPECT_FALSE(GradientOutOfRange(0, 0, 100));
  EXPECT_FALSE(GradientOutOfRange(100, 0, 100));
  EXPECT_EQ(GradientBlankText(), std::string(46, ' '));
}

}  // namespace
}  // namespace edog
