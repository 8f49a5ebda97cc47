#include "common/LibraryMachine.h"

#include "common/Format.h"

namespace edog {
namespace {
uint32_t Le(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}
}  // namespace

LibraryMachine PeMachine(const uint8_t* data, size_t size) {
  if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') return LibraryMachine::kUnknown;
  const uint32_t pe = Le(data + 0x3C, 4);
  if (pe > size || size - pe < 6 || Le(data + pe, 4) != 0x00004550) return LibraryMachine::kUnknown;
  switch (Le(data + pe + 4, 2)) {
    case 0x014C: return LibraryMachine::kX86;
    case 0x8664: return LibraryMachine::kX64;
    case 0xAA64: return LibraryMachine::kArm64;
    default: return LibraryMachine::kUnknown;
  }
}

std::string WrongMachineReason(LibraryMachine dll, bool program64Bit) {
  const char* program = program64Bit ? "64-bit (x64)" : "32-bit (x86)";
  switch (dll) {
    case LibraryMachine::kX86:
      return Format("it is a 32-bit DLL and this program is %s; use the 32-bit build "
                    "(edog-windows-x86) with it", program);
    case LibraryMachine::kX64:
      // The 32-bit build is the one offered for the device maker's DLLs, which are 32-bit.
      return program64Bit ? Format("it is a 64-bit DLL and this program is %s; use the 64-bit "
                                   "build (edog-windows-x64) with it", program)
                          : Format("it is a 64-bit DLL and this program is %s; put the device "
                                   "maker's 32-bit DLL in its place (a 64-bit DLL needs the "
                                   "64-bit build, edog-windows-x64)", program);
    case LibraryMachine::kArm64:
      return Format("it is an ARM64 DLL and this program is %s; no build of ours can load it",
                    program);
    case LibraryMachine::kUnknown: break;
  }
  return Format("it is not a DLL this %s program can load (bad image format)", program);
}

}  // namespace edog
