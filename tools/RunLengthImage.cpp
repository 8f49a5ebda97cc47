#include "tools/RunLengthImage.h"

namespace edog {

std::vector<ColourRun> EncodeRuns(const Picture& picture) {
  std::vector<ColourRun> runs;
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      const uint8_t* p = picture.Pixel(x, y);
      const uint16_t colour = ToRgb565(p[0], p[1], p[2]);
      if (!runs.empty() && runs.back().colour == colour && runs.back().count < kMaxRunPixels) {
        ++runs.back().count;
      } else {
        runs.push_back({1, colour});
      }
    }
  }
  return runs;
}

std::optional<std::vector<uint8_t>> BuildRunLengthImage(const Picture& picture) {
  if (picture.width > kMaxPictureSide || picture.height > kMaxPictureSide) return std::nullopt;
  const std::vector<ColourRun> runs = EncodeRuns(picture);
  if (runs.size() * 3 > kMaxRunBytes) return std::nullopt;
  std::vector<uint8_t> out;
  out.reserve(kRunLengthHeaderSize + runs.size() * 3);
  out.push_back(static_cast<uint8_t>(picture.width));
  out.push_back(static_cast<uint8_t>(picture.height));
  out.push_back(static_cast<uint8_t>(runs.size() >> 8));
  out.push_back(static_cast<uint8_t>(runs.size()));
  for (const ColourRun& run : runs) {
    out.push_back(run.count);
    out.push_back(static_cast<uint8_t>(run.colour >> 8));
    out.push_back(static_cast<uint8_t>(run.colour));
  }
  return out;
}

std::optional<Picture> DecodeRunLengthImage(const uint8_t* data, size_t size) {
  if (size < kRunLengthHeaderSize) return std::nullopt;
  Picture picture;
  picture.width = data[0];
  picture.height = data[1];
  const size_t runCount = size_t(data[2]) << 8 | data[3];
  if (size < kRunLengthHeaderSize + runCount * 3) return std::nullopt;
  const size_t pixels = size_t(picture.width) * size_t(picture.height);
  picture.rgb.assign(pixels * 3, 0);
  size_t at = 0;
  for (size_t i = 0; i < runCount; ++i) {
    const uint8_t* run = data + kRunLengthHeaderSize + i * 3;
    const uint8_t hi = run[1], lo = run[2];
    const uint8_t r = hi & 0xF8;
    const uint8_t g = static_cast<uint8_t>((hi & 7) << 5 | (lo >> 5) << 2);
    const uint8_t b = static_cast<uint8_t>((lo & 0x1F) << 3);
    if (at + run[0] > pixels) return std::nullopt;
    for (unsigned k = 0; k < run[0]; ++k, ++at) {
      picture.rgb[at * 3] = r;
      picture.rgb[at * 3 + 1] = g;
      picture.rgb[at * 3 + 2] = b;
    }
  }
  return picture;
}

}  // namespace edog
