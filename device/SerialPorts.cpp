#include "device/SerialPorts.h"

#include <libserialport.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace edog {

std::vector<std::string> SystemSerialPorts() {
  std::vector<std::string> names;
  sp_port** ports = nullptr;
  if (sp_list_ports(&ports) != SP_OK) return names;
  for (sp_port** p = ports; *p; ++p) {
    if (const char* name = sp_get_port_name(*p)) names.emplace_back(name);
  }
  sp_free_port_list(ports);
  return names;
}

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

int PortNumberFromName(const std::string& name) {
  return name.size() > 3 ? std::atoi(name.c_str() + 3) : 0;
}

}  // namespace edog
