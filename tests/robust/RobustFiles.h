#pragma once
// Small inputs made in memory for the robustness tests of the file tools, and a listing
// that shows everything a run left in a folder.
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace edog::test {

inline void PutLE(std::vector<uint8_t>& b, size_t at, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A 24-bit bitmap of `w` x `h` pixels, colours from `seed`.
inline std::vector<uint8_t> SmallBmp(int w = 2, int h = 1, uint32_t seed = 1) {
  const size_t stride = (size_t(w) * 3 + 3) / 4 * 4;
  std::vector<uint8_t> b(54 + stride * h, 0);
  b[0] = 'B';
  b[1] = 'M';
  PutLE(b, 2, static_cast<uint32_t>(b.size()), 4);
  PutLE(b, 10, 54, 4);
  PutLE(b, 14, 40, 4);
  PutLE(b, 18, static_cast<uint32_t>(w), 4);
  PutLE(b, 22, static_cast<uint32_t>(h), 4);
  PutLE(b, 26, 1, 2);
  PutLE(b, 28, 24, 2);
  for (int y = 0; y < h; ++y)
    for (size_t x = 0; x < size_t(w) * 3; ++x)
      b[54 + y * stride + x] = static_cast<uint8_t>((x * 37 + y * 11) * seed);
  return b;
}

// A canonical 16-bit mono PCM wave file of `samples` samples; `rate` as stored.
inline std::vector<uint8_t> MonoWave(uint32_t rate, size_t samples, std::string data = {}) {
  if (data.empty()) data.assign(samples * 2, '\0');
  std::vector<uint8_t> b(44 + data.size(), 0);
  const char* tags[] = {"RIFF", "WAVE", "fmt ", "data"};
  const size_t at[] = {0, 8, 12, 36};
  for (int i = 0; i < 4; ++i) std::copy(tags[i], tags[i] + 4, b.begin() + at[i]);
  PutLE(b, 4, static_cast<uint32_t>(36 + data.size()), 4);
  PutLE(b, 16, 16, 4);
  PutLE(b, 20, 1, 2);
  PutLE(b, 22, 1, 2);
  PutLE(b, 24, rate, 4);
  PutLE(b, 28, rate * 2, 4);
  PutLE(b, 32, 2, 2);
  PutLE(b, 34, 16, 2);
  PutLE(b, 40, static_cast<uint32_t>(data.size()), 4);
  std::copy(data.begin(), data.end(), b.begin() + 44);
  return b;
}

// Every file and folder below `dir` with its size (folders -1): what a run left behind.
inline std::map<std::string, long long> Listing(const std::string& dir) {
  std::map<std::string, long long> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    const std::string rel = std::filesystem::relative(e.path(), dir).string();
    out[rel] = e.is_regular_file() ? static_cast<long long>(e.file_size()) : -1;
  }
  return out;
}

}  // namespace edog::test
