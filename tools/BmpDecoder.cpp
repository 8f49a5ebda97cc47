#include "tools/BmpDecoder.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "common/Bytes.h"
#include "common/FileChecks.h"
#include "common/Files.h"
#include "common/Format.h"

// stb_image decodes the uncompressed pictures. It is fed a normalised copy of the file (a
// plain 40-byte header, full palette, explicit masks) built from our own header parsing:
// its header handling differs from what Windows shows (an OS/2 palette read four entries
// short, masks of 56-byte headers looked for after the header, no check of palette indices,
// masks wider than 8 bits refused).
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_NO_HDR
#define STBI_NO_LINEAR
#define STBI_MAX_DIMENSIONS 65536
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#endif
#include <stb/stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace edog {
namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiJpeg = 4,
                   kBiPng = 5;
// Beyond about 25000 dots per inch a resolution field is garbage, not a measurement.
constexpr int32_t kMaxPixelsPerMetre = 1000000;

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
};

struct BmpLayout {
  uint32_t headerSize = 0;
  int32_t width = 0;
  int32_t height = 0;  // always positive here
  bool topDown = false;
  uint32_t bitCount = 0;
  uint32_t compression = kBiRgb;
  uint32_t pixelOffset = 0;
  uint32_t imageSize = 0;
  uint32_t masks[3] = {0, 0, 0};
  std::vector<Rgb> palette;
};

size_t RowStride(uint32_t width, uint32_t bitCount) {
  return ((static_cast<size_t>(width) * bitCount + 31) / 32) * 4;
}

int BitCount(uint32_t mask) {
  int n = 0;
  for (; mask; mask &= mask - 1) ++n;
  return n;
}

bool Contiguous(uint32_t mask) {  // mask is not zero
  while (!(mask & 1)) mask >>= 1;
  return (mask & (mask + 1)) == 0;
}

// Checks masks as Windows requires them: each non-zero, one run of bits, no overlap, inside
// the pixel. Returns an empty string when they are usable.
std::string CheckMasks(const uint32_t masks[3], uint32_t bitCount) {
  static const char* const kNames[3] = {"red", "green", "blue"};
  const uint32_t pixelBits = bitCount == 32 ? 0xFFFFFFFFu : (1u << bitCount) - 1;
  for (int i = 0; i < 3; ++i) {
    if (masks[i] == 0) return Format("the %s colour mask is empty", kNames[i]);
    if (!Contiguous(masks[i]))
      return Format("the %s colour mask 0x%x is not one run of bits", kNames[i], masks[i]);
    if (masks[i] & ~pixelBits)
      return Format("the %s colour mask 0x%x lies outside the %u-bit pixel", kNames[i], masks[i],
                    bitCount);
  }
  if ((masks[0] & masks[1]) || (masks[0] & masks[2]) || (masks[1] & masks[2]))
    return "the colour masks overlap";
  return {};
}

// Masks wider than 8 bits are cut to their top 8 bits: the loader shows 8 bits per colour.
uint32_t TopEightBits(uint32_t mask) {
  while (BitCount(mask) > 8) mask &= mask - 1;  // drops the lowest set bit
  return mask;
}

std::string ParseLayout(const uint8_t* d, size_t size, int maxSide, BmpDecode& out,
                        BmpLayout& l) {
  if (size < kFileHeaderSize + 4) return "the file is too short for a bitmap header";
  if (d[0] != 'B' || d[1] != 'M') return "not a Windows bitmap (no \"BM\" signature)";
  l.pixelOffset = GetLE32(d + 10);
  l.headerSize = GetLE32(d + 14);
  switch (l.headerSize) {
    case 12: case 40: case 52: case 56: case 108: case 124: break;
    default: return Format("unsupported bitmap header size %u", l.headerSize);
  }
  if (kFileHeaderSize + l.headerSize > size) return "the file is truncated inside its header";
  const uint8_t* h = d + kFileHeaderSize;
  uint32_t planes = 0, colours = 0;
  int32_t xDensity = 0, yDensity = 0;
  int64_t height = 0;
  if (l.headerSize == 12) {
    l.width = GetLE16(h + 4);
    height = GetLE16(h + 6);
    planes = GetLE16(h + 8);
    l.bitCount = GetLE16(h + 10);
  } else {
    l.width = static_cast<int32_t>(GetLE32(h + 4));
    height = static_cast<int32_t>(GetLE32(h + 8));
    planes = GetLE16(h + 12);
    l.bitCount = GetLE16(h + 14);
    l.compression = GetLE32(h + 16);
    l.imageSize = GetLE32(h + 20);
    xDensity = static_cast<int32_t>(GetLE32(h + 24));
    yDensity = static_cast<int32_t>(GetLE32(h + 28));
    colours = GetLE32(h + 32);
  }
  if (planes != 1) return Format("bad plane count %u", planes);
  if (l.width <= 0) return Format("bad width %d", l.width);
  if (height == 0 || height == INT32_MIN) return Format("bad height %lld", (long long)height);
  l.topDown = height < 0;
  l.height = static_cast<int32_t>(std::llabs(height));
  if (l.compression == kBiJpeg || l.compression == kBiPng)
    return "JPEG or PNG data inside a bitmap is not supported";
  switch (l.bitCount) {
    case 1: case 4: case 8: case 16: case 24: case 32: break;
    default: return Format("unsupported bit depth %u", l.bitCount);
  }
  const bool compressionFits =
      l.compression == kBiRgb || (l.compression == kBiRle8 && l.bitCount == 8) ||
      (l.compression == kBiRle4 && l.bitCount == 4) ||
      (l.compression == kBiBitfields && (l.bitCount == 16 || l.bitCount == 32));
  if (!compressionFits)
    return Format("unsupported compression %u for %u bits per pixel", l.compression, l.bitCount);
  const bool rle = l.compression == kBiRle8 || l.compression == kBiRle4;
  if (rle && l.topDown) return "a top-down bitmap cannot be run-length compressed";
  if (xDensity < 0 || yDensity < 0 || xDensity > kMaxPixelsPerMetre ||
      yDensity > kMaxPixelsPerMetre)
    return Format("implausible resolution %d x %d pixels per metre", xDensity, yDensity);

  out.width = l.width;
  out.height = l.height;
  if (l.width > maxSide || l.height > maxSide) {
    out.status = BmpDecode::kTooLarge;
    return {};
  }
  const uint32_t fileSize = GetLE32(d + 2);
  if (fileSize > size)
    return Format("the file is truncated (%zu of %u bytes)", size, fileSize);

  size_t headerEnd = kFileHeaderSize + l.headerSize;
  if (l.bitCount == 16 || l.bitCount == 32) {
    if (l.compression == kBiBitfields) {
      const uint8_t* m = h + 40;  // inside 52+ byte headers, after a 40-byte one
      if (l.headerSize == 40) {
        headerEnd += 12;
        if (headerEnd > size) return "the file is truncated inside its colour masks";
      }
      for (int i = 0; i < 3; ++i) l.masks[i] = GetLE32(m + 4 * i);
    } else if (l.bitCount == 16) {
      l.masks[0] = 0x7C00, l.masks[1] = 0x03E0, l.masks[2] = 0x001F;
    } else {
      l.masks[0] = 0xFF0000, l.masks[1] = 0xFF00, l.masks[2] = 0xFF;
    }
    if (std::string why = CheckMasks(l.masks, l.bitCount); !why.empty()) return why;
  }
  if (l.pixelOffset < headerEnd)
    return Format("the pixel data offset %u points into the header", l.pixelOffset);
  if (l.pixelOffset > size) return "the file is truncated before its pixel data";
  if (l.imageSize > size - l.pixelOffset)
    return Format("the image size field (%u bytes) exceeds the file", l.imageSize);

  if (l.bitCount <= 8) {
    const uint32_t full = 1u << l.bitCount;
    if (colours > full)
      return Format("a palette of %u colours for a %u-bit picture", colours, l.bitCount);
    const size_t entry = l.headerSize == 12 ? 3 : 4;
    const size_t room = (l.pixelOffset - headerEnd) / entry;
    const size_t count = std::min<size_t>(colours ? colours : full, room);
    if (count == 0) return "the picture has no palette";
    l.palette.resize(count);
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* p = d + headerEnd + i * entry;
      l.palette[i] = {p[2], p[1], p[0]};
    }
  }
  if (!rle) {
    const uint64_t need = uint64_t(RowStride(l.width, l.bitCount)) * uint64_t(l.height);
    if (need > size - l.pixelOffset)
      return Format("the file is truncated inside its pixel data (%zu of %llu bytes)",
                    size - l.pixelOffset, (unsigned long long)need);
  }
  out.status = BmpDecode::kOk;
  return {};
}

unsigned PackedIndex(const uint8_t* row, int x, uint32_t bitCount) {
  switch (bitCount) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4: return (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4;
    default: return row[x];
  }
}

// Run-length compressed pictures (RLE8 / RLE4), rows stored from the bottom up. Pixels the
// data skips (delta, early end of line or picture) stay black, as on a fresh bitmap.
std::string DecodeRle(const uint8_t* d, size_t size, const BmpLayout& l, Picture& pic) {
  const size_t begin = l.pixelOffset;
  const size_t end = l.imageSize ? begin + l.imageSize : size;
  const bool four = l.compression == kBiRle4;
  const size_t paletteSize = l.palette.size();
  size_t p = begin;
  int x = 0, row = 0;  // row counts from the bottom
  auto put = [&](unsigned index) -> std::string {
    if (row >= l.height) return "the run-length data runs past the last row";
    if (x >= l.width) return Format("the run-length data runs past the end of row %d", row);
    if (index >= paletteSize)
      return Format("palette index %u beyond a palette of %zu colours", index, paletteSize);
    const Rgb c = l.palette[index];
    uint8_t* px = &pic.rgb[(size_t(l.height - 1 - row) * size_t(l.width) + size_t(x)) * 3];
    px[0] = c.r, px[1] = c.g, px[2] = c.b;
    ++x;
    return {};
  };
  for (;;) {
    if (end - p < 2) return "the run-length data ends without an end-of-picture mark";
    const unsigned count = d[p], second = d[p + 1];
    p += 2;
    if (count > 0) {
      for (unsigned i = 0; i < count; ++i) {
        const unsigned index = four ? ((i & 1) ? second & 0x0F : second >> 4) : second;
        if (std::string why = put(index); !why.empty()) return why;
      }
      continue;
    }
    if (second == 0) {  // end of line
      x = 0;
      ++row;
    } else if (second == 1) {  // end of picture
      return {};
    } else if (second == 2) {  // delta
      if (end - p < 2) return "the run-length data ends inside a delta";
      x += d[p];
      row += d[p + 1];
      p += 2;
      if (x > l.width || row > l.height) return "a run-length delta moves outside the picture";
    } else {  // absolute run of `second` pixels, padded to a 16-bit boundary
      const size_t bytes = four ? (second + 1) / 2 : second;
      const size_t padded = (bytes + 1) & ~size_t(1);
      if (end - p < padded) return "the run-length data ends inside an absolute run";
      for (unsigned i = 0; i < second; ++i) {
        const unsigned index = four ? ((i & 1) ? d[p + i / 2] & 0x0F : d[p + i / 2] >> 4)
                                    : d[p + i];
        if (std::string why = put(index); !why.empty()) return why;
      }
      p += padded;
    }
  }
}

// The file reduced to what stb_image reads the way Windows does: a 40-byte header, a full
// palette of 4-byte entries (indices checked already), masks of at most 8 bits each.
std::vector<uint8_t> Normalised(const uint8_t* d, const BmpLayout& l) {
  const size_t stride = RowStride(l.width, l.bitCount);
  const size_t pixels = stride * size_t(l.height);
  const bool masked = l.bitCount == 16 || l.bitCount == 32;
  const size_t paletteBytes = l.bitCount <= 8 ? (size_t(1) << l.bitCount) * 4 : 0;
  const size_t offset = kFileHeaderSize + 40 + (masked ? 12 : 0) + paletteBytes;
  std::vector<uint8_t> n(offset + pixels, 0);
  n[0] = 'B', n[1] = 'M';
  PutLE32(&n[2], static_cast<uint32_t>(n.size()));
  PutLE32(&n[10], static_cast<uint32_t>(offset));
  uint8_t* h = &n[kFileHeaderSize];
  PutLE32(h, 40);
  PutLE32(h + 4, static_cast<uint32_t>(l.width));
  PutLE32(h + 8, static_cast<uint32_t>(l.topDown ? -l.height : l.height));
  PutLE16(h + 12, 1);
  PutLE16(h + 14, static_cast<uint16_t>(l.bitCount));
  PutLE32(h + 16, masked ? kBiBitfields : kBiRgb);
  if (masked) {
    for (int i = 0; i < 3; ++i) PutLE32(h + 40 + 4 * i, TopEightBits(l.masks[i]));
  }
  for (size_t i = 0; i < l.palette.size(); ++i) {
    uint8_t* e = h + 40 + i * 4;
    e[0] = l.palette[i].b, e[1] = l.palette[i].g, e[2] = l.palette[i].r;
  }
  std::copy(d + l.pixelOffset, d + l.pixelOffset + pixels, n.begin() + long(offset));
  return n;
}

std::string DecodeUncompressed(const uint8_t* d, const BmpLayout& l, Picture& pic) {
  if (l.bitCount <= 8) {
    const size_t stride = RowStride(l.width, l.bitCount);
    for (int y = 0; y < l.height; ++y) {
      const uint8_t* row = d + l.pixelOffset + size_t(y) * stride;
      for (int x = 0; x < l.width; ++x) {
        const unsigned index = PackedIndex(row, x, l.bitCount);
        if (index >= l.palette.size())
          return Format("palette index %u beyond a palette of %zu colours", index,
                        l.palette.size());
      }
    }
  }
  const std::vector<uint8_t> n = Normalised(d, l);
  int w = 0, h = 0, channels = 0;
  stbi_uc* rgb = stbi_load_from_memory(n.data(), static_cast<int>(n.size()), &w, &h, &channels, 3);
  if (!rgb) return Format("the decoder refused it (%s)", stbi_failure_reason());
  if (w != l.width || h != l.height) {
    stbi_image_free(rgb);
    return "the decoder returned a picture of another size";
  }
  std::copy(rgb, rgb + pic.rgb.size(), pic.rgb.begin());
  stbi_image_free(rgb);
  return {};
}

}  // namespace

BmpDecode DecodeBmp(const uint8_t* data, size_t size, int maxSide) {
  BmpDecode out;
  BmpLayout layout;
  out.reason = ParseLayout(data, size, maxSide, out, layout);
  if (out.status != BmpDecode::kOk) {
    if (out.status == BmpDecode::kInvalid && out.reason.empty()) out.reason = "not decodable";
    return out;
  }
  Picture& pic = out.picture;
  pic.width = layout.width;
  pic.height = layout.height;
  pic.rgb.assign(size_t(layout.width) * size_t(layout.height) * 3, 0);
  const bool rle = layout.compression == kBiRle8 || layout.compression == kBiRle4;
  std::string why = rle ? DecodeRle(data, size, layout, pic) : DecodeUncompressed(data, layout, pic);
  if (!why.empty()) {
    out.status = BmpDecode::kInvalid;
    out.reason = std::move(why);
    out.picture = Picture();
  }
  return out;
}

BmpDecode DecodeBmpFile(const std::string& path, int maxSide) {
  // A file far larger than any picture the caller accepts is judged by its header alone,
  // so a wrong choice of file is not read whole into memory.
  // A device or a pipe (/dev/zero, a FIFO) never ends: only regular files are read.
  const uint64_t limit = kFileHeaderSize + 124 + 1024 + 16 * RowStride(maxSide, 32) * maxSide;
  BoundedRead read = ReadRegularFile(path, limit);
  if (read.status == BoundedRead::kNotRegular) {
    BmpDecode out;
    out.reason = "it is not a regular file";
    return out;
  }
  if (read.status == BoundedRead::kTooLarge) {
    const uint64_t length = read.size;
    StdFile file(path, "rb");
    std::vector<uint8_t> head(kFileHeaderSize + 124);
    head.resize(file.Read(head.data(), head.size()));
    BmpDecode out = DecodeBmp(head.data(), head.size(), maxSide);
    if (out.status != BmpDecode::kTooLarge) {
      out.status = BmpDecode::kInvalid;
      out.reason = Format("the file is too large for a picture (%llu bytes)",
                          (unsigned long long)length);
    }
    return out;
  }
  if (read.status != BoundedRead::kOk) {
    BmpDecode out;
    out.reason = "cannot be opened";
    return out;
  }
  return DecodeBmp(read.data.data(), read.data.size(), maxSide);
}

}  // namespace edog
