#pragma once
// The device's three flash memories, kept as image files in the simulator's state folder:
// e-flash, Serial flash and NAND flash (sparse files). Unwritten bytes read as 0.
// Addresses here are byte addresses; ByteAddress turns a header's NAND block number into
// one. The sizes are the simulated device's own: the tool never learns them, it only
// hears whether a download was stored.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "update/HeaderedImage.h"

namespace edog::sim {

struct FlashSizes {
  uint64_t eflash = 64 * 1024;
  uint64_t serial = 16 * 1024 * 1024;
  uint64_t nand = 128ull * 1024 * 1024;
};

class FlashModel {
 public:
  explicit FlashModel(std::string stateDir, FlashSizes sizes = {})
      : dir_(std::move(stateDir)), sizes_(sizes) {}
  ~FlashModel();
  FlashModel(const FlashModel&) = delete;
  FlashModel& operator=(const FlashModel&) = delete;

  // Creates the state folder and the three image files, each at least its memory's size
  // (existing contents are kept).
  bool Open(std::string* error);
  void Close();

  // Capacity of a flash memory (codes 1 e-flash, 2 Serial, 3 NAND); 0 for an unknown code.
  uint64_t Capacity(uint8_t flash) const;
  // The byte address of a header's start address field: NAND counts 512-byte blocks.
  static uint64_t ByteAddress(uint8_t flash, uint32_t startField);
  static const char* Name(uint8_t flash);  // "e-flash", "Serial flash", "NAND flash"

  // Writes what fits below the capacity; returns the number of bytes written.
  size_t Write(uint8_t flash, uint64_t byteAddress, const uint8_t* data, size_t size);
  std::vector<uint8_t> Read(uint8_t flash, uint64_t byteAddress, size_t size) const;
  std::string FilePath(uint8_t flash) const;

 private:
  int Fd(uint8_t flash) const;
  std::string dir_;
  FlashSizes sizes_;
  int fds_[3] = {-1, -1, -1};
  mutable std::mutex mutex_;
};

}  // namespace edog::sim
