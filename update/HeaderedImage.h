#pragma once
// The headered image: a 1024-byte header block (port, flash memory, start address, file
// size, packet count) followed by the payload. Every writer and reader of device files
// goes through this one module.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace edog {

class KeptFile;

enum class Port : uint8_t { Uart = 0, Usb = 1 };
enum FlashCode : uint8_t { kFlashE = 1, kFlashSerial = 2, kFlashNand = 3 };

constexpr uint8_t kHeaderMagic = 0x24;  // '$'
constexpr size_t kHeaderBlockSize = 1024;
constexpr size_t kHeaderFieldBytes = 15;   // what the update job reads
constexpr size_t kCommandBlockSize = 20;   // what the USB transfer sends ahead of the payload
constexpr uint32_t kNandBlockSize = 512;
constexpr uint32_t kUartPacketSize = 1024;
constexpr uint32_t kUsbPacketSize = 64;

inline uint32_t PacketSize(Port port) {
  return port == Port::Uart ? kUartPacketSize : kUsbPacketSize;
}

struct HeaderFields {
  uint8_t magic = kHeaderMagic;
  uint8_t port = 1;
  uint8_t flash = kFlashSerial;
  uint32_t startAddress = 0;
  uint32_t fileSize = 0;
  uint32_t packetCount = 0;
};

using HeaderBlock = std::array<uint8_t, kHeaderBlockSize>;

// Bytes 0..14 from the fields, bytes 15..1023 zero.
HeaderBlock BuildHeaderBlock(const HeaderFields& fields);
HeaderBlock BuildHeaderBlock(Port port, uint8_t flash, uint32_t startAddress, uint32_t fileSize,
                             uint32_t packetCount);
HeaderFields ParseHeaderFields(const uint8_t* first15);

struct SizeAndPackets {
  uint32_t fileSize = 0;
  uint32_t packetCount = 0;
};

// Header generator: the payload rounded up to whole packets of the port.
SizeAndPackets PacketRoundedSize(Port port, uint32_t payloadLength);

// Image table and voice generators. They take a byte start address from the user:
// stored unchanged for Serial flash, in 512-byte blocks for NAND flash.
uint32_t StoredStartAddress(uint8_t flash, uint32_t startByteAddress);
// `end` is the running position after the last item: a byte address for Serial flash,
// a block number for NAND flash.
SizeAndPackets TableImageSize(Port port, uint8_t flash, uint32_t startByteAddress, uint32_t end);
// Zero bytes to append after `written` payload bytes (table and items): to a multiple of
// 1024 for UART, of 64 for USB with Serial flash, none for USB with NAND flash.
uint32_t TableImageEndPadding(Port port, uint8_t flash, uint64_t written);

// Reading the first 15 bytes as the update job does.
enum class HeaderStatus { kOk, kCannotOpen, kTooShort, kBadMagic };
struct HeaderRead {
  HeaderStatus status = HeaderStatus::kCannotOpen;
  bool notRegular = false;  // kCannotOpen: a FIFO, device or folder, refused unread
  HeaderFields fields;
};
HeaderRead ReadHeaderFields(const std::string& path);
// The same from a file already open (the update job's extracted files).
HeaderRead ReadHeaderFields(const KeptFile& file);

// The five progress-list lines the update job writes for a header ("-> port: USB", ...).
std::vector<std::string> HeaderProgressLines(const HeaderFields& fields);

const char* FlashName(uint8_t flash);  // "e-flash", "Serial flash", "NAND flash"
// The byte address a header's start field names: NAND counts 512-byte blocks.
uint64_t FlashByteAddress(uint8_t flash, uint32_t startField);

}  // namespace edog
