#pragma once
// The device simulator: plays the device behind the stand-in USB library. Tests start and
// stop it in-process (it runs on its own threads); the edog-sim program wraps the same
// class. Components: the flash model, the journal and the USB side; each keeps to its own
// files so further device sides can be added beside them.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/FlashModel.h"
#include "sim/Journal.h"
#include "sim/SerialLoader.h"

namespace edog::sim {

// One fault, counted in payload bytes of a download job (the command block not included).
// `afterBytes` 0 strikes as soon as a "PIPE00" pipe is opened. `forMs` 0 means for good.
struct Fault {
  bool enabled = false;
  uint64_t afterBytes = 0;
  uint32_t forMs = 0;
};

struct FaultOptions {
  Fault refuse;  // the job's pipe takes no more blocks (writes fail at once when the buffer is full)
  Fault vanish;  // the device disappears: pipes break, opens and presence probes fail
  Fault stall;   // the device hangs: takes no blocks and answers no opens (probes time out)
};

struct SimulatorOptions {
  std::string stateDir;                 // flash images and journal.jsonl; created when absent
  std::string socketPath;               // empty: DefaultDeviceSocketPath()
  uint16_t tcpPort = 0;                 // edog-sim's loopback TCP bridge (TcpBridge.h); 0 = none
  uint64_t bytesPerSecond = 0;          // emulated link speed; 0 = unlimited
  uint32_t textIntervalMs = 1000;       // period of the status lines after a text request
  std::string firmwareVersion = "1.00";
  std::string databaseVersion = "2026.12";
  FlashSizes flashSizes;                // the simulated device's memories
  FaultOptions faults;
  SerialLoaderOptions serial;           // the serial line (a pseudo-terminal) and its faults
};

class UsbSide;

class Simulator {
 public:
  explicit Simulator(SimulatorOptions options);
  ~Simulator();  // stops
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Opens the state folder and starts listening. False with a reason on failure (for
  // example another simulator already answering on the socket).
  bool Start(std::string* error = nullptr);
  // Ends open jobs (journaled as "stopped"), closes every pipe and removes the socket.
  void Stop();
  bool IsRunning() const;

  const SimulatorOptions& Options() const { return options_; }
  const std::string& SocketPath() const { return socketPath_; }
  // Replaces the fault set; takes effect for pipes opened afterwards and at the next block.
  void SetFaults(const FaultOptions& faults);

  // The serial line's path while running (also in STATE/serial-line); empty otherwise,
  // and then SerialLineError() says why when the line could not be made.
  std::string SerialLinePath() const;
  const std::string& SerialLineError() const { return serialError_; }
  void SetSerialFaults(const SerialFaults& faults);

  FlashModel& Flash() { return flash_; }
  Journal& JournalFile() { return journal_; }
  std::vector<JournalRecord> JournalRecords() const { return journal_.ReadAll(); }
  // Waits until `count` records have been journaled since Start.
  bool WaitForJournal(size_t count, uint32_t timeoutMs) const {
    return journal_.WaitForAppended(count, timeoutMs);
  }
  std::vector<uint8_t> ReadFlash(uint8_t flash, uint64_t byteAddress, size_t size) const {
    return flash_.Read(flash, byteAddress, size);
  }

 private:
  SimulatorOptions options_;
  std::string socketPath_;
  FlashModel flash_;
  Journal journal_;
  std::unique_ptr<UsbSide> usb_;
  std::unique_ptr<SerialLoader> serial_;
  std::string serialError_;
};

}  // namespace edog::sim
