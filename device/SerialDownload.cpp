#include "device/SerialDownload.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>

#include "common/Files.h"
#include "common/ThreadStart.h"
#include "common/Format.h"
#include "common/TimerResolution.h"
#include "device/UsbTransfer.h"  // the refusing notice, shared with the USB transfer

namespace edog {

const char* const kFileSizeLine = "File Size: %u bytes";
const char* const kDownloadStartLine = "Code Download Start...";
const char* const kDownloadSizeLine = "Download Size... %u bytes";
const char* const kDownloadEndLine = "Code Download End...";
const char* const kDownloadErrorLine = "Error...";
const char* const kFileOpenErrorText = "File Open Error!";
const char* const kTransferDoneText = "File Transfer is completed!";

namespace {
constexpr uint8_t kUpgradeCommand[] = {'u', 'p', 'g', 'r', 'a', 'd', 'e', 0x0D};
constexpr uint8_t kEndOfFile[] = {kEot, 0x00};
constexpr uint8_t kQuit = 'q';
constexpr uint32_t kBeforeFirstBlockMs = 700;  // the loader needs it after its "C"
constexpr uint32_t kAfterStartMs = 100;
constexpr uint32_t kBeforeQuitMs = 500;
constexpr uint32_t kProgressPerBlock = 102400;  // 1024 bytes x 100 percent
constexpr uint32_t kWaitSliceMs = 50;  // how often a wait looks at Cancel
constexpr uint64_t kBlockPauseUs = 1000;  // from the device's answer to the next block
// The largest file the protocol's 32-bit byte counters can describe; the device decides
// what it takes, so nothing smaller bounds the file.
constexpr uint64_t kLargestFile = 0xFFFFFFFFu;
// What one drain takes at most: a driver queue's worth, so a line that chatters without
// end cannot hold the download there.
constexpr int kDrainLimit = 4096;
}  // namespace

uint16_t Crc16Xmodem(const uint8_t* data, size_t length, uint16_t crc) {
  for (size_t i = 0; i < length; ++i) {
    crc = static_cast<uint16_t>((crc >> 8) | (crc << 8));
    crc ^= data[i];
    crc ^= static_cast<uint16_t>((crc & 0xFF) >> 4);
    crc ^= static_cast<uint16_t>(crc << 12);
    crc ^= static_cast<uint16_t>((crc & 0xFF) << 5);
  }
  return crc;
}

SerialBlock BuildSerialBlock(uint8_t number, const uint8_t* data, size_t length) {
  SerialBlock block{};
  block[0] = kStx;
  block[1] = number;
  block[2] = static_cast<uint8_t>(~number);
  length = std::min(length, kSerialBlockData);
  if (length) std::memcpy(&block[3], data, length);
  const uint16_t crc = Crc16Xmodem(&block[3], kSerialBlockData);
  block[3 + kSerialBlockData] = static_cast<uint8_t>(crc >> 8);
  block[4 + kSerialBlockData] = static_cast<uint8_t>(crc);
  return block;
}

namespace {

// Nearest rank; `v` is sorted here.
SerialSpread Spread(std::vector<uint64_t>& v) {
  SerialSpread s;
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  s.median = v[(v.size() - 1) / 2];
  s.p99 = v[(v.size() * 99 + 99) / 100 - 1];
  return s;
}

std::string Ms(uint64_t us) { return Format("%.2f", static_cast<double>(us) / 1000); }
std::string FineMs(uint64_t us) { return Format("%.3f", static_cast<double>(us) / 1000); }

// The adapter's name for the advice: the port's own when it is a USB adapter's.
std::string AdapterName(const std::string& port) {
  const size_t slash = port.find_last_of("/\\");
  const std::string base = slash == std::string::npos ? port : port.substr(slash + 1);
#ifdef _WIN32
  return base.rfind("COM", 0) == 0 ? base : "COMn";
#else
  return base.rfind("ttyUSB", 0) == 0 ? base : "ttyUSBn";
#endif
}

}  // namespace

std::vector<std::string> SerialTimingLines(const SerialLineTiming& t) {
  std::vector<std::string> lines;
  std::string head = "Serial line: ";
  if (t.baud) head += Format("%.1f %% of %u baud used, ", t.sharePercent, t.baud);
  head += Format("%llu blocks, per block %s ms (median), %s ms (99th percentile)",
                 static_cast<unsigned long long>(t.blocks), Ms(t.period.median).c_str(),
                 Ms(t.period.p99).c_str());
  lines.push_back(head);
  lines.push_back(Format("  line %s ms, pause %s ms, device's answer %s / %s ms, host %s / %s ms "
                         "(median / 99th percentile)",
                         Ms(t.lineUs).c_str(), Ms(t.pauseUs).c_str(), Ms(t.answer.median).c_str(),
                         Ms(t.answer.p99).c_str(), FineMs(t.host.median).c_str(),
                         FineMs(t.host.p99).c_str()));
  if (t.answer.median > kSlowAnswerUs) {
    const std::string name = AdapterName(t.port);
#ifdef _WIN32
    lines.push_back(Format("  The device's answers come %s ms late: most likely a USB serial "
                           "adapter's latency timer (16 ms by default). Fix: Device Manager, %s, "
                           "Port Settings, Advanced, Latency Timer (msec): 1.",
                           Ms(t.answer.median).c_str(), name.c_str()));
#else
    lines.push_back(Format("  The device's answers come %s ms late: most likely a USB serial "
                           "adapter's latency timer (16 ms by default). Fix: setserial /dev/%s "
                           "low_latency, or write 1 to "
                           "/sys/bus/usb-serial/devices/%s/latency_timer (as root).",
                           Ms(t.answer.median).c_str(), name.c_str(), name.c_str()));
#endif
  }
  return lines;
}

SerialDownload::SerialDownload(SerialLink& link, SerialDownloadObserver& observer, Clock& clock,
                               SerialDownloadOptions options)
    : link_(link), observer_(observer), clock_(clock), options_(options) {}

SerialDownload::~SerialDownload() {
  if (thread_.joinable()) thread_.join();
}

void SerialDownload::Start(bool connected, const std::string& path) {
  // The file is taken now, on the caller's thread: the update job removes its extracted
  // files as soon as it has started the download.
  StartWith(connected, TakeSnapshot(path));
}

void SerialDownload::Start(bool connected, const KeptFile& file) {
  StartWith(connected, TakeSnapshot(file));
}

void SerialDownload::StartWith(bool connected, FileSnapshot snapshot) {
  if (thread_.joinable()) thread_.join();
  cancel_ = false;
  finished_ = false;
  auto file = std::make_shared<FileSnapshot>(std::move(snapshot));
  const std::string error = StartThread(thread_, "the serial download", [this, connected, file] {
    result_ = RunWith(connected, *file);
    finished_ = true;
  });
  if (!error.empty()) {
    // Ends as a failed download does, so the reader resumes and the button comes back.
    observer_.AppendLine(error);
    if (connected) observer_.ResumeReader();
    observer_.OnEnded();
    result_ = SerialDownloadResult::kNoThread;
    finished_ = true;
  }
}

SerialDownloadResult SerialDownload::Wait() {
  if (thread_.joinable()) thread_.join();
  return result_;
}

SerialDownload::FileSnapshot SerialDownload::TakeSnapshot(const std::string& path) {
  if (path.empty()) return {};
  // Only a regular file: a FIFO or device chosen by mistake would block or never end.
  FileSnapshot snapshot = TakeSnapshot(KeptFile::OpenRegular(path));
  snapshot.named = true;
  return snapshot;
}

SerialDownload::FileSnapshot SerialDownload::TakeSnapshot(const KeptFile& file) {
  FileSnapshot snapshot;
  snapshot.named = true;
  try {
    BoundedRead read = file.ReadAll(kLargestFile);
    if (read.status == BoundedRead::kOk) {
      snapshot.readable = true;
      snapshot.data = std::move(read.data);
    }
  } catch (const std::bad_alloc&) {
    // Too large to hold in memory: "File Open Error!", as for a file that cannot be read.
  } catch (const std::length_error&) {
  }
  return snapshot;
}

SerialDownloadResult SerialDownload::Run(bool connected, const std::string& path) {
  return RunWith(connected, TakeSnapshot(path));
}

SerialDownloadResult SerialDownload::RunWith(bool connected, const FileSnapshot& file) {
  // Take our turn on the link; a cancel while waiting for it ends quietly.
  if (!link_.TakeDownloadTurn(cancel_)) {
    if (connected) observer_.ResumeReader();
    observer_.OnEnded();
    return SerialDownloadResult::kCancelled;
  }
  struct Turn {
    SerialLink& link;
    ~Turn() { link.GiveDownloadTurn(); }
  } turn{link_};
  return Body(connected, file);
}

SerialDownload::Answer SerialDownload::AwaitByte(uint8_t accept, int refuse, uint32_t timeoutMs) {
  const uint32_t start = clock_.TickMs();
  for (;;) {
    uint8_t b = 0;
    const bool got = link_.Read(&b, 1) == 1;
    if (got && b == accept) return Answer::kAck;
    if (got && b == refuse) return Answer::kNak;
    // Anything else (a loader's dots or text lines, line noise) is dropped; a line that
    // chatters on still ends the wait on time.
    if (cancel_) return Answer::kCancelled;
    const uint32_t elapsed = clock_.TickMs() - start;
    if (elapsed >= timeoutMs) return Answer::kTimeout;
    if (!got) link_.WaitReadable(std::min(timeoutMs - elapsed, kWaitSliceMs));
  }
}

void SerialDownload::DrainInput() {
  uint8_t sink[64];
  for (int taken = 0; taken < kDrainLimit;) {
    const int n = link_.Read(sink, static_cast<int>(sizeof sink));
    if (n <= 0) return;
    taken += n;
  }
}

SerialDownloadResult SerialDownload::Fail(SerialDownloadResult result) {
  if (result != SerialDownloadResult::kCancelled) observer_.AppendLine(kDownloadErrorLine);
  observer_.ResumeReader();
  observer_.OnEnded();
  return result;
}

SerialDownloadResult SerialDownload::Body(bool connected, const FileSnapshot& file) {
  if (!connected) {
    observer_.OnEnded();
    return SerialDownloadResult::kNotConnected;
  }
  observer_.SetProgress(0);
  if (!file.named) {
    observer_.ResumeReader();
    observer_.OnEnded();
    return SerialDownloadResult::kNoFile;
  }
  if (!file.readable) {
    observer_.OnFileUnreadable();
    observer_.ResumeReader();
    observer_.OnEnded();
    return SerialDownloadResult::kFileOpenError;
  }
  const uint64_t length = file.data.size();
  observer_.AppendLine(Format(kFileSizeLine, static_cast<unsigned>(length)));

  // The 1 ms pauses and waits last about 1 ms only with a fine system timer (Windows);
  // held while the line is in use, given back before the completion box, which may stay.
  std::optional<FineTimerResolution> fineTimer;
  fineTimer.emplace();
  // An adapter that holds the device's answers for its latency timer would add its delay
  // to every block: ask the port to pass them on at once, for this download only.
  link_.HoldLowLatency(true);
  struct LatencyHeld {
    SerialLink& link;
    ~LatencyHeld() { link.HoldLowLatency(false); }
  } latencyHeld{link_};
  link_.Write(kUpgradeCommand, sizeof kUpgradeCommand);
  switch (AwaitByte(kStartChar, -1, options_.startWaitMs)) {
    case Answer::kAck: break;
    case Answer::kCancelled: return Fail(SerialDownloadResult::kCancelled);
    default: return Fail(SerialDownloadResult::kNoStart);
  }

  observer_.AppendLine(kDownloadStartLine);
  clock_.SleepMs(kAfterStartMs);

  uint8_t number = 0;
  bool firstSent = false;
  uint32_t bytesCounter = 0;
  uint64_t progress = 0;  // wide, so files past 42 MB do not wrap the percent
  unsigned highest = 0;
  bool refusing = false, noticed = false;  // the current block has been refused since...
  uint32_t refusedSinceMs = 0;             // ...the first NAK for it
  size_t position = 0, blockStart = 0;
  uint8_t data[kSerialBlockData];
  // Where each block's time goes: the line's bits, the pause, the device's answer, ours.
  SerialLineTiming timing;
  timing.baud = link_.LineBaud();
  timing.port = link_.LineName();
  timing.pauseUs = kBlockPauseUs;
  if (timing.baud) timing.lineUs = uint64_t{kSerialBlockSize} * 10 * 1000000 / timing.baud;
  std::vector<uint64_t> answerUs, hostUs, periodUs;
  uint64_t firstWriteUs = 0, writeUs = 0, answeredUs = 0;
  for (;;) {
    bool repeat = false;
    if (!firstSent) {
      clock_.SleepMs(kBeforeFirstBlockMs);
    } else {
      const Answer answer = AwaitByte(kAck, kNak, options_.answerTimeoutMs);
      answeredUs = clock_.NowUs();
      if (answer == Answer::kAck || answer == Answer::kNak) {
        const uint64_t roundTrip = answeredUs - writeUs;
        answerUs.push_back(roundTrip > timing.lineUs ? roundTrip - timing.lineUs : 0);
      }
      switch (answer) {
        case Answer::kAck:
          refusing = noticed = false;
          break;
        case Answer::kNak: {
          // A NAK repeats the block. Only a device that refuses it for the whole window
          // ends the download; past a second the user is told why it does not advance.
          const uint32_t now = clock_.TickMs();
          if (!refusing) {
            refusing = true;
            refusedSinceMs = now;
          }
          const uint32_t refusedMs = now - refusedSinceMs;
          if (refusedMs >= options_.refusalWindowMs) return Fail(SerialDownloadResult::kRefused);
          if (!noticed && refusedMs >= kRefusingNoticeAfterMs) {
            noticed = true;
            observer_.OnDeviceRefusing(kDeviceRefusingText);
          }
          repeat = true;
          break;
        }
        case Answer::kTimeout: return Fail(SerialDownloadResult::kNoAnswer);
        case Answer::kCancelled: return Fail(SerialDownloadResult::kCancelled);
      }
    }
    // The pause before the next block runs from here; building the block and reporting
    // its progress happen inside it.
    const uint64_t pauseEnd = (firstSent ? answeredUs : clock_.NowUs()) + kBlockPauseUs;
    if (repeat) {
      // The refused block goes again, under its own number, as XMODEM receivers expect.
      position = blockStart;
      --number;
    } else {
      blockStart = position;
    }
    std::memset(data, 0, sizeof data);
    const size_t got = std::min(sizeof data, file.data.size() - position);
    if (got == 0) break;
    std::memcpy(data, file.data.data() + position, got);
    position += got;
    if (!repeat) {  // a repeat sends no new data: the counters stay
      bytesCounter += kSerialBlockData;
      progress += kProgressPerBlock;
    }
    const SerialBlock block = BuildSerialBlock(number, data, got);
    if (length > 0) {
      const unsigned percent = static_cast<unsigned>(progress / length);
      if (percent > highest) {
        observer_.SetProgress(percent);
        highest = percent;
      }
    }
    clock_.SleepUntilUs(pauseEnd);
    // Only what follows this block answers it: whatever came before (a late or repeated
    // answer, console text, line noise) is dropped now, so an ACK meant for an earlier
    // block cannot pass this one.
    DrainInput();
    const uint64_t nowUs = clock_.NowUs();
    if (firstSent) {
      const uint64_t gap = nowUs - answeredUs;
      hostUs.push_back(gap > kBlockPauseUs ? gap - kBlockPauseUs : 0);
      periodUs.push_back(nowUs - writeUs);
    } else {
      firstWriteUs = nowUs;
    }
    writeUs = nowUs;
    // A line that takes no more bytes fails the download now, rather than after the wait
    // for an answer that cannot come.
    if (!link_.Write(block.data(), block.size())) return Fail(SerialDownloadResult::kLineFailed);
    if (firstSent) observer_.DeleteLastLine();
    observer_.AppendLine(Format(kDownloadSizeLine, bytesCounter));
    ++number;
    firstSent = true;
  }

  // The loader stores the image only on EOT: one that cannot be sent is no success.
  if (!link_.Write(kEndOfFile, sizeof kEndOfFile)) return Fail(SerialDownloadResult::kLineFailed);
  clock_.SleepMs(kBeforeQuitMs);
  link_.Write(&kQuit, 1);
  fineTimer.reset();
  if (!answerUs.empty()) {
    timing.blocks = answerUs.size();
    // One block alone: its period is its answer and the pause.
    if (periodUs.empty()) periodUs.push_back(answeredUs - writeUs + kBlockPauseUs);
    const uint64_t spanUs = answeredUs - firstWriteUs;
    if (spanUs > 0)
      timing.sharePercent = 100.0 * static_cast<double>(timing.lineUs * timing.blocks) /
                            static_cast<double>(spanUs);
    timing.answer = Spread(answerUs);
    timing.host = Spread(hostUs);
    timing.period = Spread(periodUs);
    observer_.OnLineTiming(timing);
  }
  observer_.AppendLine(kDownloadEndLine);
  observer_.SetProgress(100);
  observer_.OnTransferCompleted();
  observer_.ResumeReader();
  observer_.OnEnded();
  return SerialDownloadResult::kDone;
}

}  // namespace edog
