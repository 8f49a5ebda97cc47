#pragma once
// SHA-256, for the journal's fingerprint of each received payload.
#include <cstddef>
#include <cstdint>
#include <string>

namespace edog::sim {

class Sha256 {
 public:
  Sha256() { Reset(); }
  void Reset();
  void Update(const uint8_t* data, size_t size);
  // Lower-case hex of the digest; the object is reset afterwards.
  std::string HexDigest();
  static std::string Hex(const uint8_t* data, size_t size);

 private:
  void Block(const uint8_t* p);
  uint32_t h_[8];
  uint8_t buf_[64];
  size_t bufLen_ = 0;
  uint64_t total_ = 0;
};

}  // namespace edog::sim
