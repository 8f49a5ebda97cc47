#include "tools/WaveInfo.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/Bytes.h"
#include "tools/MappedFile.h"

namespace edog {
namespace {

// Offset of the "fmt " chunk's data, walking the chunks within the file's bounds.
size_t FindFormatData(const MappedFile& file, const std::string& path) {
  const uint8_t* d = file.Data();
  const uint64_t len = file.Size();
  if (len < 12 || std::memcmp(d, "RIFF", 4) != 0 || std::memcmp(d + 8, "WAVE", 4) != 0)
    throw WaveFormatError(path + ": not a RIFF/WAVE file");
  uint64_t p = 12;
  while (p + 8 <= len) {
    if (std::memcmp(d + p, "fmt ", 4) == 0) {
      if (p + 16 > len) break;
      return static_cast<size_t>(p + 8);
    }
    p += 8 + uint64_t(GetLE32(d + p + 4));
  }
  throw WaveFormatError(path + ": no format chunk");
}

int Read(const std::string& path, size_t fieldOffset, size_t width) {
  MappedFile file;
  if (!file.Open(path)) throw WaveFileError(path + ": cannot open the file");
  if (file.Size() < 1) return -1;
  const size_t fmt = FindFormatData(file, path);
  const uint8_t* v = file.Data() + fmt + fieldOffset;
  if (width != 4) return GetLE16(v);
  // A rate past the int range would read as negative and travel on as -1 or worse.
  const uint32_t value = GetLE32(v);
  if (value > uint32_t(INT32_MAX))
    throw WaveFormatError(path + ": sample rate " + std::to_string(value) +
                          " Hz is out of range");
  return static_cast<int>(value);
}

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;

}  // namespace

std::string EncoderObjection(const std::string& path) {
  MappedFile file;
  if (!file.Open(path) || file.Size() < 12) return {};
  const uint8_t* d = file.Data();
  const uint64_t len = file.Size();
  if (std::memcmp(d, "RIFF", 4) != 0 || std::memcmp(d + 8, "WAVE", 4) != 0) return {};
  const uint8_t* fmt = nullptr;
  uint64_t fmtSize = 0;
  bool data = false;
  // The encoder's own walk: chunks padded to even sizes.
  for (uint64_t p = 12; p + 8 <= len;) {
    const uint64_t size = GetLE32(d + p + 4);
    if (std::memcmp(d + p, "fmt ", 4) == 0) {
      fmt = d + p + 8;
      fmtSize = std::min<uint64_t>(size, len - p - 8);
    } else if (std::memcmp(d + p, "data", 4) == 0) {
      data = true;
    }
    p += 8 + size + (size & 1);
  }
  if (!fmt || fmtSize < 16) return "no complete format chunk";
  uint16_t tag = GetLE16(fmt);
  if (tag == kFormatExtensible && fmtSize >= 26) tag = GetLE16(fmt + 24);
  const uint16_t channels = GetLE16(fmt + 2), bits = GetLE16(fmt + 14);
  if (channels == 0) return "no channels in the format chunk";
  if (channels >= 2) return std::to_string(channels) + " channels: the encoder takes mono files";
  if (GetLE32(fmt + 4) == 0) return "sample rate 0";
  if (tag == kFormatFloat) return "floating-point samples: the encoder takes 8- or 16-bit integer PCM";
  if (tag != kFormatPcm)
    return "compressed samples (format " + std::to_string(tag) +
           "): the encoder takes 8- or 16-bit integer PCM";
  if (bits != 8 && bits != 16)
    return std::to_string(bits) + "-bit samples: the encoder takes 8- or 16-bit integer PCM";
  if (!data) return "no data chunk";
  return {};
}

int ReadSampleRate(const std::string& path) { return Read(path, 4, 4); }

int ReadChannelCount(const std::string& path) { return Read(path, 2, 2); }

void CWaveInfo::SetFile(const std::string& path) {
  const int rate = ReadSampleRate(path);
  path_ = path;
  displayName_ = ExtractFileName(path);
  sampleRate_ = rate;
}

}  // namespace edog
