// The platform-free part of CComm: settings, text building, the reader's pause, and the
// order of the steps of Open and Close.
#include "device/Comm.h"

#include "common/ThreadStart.h"

#include <cstring>

#include "common/Format.h"

namespace edog {

std::string ComDeviceName(unsigned portNumber) {
  return portNumber <= 4 ? Format("COM%u", portNumber) : Format("\\\\.\\COM%u", portNumber);
}

void CComm::SetParams(uint8_t portNumber, uint32_t baudRate, uint8_t byteSize, uint8_t stopBits,
                      uint8_t parity) {
  SetParams(ComDeviceName(portNumber), baudRate, byteSize, stopBits, parity);
}

void CComm::SetParams(const std::string& portName, uint32_t baudRate, uint8_t byteSize,
                      uint8_t stopBits, uint8_t parity) {
  portName_ = portName;
  baudRate_ = baudRate;
  byteSize_ = byteSize;
  stopBits_ = stopBits;
  parity_ = parity;
}

bool CComm::IsOpen() const { return open_.load() != 0; }

int CComm::Open() {
  if (IsOpen()) return 0;  // one port per object; Close first
  openFailure_.clear();
  if (!OpenPort()) return 0;
  const int configured = Configure();
  if (!configured) {
    ClosePort();
    return 0;
  }
  {
    std::lock_guard<std::mutex> lock(ioMutex_);
    suspendCount_ = 0;
  }
  open_ = 1;
  textLength_ = 0;
  readerStartError_ = StartThread(reader_, "the serial reader", [this] { ReaderThread(); });
  if (!readerStartError_.empty()) {
    // A port nobody reads would swallow the device's answers: not open at all then.
    open_ = 0;
    ClosePort();
    return 0;
  }
  return configured;
}

int CComm::Close() {
  {
    std::lock_guard<std::mutex> lock(ioMutex_);
    open_ = 0;
  }
  resumed_.notify_all();
  WakeReader();
  if (reader_.joinable()) {
    // Closing from inside the sink's callback: the reader ends on its own once it returns.
    if (reader_.get_id() == std::this_thread::get_id())
      reader_.detach();
    else
      reader_.join();
  }
  ClosePort();
  return 1;
}

void CComm::SuspendReader() {
  {
    std::lock_guard<std::mutex> lock(ioMutex_);
    ++suspendCount_;
  }
  WakeReader();  // out of its wait for bytes, so it parks instead of draining
}

void CComm::ResumeReader() {
  {
    std::lock_guard<std::mutex> lock(ioMutex_);
    if (suspendCount_ > 0) --suspendCount_;
  }
  resumed_.notify_all();
}

bool CComm::WaitWhileSuspended() {
  std::unique_lock<std::mutex> lock(ioMutex_);
  resumed_.wait(lock, [this] { return suspendCount_ == 0 || !open_; });
  return open_ != 0;
}

int CComm::ReaderRead() {
  std::lock_guard<std::mutex> lock(ioMutex_);
  if (suspendCount_ > 0 || !open_) return 0;
  std::memset(readBuf_, 0, sizeof readBuf_);
  return Read(readBuf_, kReadBlock);
}

void CComm::PutText() { PutText(readBuf_, bytesRead_); }

void CComm::PutText(const uint8_t* data, int count) {
  int n = 0;
  for (int i = 0; i < count && i < kReadBlock; ++i) {
    if (data[i] == 0x0A) text_[n++] = 0x0D;
    text_[n++] = static_cast<char>(data[i]);
  }
  text_[n++] = 0;
  textLength_ = n;
  if (sink_) sink_->OnSerialText(*this);
  textLength_ = 0;
}

}  // namespace edog
