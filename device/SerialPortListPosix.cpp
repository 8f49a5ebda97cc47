#include <libserialport.h>

#include "device/SerialPorts.h"

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

}  // namespace edog
