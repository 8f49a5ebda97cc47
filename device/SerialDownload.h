#pragma once
// Serial code download: sends one file to the device's loader over an open serial link
// with a block protocol of the XMODEM-1K family ("upgrade" CR, "C", 1029-byte blocks with
// CRC-16, ACK/NAK, EOT 0x00, "q"). Runs on its own thread and reports through an observer,
// so the main window, edogtool and the tests share this one code path.
#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "common/Clock.h"
#include "common/KeptFile.h"
#include "device/Comm.h"

namespace edog {

constexpr uint8_t kStx = 0x02, kEot = 0x04, kAck = 0x06, kNak = 0x15, kStartChar = 0x43;  // 'C'
constexpr size_t kSerialBlockData = 1024;
constexpr size_t kSerialBlockSize = kSerialBlockData + 5;  // STX, number, complement, CRC

// CRC-16/XMODEM (polynomial 0x1021, initial 0, no reflection, no final XOR), byte by
// byte without a table. "123456789" gives 0x31C3.
uint16_t Crc16Xmodem(const uint8_t* data, size_t length, uint16_t crc = 0);

using SerialBlock = std::array<uint8_t, kSerialBlockSize>;
// One block on the wire: STX, number, ~number, the data filled up with zero bytes to
// 1024, the CRC of those 1024 bytes high byte first. `length` is at most 1024.
SerialBlock BuildSerialBlock(uint8_t number, const uint8_t* data, size_t length);

// The texts of the download, as the progress list and the message box show them.
extern const char* const kFileSizeLine;       // "File Size: %u bytes"
extern const char* const kDownloadStartLine;  // "Code Download Start..."
extern const char* const kDownloadSizeLine;   // "Download Size... %u bytes"
extern const char* const kDownloadEndLine;    // "Code Download End..."
extern const char* const kDownloadErrorLine;  // "Error..."
extern const char* const kFileOpenErrorText;  // "File Open Error!"
extern const char* const kTransferDoneText;   // "File Transfer is completed!"

// Where the blocks' time went, in microseconds per block: the median and the 99th
// percentile of what was measured.
struct SerialSpread {
  uint64_t median = 0, p99 = 0;
};
struct SerialLineTiming {
  uint32_t baud = 0;       // the port's speed; 0 when unknown (no line time, no share)
  std::string port;        // the port's name, for the advice
  uint64_t blocks = 0;     // blocks answered, repeats included
  uint64_t lineUs = 0;     // one block's bits at the port's speed (10 a byte)
  uint64_t pauseUs = 0;    // the pause before each block after the device's answer
  SerialSpread answer;     // first byte written to the answer read, less the line's time
  // Answer read to the next block's first byte, less the pause: what building the block
  // (done inside the pause) and waking up cost beyond it.
  SerialSpread host;
  SerialSpread period;     // first byte of one block to the first byte of the next
  double sharePercent = 0; // the blocks' line time of the time from first byte to last answer
};
// Answers later than this (median) are not the device's own pace: an adapter holds them.
constexpr uint64_t kSlowAnswerUs = 3000;
// The summary a download ends with: the share and the split, then, when the answers are
// slow, one line with the likely cause and its fix.
std::vector<std::string> SerialTimingLines(const SerialLineTiming& timing);

// What the download reports, in the order it happens. Called on the download's thread.
class SerialDownloadObserver {
 public:
  virtual ~SerialDownloadObserver() = default;
  virtual void AppendLine(const std::string& line) = 0;  // at the end of the progress list
  virtual void DeleteLastLine() = 0;                     // the line the previous block added
  // Progress bar position; 0 at the start (the whole bar repainted), 100 at the end, and
  // in between each percent that rises above the highest shown (it may exceed 100).
  virtual void SetProgress(unsigned percent) = 0;
  // The named file could not be read (kFileOpenErrorText tells the user); may block.
  virtual void OnFileUnreadable() = 0;
  // Every block and the end were sent (kTransferDoneText tells the user); may block.
  virtual void OnTransferCompleted() = 0;
  virtual void ResumeReader() = 0;  // the link's reader may read again
  // The download has ended, whatever the outcome: the very last report.
  virtual void OnEnded() = 0;
  // The device has refused one block for about a second and the block keeps going again:
  // `text` is the notice to show, once per refused stretch (not a progress-list line).
  virtual void OnDeviceRefusing(const std::string& /*text*/) {}
  // Every block was answered and the end sent: where the blocks' time went (once, before
  // "Code Download End..."; not after a download that sent no block).
  virtual void OnLineTiming(const SerialLineTiming& /*timing*/) {}
};

// The loader's waits were counted in 1 ms sleeps, and each sleep lasted one scheduler tick
// of Windows' default timer (15.625 ms): the times below are what those counts gave the
// device, and a device made for them may need all of it.
constexpr uint32_t kSerialSleepTickUs = 15625;
constexpr uint32_t SerialPollsMs(uint32_t polls) {
  return static_cast<uint32_t>((uint64_t{polls} * kSerialSleepTickUs + 999) / 1000);
}
constexpr uint32_t kSerialStartPolls = 1002;    // polls for the device's "C"
constexpr uint32_t kSerialRefusalPolls = 3002;  // attempts the USB transfer gives one block
constexpr uint32_t kSerialStartWaitMs = SerialPollsMs(kSerialStartPolls);      // 15657
constexpr uint32_t kSerialRefusalWindowMs = SerialPollsMs(kSerialRefusalPolls);  // 46907

struct SerialDownloadOptions {
  uint32_t startWaitMs = kSerialStartWaitMs;  // for the device's "C"
  // For each ACK or NAK: a device may be busy (erasing) before it answers.
  uint32_t answerTimeoutMs = kSerialRefusalWindowMs;
  // A NAK repeats the block; one block refused without a break for this long ends the
  // download, so a device that refuses for ever cannot hold it.
  uint32_t refusalWindowMs = kSerialRefusalWindowMs;
};

enum class SerialDownloadResult {
  kDone,           // "Code Download End..."
  kNotConnected,   // the link was not open: nothing done but the update button
  kNoFile,         // empty path
  kFileOpenError,  // "File Open Error!"
  kNoStart,        // no "C": "Error..."
  kNoAnswer,       // no ACK/NAK within the time-out: "Error..."
  kRefused,        // one block refused for the whole refusal window: "Error..."
  kLineFailed,     // the line took no more bytes (a block or the EOT): "Error..."
  kCancelled,      // Cancel(): stopped between two steps, nothing more sent
  kNoThread,       // Start() could not start its thread: the progress list says why
};

// One download. Start() runs it on its own thread; Run() runs it on the caller's.
// Downloads over the same link take turns: a second one waits for the first to end.
class SerialDownload {
 public:
  SerialDownload(SerialLink& link, SerialDownloadObserver& observer, Clock& clock = SystemClock(),
                 SerialDownloadOptions options = {});
  ~SerialDownload();  // waits for the thread
  SerialDownload(const SerialDownload&) = delete;
  SerialDownload& operator=(const SerialDownload&) = delete;

  // `connected`: the main window's serial connected flag. The file is read at once, so it
  // may be removed while the download still waits for its turn or for the device.
  void Start(bool connected, const std::string& path);
  // The same for a file already open (the update job's extracted software): read through
  // its handle, so what goes is what the job checked.
  void Start(bool connected, const KeptFile& file);
  SerialDownloadResult Run(bool connected, const std::string& path);
  // Waits for a started download; its result.
  SerialDownloadResult Wait();
  // True once a started download has ended (its last report made).
  bool Finished() const { return finished_; }
  void Cancel() { cancel_ = true; }

 private:
  enum class Answer { kAck, kNak, kTimeout, kCancelled };
  // The file as it was when the download was started.
  struct FileSnapshot {
    bool named = false;     // a path was given
    bool readable = false;  // and the whole file could be read
    std::vector<uint8_t> data;
  };
  static FileSnapshot TakeSnapshot(const std::string& path);
  static FileSnapshot TakeSnapshot(const KeptFile& file);
  void StartWith(bool connected, FileSnapshot file);
  SerialDownloadResult RunWith(bool connected, const FileSnapshot& file);
  SerialDownloadResult Body(bool connected, const FileSnapshot& file);
  // Reads single bytes until `accept` (kAck) or `refuse` (kNak; -1 for none) arrives;
  // every other byte is dropped. Ends on time however much the line chatters.
  Answer AwaitByte(uint8_t accept, int refuse, uint32_t timeoutMs);
  // Drops what the line holds (bounded, so endless chatter cannot keep it here).
  void DrainInput();
  SerialDownloadResult Fail(SerialDownloadResult result);

  SerialLink& link_;
  SerialDownloadObserver& observer_;
  Clock& clock_;
  SerialDownloadOptions options_;
  std::atomic<bool> cancel_{false};
  std::atomic<bool> finished_{false};
  std::thread thread_;
  SerialDownloadResult result_ = SerialDownloadResult::kCancelled;
};

}  // namespace edog
