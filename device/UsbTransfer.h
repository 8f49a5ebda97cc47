#pragma once
// The USB transfer of one headered image: the 20-byte command block, then the payload in
// blocks of at most 2048 bytes on "PIPE00", with the status window's five reports (count
// text, speed text, percent, info text, label) in their order and wording. The window, the
// CLI and the tests all drive this one code path through UsbTransferObserver.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/Clock.h"
#include "common/Files.h"
#include "common/KeptFile.h"
#include "device/UsbLibrary.h"
#include "common/Result.h"
#include "device/UsbTransferTurns.h"

namespace edog {

constexpr const char* kCantOpenUsbDevice = "Can't open USB device.\n";
constexpr const char* kUsbErrorCaption = "Error";
constexpr uint32_t kUsbTxBlockSize = 2048;
constexpr uint32_t kUsbWriteAttempts = 3002;
constexpr uint32_t kCommandRetrySleepMs = 5;
constexpr uint32_t kPayloadRetrySleepMs = 1;
// A refused block is tried kUsbWriteAttempts times and for at least this long: the attempts
// were counted in sleeps of one timer tick (15.625 ms), and a device busy with its flash
// is owed that whole time however fine the tick here.
constexpr uint32_t kUsbRetryWindowMs = (kUsbWriteAttempts * 15625 + 999) / 1000;
// Retries of one block last most of a minute: after this long of consecutive refusals the
// front ends say once that the device is refusing.
constexpr uint32_t kRefusingNoticeAfterMs = 1000;
// While a block is refused, whether the library's presence probe still finds the device is
// asked this often, until it misses once (a hint for the user, never a verdict).
constexpr uint32_t kPresenceProbeMs = 1000;
extern const char* const kDeviceRefusingText;
extern const char* const kPresenceProbeMissedText;
// The libusb library's word for a block the device took only in part.
extern const char* const kPartBlockText;

enum class UsbWriteKind { kCommandBlock, kPayload };

struct UsbTransferResult {
  enum Outcome { kCompleted, kAborted, kCancelled };
  Outcome outcome = kCompleted;
  bool commandBlockAccepted = false;
  uint32_t payloadSize = 0;
  uint32_t sent = 0;        // payload bytes the device accepted (a part block's part included)
  bool stored = false;      // at the end the device confirmed it stored everything sent
  bool deviceGone = false;  // aborted because the device went away or stopped answering
  bool partBlock = false;   // aborted because the device took only part of a block
  bool fileReadFailed = false;  // aborted because the file could not be read on
  uint32_t percent = 0;     // last reported percentage (can exceed 100 for small payloads)
  uint32_t elapsedMs = 0;
  uint32_t rateKBs = 0;     // as shown in the summary line
};

// Whether the device took the whole file: the transfer completed, the command block was
// accepted (a payload sent without it is not stored as the header says), every payload
// byte went, and the device confirmed at the end that it stored them (a write only hands a
// block over; a device that goes while bytes are on their way has not stored them). Only
// then may a front end report the content as updated.
bool DeviceTookWholeFile(const UsbTransferResult& result);

class UsbTransferObserver {
 public:
  virtual ~UsbTransferObserver() = default;
  // The status window's reports (WM_USER+1 wParam 1..5).
  virtual void OnCountText(const std::string& /*text*/) {}
  virtual void OnSpeedText(const std::string& /*text*/) {}
  virtual void OnPercent(uint32_t /*percent*/) {}
  virtual void OnInfoText(const std::string& /*text*/) {}
  virtual void OnLabel(const std::string& /*label*/) {}
  // The device has refused one block for kRefusingNoticeAfterMs; the retries go on.
  virtual void OnDeviceRefusing(const std::string& /*text*/) {}
  // While a block is refused, the presence probe found no device; the retries go on.
  virtual void OnPresenceProbeMissed(const std::string& /*text*/) {}
  // Every write on the pipe and whether the device took it (for tracing).
  virtual void OnWrite(UsbWriteKind /*kind*/, uint32_t /*offset*/, uint32_t /*size*/,
                       uint32_t /*attempt*/, bool /*accepted*/) {}
  // The end notification, after the buffer and the pipe are released (the main window
  // enables its update button again).
  virtual void OnFinished(const UsbTransferResult& /*result*/) {}
  // The final percent is exactly 100 (the status window closes itself).
  virtual void OnFullPercent() {}
};

// What one transfer owns: its own handle on the file (read one block at a time, so the
// memory used does not grow with the file), the file's length at the setup, and the pipe.
struct UsbTransferJob {
  KeptFile file;
  uint64_t size = 0;
  std::unique_ptr<UsbBlockSink> pipe;
  std::string label;
};

enum class UsbSetupStatus { kReady, kNoDevice, kCannotRead, kTooShort, kTooLarge, kNotRegular };

// The status window's initialisation: opens "PIPE00" through the library, then the file.
// A file shorter than the 1024-byte header block is refused (kTooShort), as is one whose
// payload the transfer's 32-bit count cannot hold (kTooLarge), anything but a regular file
// (a device or pipe never ends: kNotRegular) and one whose command block cannot be read.
// The header's fields are the device's to judge. On any failure the pipe is closed again
// at once. The message is the text to show for a failed setup (UsbSetupMessage).
Result<UsbSetupStatus> PrepareUsbTransfer(const std::string& path, const std::string& label,
                                          UsbTransferJob& job,
                                          const std::string& library = USB_LIBRARY_NAME);
// The same for a file already open (the update job's extracted files): read through a
// handle of its own on the same file, never by its name, so the bytes sent are those the
// job checked, and the transfer reads on when the job has let its files go.
Result<UsbSetupStatus> PrepareUsbTransfer(const KeptFile& file, const std::string& label,
                                          UsbTransferJob& job,
                                          const std::string& library = USB_LIBRARY_NAME);
// The text to show for a failed setup ("Can't open USB device.\n" for kNoDevice).
std::string UsbSetupMessage(UsbSetupStatus status, const std::string& path);

// What the status window says when the device stopped taking the payload (a block refused
// every time): how much it took, and that Esc or Enter closes the window.
std::string UsbStoppedText(const UsbTransferResult& result);

// The info line for a header: byte 2 (flash memory) 2 gives the Serial wording, 3 the NAND
// wording; anything else gives none (empty).
std::string UsbInfoLine(const uint8_t* header);
// The closing summary's rate in KB/s. A transfer that took 0 ms counts as 1 ms.
uint32_t UsbSummaryRate(uint32_t payloadSize, uint32_t elapsedMs);

// The command block (the file's first 20 bytes) into `block`; false when it cannot be read.
bool ReadCommandBlock(const UsbTransferJob& job, uint8_t* block);

// The transfer worker's body, run on the calling thread. `cancel` equal to 1 stops it
// after the current block, or at once while a block is being retried. Releases the job's
// file and pipe before OnFinished.
UsbTransferResult RunUsbTransfer(UsbTransferJob job, const std::atomic<int>& cancel,
                                 UsbTransferObserver& observer, Clock& clock);

// One transfer on its own worker thread. Transfers sharing `turns` run one after another in
// the order they were started. The worker shares the observer and the clock (null: the
// system clock), so it may outlive whoever made it.
class UsbTransferWorker {
 public:
  UsbTransferWorker(UsbTransferTurns& turns, UsbTransferJob job,
                    std::shared_ptr<UsbTransferObserver> observer,
                    std::shared_ptr<Clock> clock = nullptr);
  // A worker still running is cancelled and its thread handed to the turns, which join it.
  ~UsbTransferWorker();
  UsbTransferWorker(const UsbTransferWorker&) = delete;
  UsbTransferWorker& operator=(const UsbTransferWorker&) = delete;

  // Starts the thread, then reports the label (the window's last initialisation steps).
  // False when no thread could start: the transfer has ended aborted then, reported as
  // OnInfoText(StartError()) and OnFinished, and Wait returns at once.
  bool Start();
  const std::string& StartError() const;
  // Sets the cancel flag (the window being destroyed).
  void Cancel();
  // Waits for the worker to end; its result.
  UsbTransferResult Wait();
  bool Finished() const;

 private:
  struct State;
  UsbTransferTurns& turns_;
  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace edog
