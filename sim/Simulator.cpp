#include "sim/Simulator.h"

#include <fcntl.h>

#include "common/Files.h"
#include "common/UniqueFd.h"
#include "device/DeviceSocket.h"
#include "sim/StateFiles.h"
#include "sim/UsbSide.h"

namespace edog::sim {

Simulator::Simulator(SimulatorOptions options)
    : options_(std::move(options)),
      socketPath_(options_.socketPath.empty() ? DefaultDeviceSocketPath() : options_.socketPath),
      flash_(options_.stateDir, options_.flashSizes),
      journal_(JoinPath(options_.stateDir, Journal::kFileName)) {}

Simulator::~Simulator() { Stop(); }

bool Simulator::Start(std::string* error) {
  if (IsRunning()) return true;
  if (options_.stateDir.empty()) {
    if (error) *error = "no state folder given";
    return false;
  }
  if (!flash_.Open(error)) return false;
  // The journal is checked now, so that a link or pipe at its name stops the start.
  if (const UniqueFd journal(OpenStateFile(JoinPath(options_.stateDir, Journal::kFileName),
                                           O_WRONLY | O_APPEND, error));
      !journal.IsValid()) {
    flash_.Close();
    return false;
  }
  usb_ = std::make_unique<UsbSide>(options_, socketPath_, flash_, journal_);
  if (!usb_->Start(error)) {
    usb_.reset();
    flash_.Close();
    return false;
  }
  if (options_.serial.enabled) {
    serial_ = std::make_unique<SerialLoader>(options_.serial, options_.firmwareVersion,
                                             options_.databaseVersion, flash_, journal_);
    // The USB side works without the serial line (a machine without pseudo-terminals).
    serialError_.clear();
    if (!serial_->Start(options_.stateDir, &serialError_)) serial_.reset();
  }
  return true;
}

void Simulator::Stop() {
  if (serial_) {
    serial_->Stop();
    serial_.reset();
  }
  if (usb_) {
    usb_->Stop();
    usb_.reset();
  }
  // The flash images stay open so tests can still read what the device holds.
}

bool Simulator::IsRunning() const { return usb_ && usb_->IsRunning(); }

std::string Simulator::SerialLinePath() const {
  return serial_ && serial_->IsRunning() ? serial_->LinePath() : std::string();
}

void Simulator::SetSerialFaults(const SerialFaults& faults) {
  options_.serial.faults = faults;
  if (serial_) serial_->SetFaults(faults);
}

void Simulator::SetFaults(const FaultOptions& faults) {
  options_.faults = faults;
  if (usb_) usb_->SetFaults(faults);
}

}  // namespace edog::sim
