// Stand-in voice encoder library. `Encoder` compresses one mono 8- or 16-bit PCM wave
// file into a headerless G.726 stream: "-4" gives 4-bit codes (32 kbit/s at 8 kHz), "-3"
// 3-bit codes (24 kbit/s at 8 kHz), at the file's own sample rate. Decoding starts from
// the reset state and runs through the whole file without resets; codes are packed most
// significant bit first. The input is padded with silence to whole bytes of codes, so the
// stream holds exactly bytes × 8 / bits samples.
//
// Each code is chosen by what a standard decoder (G726.h) reconstructs from it: the code
// whose reconstruction lies closest to the input sample. A quantizer of the difference
// signal decides by intervals of its logarithm instead; choosing by the reconstruction
// gives a little more on speech, and decoders with the common variant scale factor mix
// stay much closer to the standard one on the result.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "G726.h"
#include "VoiceWave.h"

// A vendor-style build of this library (tests) exports undecorated names through a .def
// file, with the calling convention it is given.
#if defined(EDOG_VENDOR_STYLE_CALL)
#define KOVA_EXPORT extern "C"
#define KOVA_CALL EDOG_VENDOR_STYLE_CALL
#elif defined(_WIN32)
#define KOVA_EXPORT extern "C" __declspec(dllexport)
#else
#define KOVA_EXPORT extern "C" __attribute__((visibility("default")))
#endif
#ifndef KOVA_CALL
#define KOVA_CALL
#endif

namespace kova {
namespace {

// Samples per whole group of bytes: 2 codes per byte at 4 bits, 8 codes per 3 bytes at 3.
size_t PaddedCount(size_t samples, int bits) {
  const size_t group = bits == 4 ? 2 : 8;
  return (samples + group - 1) / group * group;
}

// A decoder's 16-bit output for a 14-bit reconstructed sample; it wraps as decoders' do,
// so a code that would overflow counts as the large error it is.
int Output16(int sr) { return ((sr * 4 + 32768) & 0xFFFF) - 32768; }

std::vector<uint8_t> ChooseCodes(const std::vector<int16_t>& samples, int bits) {
  G726Decoder decoder(bits, ScaleMix::kStandard);
  const unsigned codeCount = 1u << bits;
  std::vector<uint8_t> codes(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) {
    const int x = samples[i];
    unsigned best = 0;
    int bestError = INT_MAX;
    for (unsigned code = 0; code < codeCount; ++code) {
      const int error = std::abs(x - Output16(decoder.Reconstruct(code)));
      if (error < bestError) {
        bestError = error;
        best = code;
      }
    }
    decoder.Decode(best);
    codes[i] = static_cast<uint8_t>(best);
  }
  return codes;
}

int EncodeFile(const char* bitsSwitch, const char* input, const char* output, int32_t* samples) {
  const std::string sw = bitsSwitch;
  const int bits = sw == "-4" ? 4 : sw == "-3" ? 3 : 0;
  if (bits == 0) return kBadArguments;

  PcmWave wave;
  if (const int r = ReadPcmWave(input, wave); r != kEncoderOk) return r;
  const size_t count = wave.samples.size();
  wave.samples.resize(PaddedCount(count, bits), 0);
  const std::vector<uint8_t> codes = ChooseCodes(wave.samples, bits);
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
KOVA_EXPORT int KOVA_CALL Encoder(int argc, char** argv, int32_t* samples, int, int, int) {
  if (argc != 4 || !argv || !argv[1] || !argv[2] || !argv[3]) return kova::kBadArguments;
  return kova::EncodeFile(argv[1], argv[2], argv[3], samples);
}
