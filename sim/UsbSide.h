#pragma once
// The device's USB side: answers the stand-in library's opens on the local socket, takes
// command blocks and payloads on "PIPE00" into the flash model, sends device text on
// "PIPE01", journals every job, and plays the configured faults. Runs one thread.
#include <memory>
#include <string>

#include "sim/FlashModel.h"
#include "sim/Journal.h"
#include "sim/Simulator.h"

namespace edog::sim {

class UsbSide {
 public:
  UsbSide(const SimulatorOptions& options, std::string socketPath, FlashModel& flash,
          Journal& journal);
  ~UsbSide();
  UsbSide(const UsbSide&) = delete;
  UsbSide& operator=(const UsbSide&) = delete;

  // Listens on the socket (refusing one that another device still answers on) and starts
  // the thread.
  bool Start(std::string* error);
  void Stop();
  bool IsRunning() const;
  void SetFaults(const FaultOptions& faults);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace edog::sim
