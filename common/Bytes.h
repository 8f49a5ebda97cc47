#pragma once
// Byte helpers for the device's file formats: byte order (headers little-endian, tables
// big-endian) and padding up to a block size.
#include <cstdint>

namespace edog {

inline uint32_t GetLE32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t GetLE16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline void PutLE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
inline void PutLE16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void PutBE16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
inline void PutBE24(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 16);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v);
}
inline void PutBE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

// `value` rounded up to a whole number of `multiple`s.
inline uint64_t RoundUp(uint64_t value, uint64_t multiple) {
  const uint64_t rest = value % multiple;
  return rest ? value + (multiple - rest) : value;
}

}  // namespace edog
