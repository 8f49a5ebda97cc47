#pragma once
// Windows bitmap (.bmp) decoding for the image table generator. The colours are those the
// Windows picture loader shows: palettes, 16-bit 5-5-5 / 5-6-5 and other bit-field masks
// widened by bit replication, 24 and 32 bits, top-down pictures, RLE4 and RLE8. What no
// Windows loader reads either (and anything malformed) is refused with a reason.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace edog {

// A decoded picture: 8-bit red, green, blue per pixel, rows from the top down.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // width * height * 3

  const uint8_t* Pixel(int x, int y) const {
    return &rgb[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3];
  }
};

struct BmpDecode {
  enum Status { kOk, kTooLarge, kInvalid };
  Status status = kInvalid;
  Picture picture;       // kOk
  int width = 0;         // kOk and kTooLarge: the picture's size from its header
  int height = 0;
  std::string reason;    // kInvalid: why it is refused, e.g. "unsupported bit depth 2"
};

// Pictures wider or higher than maxSide pixels are not decoded (kTooLarge).
BmpDecode DecodeBmp(const uint8_t* data, size_t size, int maxSide);
// Reads the file first; a file that cannot be read is kInvalid with reason "cannot be opened".
BmpDecode DecodeBmpFile(const std::string& path, int maxSide);

}  // namespace edog
