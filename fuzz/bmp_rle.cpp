// Bitmap decoding and the device's run-length pictures: any bytes as a .bmp, then the
// picture encoded and read back; and any bytes as a run-length picture for the preview.
#include "fuzz/FuzzSupport.h"
#include "tools/BmpDecoder.h"
#include "tools/RunLengthImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace edog;
  const BmpDecode d = DecodeBmp(data, size, kMaxPictureSide);
  if (d.status == BmpDecode::kInvalid) FUZZ_CHECK(!d.reason.empty());
  if (d.status == BmpDecode::kOk) {
    const Picture& p = d.picture;
    FUZZ_CHECK(p.width > 0 && p.height > 0);
    FUZZ_CHECK(p.width <= kMaxPictureSide && p.height <= kMaxPictureSide);
    FUZZ_CHECK(p.rgb.size() == static_cast<size_t>(p.width) * p.height * 3);
    if (const auto rle = BuildRunLengthImage(p)) {
      const auto back = DecodeRunLengthImage(rle->data(), rle->size());
      FUZZ_CHECK(back && back->width == p.width && back->height == p.height);
      for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
          const uint8_t* a = p.Pixel(x, y);
          const uint8_t* b = back->Pixel(x, y);
          FUZZ_CHECK((a[0] & 0xF8) == b[0] && (a[1] & 0xFC) == b[1] && (a[2] & 0xF8) == b[2]);
        }
      }
    }
  }
  if (const auto pic = DecodeRunLengthImage(data, size)) {
    FUZZ_CHECK(pic->rgb.size() == static_cast<size_t>(pic->width) * pic->height * 3);
  }
  return 0;
}
