#include "tools/RunLengthImage.h"

#include <gtest/gtest.h>

namespace edog {
namespace {

Picture Solid(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
  Picture p;
  p.width = width, p.height = height;
  for (int i = 0; i < width * height; ++i) p.rgb.insert(p.rgb.end(), {r, g, b});
  return p;
}

void Paint(Picture& p, size_t index, uint8_t r, uint8_t g, uint8_t b) {
  p.rgb[index * 3] = r, p.rgb[index * 3 + 1] = g, p.rgb[index * 3 + 2] = b;
}

TEST(RunLengthImage, ColoursBecomeRgb565) {
  EXPECT_EQ(ToRgb565(255, 255, 255), 0xFFFF);
  EXPECT_EQ(ToRgb565(255, 0, 0), 0xF800);
  EXPECT_EQ(ToRgb565(0, 255, 0), 0x07E0);
  EXPECT_EQ(ToRgb565(0, 0, 255), 0x001F);
  EXPECT_EQ(ToRgb565(8, 4, 8), 0x0821);
  EXPECT_EQ(ToRgb565(7, 3, 7), 0x0000);  // low bits are dropped, not rounded
}

TEST(RunLengthImage, TwoWhitePixelsMakeSevenBytes) {
  const auto image = BuildRunLengthImage(Solid(2, 1, 255, 255, 255));
  ASSERT_TRUE(image);
  EXPECT_EQ(*image, (std::vector<uint8_t>{0x02, 0x01, 0x00, 0x01, 0x02, 0xFF, 0xFF}));
}

TEST(RunLengthImage, RunsHoldAtMost251PixelsAndContinueAcrossRows) {
  // 300 equal pixels (150 x 2): runs of 251 and 49.
  auto image = BuildRunLengthImage(Solid(150, 2, 0, 0, 255));
  ASSERT_TRUE(image);
  EXPECT_EQ(*image, (std::vector<uint8_t>{150, 2, 0x00, 0x02, 251, 0x00, 0x1F, 49, 0x00, 0x1F}));

  // Exactly 251 equal pixels then a new colour; a colour change at a row end.
  Picture p = Solid(251, 2, 0, 0, 0);
  for (int i = 251; i < 502; ++i) Paint(p, size_t(i), 255, 0, 0);
  image = BuildRunLengthImage(p);
  ASSERT_TRUE(image);
  EXPECT_EQ(*image, (std::vector<uint8_t>{251, 2, 0, 2, 251, 0, 0, 251, 0xF8, 0x00}));

  // Colours that differ only below RGB565 precision share a run.
  p = Solid(3, 1, 0, 0, 0);
  Paint(p, 1, 7, 3, 7);
  Paint(p, 2, 8, 0, 0);
  image = BuildRunLengthImage(p);
  ASSERT_TRUE(image);
  EXPECT_EQ(*image, (std::vector<uint8_t>{3, 1, 0, 2, 2, 0, 0, 1, 0x08, 0x00}));
}

// A 255 x 86 picture whose first `runs` pixels alternate between two colours and whose other
// pixels repeat the last one: exactly `runs` runs.
Picture AlternatingRuns(size_t runs) {
  Picture p = Solid(255, 86, 0, 0, 0);
  for (size_t i = 0; i < 255 * 86; ++i) {
    const bool odd = (i < runs ? i : runs - 1) % 2 == 1;
    if (odd) Paint(p, i, 255, 255, 255);
  }
  return p;
}

TEST(RunLengthImage, PicturesBeyondTheFormatAreRefused) {
  EXPECT_TRUE(BuildRunLengthImage(Solid(255, 255, 1, 2, 3)));
  EXPECT_FALSE(BuildRunLengthImage(Solid(256, 1, 1, 2, 3)));
  EXPECT_FALSE(BuildRunLengthImage(Solid(1, 256, 1, 2, 3)));

  const auto fits = BuildRunLengthImage(AlternatingRuns(21845));  // 65535 bytes of runs
  ASSERT_TRUE(fits);
  EXPECT_EQ(fits->size(), 4u + 65535u);
  EXPECT_EQ((*fits)[2], 0x55);
  EXPECT_EQ((*fits)[3], 0x55);
  EXPECT_EQ(EncodeRuns(AlternatingRuns(21846)).size(), 21846u);
  EXPECT_FALSE(BuildRunLengthImage(AlternatingRuns(21846)));
}

TEST(RunLengthImage, ReadBackForThePreview) {
  Picture p = Solid(3, 2, 255, 255, 255);
  Paint(p, 4, 0x12, 0x34, 0x56);
  const auto image = BuildRunLengthImage(p);
  ASSERT_TRUE(image);
  const auto back = DecodeRunLengthImage(image->data(), image->size());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->width, 3);
  EXPECT_EQ(back->height, 2);
  // Each colour at RGB565 precision: white shows as F8 FC F8 (green keeps six bits).
  const uint8_t* white = back->Pixel(0, 0);
  EXPECT_EQ(std::vector<uint8_t>(white, white + 3), (std::vector<uint8_t>{0xF8, 0xFC, 0xF8}));
  const uint8_t* other = back->Pixel(1, 1);
  EXPECT_EQ(std::vector<uint8_t>(other, other + 3), (std::vector<uint8_t>{0x10, 0x34, 0x50}));

  // Data shorter than its run count, or runs overflowing the picture, are not shown.
  EXPECT_FALSE(DecodeRunLengthImage(image->data(), image->size() - 1));
  EXPECT_FALSE(DecodeRunLengthImage(image->data(), 3));
  std::vector<uint8_t> overflow = {1, 1, 0, 1, 2, 0, 0};
  EXPECT_FALSE(DecodeRunLengthImage(overflow.data(), overflow.size()));
}

}  // namespace
}  // namespace edog
