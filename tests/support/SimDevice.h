#pragma once
// The simulated device as the update and transfer tests start it, and a package for it.
#include <cstdint>
#include <string>
#include <vector>

#include "sim/Simulator.h"
#include "update/Package.h"

namespace edog::test {

// The simulator with its USB side only, its state in `stateDir` and its socket at
// `socketPath` (empty: where the tools look for the device).
inline sim::SimulatorOptions UsbOnlyDevice(const std::string& stateDir,
                                           const std::string& socketPath = {}) {
  sim::SimulatorOptions o;
  o.stateDir = stateDir;
  o.socketPath = socketPath;
  o.serial.enabled = false;
  return o;
}

// An update package with `image` as each of its three parts, as the update job finds them;
// "" or why it could not be written.
inline std::string WriteUpdatePackage(const std::string& path, const std::vector<uint8_t>& image) {
  return WritePackage(path,
                      {{"edogvoice.hdr", image}, {"edogmap.hdr", image}, {"edogsoftware.hdr", image}},
                      KeyForMethod(kDefaultEncryptionMethod));
}

}  // namespace edog::test
