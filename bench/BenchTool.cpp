// edog-benchtool: the small measuring helpers scripts/bench.sh needs beside edogtool.
//   hex2bin IN.hex OUT.bin     the HEX engine alone (FlatImageBuilder), file to flat image
//   voice WAV BITS [REPEAT]    encodes through the voice encoder library, decodes with
//                              G.726 and prints samples/s and SNR against the input
//   snr REF.raw DEC.raw [RATE] SNR of two raw 16-bit little-endian mono streams
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

extern "C" {
#include <spandsp/telephony.h>
#include <spandsp/g726.h>
}

#include "VoiceWave.h"
#include "common/DynamicLibrary.h"
#include "common/Files.h"
#include "tools/HeaderGen.h"
#include "tools/VoiceGeneration.h"

namespace edog {
namespace {

constexpr const char* kUsage =
    "Usage: edog-benchtool COMMAND ARGS\n"
    "  hex2bin IN.hex OUT.bin     Intel HEX to the flat image with the core engine only\n"
    "  voice WAV BITS [REPEAT]    encode WAV (mono PCM) through the voice encoder library\n"
    "                             REPEAT times, decode once, print samples/s and SNR\n"
    "  snr REF.raw DEC.raw [RATE] SNR of two raw signed 16-bit little-endian mono streams\n"
    "                             (RATE in Hz sets the 20 ms frames; default 8000)\n"
    "Output: one line of key=value pairs.\n";

int HexToBin(const std::string& in, const std::string& out) {
  const auto text = ReadWholeFile(in);
  if (!text) {
    std::fprintf(stderr, "cannot read %s\n", in.c_str());
    return 1;
  }
  FlatImageBuilder builder;
  std::string_view rest(reinterpret_cast<const char*>(text->data()), text->size());
  while (!rest.empty()) {
    size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (builder.AddLine(line) != FlatImageBuilder::kOk) {
      std::fprintf(stderr, "%s: line %zu refused\n", in.c_str(), builder.LineNumber());
      return 1;
    }
  }
  if (!WriteWholeFile(out, builder.Data(), builder.FlatSize())) {
    std::fprintf(stderr, "cannot write %s\n", out.c_str());
    return 1;
  }
  return 0;
}

struct Snr {
  double snr = 0, segmental = 0;
};

// Plain SNR over the reference's length, and the mean of 20 ms frame SNRs (each clamped to
// -10..35 dB, frames under -50 dBFS left out).
Snr Measure(const std::vector<int16_t>& ref, const std::vector<int16_t>& dec, size_t frame) {
  auto at = [&](size_t i) { return i < dec.size() ? double(dec[i]) : 0.0; };
  double signal = 0, noise = 0;
  for (size_t i = 0; i < ref.size(); ++i) {
    signal += double(ref[i]) * ref[i];
    noise += (ref[i] - at(i)) * (ref[i] - at(i));
  }
  Snr r;
  r.snr = 10 * std::log10(signal / std::max(noise, 1e-9));
  const double quiet = double(frame) * std::pow(10.0, -5.0) * 32768.0 * 32768.0;
  double sum = 0;
  size_t frames = 0;
  for (size_t start = 0; start + frame <= ref.size(); start += frame) {
    double s = 0, n = 0;
    for (size_t i = start; i < start + frame; ++i) {
      s += double(ref[i]) * ref[i];
      n += (ref[i] - at(i)) * (ref[i] - at(i));
    }
    if (s < quiet) continue;
    sum += std::clamp(10 * std::log10(s / std::max(n, 1e-9)), -10.0, 35.0);
    ++frames;
  }
  r.segmental = frames ? sum / double(frames) : 0;
  return r;
}

std::vector<int16_t> DecodeG726(const std::vector<uint8_t>& stream, int bits) {
  const std::vector<uint8_t> codes = kova::UnpackCodes(stream.data(), stream.size(), bits);
  const size_t count = codes.size();
  g726_state_t* s =
      g726_init(nullptr, bits == 4 ? 32000 : 24000, G726_ENCODING_LINEAR, G726_PACKING_NONE);
  std::vector<int16_t> out(count);
  if (count) g726_decode(s, out.data(), codes.data(), static_cast<int>(count));
  g726_free(s);
  return out;
}

int Voice(const std::string& wave, int bits, int repeat) {
  kova::PcmWave pcm;
  if (kova::ReadPcmWave(wave, pcm) != kova::kEncoderOk) {
    std::fprintf(stderr, "%s is not a mono 8/16-bit PCM wave file\n", wave.c_str());
    return 1;
  }
  const auto library = DynamicLibrary::Load(kVoiceEncoderLibrary);
  const auto encode = library ? library->Function<VoiceEncoderFn>(kVoiceEncoderExport) : nullptr;
  if (!encode) {
    std::fprintf(stderr, "the voice encoder library cannot be loaded\n");
    return 1;
  }
  const std::string out = wave + ".enc";
  std::string a0 = "Encode", a1 = "-" + std::to_string(bits), a2 = wave, a3 = out;
  char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data()};
  std::vector<double> seconds;
  for (int i = 0; i < repeat; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    int32_t samples = 0;
    if (encode(4, argv, &samples, 0, 0, 0) != 0) {
      std::fprintf(stderr, "the encoder failed on %s\n", wave.c_str());
      return 1;
    }
    seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  std::sort(seconds.begin(), seconds.end());
  const double median = seconds[seconds.size() / 2];
  const auto stream = ReadWholeFile(out);
  RemoveFile(out);
  if (!stream) return 1;
  const Snr q = Measure(pcm.samples, DecodeG726(*stream, bits), pcm.sampleRate / 50);
  std::printf("samples=%zu seconds=%.6f samples_per_s=%.0f snr_db=%.2f segsnr_db=%.2f bytes=%zu\n",
              pcm.samples.size(), median, double(pcm.samples.size()) / median, q.snr, q.segmental,
              stream->size());
  return 0;
}

std::vector<int16_t> ReadRaw16(const std::string& path) {
  std::vector<int16_t> v;
  if (const auto bytes = ReadWholeFile(path)) {
    v.resize(bytes->size() / 2);
    for (size_t i = 0; i < v.size(); ++i)
      v[i] = static_cast<int16_t>((*bytes)[2 * i] | (*bytes)[2 * i + 1] << 8);
  }
  return v;
}

int RawSnr(const std::string& ref, const std::string& dec, uint32_t rate) {
  const auto r = ReadRaw16(ref), d = ReadRaw16(dec);
  if (r.empty() || d.empty()) {
    std::fprintf(stderr, "cannot read %s or %s\n", ref.c_str(), dec.c_str());
    return 1;
  }
  const Snr q = Measure(r, d, rate / 50);
  std::printf("samples=%zu snr_db=%.2f segsnr_db=%.2f\n", r.size(), q.snr, q.segmental);
  return 0;
}

}  // namespace
}  // namespace edog

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "-h" || command == "--help") {
    std::fputs(edog::kUsage, stdout);
    return 0;
  }
  if (command == "hex2bin" && argc == 4) return edog::HexToBin(argv[2], argv[3]);
  if (command == "voice" && (argc == 4 || argc == 5)) {
    const int bits = std::atoi(argv[3]);
    const int repeat = argc == 5 ? std::max(1, std::atoi(argv[4])) : 1;
    if (bits == 3 || bits == 4) return edog::Voice(argv[2], bits, repeat);
  }
  if (command == "snr" && (argc == 4 || argc == 5))
    return edog::RawSnr(argv[2], argv[3], argc == 5 ? static_cast<uint32_t>(std::atoi(argv[4])) : 8000);
  std::fputs(edog::kUsage, stderr);
  return 2;
}
