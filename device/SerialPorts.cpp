#include "device/SerialPorts.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "common/Files.h"
#include "device/DeviceSocketTrust.h"

namespace edog {

void SortPortNames(std::vector<std::string>& names) {
  std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
          return std::tolower(static_cast<unsigned char>(x)) <
                 std::tolower(static_cast<unsigned char>(y));
        });
  });
}

std::vector<std::string> ListSerialPorts(const std::vector<std::string>& extra) {
  std::vector<std::string> names = SystemSerialPorts();
  for (const auto& e : extra)
    if (!e.empty() && std::find(names.begin(), names.end(), e) == names.end()) names.push_back(e);
  SortPortNames(names);
  return names;
}

std::optional<std::string> AnnouncedSerialLine(const std::string& stateDir) {
  if (stateDir.empty()) return std::nullopt;
  // Only the user's own simulator may name a port: a line planted by another user would
  // send the user's images to a terminal of his.
  const std::string file = JoinPath(stateDir, kSerialLineFile);
  if (!StateFolderProblem(stateDir).empty() || !StateFileProblem(file).empty()) return std::nullopt;
  const auto text = ReadWholeFile(file);
  if (!text) return std::nullopt;
  std::string path(text->begin(), text->end());
  while (!path.empty() && (path.back() == '\n' || path.back() == '\r' || path.back() == ' '))
    path.pop_back();
  // A line left behind by a simulator that did not stop cleanly names nothing any more.
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_character_file(path, ec)) return std::nullopt;
  return path;
}

std::string DefaultSimulatorStateDir() {
  const char* env = std::getenv("EDOG_SIM_STATE");
  return env && *env ? env : "edog-sim-state";
}

std::vector<std::string> ComPortBoxEntries(const std::string& simStateDir) {
  std::vector<std::string> extra;
  if (auto line = AnnouncedSerialLine(simStateDir)) extra.push_back(*line);
  return ListSerialPorts(extra);
}

int PortNumberFromName(const std::string& name) {
  return name.size() > 3 ? std::atoi(name.c_str() + 3) : 0;
}

std::string SerialPermissionText(const std::string& port, const std::string& group) {
  if (group.empty())
    return "permission denied: you may not open " + port +
           "; ask for read and write access to it";
  return "permission denied: " + port + " belongs to group " + group +
         ", which you are not a member of; add yourself with \"sudo usermod -aG " + group +
         " $USER\" and log in again";
}

}  // namespace edog
