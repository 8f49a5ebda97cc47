// The Windows stand-in reaches the simulator over loopback TCP, not over a socket file, so
// there is no socket file or folder to check here.
#include "device/DeviceSocketTrust.h"

namespace edog {

std::string DeviceSocketFolderProblem(const std::string&) { return {}; }
std::string DeviceSocketPathProblem(const std::string&) { return {}; }
std::string DeviceSocketPeerProblem(int, const std::string&) { return {}; }
std::string DeviceSocketRefusal(const std::string&) { return {}; }
std::string PrepareDeviceSocketFolder(const std::string&) { return {}; }
// The state folder is the Linux simulator's; a Windows program only reads its token file.
std::string StateFolderProblem(const std::string&) { return {}; }
std::string StateFileProblem(const std::string&) { return {}; }

}  // namespace edog
