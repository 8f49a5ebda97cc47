#include "VoiceTestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

extern "C" {
#include <spandsp/telephony.h>
#include <spandsp/g726.h>
}

#include "VoiceWave.h"
#include "common/Bytes.h"
#include "common/Files.h"
#include "support/TestSupport.h"

namespace edog::test {

std::vector<uint8_t> MakeWave(uint32_t rate, uint16_t channels, uint16_t bits,
                              const std::vector<uint8_t>& data) {
  std::vector<uint8_t> w(44);
  std::copy_n("RIFF", 4, w.begin());
  PutLE32(&w[4], static_cast<uint32_t>(36 + data.size()));
  std::copy_n("WAVEfmt ", 8, w.begin() + 8);
  PutLE32(&w[16], 16);
  PutLE16(&w[20], 1);
  PutLE16(&w[22], channels);
  PutLE32(&w[24], rate);
  PutLE32(&w[28], rate * channels * bits / 8);
  PutLE16(&w[32], static_cast<uint16_t>(channels * bits / 8));
  PutLE16(&w[34], bits);
  std::copy_n("data", 4, w.begin() + 36);
  PutLE32(&w[40], static_cast<uint32_t>(data.size()));
  w.insert(w.end(), data.begin(), data.end());
  return w;
}

std::vector<uint8_t> MakeWave16(uint32_t rate, const std::vector<int16_t>& samples) {
  std::vector<uint8_t> data(samples.size() * 2);
  for (size_t i = 0; i < samples.size(); ++i)
    PutLE16(&data[2 * i], static_cast<uint16_t>(samples[i]));
  return MakeWave(rate, 1, 16, data);
}

std::vector<uint8_t> DirectiveWave(const std::string& directive, uint32_t rate) {
  std::string text = directive + ";";
  if (text.size() % 2) text += ' ';
  return MakeWave(rate, 1, 16, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> TestEncoded(size_t n) {
  std::vector<uint8_t> b(n);
  for (size_t k = 0; k < n; ++k) b[k] = static_cast<uint8_t>((k * 31 + n) & 0xFF);
  return b;
}

std::string TestEncoderPath() { return KOVA_TEST_ENCODER; }

std::vector<int16_t> DecodeVoiceStream(const std::vector<uint8_t>& stream, int bits) {
  const std::vector<uint8_t> codes = kova::UnpackCodes(stream.data(), stream.size(), bits);
  const size_t count = codes.size();
  g726_state_t* s = g726_init(nullptr, bits == 4 ? 32000 : 24000, G726_ENCODING_LINEAR,
                              G726_PACKING_NONE);
  std::vector<int16_t> out(count);
  if (count) g726_decode(s, out.data(), codes.data(), static_cast<int>(count));
  g726_free(s);
  return out;
}

double SnrDb(const std::vector<int16_t>& reference, const std::vector<int16_t>& decoded) {
  double signal = 0, noise = 0;
  for (size_t i = 0; i < reference.size(); ++i) {
    const double x = reference[i], e = x - (i < decoded.size() ? decoded[i] : 0);
    signal += x * x;
    noise += e * e;
  }
  return 10 * std::log10(signal / std::max(noise, 1e-9));
}

double SegmentalSnrDb(const std::vector<int16_t>& reference, const std::vector<int16_t>& decoded,
                      size_t frame) {
  const double quiet = frame * std::pow(10.0, -50.0 / 10) * 32768.0 * 32768.0;
  double sum = 0;
  size_t frames = 0;
  for (size_t at = 0; at + frame <= reference.size(); at += frame) {
    double signal = 0, noise = 0;
    for (size_t i = at; i < at + frame; ++i) {
      const double x = reference[i], e = x - (i < decoded.size() ? decoded[i] : 0);
      signal += x * x;
      noise += e * e;
    }
    if (signal < quiet) continue;
    sum += std::clamp(10 * std::log10(signal / std::max(noise, 1e-9)), -10.0, 35.0);
    ++frames;
  }
  return frames ? sum / static_cast<double>(frames) : 0;
}

namespace {
const char* const kSpeechNames[] = {"Front_Center", "Front_Left", "Front_Right", "Rear_Center",
                                    "Rear_Left",    "Rear_Right", "Side_Left",   "Side_Right"};
std::string SpeechSource(const char* name) {
  return std::string("/usr/share/sounds/alsa/") + name + ".wav";
}
}  // namespace

std::string SpeechMissing() {
  // The recordings are not the project's to carry; the test run installs both packages.
  for (const char* name : kSpeechNames)
    if (!FileExists(SpeechSource(name)))
      return SpeechSource(name) + " missing: install Debian's alsa-utils (scripts/install-deps.sh)";
  if (!HaveHostTool("/usr/bin/sox"))
    return "/usr/bin/sox missing: install Debian's sox (scripts/install-deps.sh)";
  return {};
}

std::vector<std::string> SpeechFiles(const std::string& dir, uint32_t rate, int bits) {
  std::vector<std::string> paths;
  for (const char* name : kSpeechNames) {
    const std::string source = SpeechSource(name);
    if (!FileExists(source))
      throw std::runtime_error(source + " missing (Debian package alsa-utils)");
    const std::string out = dir + "/" + name + "_" + std::to_string(rate) + ".wav";
    const std::string cmd = "sox -q -D '" + source + "' -r " + std::to_string(rate) + " -b " +
                            std::to_string(bits) + " -c 1 '" + out + "'";
    if (std::system(cmd.c_str()) != 0) throw std::runtime_error("sox failed: " + cmd);
    paths.push_back(out);
  }
  return paths;
}

}  // namespace edog::test
