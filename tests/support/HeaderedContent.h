#pragma once
// A headered image made in the test: random payload padded as the writers pad it for the
// port, behind its header block; `payload` is what must land in the device's flash.
#include <cstdint>
#include <vector>

#include "support/TestSupport.h"
#include "update/HeaderedImage.h"

namespace edog::test {

struct HeaderedContent {
  std::vector<uint8_t> file;
  std::vector<uint8_t> payload;
};

inline HeaderedContent MakeHeaderedContent(Port port, uint8_t flash, uint32_t address,
                                           size_t length, uint32_t seed) {
  HeaderedContent c;
  c.payload = RandomBytes(length, seed);
  const auto s = PacketRoundedSize(port, static_cast<uint32_t>(length));
  c.payload.resize(s.fileSize, 0);
  const HeaderBlock h = BuildHeaderBlock(port, flash, address, s.fileSize, s.packetCount);
  c.file.assign(h.begin(), h.end());
  c.file.insert(c.file.end(), c.payload.begin(), c.payload.end());
  return c;
}

}  // namespace edog::test
