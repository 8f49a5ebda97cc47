#include "device/UsbTransfer.h"

#include <algorithm>

#include "common/Bytes.h"
#include "common/ThreadStart.h"
#include "common/FileChecks.h"
#include "common/Format.h"
#include "update/HeaderedImage.h"

namespace edog {

const char* const kDeviceRefusingText = "设备拒绝接收数据，正在重试...\r\n";

namespace {

// `read` reads the file once the pipe is open; `why` gets the reason of a header mismatch,
// from the very bytes that were read.
template <typename ReadFile>
UsbSetupStatus Prepare(const ReadFile& read, const std::string& label, UsbTransferJob& job,
                       const std::string& library, std::string& why) {
  auto pipe = std::make_unique<UsbPipe>(OpenUsbPipe(USB_PIPE_OUT, library));
  if (!pipe->IsOpen()) return UsbSetupStatus::kNoDevice;
  // Read only up to the largest image the device can hold (the pipe closes with `pipe`).
  BoundedRead file = read(kLargestHeaderedImage);
  switch (file.status) {
    case BoundedRead::kOk: break;
    case BoundedRead::kNotRegular: return UsbSetupStatus::kNotRegular;
    case BoundedRead::kTooLarge: return UsbSetupStatus::kTooLarge;
    default: return UsbSetupStatus::kCannotRead;
  }
  if (file.data.size() < kHeaderBlockSize) return UsbSetupStatus::kTooShort;
  const HeaderFields fields = ParseHeaderFields(file.data.data());
  if (const ImageFit fit = CheckImageFit(fields, file.data.size()); fit != ImageFit::kOk) {
    why = ImageFitMessage(fit, fields, file.data.size());
    return UsbSetupStatus::kHeaderMismatch;
  }
  job.file = std::move(file.data);
  job.pipe = std::move(pipe);
  job.label = label;
  return UsbSetupStatus::kReady;
}

std::string MismatchMessage(const std::string& path, const std::string& why) {
  return path + " is not sent: " + why + ", so the device would not store it as announced.\n";
}

template <typename ReadFile>
Result<UsbSetupStatus> PrepareFrom(const ReadFile& read, const std::string& path,
                                   const std::string& label, UsbTransferJob& job,
                                   const std::string& library) {
  Result<UsbSetupStatus> result;
  std::string why;
  result.status = Prepare(read, label, job, library, why);
  result.message = result.status == UsbSetupStatus::kHeaderMismatch
                       ? MismatchMessage(path, why)
                       : UsbSetupMessage(result.status, path);
  return result;
}

}  // namespace

Result<UsbSetupStatus> PrepareUsbTransfer(const std::string& path, const std::string& label,
                                          UsbTransferJob& job, const std::string& library) {
  const auto read = [&](uint64_t max) { return ReadRegularFile(path, max); };
  return PrepareFrom(read, path, label, job, library);
}

Result<UsbSetupStatus> PrepareUsbTransfer(const KeptFile& file, const std::string& label,
                                          UsbTransferJob& job, const std::string& library) {
  const auto read = [&](uint64_t max) { return file.ReadAll(max); };
  return PrepareFrom(read, file.Path(), label, job, library);
}

std::string UsbSetupMessage(UsbSetupStatus status, const std::string& path) {
  switch (status) {
    case UsbSetupStatus::kReady: return {};
    case UsbSetupStatus::kNoDevice: return kCantOpenUsbDevice;
    case UsbSetupStatus::kCannotRead: return "Cannot read " + path + ".\n";
    case UsbSetupStatus::kTooShort:
      return path + " is shorter than the 1024-byte header block of a device file.\n";
    case UsbSetupStatus::kTooLarge:
      return Format("%s is too large: a device file is at most %llu bytes (its header block and "
                    "the largest flash).\n",
                    path.c_str(), (unsigned long long)kLargestHeaderedImage);
    case UsbSetupStatus::kNotRegular:
      return path + " is not a regular file: a device or pipe has no size to send.\n";
    case UsbSetupStatus::kHeaderMismatch: {
      const HeaderRead header = ReadHeaderFields(path);
      const uint64_t length = FileSize(path).value_or(0);
      return MismatchMessage(path, ImageFitMessage(CheckImageFit(header.fields, length),
                                                   header.fields, length));
    }
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

// Writes one block, retrying a refused write after a sleep: true once the device took it.
// A device that refuses is retried as long as ever; one that has gone is not: its pipe says
// so at once, and the library's presence probe (at the first refusal, then every
// kGoneProbeMs) catches a library whose pipe cannot tell.
bool WriteWithRetries(UsbBlockSink& pipe, const uint8_t* data, uint32_t size, UsbWriteKind kind,
                      uint32_t offset, uint32_t sleepMs, UsbTransferObserver& observer,
                      Clock& clock) {
  uint32_t firstRefusal = 0;
  uint32_t lastProbe = 0;
  bool noticed = false;
  for (uint32_t attempt = 1; attempt <= kUsbWriteAttempts; ++attempt) {
    const bool ok = pipe.Write(data, size);
    observer.OnWrite(kind, offset, size, attempt, ok);
    if (ok) return true;
    if (pipe.Gone()) return false;  // unplugged or silent for good: retries cannot help
    const uint32_t now = clock.TickMs();
    if (attempt == 1 || now - lastProbe >= kGoneProbeMs) {
      lastProbe = now;
      pipe.ProbeDevice();
      if (pipe.Gone()) return false;
    }
    if (attempt == 1) firstRefusal = now;
    clock.SleepMs(sleepMs);  // also after the last attempt
    if (!noticed && clock.TickMs() - firstRefusal >= kRefusingNoticeAfterMs) {
      noticed = true;
      observer.OnDeviceRefusing(kDeviceRefusingText);
    }
  }
  return false;
}

long AsLong(uint32_t v) { return static_cast<long>(v); }

}  // namespace

UsbTransferResult RunUsbTransfer(UsbTransferJob job, const std::atomic<int>& cancel,
                                 UsbTransferObserver& observer, Clock& clock) {
  UsbTransferResult r;
  if (job.file.size() < kHeaderBlockSize || !job.pipe) {
    r.outcome = UsbTransferResult::kAborted;
    job.pipe.reset();
    observer.OnFinished(r);
    return r;
  }
  const uint8_t* header = job.file.data();
  const uint8_t* payload = header + kHeaderBlockSize;
  const uint32_t payloadSize = static_cast<uint32_t>(job.file.size() - kHeaderBlockSize);
  r.payloadSize = payloadSize;
  uint32_t divisor = payloadSize / 100;
  if (divisor == 0) divisor = 1;

  if (const std::string info = UsbInfoLine(header); !info.empty()) observer.OnInfoText(info);

  // A command block refused every time is given up on, and the payload goes anyway.
  r.commandBlockAccepted =
      WriteWithRetries(*job.pipe, header, kCommandBlockSize, UsbWriteKind::kCommandBlock, 0,
                       kCommandRetrySleepMs, observer, clock);
  observer.OnCountText(Format("0K/%ldK", AsLong(payloadSize >> 10)));

  const uint32_t t0 = clock.TickMs();
  uint32_t lastSpeedTime = t0;
  uint32_t lastSpeedCount = 0;
  uint32_t sent = 0;
  uint32_t percent = 0;
  // At least one write, so an empty payload gives one zero-length write.
  do {
    const uint32_t block = std::min(kUsbTxBlockSize, payloadSize - sent);
    if (!WriteWithRetries(*job.pipe, payload + sent, block, UsbWriteKind::kPayload, sent,
                          kPayloadRetrySleepMs, observer, clock)) {
      r.outcome = UsbTransferResult::kAborted;
      r.deviceGone = job.pipe->Gone();
      break;
    }
    sent += block;
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
  } while (sent < payloadSize);
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
  // Release the buffer and the pipe before telling anyone the transfer is over.
  Bytes().swap(job.file);
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
