#pragma once
// The device's run-length picture: width and height bytes, the run count (high byte first),
// then runs of 1..251 pixels, each a count and an RGB565 colour (high byte first), pixels
// row by row from the top.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "tools/BmpDecoder.h"

namespace edog {

constexpr int kMaxRunPixels = 251;
constexpr int kMaxPictureSide = 255;          // width and height are one byte each
constexpr size_t kMaxRunBytes = 0xFFFF;       // the device counts run bytes in 16 bits
constexpr size_t kRunLengthHeaderSize = 4;

// red >> 3, green >> 2, blue >> 3.
inline uint16_t ToRgb565(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<uint16_t>((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
}

struct ColourRun {
  uint8_t count = 0;
  uint16_t colour = 0;
};

// The runs of a picture, without any size limit.
std::vector<ColourRun> EncodeRuns(const Picture& picture);

// The whole per-picture file; nullopt when the picture does not fit the format (a side over
// 255 pixels or more than 65535 bytes of runs).
std::optional<std::vector<uint8_t>> BuildRunLengthImage(const Picture& picture);

// Reads a per-picture file back into colours for the preview: red from the high byte's top
// five bits, green's six bits and blue's five bits each shifted to the top of their byte.
// nullopt when the data is shorter than its run count says or the runs overflow the picture.
std::optional<Picture> DecodeRunLengthImage(const uint8_t* data, size_t size);

}  // namespace edog
