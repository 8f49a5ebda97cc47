#include "cli/TargetOptions.h"

namespace edog::cli {

void TargetOptions::AddTo(Args& args) {
  args.Option("-a,--address", &addressText, "HEX", "start byte address in the flash (default 0)");
  args.Option("--flash", &flashText, "serial|nand", "target flash memory (default serial)");
  args.Option("--port", &portText, "usb|uart", "port the file travels over (default usb)");
}

std::string TargetOptions::Parse() {
  if (!ParseHex(addressText, address))
    return "--address takes a hexadecimal number of at most 32 bits";
  if (flashText == "serial") {
    flash = kFlashSerial;
  } else if (flashText == "nand") {
    flash = kFlashNand;
  } else {
    return "--flash takes serial or nand";
  }
  if (portText == "usb") {
    port = Port::Usb;
  } else if (portText == "uart") {
    port = Port::Uart;
  } else {
    return "--port takes usb or uart";
  }
  return {};
}

}  // namespace edog::cli
