// Micro-benchmarks of the hot loops: package extraction, CRC-16 of serial blocks, Intel HEX
// parsing, run-length encoding of pictures and ADPCM encoding through the voice encoder's
// `Encoder` export. scripts/bench.sh runs them; numbers land in docs/BENCHMARKS.md.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/Bytes.h"
#include "common/DynamicLibrary.h"
#include "common/Files.h"
#include "common/Format.h"
#include "device/SerialDownload.h"
#include "tools/HeaderGen.h"
#include "tools/RunLengthImage.h"
#include "tools/VoiceGeneration.h"
#include "update/Package.h"

namespace edog {
namespace {

std::vector<uint8_t> RandomData(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// A scratch folder removed with everything in it when the benchmark ends.
class Scratch {
 public:
  Scratch() : dir_(MakeUniqueTempDirectory()) {}
  ~Scratch() {
    for (const auto& f : files_) RemoveFile(f);
    RemoveDirectory(dir_);
  }
  std::string File(const std::string& name) {
    files_.push_back(JoinPath(dir_, name));
    return files_.back();
  }
  const std::string& Dir() const { return dir_; }
  bool Ok() const { return !dir_.empty(); }

 private:
  std::string dir_;
  std::vector<std::string> files_;
};

// ---- package extraction -----------------------------------------------------------------

void BM_PackageExtract(benchmark::State& state) {
  const size_t total = static_cast<size_t>(state.range(0)) << 20;
  Scratch scratch;
  const PackageKey key = KeyForMethod(kDefaultEncryptionMethod);
  // The three contents in the proportions of a real package: voice, map, software.
  const std::vector<PackageEntry> entries = {
      {"edogvoice.hdr", RandomData(total / 2, 1)},
      {"edogmap.hdr", RandomData(total / 2 - total / 16, 2)},
      {"edogsoft.hdr", RandomData(total / 16, 3)},
  };
  const std::string package = scratch.File(kPackageFileName);
  if (!scratch.Ok() || !WritePackage(package, entries, key).empty()) {
    state.SkipWithError("cannot write the package");
    return;
  }
  for (const auto& e : entries) scratch.File(e.name);
  PackageExtraction extraction;
  extraction.UseDirectory(scratch.Dir());
  for (auto _ : state) {
    if (!extraction.Extract(package, key)) state.SkipWithError(extraction.Error().c_str());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(total));
}
BENCHMARK(BM_PackageExtract)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- CRC-16 and serial blocks -----------------------------------------------------------

void BM_Crc16Xmodem(benchmark::State& state) {
  const auto data = RandomData(static_cast<size_t>(state.range(0)), 4);
  for (auto _ : state) benchmark::DoNotOptimize(Crc16Xmodem(data.data(), data.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc16Xmodem)->Arg(kSerialBlockData)->Arg(1 << 20);

void BM_BuildSerialBlock(benchmark::State& state) {
  const auto data = RandomData(kSerialBlockData, 5);
  uint8_t number = 0;
  for (auto _ : state) {
    SerialBlock block = BuildSerialBlock(number++, data.data(), data.size());
    benchmark::DoNotOptimize(block);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSerialBlockData);
}
BENCHMARK(BM_BuildSerialBlock);

// ---- Intel HEX --------------------------------------------------------------------------

// `size` bytes of firmware as 16-byte data records, then the end record.
std::vector<std::string> HexLines(size_t size) {
  const auto data = RandomData(size, 6);
  std::vector<std::string> lines;
  for (size_t at = 0; at < size; at += 16) {
    const size_t n = std::min<size_t>(16, size - at);
    unsigned sum = static_cast<unsigned>(n + (at >> 8) + (at & 0xFF));
    std::string line = Format(":%02X%04X00", static_cast<unsigned>(n), static_cast<unsigned>(at));
    for (size_t k = 0; k < n; ++k) {
      line += Format("%02X", data[at + k]);
      sum += data[at + k];
    }
    lines.push_back(line + Format("%02X", (0x100 - (sum & 0xFF)) & 0xFF));
  }
  lines.push_back(":00000001FF");
  return lines;
}

void BM_HexParse(benchmark::State& state) {
  const auto lines = HexLines(static_cast<size_t>(state.range(0)));
  size_t text = 0;
  for (const auto& l : lines) text += l.size() + 2;
  for (auto _ : state) {
    FlatImageBuilder builder;
    for (const auto& l : lines) builder.AddLine(l);
    benchmark::DoNotOptimize(builder.FlatSize());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text));
}
BENCHMARK(BM_HexParse)->Arg(64 * 1024)->Arg(127 * 1024);

// The whole conversion as the Convert button runs it: HEX file to flat image and headered
// image, report lines included.
class NullReport final : public HeaderGenObserver {
 public:
  void OnReport(const std::string&) override {}
};

void BM_HexToHeaderedImage(benchmark::State& state) {
  Scratch scratch;
  const std::string hex = scratch.File("fw.hex");
  scratch.File("fw.bin");
  scratch.File("fw.hdr");
  std::string text;
  for (const auto& l : HexLines(static_cast<size_t>(state.range(0)))) text += l + "\r\n";
  if (!scratch.Ok() ||
      !WriteWholeFile(hex, reinterpret_cast<const uint8_t*>(text.data()), text.size())) {
    state.SkipWithError("cannot write the HEX file");
    return;
  }
  HeaderGenSettings settings;
  settings.inputPath = hex;
  settings.option = ConvertOption::kI;
  settings.addressText = "0x0";
  NullReport report;
  for (auto _ : state) {
    if (ConvertToHeaderedImage(settings, report) != HeaderGenStatus::kDone)
      state.SkipWithError("conversion failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_HexToHeaderedImage)->Arg(60 * 1024)->Unit(benchmark::kMicrosecond);

// ---- run-length pictures ----------------------------------------------------------------

// A 255x255 picture: arg 0 flat bands (long runs, the usual icon), 1 a photo-like noise
// (every pixel its own run, the worst case).
Picture TestPicture(int kind) {
  Picture p;
  p.width = p.height = kMaxPictureSide;
  p.rgb.resize(size_t(p.width) * size_t(p.height) * 3);
  std::mt19937 rng(7);
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      uint8_t* px = &p.rgb[(size_t(y) * size_t(p.width) + size_t(x)) * 3];
      if (kind == 0) {
        px[0] = static_cast<uint8_t>((y / 16) * 16);
        px[1] = static_cast<uint8_t>(x < 128 ? 0 : 255);
        px[2] = 40;
      } else {
        px[0] = static_cast<uint8_t>(rng());
        px[1] = static_cast<uint8_t>(rng());
        px[2] = static_cast<uint8_t>(rng());
      }
    }
  }
  return p;
}

void BM_EncodeRuns(benchmark::State& state) {
  const Picture picture = TestPicture(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(EncodeRuns(picture));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * picture.width * picture.height);
}
BENCHMARK(BM_EncodeRuns)->Arg(0)->Arg(1);

void BM_BuildRunLengthImage(benchmark::State& state) {
  const Picture picture = TestPicture(0);
  for (auto _ : state) benchmark::DoNotOptimize(BuildRunLengthImage(picture));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * picture.width * picture.height);
}
BENCHMARK(BM_BuildRunLengthImage);

// ---- ADPCM through the voice encoder library --------------------------------------------

// A mono 16-bit wave of a voice-like sound: a gliding fundamental with harmonics under a
// syllable envelope, with a little noise.
Bytes VoiceLikeWave(uint32_t rate, double seconds) {
  const size_t n = static_cast<size_t>(rate * seconds);
  Bytes w(44 + n * 2);
  auto put32 = [&](size_t at, uint32_t v) { PutLE32(w.data() + at, v); };
  auto put16 = [&](size_t at, uint16_t v) { PutLE16(w.data() + at, v); };
  std::memcpy(w.data(), "RIFF", 4);
  put32(4, static_cast<uint32_t>(36 + n * 2));
  std::memcpy(w.data() + 8, "WAVEfmt ", 8);
  put32(16, 16);
  put16(20, 1);
  put16(22, 1);
  put32(24, rate);
  put32(28, rate * 2);
  put16(32, 2);
  put16(34, 16);
  std::memcpy(w.data() + 36, "data", 4);
  put32(40, static_cast<uint32_t>(n * 2));
  std::mt19937 rng(8);
  std::normal_distribution<double> noise(0, 200);
  double phase = 0;
  for (size_t i = 0; i < n; ++i) {
    const double t = double(i) / rate;
    phase += 2 * M_PI * (140 + 40 * std::sin(2 * M_PI * 0.7 * t)) / rate;
    double s = 0;
    for (int h = 1; h <= 12; ++h) s += std::sin(h * phase) / h;
    const double envelope = 0.5 + 0.5 * std::sin(2 * M_PI * 3 * t);
    const double v = std::clamp(6000 * envelope * s + noise(rng), -32768.0, 32767.0);
    put16(44 + i * 2, static_cast<uint16_t>(static_cast<int16_t>(v)));
  }
  return w;
}

void BM_AdpcmEncode(benchmark::State& state) {
  const auto library = DynamicLibrary::Load(kVoiceEncoderLibrary);
  const auto encode = library ? library->Function<VoiceEncoderFn>(kVoiceEncoderExport) : nullptr;
  if (!encode) {
    state.SkipWithError("the voice encoder library cannot be loaded");
    return;
  }
  const uint32_t rate = static_cast<uint32_t>(state.range(1));
  const double seconds = 30;
  Scratch scratch;
  const std::string wave = scratch.File("voice.wav"), out = scratch.File("voice.enc");
  if (!scratch.Ok() || !WriteWholeFile(wave, VoiceLikeWave(rate, seconds))) {
    state.SkipWithError("cannot write the wave file");
    return;
  }
  std::string a0 = "Encode", a1 = "-" + std::to_string(state.range(0)), a2 = wave, a3 = out;
  char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data()};
  for (auto _ : state) {
    int32_t samples = 0;
    if (encode(4, argv, &samples, 0, 0, 0) != 0) state.SkipWithError("the encoder failed");
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(rate * seconds));
}
BENCHMARK(BM_AdpcmEncode)
    ->ArgNames({"bits", "rate"})
    ->Args({4, 8000})
    ->Args({3, 8000})
    ->Args({4, 16000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace edog

BENCHMARK_MAIN();
