#pragma once
// The serial link: one port opened for non-blocking I/O, a reader thread that turns the
// received bytes into text for the status monitor, and the non-blocking read and the write
// that the serial code download uses directly while the reader is suspended.
//
// One class, one file per OS behind it (CommPosix.cpp over termios + poll(),
// CommWin32.cpp over the overlapped COM API).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace edog {

class CComm;

// Receives each block the reader thread takes from the port. Called on the reader thread,
// synchronously: the text stays unchanged until the call returns. A sink that hands the
// text to another thread and waits for it must not wait on the thread that calls Close
// (Close joins the reader).
class CommNotifySink {
 public:
  virtual ~CommNotifySink() = default;
  // comm.Text() holds TextLength() bytes: the block with LF turned into CR LF and a
  // terminating zero, which the length counts.
  virtual void OnSerialText(const CComm& comm) = 0;
  // The reader could not start its wait ("Failed to create event for thread!",
  // caption "comm Error!"); the port stays open but nothing is received.
  virtual void OnReaderFailed(const char* /*text*/, const char* /*caption*/) {}
};

// What the serial code download needs of a port: the same calls as CComm, so a test or a
// tracing wrapper can stand between them.
class SerialLink {
 public:
  virtual ~SerialLink() = default;
  // Sends all bytes; 1 when they went out, 0 when the port failed or stayed full.
  virtual int Write(const void* data, size_t length) = 0;
  // Takes at most `maxCount` of the bytes already waiting; never waits. 0 when none.
  virtual int Read(void* buffer, int maxCount) = 0;
  // Waits up to `ms` for a byte to arrive; true when one is waiting.
  virtual bool WaitReadable(uint32_t ms) = 0;
  // The port's speed in baud, for the download's account of the line; 0 when unknown.
  virtual uint32_t LineBaud() const { return 0; }
  // The port's name as the user knows it (a device path), for advice; empty when none.
  virtual std::string LineName() const { return {}; }
  // A download asks the port to hand on received bytes at once (a USB adapter otherwise
  // holds them for its latency timer) and gives the old setting back at its end. A port
  // or driver that cannot do it keeps its setting, silently.
  virtual void HoldLowLatency(bool /*on*/) {}

  // Downloads over one link take turns: each holds the turn for its whole run.
  // Take waits for it and gives up (false) once `cancel` is set.
  bool TakeDownloadTurn(const std::atomic<bool>& cancel) {
    std::unique_lock<std::mutex> lock(turnMutex_);
    while (turnTaken_) {
      if (cancel) return false;
      turnFree_.wait_for(lock, std::chrono::milliseconds(50));
    }
    turnTaken_ = true;
    return true;
  }
  void GiveDownloadTurn() {
    {
      std::lock_guard<std::mutex> lock(turnMutex_);
      turnTaken_ = false;
    }
    turnFree_.notify_all();
  }

 private:
  std::mutex turnMutex_;
  std::condition_variable turnFree_;
  bool turnTaken_ = false;
};

// DCB codes the settings use.
constexpr uint8_t kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2;
constexpr uint8_t kNoParity = 0, kOddParity = 1, kEvenParity = 2, kMarkParity = 3,
                  kSpaceParity = 4;

// The Windows device name of COM port n: "COM%d" up to 4, "\\.\COM%d" above.
std::string ComDeviceName(unsigned portNumber);

class CComm final : public SerialLink {
 public:
  static constexpr int kReadBlock = 80;                      // bytes per reader read
  static constexpr int kTextCapacity = 2 * kReadBlock + 1;   // every LF doubled + zero
  static constexpr uint32_t kQueueSize = 4096;               // driver queues each way
  static constexpr uint32_t kWriteTimeoutMs = 1000;          // a write that makes no progress

  CComm();
  ~CComm() override;
  CComm(const CComm&) = delete;
  CComm& operator=(const CComm&) = delete;

  // Port by number (Windows names, see ComDeviceName) or by device name/path.
  void SetParams(uint8_t portNumber, uint32_t baudRate, uint8_t byteSize, uint8_t stopBits,
                 uint8_t parity);
  void SetParams(const std::string& portName, uint32_t baudRate, uint8_t byteSize,
                 uint8_t stopBits, uint8_t parity);
  void SetNotifyWnd(CommNotifySink* sink) { sink_ = sink; }
  // Prepares what the reader's wait and Close's wake-up use. 1 on success, 0 on failure.
  int CreateEvents();
  // Opens, sets up and configures the port and starts the reader; nonzero on success.
  // When the reader's thread cannot start, the port is closed again and
  // ReaderStartError() says why.
  int Open();
  const std::string& ReaderStartError() const { return readerStartError_; }
  // Applies the stored settings to the open port; nonzero on success.
  int Configure();
  int Read(void* buffer, int maxCount) override;
  int Write(const void* data, size_t length) override;
  bool WaitReadable(uint32_t ms) override;
  uint32_t LineBaud() const override { return baudRate_; }
  std::string LineName() const override { return portName_; }
  // Linux: the driver's low-latency flag (what `setserial low_latency` sets); the old flags
  // come back with HoldLowLatency(false) or Close. Elsewhere nothing can be set.
  void HoldLowLatency(bool on) override;
  // What the last request for low latency found.
  enum class LowLatency { kNotAsked, kRefused, kGranted, kAlreadyOn };
  LowLatency LowLatencyState() const { return lowLatency_; }
  // Stops the reader, drops DTR, purges the queues and closes the port. Returns 1.
  int Close();
  // Builds the text from the last block read and hands it to the notify sink.
  void PutText();

  // The reader's pause: while suspended it takes no byte from the port, so the download
  // can read it. Counted like a thread's suspend count; Suspend returns once no reader
  // read is in progress.
  void SuspendReader();
  void ResumeReader();

  bool IsOpen() const;
  // Why the last Open failed, for the user (no permission, port in use); empty when the
  // reason has no words of its own.
  const std::string& OpenFailure() const { return openFailure_; }
  const std::string& PortName() const { return portName_; }
  uint32_t BaudRate() const { return baudRate_; }
  const char* Text() const { return text_; }
  int TextLength() const { return textLength_; }

 private:
  struct Os;  // the platform's handles, defined by CommPosix.cpp / CommWin32.cpp

  void ReaderThread();
  // Blocks while the reader is suspended; false once the port is closing.
  bool WaitWhileSuspended();
  // Takes one block for the reader unless it is suspended; the count read (0: none).
  int ReaderRead();
  void PutText(const uint8_t* data, int count);
  void WakeReader();
  bool OpenPort();      // the platform part of Open, up to and excluding Configure
  void ClosePort();     // the platform part of Close after the reader has stopped

  std::unique_ptr<Os> os_;
  std::atomic<int> open_{0};
  char text_[kTextCapacity] = {};
  int textLength_ = 0;
  CommNotifySink* sink_ = nullptr;
  std::string portName_;
  std::string openFailure_;
  uint8_t byteSize_ = 8, parity_ = kNoParity, stopBits_ = kOneStopBit;
  uint32_t baudRate_ = 115200;
  uint8_t readBuf_[kReadBlock] = {};
  int bytesRead_ = 0;
  LowLatency lowLatency_ = LowLatency::kNotAsked;

  std::thread reader_;
  std::string readerStartError_;
  std::mutex ioMutex_;  // a reader read and a suspend never overlap
  std::condition_variable resumed_;
  int suspendCount_ = 0;
};

}  // namespace edog
