#pragma once
// Bitmap files made in memory for the image table tests.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/Bytes.h"

namespace edog::test {

// A bitmap file built field by field, so each test states what it feeds the decoder.
struct BmpLayout {
  int32_t width = 1;
  int32_t height = 1;
  uint16_t bitCount = 24;
  uint32_t compression = 0;
  uint32_t headerSize = 40;
  std::vector<uint32_t> palette;  // 0x00RRGGBB
  std::vector<uint32_t> masks;    // written after a 40-byte header when given
  std::vector<uint8_t> pixels;    // stored rows (or RLE data), as in the file
  uint16_t planes = 1;
};

inline std::vector<uint8_t> MakeBmp(const BmpLayout& s) {
  const size_t paletteBytes = s.palette.size() * (s.headerSize == 12 ? 3 : 4);
  const size_t offset = 14 + s.headerSize + s.masks.size() * 4 + paletteBytes;
  std::vector<uint8_t> f(offset + s.pixels.size(), 0);
  f[0] = 'B', f[1] = 'M';
  PutLE32(&f[2], uint32_t(f.size()));
  PutLE32(&f[10], uint32_t(offset));
  uint8_t* h = &f[14];
  PutLE32(h, s.headerSize);
  if (s.headerSize == 12) {
    PutLE16(h + 4, uint16_t(s.width));
    PutLE16(h + 6, uint16_t(s.height));
    PutLE16(h + 8, s.planes);
    PutLE16(h + 10, s.bitCount);
  } else {
    PutLE32(h + 4, uint32_t(s.width));
    PutLE32(h + 8, uint32_t(s.height));
    PutLE16(h + 12, s.planes);
    PutLE16(h + 14, s.bitCount);
    PutLE32(h + 16, s.compression);
    if (s.compression == 1 || s.compression == 2) PutLE32(h + 20, uint32_t(s.pixels.size()));
    PutLE32(h + 32, uint32_t(s.palette.size()));
  }
  uint8_t* p = h + s.headerSize;
  for (uint32_t m : s.masks) PutLE32(p, m), p += 4;
  for (uint32_t c : s.palette) {
    p[0] = uint8_t(c), p[1] = uint8_t(c >> 8), p[2] = uint8_t(c >> 16);
    p += s.headerSize == 12 ? 3 : 4;
  }
  std::copy(s.pixels.begin(), s.pixels.end(), p);
  return f;
}

// A 24-bit bottom-up picture; colour(x, y) gives 0x00RRGGBB with y counted from the top.
inline std::vector<uint8_t> TrueColourBmp(int width, int height,
                                          const std::function<uint32_t(int, int)>& colour) {
  BmpLayout s;
  s.width = width, s.height = height, s.bitCount = 24;
  const size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
  s.pixels.assign(stride * size_t(height), 0);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = &s.pixels[size_t(height - 1 - y) * stride];
    for (int x = 0; x < width; ++x) {
      const uint32_t c = colour(x, y);
      row[3 * x] = uint8_t(c), row[3 * x + 1] = uint8_t(c >> 8), row[3 * x + 2] = uint8_t(c >> 16);
    }
  }
  return MakeBmp(s);
}

inline std::vector<uint8_t> SolidBmp(int width, int height, uint32_t colour) {
  return TrueColourBmp(width, height, [colour](int, int) { return colour; });
}

}  // namespace edog::test
