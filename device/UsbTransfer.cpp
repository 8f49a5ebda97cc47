#include "device/UsbTransfer.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "common/Bytes.h"
#include "common/ThreadStart.h"
#include "common/FileChecks.h"
#include "common/Format.h"
#include "update/HeaderedImage.h"

namespace edog {

const char* const kDeviceRefusingText = "设备拒绝接收数据，正在重试...\r\n";
const char* const kPresenceProbeMissedText = "设备未响应在线检测，仍在重试...\r\n";
const char* const kPartBlockText = "took only part of a block; the transfer cannot go on";

namespace {

// Reads exactly `size` bytes at `offset`; false on an error or a file that ended early.
bool ReadExactly(const KeptFile& file, uint64_t offset, uint8_t* data, size_t size) {
  while (size > 0) {
    const size_t got = file.ReadAt(offset, data, size);
    if (got == 0) return false;
    offset += got;
    data += got;
    size -= got;
  }
  return true;
}

// `open` gives the transfer's own handle on the file once the pipe is open.
template <typename OpenFile>
UsbSetupStatus Prepare(const OpenFile& open, const std::string& label, UsbTransferJob& job,
                       const std::string& library) {
  auto pipe = std::make_unique<UsbPipe>(OpenUsbPipe(USB_PIPE_OUT, library));
  if (!pipe->IsOpen()) return UsbSetupStatus::kNoDevice;
  RegularOpen why;
  UsbTransferJob ready;
  ready.file = open(why);  // the pipe closes with `pipe` on every return below
  if (!ready.file.IsOpen())
    return why.status == RegularOpen::kNotRegular ? UsbSetupStatus::kNotRegular
                                                  : UsbSetupStatus::kCannotRead;
  const std::optional<uint64_t> size = ready.file.Size();
  if (!size) return UsbSetupStatus::kCannotRead;
  if (*size < kHeaderBlockSize) return UsbSetupStatus::kTooShort;
  if (*size - kHeaderBlockSize > UINT32_MAX) return UsbSetupStatus::kTooLarge;
  ready.size = *size;
  uint8_t command[kCommandBlockSize];
  if (!ReadCommandBlock(ready, command)) return UsbSetupStatus::kCannotRead;
  ready.pipe = std::move(pipe);
  ready.label = label;
  job = std::move(ready);
  return UsbSetupStatus::kReady;
}

template <typename OpenFile>
Result<UsbSetupStatus> PrepareFrom(const OpenFile& open, const std::string& path,
                                   const std::string& label, UsbTransferJob& job,
                                   const std::string& library) {
  Result<UsbSetupStatus> result;
  result.status = Prepare(open, label, job, library);
  result.message = UsbSetupMessage(result.status, path);
  return result;
}

}  // namespace

bool ReadCommandBlock(const UsbTransferJob& job, uint8_t* block) {
  return job.file.IsOpen() && job.size >= kHeaderBlockSize &&
         ReadExactly(job.file, 0, block, kCommandBlockSize);
}

Result<UsbSetupStatus> PrepareUsbTransfer(const std::string& path, const std::string& label,
                                          UsbTransferJob& job, const std::string& library) {
  const auto open = [&](RegularOpen& why) { return KeptFile::OpenRegular(path, &why); };
  return PrepareFrom(open, path, label, job, library);
}

Result<UsbSetupStatus> PrepareUsbTransfer(const KeptFile& file, const std::string& label,
                                          UsbTransferJob& job, const std::string& library) {
  // A handle of the transfer's own: the job cleans up its files while a worker left after
  // Esc may still be reading.
  const auto open = [&](RegularOpen& why) {
    KeptFile own = file.Duplicate();
    why.status = own.IsOpen() ? RegularOpen::kOk : RegularOpen::kCannotOpen;
    return own;
  };
  return PrepareFrom(open, file.Path(), label, job, library);
}

std::string UsbSetupMessage(UsbSetupStatus status, const std::string& path) {
  switch (status) {
    case UsbSetupStatus::kReady: return {};
    case UsbSetupStatus::kNoDevice: return kCantOpenUsbDevice;
    case UsbSetupStatus::kCannotRead: return "Cannot read " + path + ".\n";
    case UsbSetupStatus::kTooShort:
      return path + " is shorter than the 1024-byte header block of a device file.\n";
    case UsbSetupStatus::kTooLarge:
      return path + " is too large: its payload is beyond the transfer's 32-bit byte count.\n";
    case UsbSetupStatus::kNotRegular:
      return path + " is not a regular file: a device or pipe has no size to send.\n";
  }
  return {};
}

std::string UsbStoppedText(const UsbTransferResult& result) {
  return Format("传输已中断：设备只收到%u/%u字节(%u%%)，按Esc或Enter关闭。", result.sent,
                result.payloadSize, result.percent);
}

std::string UsbInfoLine(const uint8_t* header) {
  const uint32_t packets = GetLE32(header + 11);
  switch (header[2]) {
    case kFlashSerial:
      return Format("Serial Flash, Packet num: %ld, Tx size: %d",
                    static_cast<long>(static_cast<int32_t>(packets)), static_cast<int>(kUsbTxBlockSize));
    case kFlashNand:
      return Format("NAND Flash, Packet num: %d, Tx size: %d", static_cast<int32_t>(packets),
                    static_cast<int>(kUsbTxBlockSize));
    default:
      return {};
  }
}

uint32_t UsbSummaryRate(uint32_t payloadSize, uint32_t elapsedMs) {
  if (elapsedMs == 0) {
    // Faster than the tick can tell: rate it as 1 ms, without the 32-bit overflow.
    return static_cast<uint32_t>(std::min<uint64_t>((uint64_t(payloadSize) * 1000) >> 10, UINT32_MAX));
  }
  return ((payloadSize / elapsedMs) * 1000u) >> 10;
}

bool DeviceTookWholeFile(const UsbTransferResult& result) {
  return result.outcome == UsbTransferResult::kCompleted && result.commandBlockAccepted &&
         result.sent == result.payloadSize && result.stored;
}

namespace {

enum class BlockEnd { kTaken, kRefused, kGone, kCancelled };

// Writes one block, retrying a refused write after a short sleep until the device takes it.
// A refused block is given up only after kUsbWriteAttempts attempts and kUsbRetryWindowMs
// (a sleep follows every refused attempt, the last one included). The pipe's word that the
// device has gone, or kept part of the block, ends it at once, and so does the cancel flag.
// The presence probe is asked while the block is refused, for a hint only: a driver that
// allows one handle fails it while the pipe is held.
BlockEnd WriteWithRetries(UsbBlockSink& pipe, const uint8_t* data, uint32_t size,
                          UsbWriteKind kind, uint32_t offset, uint32_t sleepMs,
                          const std::atomic<int>& cancel, UsbTransferObserver& observer,
                          Clock& clock) {
  uint32_t firstRefusal = 0;
  uint32_t lastProbe = 0;
  bool noticed = false;
  bool probeMissed = false;
  for (uint32_t attempt = 1;; ++attempt) {
    const bool ok = pipe.Write(data, size);
    observer.OnWrite(kind, offset, size, attempt, ok);
    if (ok) return BlockEnd::kTaken;
    if (pipe.Gone()) return BlockEnd::kGone;  // unplugged, or part of the block is in
    const uint32_t now = clock.TickMs();
    if (attempt == 1) firstRefusal = now;
    if (!probeMissed && (attempt == 1 || now - lastProbe >= kPresenceProbeMs)) {
      lastProbe = now;
      if (!pipe.AnswersPresenceProbe()) {
        probeMissed = true;
        observer.OnPresenceProbeMissed(kPresenceProbeMissedText);
      }
    }
    if (cancel.load() == 1) return BlockEnd::kCancelled;
    clock.SleepMs(sleepMs);
    const uint32_t refusedFor = clock.TickMs() - firstRefusal;
    if (!noticed && refusedFor >= kRefusingNoticeAfterMs) {
      noticed = true;
      observer.OnDeviceRefusing(kDeviceRefusingText);
    }
    if (attempt >= kUsbWriteAttempts && refusedFor >= kUsbRetryWindowMs) return BlockEnd::kRefused;
    if (cancel.load() == 1) return BlockEnd::kCancelled;
  }
}

long AsLong(uint32_t v) { return static_cast<long>(v); }

}  // namespace

UsbTransferResult RunUsbTransfer(UsbTransferJob job, const std::atomic<int>& cancel,
                                 UsbTransferObserver& observer, Clock& clock) {
  UsbTransferResult r;
  uint8_t header[kCommandBlockSize];
  const bool countable = job.size >= kHeaderBlockSize && job.size - kHeaderBlockSize <= UINT32_MAX;
  if (!job.pipe || !countable || !ReadCommandBlock(job, header)) {
    r.outcome = UsbTransferResult::kAborted;
    r.fileReadFailed = job.pipe && countable && job.file.IsOpen();
    job.file.Close();
    job.pipe.reset();
    observer.OnFinished(r);
    return r;
  }
  const uint32_t payloadSize = static_cast<uint32_t>(job.size - kHeaderBlockSize);
  r.payloadSize = payloadSize;
  uint32_t divisor = payloadSize / 100;
  if (divisor == 0) divisor = 1;

  if (const std::string info = UsbInfoLine(header); !info.empty()) observer.OnInfoText(info);

  // A command block refused every time is given up on, and the payload goes anyway; one
  // the device has gone from, or kept in part, ends the transfer.
  const BlockEnd command = WriteWithRetries(*job.pipe, header, kCommandBlockSize,
                                            UsbWriteKind::kCommandBlock, 0, kCommandRetrySleepMs,
                                            cancel, observer, clock);
  r.commandBlockAccepted = command == BlockEnd::kTaken;
  if (command == BlockEnd::kGone) {
    r.outcome = UsbTransferResult::kAborted;
    r.deviceGone = true;
    r.partBlock = job.pipe->PartlyTaken() > 0;
  } else if (command == BlockEnd::kCancelled) {
    r.outcome = UsbTransferResult::kCancelled;
  }
  observer.OnCountText(Format("0K/%ldK", AsLong(payloadSize >> 10)));

  const uint32_t t0 = clock.TickMs();
  uint32_t lastSpeedTime = t0;
  uint32_t lastSpeedCount = 0;
  uint32_t sent = 0;
  uint32_t percent = 0;
  // One block of the file at a time, read just before it goes.
  std::vector<uint8_t> block(kUsbTxBlockSize);
  // At least one write, so an empty payload gives one zero-length write.
  while (r.outcome == UsbTransferResult::kCompleted) {
    const uint32_t size = std::min(kUsbTxBlockSize, payloadSize - sent);
    if (!ReadExactly(job.file, kHeaderBlockSize + uint64_t(sent), block.data(), size)) {
      // The file cannot be read on: what went is no whole file.
      r.outcome = UsbTransferResult::kAborted;
      r.fileReadFailed = true;
      break;
    }
    const BlockEnd end = WriteWithRetries(*job.pipe, block.data(), size, UsbWriteKind::kPayload,
                                          sent, kPayloadRetrySleepMs, cancel, observer, clock);
    if (end == BlockEnd::kCancelled) {
      r.outcome = UsbTransferResult::kCancelled;
      break;
    }
    if (end != BlockEnd::kTaken) {
      r.outcome = UsbTransferResult::kAborted;
      r.deviceGone = end == BlockEnd::kGone;
      // A block taken in part is never sent again; the count says what the device has.
      const uint32_t part = end == BlockEnd::kGone ? job.pipe->PartlyTaken() : 0;
      r.partBlock = part > 0;
      sent += std::min(part, size);
      break;
    }
    sent += size;
    percent = sent / divisor;
    observer.OnPercent(percent);
    const uint32_t now = clock.TickMs();
    if (now - lastSpeedTime >= 1000) {
      // Whole bytes per millisecond first: the speed moves in steps of about 0.98 KB/s.
      const uint32_t speed = (((sent - lastSpeedCount) / (now - lastSpeedTime)) * 1000u) >> 10;
      observer.OnSpeedText(Format("%dKB", static_cast<int>(speed)));
      lastSpeedTime = now;
      lastSpeedCount = sent;
    }
    observer.OnCountText(Format("%ldK/%ldK", AsLong(sent >> 10), AsLong(payloadSize >> 10)));
    if (cancel.load() == 1) {
      if (sent < payloadSize) r.outcome = UsbTransferResult::kCancelled;
      break;
    }
    if (sent >= payloadSize) break;
  }
  // Everything went: the device's word that it stored it (a bounded wait).
  if (r.outcome == UsbTransferResult::kCompleted && sent == payloadSize)
    r.stored = job.pipe->ConfirmStored();

  const uint32_t elapsed = clock.TickMs() - t0;
  // The rate uses the whole payload size, also when the loop ended early.
  const uint32_t rate = UsbSummaryRate(payloadSize, elapsed);
  observer.OnInfoText(Format("%ldms, %ldKB/s", AsLong(elapsed), AsLong(rate)));

  r.sent = sent;
  r.percent = percent;
  r.elapsedMs = elapsed;
  r.rateKBs = rate;
  // Release the file and the pipe before telling anyone the transfer is over.
  job.file.Close();
  job.pipe.reset();
  observer.OnFinished(r);
  if (percent == 100) observer.OnFullPercent();
  return r;
}

// ---------------------------------------------------------------------------------------

struct UsbTransferWorker::State {
  UsbTransferJob job;
  std::shared_ptr<UsbTransferObserver> observer;
  std::shared_ptr<Clock> clock;  // null: the system clock
  std::atomic<int> cancel{0};
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  UsbTransferResult result;
  std::string startError;
};

UsbTransferWorker::UsbTransferWorker(UsbTransferTurns& turns, UsbTransferJob job,
                                     std::shared_ptr<UsbTransferObserver> observer,
                                     std::shared_ptr<Clock> clock)
    : turns_(turns), state_(std::make_shared<State>()) {
  state_->job = std::move(job);
  state_->observer = observer ? std::move(observer) : std::make_shared<UsbTransferObserver>();
  state_->clock = std::move(clock);
}

UsbTransferWorker::~UsbTransferWorker() {
  if (!thread_.joinable()) return;
  if (Finished()) {
    thread_.join();
  } else {
    // The window is gone; the worker finishes its block and the turns' owner joins it.
    Cancel();
    turns_.Adopt(std::move(thread_));
  }
}

bool UsbTransferWorker::Start() {
  if (thread_.joinable() || Finished()) return true;
  const uint64_t ticket = turns_.TakeTicket();
  const std::string label = state_->job.label;
  std::shared_ptr<State> s = state_;
  const std::string error = StartThread(thread_, "the USB transfer", [s, ticket, turns = &turns_] {
    turns->WaitForTurn(ticket);
    Clock& clock = s->clock ? *s->clock : SystemClock();
    UsbTransferResult r = RunUsbTransfer(std::move(s->job), s->cancel, *s->observer, clock);
    {
      std::lock_guard<std::mutex> lock(s->mutex);
      s->result = r;
      s->finished = true;
    }
    s->done.notify_all();
    turns->EndTurn();
  });
  if (!error.empty()) {
    // Nothing was sent: the transfer ends aborted, its turn passes, and the front end is
    // told why as it is told of any other end.
    turns_.SkipTurn(ticket);
    state_->job = UsbTransferJob{};
    UsbTransferResult aborted;
    aborted.outcome = UsbTransferResult::kAborted;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      state_->result = aborted;
      state_->startError = error;
      state_->finished = true;
    }
    state_->observer->OnInfoText(error);
    state_->observer->OnFinished(aborted);
    return false;
  }
  state_->observer->OnLabel(label);
  return true;
}

const std::string& UsbTransferWorker::StartError() const { return state_->startError; }

void UsbTransferWorker::Cancel() { state_->cancel.store(1); }

UsbTransferResult UsbTransferWorker::Wait() {
  if (!thread_.joinable() && !Finished()) {
    UsbTransferResult notStarted;
    notStarted.outcome = UsbTransferResult::kAborted;
    return notStarted;
  }
  {
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->done.wait(lock, [&] { return state_->finished || !thread_.joinable(); });
  }
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->result;
}

bool UsbTransferWorker::Finished() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->finished;
}

}  // namespace edog
