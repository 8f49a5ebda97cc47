// The system's serial ports from the registry key every serial driver registers its ports
// under: one value per port, its data the port's name ("COM3").
#include <windows.h>

#include "device/SerialPorts.h"

namespace edog {

std::vector<std::string> SystemSerialPorts() {
  std::vector<std::string> names;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return names;
  for (DWORD i = 0;; ++i) {
    char valueName[256];
    DWORD valueNameSize = sizeof valueName;
    char data[256];
    DWORD dataSize = sizeof data - 1;
    DWORD type = 0;
    const LONG r = RegEnumValueA(key, i, valueName, &valueNameSize, nullptr, &type,
                                 reinterpret_cast<BYTE*>(data), &dataSize);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r != ERROR_SUCCESS || type != REG_SZ) continue;
    data[dataSize] = '\0';
    if (data[0]) names.emplace_back(data);
  }
  RegCloseKey(key);
  return names;
}

}  // namespace edog
