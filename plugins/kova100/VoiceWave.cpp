#include "VoiceWave.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace kova {
namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;

}  // namespace

int ParsePcmWave(const uint8_t* data, size_t size, PcmWave& out) {
  if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0)
    return kNotWave;
  const uint8_t* fmt = nullptr;
  size_t fmtSize = 0;
  const uint8_t* pcm = nullptr;
  size_t pcmSize = 0;
  size_t at = 12;
  while (size - at >= 8 && !(fmt && pcm)) {
    const uint32_t chunkSize = Le32(data + at + 4);
    const size_t body = at + 8;
    const size_t available = std::min<size_t>(chunkSize, size - body);
    if (std::memcmp(data + at, "fmt ", 4) == 0) {
      fmt = data + body;
      fmtSize = available;
    } else if (std::memcmp(data + at, "data", 4) == 0) {
      pcm = data + body;
      pcmSize = available;  // a cut-off file keeps what it has
    }
    if (chunkSize > size - body) break;
    at = body + chunkSize + (chunkSize & 1);
    if (at > size) break;
  }
  if (!fmt || fmtSize < 16 || !pcm) return kNotWave;

  uint16_t tag = Le16(fmt);
  const uint16_t channels = Le16(fmt + 2);
  const uint32_t rate = Le32(fmt + 4);
  const uint16_t bits = Le16(fmt + 14);
  if (tag == kFormatExtensible && fmtSize >= 26) tag = Le16(fmt + 24);  // sub-format GUID
  if (channels >= 2) return kNotMono;
  if (channels == 0 || rate == 0 || tag != kFormatPcm || (bits != 8 && bits != 16))
    return kUnsupportedFormat;

  out.sampleRate = rate;
  out.samples.clear();
  if (bits == 8) {
    out.samples.reserve(pcmSize);
    for (size_t i = 0; i < pcmSize; ++i)
      out.samples.push_back(static_cast<int16_t>((int(pcm[i]) - 128) * 256));
  } else {
    out.samples.reserve(pcmSize / 2);
    for (size_t i = 0; i + 1 < pcmSize; i += 2)
      out.samples.push_back(static_cast<int16_t>(Le16(pcm + i)));
  }
  return kEncoderOk;
}

int ReadPcmWave(const std::string& path, PcmWave& out) {
  struct FileClose {
    void operator()(FILE* f) const { std::fclose(f); }
  };
  const std::unique_ptr<FILE, FileClose> f(std::fopen(path.c_str(), "rb"));
  if (!f) return kCannotReadInput;
  std::vector<uint8_t> bytes;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) bytes.insert(bytes.end(), buf, buf + n);
  if (std::ferror(f.get()) != 0) return kCannotReadInput;
  return ParsePcmWave(bytes.data(), bytes.size(), out);
}

std::vector<uint8_t> PackCodes(const uint8_t* codes, size_t count, int bits) {
  std::vector<uint8_t> out((count * static_cast<size_t>(bits) + 7) / 8, 0);
  if (bits == 4) {  // two codes a byte, the first in the high half: the common case, direct
    for (size_t i = 0; i < count; ++i)
      out[i / 2] |= static_cast<uint8_t>((codes[i] & 0x0Fu) << (i % 2 ? 0 : 4));
    return out;
  }
  size_t bit = 0;  // position of the next code's first bit, counted from the first byte's MSB
  const unsigned mask = (1u << bits) - 1;
  for (size_t i = 0; i < count; ++i) {
    const unsigned code = codes[i] & mask;
    for (int b = bits - 1; b >= 0; --b, ++bit)
      if (code >> b & 1u) out[bit / 8] |= static_cast<uint8_t>(0x80u >> (bit % 8));
  }
  return out;
}

std::vector<uint8_t> UnpackCodes(const uint8_t* stream, size_t bytes, int bits) {
  const size_t count = bytes * 8 / static_cast<size_t>(bits);
  std::vector<uint8_t> codes(count);
  for (size_t i = 0; i < count; ++i) {
    unsigned code = 0;
    for (int b = 0; b < bits; ++b) {
      const size_t bit = i * static_cast<size_t>(bits) + static_cast<size_t>(b);
      code = code << 1 | ((stream[bit / 8] >> (7 - bit % 8)) & 1u);
    }
    codes[i] = static_cast<uint8_t>(code);
  }
  return codes;
}

}  // namespace kova
