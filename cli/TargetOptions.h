#pragma once
// The target choices of the image table and voice generators: start byte address, flash
// memory and port, with the dialogs' defaults (0, Serial, USB).
#include <cstdint>
#include <string>

#include "cli/Args.h"
#include "update/HeaderedImage.h"

namespace edog::cli {

struct TargetOptions {
  std::string addressText = "0", flashText = "serial", portText = "usb";
  uint32_t address = 0;
  uint8_t flash = kFlashSerial;
  Port port = Port::Usb;

  // Registers --address, --flash and --port.
  void AddTo(Args& args);
  // Fills the values; an empty string on success, else the usage error to show.
  std::string Parse();
};

}  // namespace edog::cli
