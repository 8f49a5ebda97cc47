#pragma once
// Which processor a Windows DLL is built for, read from its PE header: what the loader's
// bare "bad exe format" (error 193) leaves the user to guess. Pure, so it is tested
// everywhere.
#include <cstddef>
#include <cstdint>
#include <string>

namespace edog {

enum class LibraryMachine { kUnknown, kX86, kX64, kArm64 };

// The machine of a PE image from its first bytes (the DOS header's e_lfanew, the "PE\0\0"
// signature, the file header's machine field); kUnknown when they are not a PE image.
LibraryMachine PeMachine(const uint8_t* data, size_t size);

// Why a DLL of `dll`'s processor cannot load into this program (32- or 64-bit), and which
// of our builds to use with it.
std::string WrongMachineReason(LibraryMachine dll, bool program64Bit);

}  // namespace edog
