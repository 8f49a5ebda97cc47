#include "tools/BmpDecoder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/Bytes.h"
#include "support/TestSupport.h"
#include "tools/TestBitmaps.h"

namespace edog {
namespace {

using test::BmpLayout;
using test::MakeBmp;

constexpr int kMax = 255;

BmpDecode Decode(const BmpLayout& s) {
  const auto f = MakeBmp(s);
  return DecodeBmp(f.data(), f.size(), kMax);
}

uint32_t At(const Picture& p, int x, int y) {
  const uint8_t* c = p.Pixel(x, y);
  return uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | c[2];
}

std::vector<uint32_t> All(const Picture& p) {
  std::vector<uint32_t> v;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) v.push_back(At(p, x, y));
  return v;
}

TEST(BmpDecoder, PalettePicturesAtEveryDepthBottomUp) {
  // 1 bit: 3x2, bottom row stored first; rows padded to 4 bytes.
  BmpLayout s;
  s.width = 3, s.height = 2, s.bitCount = 1, s.palette = {0x000000, 0xFFFFFF};
  s.pixels = {0xA0, 0, 0, 0, /* bottom: 1 0 1 */ 0x40, 0, 0, 0 /* top: 0 1 0 */};
  auto d = Decode(s);
  ASSERT_EQ(d.status, BmpDecode::kOk) << d.reason;
  EXPECT_EQ(All(d.picture), (std::vector<uint32_t>{0, 0xFFFFFF, 0, 0xFFFFFF, 0, 0xFFFFFF}));

  s.bitCount = 4, s.palette = {0x112233, 0x445566, 0x778899};
  s.pixels = {0x21, 0x00, 0, 0, 0x01, 0x20, 0, 0};
  d = Decode(s);
  ASSERT_EQ(d.status, BmpDecode::kOk) << d.reason;
  EXPECT_EQ(All(d.picture),
            (std::vector<uint32_t>{0x112233, 0x445566, 0x778899, 0x778899, 0x445566, 0x112233}));

  s.bitCount = 8, s.pixels = {2, 1, 0, 0, 0, 0, 2, 0};
  d = Decode(s);
  ASSERT_EQ(d.status, BmpDecode::kOk) << d.reason;
  EXPECT_EQ(All(d.picture),
            (std::vector<uint32_t>{0x112233, 0x112233, 0x778899, 0x778899, 0x445566, 0x112233}));

  // OS/2 header: 3-byte palette entries, 16-bit sizes.
  s.headerSize = 12;
  s.palette.resize(256, 0x010203);
  d = Decode(s);
  ASSERT_EQ(d.status, BmpDecode::kOk) << d.reason;
  EXPECT_EQ(At(d.picture, 0, 0), 0x112233u);
  EXPECT_EQ(At(d.picture, 2, 0), 0x778899u);
}

TEST(BmpDecoder, SixteenBitMasksWidenByBitReplication) {
  BmpLayout s;
  s.width = 4, s.height = 1, s.bitCount = 16;
  // 5-5-5 without masks: 31 -> 255, 16 -> 0b10000100, 1 -> 0b00001000.
  s.pixels = {0xFF, 0x7F, 0x10, 0x42, 0x01, 0x00, 0x00, 0x00};
  auto d = Decode(s);
  ASSERT_EQ(d.status, BmpDecode::kOk) << d.reason;
  EXPECT_EQ(At(d.picture, 0, 0), 0xFFFFFFu);
  EXPECT_EQ(At(d.picture, 1, 0), 0x848484u);
  EXPECT_EQ(At(d.picture, 2, 0), 0x000008u);
  EXPECT_EQ(At(d.picture, 3, 0), 0u);

  // 5-6-5 bit fields: green 1 -> 0b00000100, 32 -> 0b10000010.
  s.compression = 3, s.masks = {0xF800, 0x07E0, 0x001F};
  s.pixels = {0x20, 0x00, 0x00, 0x04, 0x00, 0xF8, 0xFF, 0xFF};
  d = Decode(s);
  ASSERT_EQ(d.status, BmpDecode::kOk) << d.reason;
  EXPECT_EQ(At(d.picture, 0, 0), 0x000400u);
  EXPECT_EQ(At(d.picture, 1, 0), 0x008200u);
  EXPECT_EQ(At(d.picture, 2, 0), 0xFF0000u);
  EXPECT_EQ(At(d.picture, 3, 0), 0xFFFFFFu);
}

TEST(BmpDecoder, TrueColourTopDownAndShiftedMasks) {
  BmpLayout s;
  s.width = 2, s.height = -2, s.bitCount = 24;  // top row first
  s.pixels = {0x03, 0x02, 0x01, 0x06, 0x05, 0x04, 0, 0, 0x09, 0x08, 0x07, 0x0C, 0x0B, 0x0A, 0, 0};
  auto d = Decode(s);
  ASSERT_EQ(d.status, BmpDecode::kOk) << d.reason;
  EXPECT_EQ(d.picture.height, 2);
  EXPECT_EQ(All(d.picture), (std::vector<uint32_t>{0x010203, 0x040506, 0x070809, 0x0A0B0C}));

  // 32 bits, no masks: the fourth byte is ignored.
  s.width = 1, s.height = 1, s.bitCount = 32, s.pixels = {0x33, 0x22, 0x11, 0x00};
  d = Decode(s);
  ASSERT_EQ(d.status, BmpDecode::kOk) << d.reason;
  EXPECT_EQ(At(d.picture, 0, 0), 0x112233u);

  // Masks off byte boundaries, and a 10-bit mask shown by its top 8 bits.
  s.compression = 3, s.masks = {0xFF000000, 0x00000FF0, 0x003FF000};
  const uint32_t v = 0xAB000000u | 0x5C0u | (0x2FFu << 12);
  s.pixels = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  d = Decode(s);
  ASSERT_EQ(d.status, BmpDecode::kOk) << d.reason;
  EXPECT_EQ(At(d.picture, 0, 0), 0xAB5CBFu);
}

TEST(BmpDecoder, RunLengthPicturesWithDeltaAndAbsoluteRuns) {
  BmpLayout s;
  s.width = 5, s.height = 3, s.bitCount = 8, s.compression = 1;
  s.palette = {0x000010, 0x0000FF, 0x00FF00, 0xFF0000};
  s.pixels = {
      2, 1,              // bottom row: two of colour 1
      0, 3, 1, 2, 3, 0,  // absolute run of 3, padded to a word: the row is full
      0, 0,              // end of line
      0, 2, 1, 1,        // delta: skip one pixel right and one row up (to the top row)
      2, 3,              // top row x=1,2: colour 3
      0, 1};             // end of picture; the middle row and the rest stay black
  auto d = Decode(s);
  ASSERT_EQ(d.status, BmpDecode::kOk) << d.reason;
  EXPECT_EQ(All(d.picture), (std::vector<uint32_t>{0, 0xFF0000, 0xFF0000, 0, 0, 0, 0, 0, 0, 0,
                                                   0xFF, 0xFF, 0xFF, 0xFF00, 0xFF0000}));

  s.bitCount = 4, s.compression = 2, s.height = 1;
  s.pixels = {2, 0x12,              // 1 2
              0, 3, 0x30, 0x10,     // absolute: 3 0 1 (two bytes, a whole word)
              0, 1};
  d = Decode(s);
  ASSERT_EQ(d.status, BmpDecode::kOk) << d.reason;
  EXPECT_EQ(All(d.picture), (std::vector<uint32_t>{0xFF, 0xFF00, 0xFF0000, 0x10, 0xFF}));
}

TEST(BmpDecoder, MalformedFilesAreRefusedWithAReason) {
  BmpLayout good;
  good.width = 2, good.height = 2, good.bitCount = 8, good.palette = {0, 0xFFFFFF};
  good.pixels = {0, 1, 0, 0, 1, 0, 0, 0};
  ASSERT_EQ(Decode(good).status, BmpDecode::kOk);

  struct Case {
    const char* what;
    std::function<void(BmpLayout&)> change;
  };
  const std::vector<Case> cases = {
      {"palette index", [](BmpLayout& s) { s.pixels[1] = 2; }},
      {"truncated", [](BmpLayout& s) { s.pixels.resize(6); }},
      {"planes", [](BmpLayout& s) { s.planes = 2; }},
      {"width", [](BmpLayout& s) { s.width = 0; }},
      {"height", [](BmpLayout& s) { s.height = 0; }},
      {"depth 2", [](BmpLayout& s) { s.bitCount = 2; }},
      {"header 64", [](BmpLayout& s) { s.headerSize = 64; }},
      {"rle on 24 bits", [](BmpLayout& s) { s.bitCount = 24, s.compression = 1; }},
      {"jpeg", [](BmpLayout& s) { s.compression = 4; }},
      {"top-down rle", [](BmpLayout& s) { s.height = -2, s.compression = 1, s.pixels = {0, 1}; }},
      {"rle past row", [](BmpLayout& s) { s.compression = 1, s.pixels = {3, 0, 0, 1}; }},
      {"rle past top", [](BmpLayout& s) { s.compression = 1, s.pixels = {0, 0, 0, 0, 1, 0, 0, 1}; }},
      {"rle without end", [](BmpLayout& s) { s.compression = 1, s.pixels = {2, 0}; }},
      {"rle delta out", [](BmpLayout& s) { s.compression = 1, s.pixels = {0, 2, 3, 0, 0, 1}; }},
      {"rle absolute cut", [](BmpLayout& s) { s.compression = 1, s.pixels = {0, 4, 1, 1}; }},
      {"rle index", [](BmpLayout& s) { s.compression = 1, s.pixels = {1, 7, 0, 1}; }},
      {"empty mask",
       [](BmpLayout& s) { s.bitCount = 16, s.compression = 3, s.masks = {0xFF00, 0xFF, 0}, s.palette = {}; }},
      {"overlapping masks",
       [](BmpLayout& s) { s.bitCount = 16, s.compression = 3, s.masks = {0xFF00, 0x1F0, 0xF}, s.palette = {}; }},
      {"split mask",
       [](BmpLayout& s) { s.bitCount = 16, s.compression = 3, s.masks = {0xF00F, 0xF0, 0xF00}, s.palette = {}; }},
  };
  for (const Case& c : cases) {
    BmpLayout s = good;
    c.change(s);
    const auto d = Decode(s);
    EXPECT_EQ(d.status, BmpDecode::kInvalid) << c.what;
    EXPECT_FALSE(d.reason.empty()) << c.what;
  }
  const std::vector<uint8_t> notBmp = {'B', 'A', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0};
  EXPECT_EQ(DecodeBmp(notBmp.data(), notBmp.size(), kMax).status, BmpDecode::kInvalid);
  EXPECT_EQ(DecodeBmp(notBmp.data(), 3, kMax).status, BmpDecode::kInvalid);
  EXPECT_EQ(DecodeBmpFile("/nonexistent/x.bmp", kMax).reason, "cannot be opened");
}

TEST(BmpDecoder, SidesOverTheLimitAreReportedWithTheirSize) {
  BmpLayout s;
  s.width = 255, s.height = 255, s.bitCount = 8, s.palette = {0};
  s.pixels.assign(256 * 255, 0);
  EXPECT_EQ(Decode(s).status, BmpDecode::kOk);
  s.width = 256, s.height = 3;
  auto d = Decode(s);
  EXPECT_EQ(d.status, BmpDecode::kTooLarge);
  EXPECT_EQ(d.width, 256);
  EXPECT_EQ(d.height, 3);
  s.width = 3, s.height = -300;  // no pixel data needed: refused on its size alone
  s.pixels.clear();
  d = Decode(s);
  EXPECT_EQ(d.status, BmpDecode::kTooLarge);
  EXPECT_EQ(d.height, 300);
}

TEST(BmpDecoder, HugeFilesAreJudgedByTheirHeader) {
  test::TempDir dir;
  BmpLayout s;
  s.width = 4000, s.height = 3000;
  test::WriteFile(dir / "big.bmp", MakeBmp(s));
  std::filesystem::resize_file(dir / "big.bmp", 36000054);  // sparse: nothing is written
  auto d = DecodeBmpFile(dir / "big.bmp", kMax);
  EXPECT_EQ(d.status, BmpDecode::kTooLarge);
  EXPECT_EQ(d.width, 4000);
  EXPECT_EQ(d.height, 3000);
  s.width = 10, s.height = 10;
  test::WriteFile(dir / "big.bmp", MakeBmp(s));
  std::filesystem::resize_file(dir / "big.bmp", 36000054);
  d = DecodeBmpFile(dir / "big.bmp", kMax);
  EXPECT_EQ(d.status, BmpDecode::kInvalid);
  EXPECT_EQ(d.reason, "the file is too large for a picture (36000054 bytes)");
}

// --- the bmpsuite corpus -------------------------------------------------------------

std::string Suite(const std::string& name) { return test::CorpusDir() + "/bmp/bmpsuite/" + name; }

Picture Load(const std::string& name) {
  const auto d = DecodeBmpFile(Suite(name), kMax);
  EXPECT_EQ(d.status, BmpDecode::kOk) << name << ": " << d.reason;
  return d.picture;
}

std::vector<std::string> SuiteFiles(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(Suite(folder)))
    names.push_back(folder + "/" + e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(BmpDecoderCorpus, GoodPicturesDecodeAndBadOnesAreRefused) {
  const auto good = SuiteFiles("g");
  ASSERT_EQ(good.size(), 27u);
  for (const auto& name : good) {
    const Picture p = Load(name);
    EXPECT_GT(p.width, 0) << name;
  }
  const auto bad = SuiteFiles("b");
  ASSERT_EQ(bad.size(), 20u);
  for (const auto& name : bad) {
    const auto d = DecodeBmpFile(Suite(name), kMax);
    EXPECT_NE(d.status, BmpDecode::kOk) << name;
    if (d.status == BmpDecode::kInvalid) {
      EXPECT_FALSE(d.reason.empty()) << name;
    }
  }
  for (const char* folder : {"q", "x"}) {
    for (const auto& name : SuiteFiles(folder)) {
      const auto d = DecodeBmpFile(Suite(name), kMax);
      if (d.status == BmpDecode::kOk) {
        EXPECT_EQ(d.picture.rgb.size(), size_t(d.width) * size_t(d.height) * 3) << name;
      } else if (d.status == BmpDecode::kInvalid) {
        EXPECT_FALSE(d.reason.empty()) << name;
      }
    }
  }
}

// The suite stores one picture in many encodings: each encoding must show the same colours.
TEST(BmpDecoderCorpus, EveryEncodingOfOnePictureShowsTheSameColours) {
  const std::vector<std::vector<std::string>> groups = {
      {"g/pal8.bmp", "g/pal8-0.bmp", "g/pal8os2.bmp", "g/pal8rle.bmp", "g/pal8topdown.bmp",
       "g/pal8v4.bmp", "g/pal8v5.bmp"},
      {"g/pal4.bmp", "g/pal4rle.bmp"},
      {"g/rgb24.bmp", "g/rgb24pal.bmp", "g/rgb32.bmp", "g/rgb32bf.bmp", "g/rgb32bfdef.bmp"},
      {"g/rgb16.bmp", "g/rgb16bfdef.bmp"},
      {"g/rgb16-565.bmp", "g/rgb16-565pal.bmp"},
  };
  for (const auto& group : groups) {
    const Picture first = Load(group[0]);
    for (size_t i = 1; i < group.size(); ++i) {
      const Picture other = Load(group[i]);
      EXPECT_EQ(other.width, first.width) << group[i];
      EXPECT_EQ(other.height, first.height) << group[i];
      EXPECT_TRUE(other.rgb == first.rgb) << group[i] << " differs from " << group[0];
    }
  }
}

// The 16-bit pictures hold the true-colour picture rounded to 5 (or 6) bits per colour; shown
// with bit replication they must come back as exactly that.
TEST(BmpDecoderCorpus, SixteenBitPicturesMatchTheTrueColourOneByBitReplication) {
  const Picture truth = Load("g/rgb24.bmp");
  const Picture p555 = Load("g/rgb16.bmp");
  const Picture p565 = Load("g/rgb16-565.bmp");
  auto widen = [](unsigned v, int bits) {
    const unsigned top = (1u << bits) - 1;
    v = (v * top + 127) / 255;
    return (v << (8 - bits)) | (v >> (2 * bits - 8));
  };
  size_t mismatches555 = 0, mismatches565 = 0;
  for (size_t i = 0; i < truth.rgb.size(); i += 3) {
    for (int c = 0; c < 3; ++c) {
      mismatches555 += p555.rgb[i + c] != widen(truth.rgb[i + c], 5);
      mismatches565 += p565.rgb[i + c] != widen(truth.rgb[i + c], c == 1 ? 6 : 5);
    }
  }
  EXPECT_EQ(mismatches555, 0u);
  EXPECT_EQ(mismatches565, 0u);
}

// Every prefix of a run-length and a bit-field picture, and single-byte corruptions of a
// palette picture, are decoded or refused: never a crash or a read past the data.
TEST(BmpDecoderCorpus, CutAndCorruptedFilesNeverCrash) {
  for (const char* name : {"g/pal8rle.bmp", "g/pal4rle.bmp", "g/rgb16-565.bmp"}) {
    const auto bytes = test::ReadFile(Suite(name));
    for (size_t n = 0; n < bytes.size(); n += (n < 200 ? 1 : 97)) {
      const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + long(n));
      const auto d = DecodeBmp(cut.data(), cut.size(), kMax);
      EXPECT_NE(d.status, BmpDecode::kOk) << name << " cut at " << n;
    }
  }
  auto bytes = test::ReadFile(Suite("g/pal8os2.bmp"));
  const auto noise = test::RandomBytes(4000, 7);
  for (size_t k = 0; k + 1 < noise.size(); k += 2) {
    auto copy = bytes;
    copy[(noise[k] * 131u + noise[k + 1] * 7u) % 64] ^= noise[k + 1] | 1;
    (void)DecodeBmp(copy.data(), copy.size(), kMax);
  }
}

}  // namespace
}  // namespace edog
