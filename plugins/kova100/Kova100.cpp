// Stand-in voice encoder library. `Encoder` compresses one mono 8- or 16-bit PCM wave
// file into a headerless G.726 stream: "-4" gives 4-bit codes (32 kbit/s at 8 kHz), "-3"
// 3-bit codes (24 kbit/s at 8 kHz), at the file's own sample rate. The codec starts from
// its reset state and runs through the whole file without resets; codes are packed most
// significant bit first. The input is padded with silence to whole bytes of codes, so the
// stream holds exactly bytes × 8 / bits samples.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <spandsp/telephony.h>
#include <spandsp/g726.h>
}

#include "VoiceWave.h"

#if defined(_WIN32)
#define KOVA_EXPORT extern "C" __declspec(dllexport)
#else
#define KOVA_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace kova {
namespace {

// Samples per whole group of bytes: 2 codes per byte at 4 bits, 8 codes per 3 bytes at 3.
size_t PaddedCount(size_t samples, int bits) {
  const size_t group = bits == 4 ? 2 : 8;
  return (samples + group - 1) / group * group;
}

int EncodeFile(const char* bitsSwitch, const char* input, const char* output, int32_t* samples) {
  const std::string sw = bitsSwitch;
  const int bits = sw == "-4" ? 4 : sw == "-3" ? 3 : 0;
  if (bits == 0) return kBadArguments;

  PcmWave wave;
  if (const int r = ReadPcmWave(input, wave); r != kEncoderOk) return r;
  const size_t count = wave.samples.size();
  wave.samples.resize(PaddedCount(count, bits), 0);
  // The codec keeps the top 14 bits by truncation; rounding instead removes a bias of
  // half a step from what the decoder gives back.
  for (auto& s : wave.samples) s = static_cast<int16_t>(std::min(32767, s + 2));

  struct CodecFree {
    void operator()(g726_state_t* s) const { g726_free(s); }
  };
  const std::unique_ptr<g726_state_t, CodecFree> codec(g726_init(
      nullptr, bits == 4 ? 32000 : 24000, G726_ENCODING_LINEAR, G726_PACKING_NONE));
  if (!codec) return kCodecFailure;
  std::vector<uint8_t> codes(wave.samples.size());
  size_t done = 0;
  constexpr size_t kBlock = 1 << 16;  // the codec takes an int count
  while (done < wave.samples.size()) {
    const size_t n = std::min(kBlock, wave.samples.size() - done);
    g726_encode(codec.get(), codes.data() + done, wave.samples.data() + done, static_cast<int>(n));
    done += n;
  }
  const std::vector<uint8_t> packed = PackCodes(codes.data(), codes.size(), bits);

  FILE* f = std::fopen(output, "wb");
  if (!f) return kCannotWriteOutput;
  const bool wrote = packed.empty() || std::fwrite(packed.data(), 1, packed.size(), f) == packed.size();
  if (std::fclose(f) != 0 || !wrote) {
    std::remove(output);
    return kCannotWriteOutput;
  }
  if (samples) *samples = static_cast<int32_t>(count);
  return kEncoderOk;
}

}  // namespace
}  // namespace kova

// argv: "Encode", "-4" or "-3", input wave path, output path. `samples` (may be null)
// receives the number of input samples; the three ints are unused. 0 is success, any
// other result one of kova::EncoderError.
KOVA_EXPORT int Encoder(int argc, char** argv, int32_t* samples, int, int, int) {
  if (argc != 4 || !argv || !argv[1] || !argv[2] || !argv[3]) return kova::kBadArguments;
  return kova::EncodeFile(argv[1], argv[2], argv[3], samples);
}
