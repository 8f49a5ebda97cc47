#include "update/HeaderedImage.h"

#include "common/Bytes.h"
#include "common/FileChecks.h"
#include "common/Files.h"
#include "common/Format.h"
#include "common/KeptFile.h"

namespace edog {

HeaderBlock BuildHeaderBlock(const HeaderFields& f) {
  HeaderBlock block{};
  block[0] = f.magic;
  block[1] = f.port;
  block[2] = f.flash;
  PutLE32(&block[3], f.startAddress);
  PutLE32(&block[7], f.fileSize);
  PutLE32(&block[11], f.packetCount);
  return block;
}

HeaderBlock BuildHeaderBlock(Port port, uint8_t flash, uint32_t startAddress, uint32_t fileSize,
                             uint32_t packetCount) {
  HeaderFields f;
  f.port = static_cast<uint8_t>(port);
  f.flash = flash;
  f.startAddress = startAddress;
  f.fileSize = fileSize;
  f.packetCount = packetCount;
  return BuildHeaderBlock(f);
}

HeaderFields ParseHeaderFields(const uint8_t* p) {
  HeaderFields f;
  f.magic = p[0];
  f.port = p[1];
  f.flash = p[2];
  f.startAddress = GetLE32(p + 3);
  f.fileSize = GetLE32(p + 7);
  f.packetCount = GetLE32(p + 11);
  return f;
}

SizeAndPackets PacketRoundedSize(Port port, uint32_t payloadLength) {
  const uint32_t packet = PacketSize(port);
  SizeAndPackets s;
  s.fileSize = static_cast<uint32_t>(RoundUp(payloadLength, packet));
  s.packetCount = s.fileSize / packet;
  return s;
}

uint32_t StoredStartAddress(uint8_t flash, uint32_t startByteAddress) {
  return flash == kFlashNand ? startByteAddress >> 9 : startByteAddress;
}

SizeAndPackets TableImageSize(Port port, uint8_t flash, uint32_t startByteAddress, uint32_t end) {
  uint32_t size = flash == kFlashNand ? end * kNandBlockSize - startByteAddress
                                      : end - startByteAddress;
  if (port == Port::Uart) {
    size = static_cast<uint32_t>(RoundUp(size, kUartPacketSize));
  } else if (flash != kFlashNand) {
    size = static_cast<uint32_t>(RoundUp(size, kUsbPacketSize));
  }
  const uint32_t packet = PacketSize(port);
  SizeAndPackets s;
  s.fileSize = size;
  s.packetCount = size / packet + (size % packet ? 1 : 0);
  return s;
}

uint32_t TableImageEndPadding(Port port, uint8_t flash, uint64_t written) {
  uint32_t multiple = 0;
  if (port == Port::Uart) {
    multiple = kUartPacketSize;
  } else if (flash != kFlashNand) {
    multiple = kUsbPacketSize;
  }
  if (multiple == 0) return 0;
  const uint32_t rest = static_cast<uint32_t>(written % multiple);
  return rest ? multiple - rest : 0;
}

HeaderRead ReadHeaderFields(const std::string& path) {
  RegularOpen open;
  const KeptFile file = KeptFile::OpenRegular(path, &open);
  HeaderRead r = ReadHeaderFields(file);
  r.notRegular = open.status == RegularOpen::kNotRegular;
  return r;
}

HeaderRead ReadHeaderFields(const KeptFile& file) {
  HeaderRead r;
  if (!file.IsOpen()) return r;
  uint8_t buf[kHeaderFieldBytes];
  size_t n = 0;
  while (n < sizeof buf) {
    const size_t got = file.ReadAt(n, buf + n, sizeof buf - n);
    if (got == 0) break;
    n += got;
  }
  if (n < kHeaderFieldBytes) {
    r.status = HeaderStatus::kTooShort;
    return r;
  }
  r.fields = ParseHeaderFields(buf);
  r.status = buf[0] == kHeaderMagic ? HeaderStatus::kOk : HeaderStatus::kBadMagic;
  return r;
}

std::vector<std::string> HeaderProgressLines(const HeaderFields& f) {
  std::vector<std::string> lines;
  lines.push_back(f.port != 0 ? "-> port: USB" : "-> port: UART");
  switch (f.flash) {
    case kFlashE: lines.push_back("-> flash memory: e-flash"); break;
    case kFlashSerial: lines.push_back("-> flash memory: Serial"); break;
    case kFlashNand: lines.push_back("-> flash memory: NAND"); break;
    default: lines.push_back(Format("-> flash memory: unknown (%u)", unsigned(f.flash))); break;
  }
  const uint32_t shown = f.flash == kFlashNand ? static_cast<uint32_t>(f.startAddress << 9)
                                               : f.startAddress;
  lines.push_back(Format("-> start address: 0x%08x", shown));
  // The fields print as the device tool's 32-bit longs.
  lines.push_back(Format("-> file size: %ld", static_cast<long>(static_cast<int32_t>(f.fileSize))));
  lines.push_back(
      Format("-> packet count: %ld", static_cast<long>(static_cast<int32_t>(f.packetCount))));
  return lines;
}

const char* FlashName(uint8_t flash) {
  switch (flash) {
    case kFlashE: return "e-flash";
    case kFlashSerial: return "Serial flash";
    case kFlashNand: return "NAND flash";
    default: return "unknown flash";
  }
}

uint64_t FlashByteAddress(uint8_t flash, uint32_t startField) {
  return flash == kFlashNand ? uint64_t(startField) * kNandBlockSize : startField;
}

}  // namespace edog
