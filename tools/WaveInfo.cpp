#include "tools/WaveInfo.h"

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

}  // namespace

int ReadSampleRate(const std::string& path) { return Read(path, 4, 4); }

int ReadChannelCount(const std::string& path) { return Read(path, 2, 2); }

void CWaveInfo::SetFile(const std::string& path) {
  const int rate = ReadSampleRate(path);
  path_ = path;
  displayName_ = ExtractFileName(path);
  sampleRate_ = rate;
}

}  // namespace edog
