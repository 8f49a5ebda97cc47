// The transfer worker on a stand-in pipe: exact write sequence, retry counts, report order
// and wording, the percent divisor rule, cancel and release.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <thread>

#include "UsbTestSupport.h"
#include "device/UsbTransfer.h"
#include "support/TestSupport.h"

namespace edog {
namespace {

using test::FakeClock;
using test::MakeImage;
using test::UsbRecordingObserver;

// Records every block it is given; `accept` decides (default: take everything).
struct FakePipe final : UsbBlockSink {
  struct Log {
    std::vector<Bytes> accepted;
    uint32_t attempts = 0;
    bool released = false;
    uint32_t probes = 0;
  };
  explicit FakePipe(std::shared_ptr<Log> log) : log_(std::move(log)) {}
  ~FakePipe() override { log_->released = true; }
  bool Write(const uint8_t* data, uint32_t size) override {
    const uint32_t attempt = ++log_->attempts;
    const bool ok = !accept || accept(attempt, size);
    if (ok) log_->accepted.emplace_back(data, data + size);
    if (onWrite) onWrite();
    return ok;
  }
  bool Gone() const override { return gone || partlyTaken > 0; }
  uint32_t PartlyTaken() const override { return partlyTaken; }
  bool AnswersPresenceProbe() override {
    ++log_->probes;
    return present;
  }
  std::function<bool(uint32_t attempt, uint32_t size)> accept;
  std::function<void()> onWrite;
  bool gone = false;
  uint32_t partlyTaken = 0;
  bool present = true;
  std::shared_ptr<FakePipe::Log> log_;
};

struct TransferRun {
  std::shared_ptr<FakePipe::Log> log = std::make_shared<FakePipe::Log>();
  UsbRecordingObserver observer;
  FakeClock clock;
  std::atomic<int> cancel{0};
  UsbTransferResult result;
  FakePipe* pipe = nullptr;

  UsbTransferJob Job(const Bytes& image) {
    UsbTransferJob job;
    job.file = test::KeptBytes(image);
    job.size = image.size();
    auto p = std::make_unique<FakePipe>(log);
    pipe = p.get();
    job.pipe = std::move(p);
    return job;
  }
  void Go(UsbTransferJob job) { result = RunUsbTransfer(std::move(job), cancel, observer, clock); }
};

Bytes Concat(const std::vector<Bytes>& blocks, size_t from) {
  Bytes out;
  for (size_t i = from; i < blocks.size(); ++i) out.insert(out.end(), blocks[i].begin(), blocks[i].end());
  return out;
}

struct SizeCase {
  uint32_t payload;
  uint32_t finalPercent;
  size_t payloadWrites;
  const char* lastCount;
};

TEST(UsbTransfer, PayloadSizesGiveTheirWritesPercentAndClose) {
  const SizeCase cases[] = {
      {0, 0, 1, "0K/0K"},          // one zero-length write
      {150, 150, 1, "0K/0K"},      // divisor 1: ends at 150, window stays
      {9900, 100, 5, "9K/9K"},     // divisor 99: exactly 100, window closes
      {9999, 101, 5, "9K/9K"},     // divisor 99: 101, window stays
      {10000, 100, 5, "9K/9K"},
      {1048576, 100, 512, "1024K/1024K"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.payload);
    const Bytes payload = test::RandomBytes(c.payload, c.payload);
    const Bytes image = MakeImage(kFlashSerial, 0x1000, payload);
    TransferRun run;
    run.Go(run.Job(image));
    const auto& blocks = run.log->accepted;
    ASSERT_EQ(blocks.size(), 1 + c.payloadWrites);
    EXPECT_EQ(blocks[0], Bytes(image.begin(), image.begin() + 20));
    for (size_t i = 1; i < blocks.size(); ++i) {
      EXPECT_EQ(blocks[i].size(), std::min<size_t>(2048, c.payload - (i - 1) * 2048));
    }
    EXPECT_EQ(Concat(blocks, 1), payload);
    EXPECT_EQ(run.result.outcome, UsbTransferResult::kCompleted);
    EXPECT_EQ(run.result.sent, c.payload);
    EXPECT_EQ(run.result.percent, c.finalPercent);
    EXPECT_EQ(run.observer.EventsOf("percent").back(), std::to_string(c.finalPercent));
    EXPECT_EQ(run.observer.EventsOf("count").back(), c.lastCount);
    const auto events = run.observer.Events();
    EXPECT_EQ(events.back() == "close", c.finalPercent == 100);
    EXPECT_TRUE(run.log->released);
  }
}

TEST(UsbTransfer, ReportsComeInTheWindowsOrderAndWording) {
  TransferRun run;
  const Bytes image = MakeImage(kFlashSerial, 0, test::RandomBytes(5000, 3));
  run.Go(run.Job(image));
  // The same file again, with 600 ms passing during each payload block.
  TransferRun timed;
  auto job = timed.Job(image);
  timed.pipe->onWrite = [&] {
    if (timed.log->attempts > 1) timed.clock.Advance(600);
  };
  timed.Go(std::move(job));
  const std::vector<std::string> expected = {
      "info:Serial Flash, Packet num: 79, Tx size: 2048",
      "count:0K/4K",
      "percent:40",  // 2048 / 50
      "count:2K/4K",
      "percent:81",  // 4096 / 50, after 1200 ms: the first speed
      "speed:2KB",   // (4096 / 1200) * 1000 >> 10
      "count:4K/4K",
      "percent:100",
      "count:4K/4K",
      "info:1800ms, 1KB/s",  // (5000 / 1800) * 1000 >> 10
      "finished",
      "close",
  };
  EXPECT_EQ(timed.observer.Events(), expected);
  // Without time passing there is no speed line, and the summary rates 0 ms as 1 ms.
  EXPECT_TRUE(run.observer.EventsOf("speed").empty());
  EXPECT_EQ(run.observer.EventsOf("info").back(), "0ms, 4882KB/s");
}

TEST(UsbTransfer, InfoLineFollowsTheFlashByte) {
  Bytes h(1024, 0);
  h[11] = 0x10;
  h[12] = 0x27;  // 10000 packets
  h[2] = kFlashSerial;
  EXPECT_EQ(UsbInfoLine(h.data()), "Serial Flash, Packet num: 10000, Tx size: 2048");
  h[2] = kFlashNand;
  EXPECT_EQ(UsbInfoLine(h.data()), "NAND Flash, Packet num: 10000, Tx size: 2048");
  h[2] = kFlashE;
  EXPECT_EQ(UsbInfoLine(h.data()), "");
  // An e-flash file gets no info line before its transfer; the transfer still runs.
  TransferRun run;
  run.Go(run.Job(MakeImage(kFlashE, 0, test::RandomBytes(3000, 1))));
  EXPECT_EQ(run.observer.Events().front(), "count:0K/2K");
  EXPECT_EQ(run.result.outcome, UsbTransferResult::kCompleted);
}

TEST(UsbTransfer, SummaryRateKeepsTheIntegerStepsAndSurvivesZeroMs) {
  EXPECT_EQ(UsbSummaryRate(1048576, 1000), (1048u * 1000u) >> 10);
  EXPECT_EQ(UsbSummaryRate(1048576, 1024), (1024u * 1000u) >> 10);
  EXPECT_EQ(UsbSummaryRate(150, 0), (150u * 1000u) >> 10);
  EXPECT_EQ(UsbSummaryRate(100u << 20, 0), (uint64_t(100u << 20) * 1000) >> 10);  // no 32-bit wrap
  EXPECT_EQ(UsbSummaryRate(500, 1000), 0u);
}

struct WindowCase {
  const char* name;
  UsbWriteKind refused;  // the block the device refuses for good
  uint32_t writeMs;      // how long each write takes
  uint32_t sleepMs;      // between attempts
};

TEST(UsbTransfer, RefusedBlockIsRetried3002TimesAndForTheWholeWindowThenGivenUp) {
  const WindowCase cases[] = {
      {"command block, quick refusals", UsbWriteKind::kCommandBlock, 0, 5},
      {"payload block, quick refusals", UsbWriteKind::kPayload, 0, 1},
      {"payload block, slow refusals", UsbWriteKind::kPayload, 20, 1},  // the count binds
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TransferRun run;
    const Bytes payload = test::RandomBytes(5000, 9);
    auto job = run.Job(MakeImage(kFlashNand, 4, payload));
    const bool command = c.refused == UsbWriteKind::kCommandBlock;
    // Command block refused for good; or the command block and one payload block taken.
    run.pipe->accept = [&](uint32_t attempt, uint32_t size) {
      return command ? size != kCommandBlockSize : attempt <= 2;
    };
    uint32_t firstRefusal = 0;
    run.pipe->onWrite = [&] {
      run.clock.Advance(c.writeMs);
      if (run.log->attempts == (command ? 1u : 3u)) firstRefusal = run.clock.Now();
    };
    run.Go(std::move(job));
    uint32_t attempts = 0;
    for (const auto& w : run.observer.Writes()) attempts += w.kind == c.refused && !w.accepted;
    EXPECT_GE(attempts, kUsbWriteAttempts);
    // The device had at least 3002 ticks of 15.625 ms to take the block.
    EXPECT_GE(uint64_t(run.clock.Now() - firstRefusal) * 1000, uint64_t(kUsbWriteAttempts) * 15625);
    // No attempt more than the window and the count need.
    EXPECT_LT(uint64_t(attempts - 1) * (c.writeMs + c.sleepMs),
              std::max<uint64_t>(kUsbRetryWindowMs, uint64_t(kUsbWriteAttempts) * (c.writeMs + c.sleepMs)));
    const auto sleeps = run.clock.Sleeps();
    EXPECT_EQ(sleeps.size(), attempts);  // a sleep after every refusal, the last one included
    EXPECT_TRUE(std::all_of(sleeps.begin(), sleeps.end(), [&](uint32_t s) { return s == c.sleepMs; }));
    EXPECT_EQ(run.observer.EventsOf("refusing"), std::vector<std::string>{kDeviceRefusingText});
    EXPECT_FALSE(run.result.deviceGone);
    if (command) {
      // The payload goes anyway, whole.
      EXPECT_FALSE(run.result.commandBlockAccepted);
      EXPECT_EQ(run.result.outcome, UsbTransferResult::kCompleted);
      EXPECT_EQ(Concat(run.log->accepted, 0), payload);
    } else {
      // The transfer stops; no report for the refused block, the summary still comes.
      EXPECT_EQ(run.result.outcome, UsbTransferResult::kAborted);
      EXPECT_EQ(run.result.sent, 2048u);
      EXPECT_EQ(run.observer.EventsOf("percent"), std::vector<std::string>{"40"});
      EXPECT_EQ(run.observer.Events().back(), "finished");
      EXPECT_TRUE(run.log->released);
    }
  }
}

TEST(UsbTransfer, CancelEndsTheRetriesAtOnce) {
  for (const UsbWriteKind refused : {UsbWriteKind::kCommandBlock, UsbWriteKind::kPayload}) {
    const bool command = refused == UsbWriteKind::kCommandBlock;
    SCOPED_TRACE(command ? "command block" : "payload block");
    TransferRun run;
    auto job = run.Job(MakeImage(kFlashSerial, 0, test::RandomBytes(5000, 2)));
    run.pipe->accept = [&](uint32_t attempt, uint32_t) { return !command && attempt <= 2; };
    const uint32_t cancelAt = command ? 10 : 12;  // the tenth attempt at the refused block
    run.pipe->onWrite = [&] {
      if (run.log->attempts == cancelAt) run.cancel = 1;
    };
    run.Go(std::move(job));
    EXPECT_EQ(run.result.outcome, UsbTransferResult::kCancelled);
    EXPECT_EQ(run.log->attempts, cancelAt);  // not one write more
    EXPECT_EQ(run.clock.Sleeps().size(), 9u);
    EXPECT_EQ(run.result.sent, command ? 0u : 2048u);
    EXPECT_EQ(run.observer.Events().back(), "finished");
  }
}

TEST(UsbTransfer, MissedPresenceProbesOnlyHintAndNeverEndTheWindowEarly) {
  // The presence probe misses all along (a driver that allows one handle, held by the pipe).
  for (const uint32_t takenAfterMs : {40000u, 0u}) {  // 0: refused for good
    SCOPED_TRACE(takenAfterMs);
    TransferRun run;
    const Bytes payload = test::RandomBytes(5000, 4);
    auto job = run.Job(MakeImage(kFlashSerial, 0, payload));
    run.pipe->present = false;
    uint32_t refusedFrom = 0;
    run.pipe->accept = [&](uint32_t attempt, uint32_t) {
      if (attempt <= 2) return true;
      if (attempt == 3) refusedFrom = run.clock.Now();
      return takenAfterMs && run.clock.Now() - refusedFrom >= takenAfterMs;
    };
    run.Go(std::move(job));
    EXPECT_GE(run.log->probes, 1u);
    EXPECT_EQ(run.observer.EventsOf("probe"), std::vector<std::string>{kPresenceProbeMissedText});
    EXPECT_FALSE(run.result.deviceGone);
    if (takenAfterMs) {
      EXPECT_TRUE(DeviceTookWholeFile(run.result));
      EXPECT_EQ(Concat(run.log->accepted, 1), payload);
    } else {
      EXPECT_EQ(run.result.outcome, UsbTransferResult::kAborted);
      EXPECT_GE(run.clock.Now() - refusedFrom, kUsbRetryWindowMs);
    }
  }
}

TEST(UsbTransfer, PipeThatSaysGoneEndsAtOnceAndAPartBlockIsNeverSentAgain) {
  struct Case {
    const char* name;
    uint32_t failingAttempt;  // the write the pipe answers with its verdict
    uint32_t partlyTaken;     // 0: gone
    uint32_t sent;
  };
  const Case cases[] = {
      {"gone at the command block", 1, 0, 0},
      {"gone at the second payload block", 3, 0, 2048},
      {"command block taken in part", 1, 7, 0},
      {"second payload block taken in part", 3, 1000, 2048 + 1000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TransferRun run;
    auto job = run.Job(MakeImage(kFlashSerial, 0, test::RandomBytes(9000, 5)));
    run.pipe->accept = [&](uint32_t attempt, uint32_t) { return attempt != c.failingAttempt; };
    run.pipe->onWrite = [&] {
      if (run.log->attempts != c.failingAttempt) return;
      run.pipe->gone = c.partlyTaken == 0;
      run.pipe->partlyTaken = c.partlyTaken;
    };
    run.Go(std::move(job));
    EXPECT_EQ(run.log->attempts, c.failingAttempt);  // no retry, no resend, no later block
    EXPECT_TRUE(run.clock.Sleeps().empty());
    EXPECT_EQ(run.result.outcome, UsbTransferResult::kAborted);
    EXPECT_TRUE(run.result.deviceGone);
    EXPECT_EQ(run.result.partBlock, c.partlyTaken > 0);
    EXPECT_EQ(run.result.sent, c.sent);
    EXPECT_FALSE(DeviceTookWholeFile(run.result));
  }
}

// A library whose write takes 1000 bytes of any block and then fails, as a bulk write that
// timed out part way.
int PartWrite(UsbHandle, const void*, uint32_t, uint32_t* written) {
  *written = 1000;
  return USB_IO_FAILED;
}
int NoRead(UsbHandle, void*, uint32_t, uint32_t*) { return USB_IO_FAILED; }
int NoClose(UsbHandle) { return 1; }

TEST(UsbTransfer, LibraryPipeThatTookPartOfABlockSaysSo) {
  UsbHandleOps ops;
  ops.write = PartWrite;
  ops.read = NoRead;
  ops.close = NoClose;
  UsbPipe pipe((UsbHandle)(intptr_t)5, ops);
  const Bytes block(2048, 1);
  EXPECT_FALSE(pipe.Write(block.data(), 2048));
  EXPECT_TRUE(pipe.Gone());
  EXPECT_EQ(pipe.PartlyTaken(), 1000u);
}

TEST(UsbTransfer, FileThatCannotBeReadOnStopsTheTransferAsFailed) {
  TransferRun run;
  const Bytes image = MakeImage(kFlashSerial, 0, test::RandomBytes(9000, 6));
  // The file ends 5000 bytes into the payload, short of the length found at the setup.
  auto job = run.Job(Bytes(image.begin(), image.begin() + kHeaderBlockSize + 5000));
  job.size = image.size();
  run.Go(std::move(job));
  EXPECT_EQ(run.result.outcome, UsbTransferResult::kAborted);
  EXPECT_TRUE(run.result.fileReadFailed);
  EXPECT_EQ(run.result.sent, 4096u);
  EXPECT_EQ(run.log->attempts, 3u);  // the command block and two whole blocks, nothing more
  EXPECT_FALSE(DeviceTookWholeFile(run.result));
}

TEST(UsbTransfer, CancelStopsAfterTheCurrentBlock) {
  TransferRun run;
  const Bytes payload = test::RandomBytes(10 * 2048, 6);
  auto job = run.Job(MakeImage(kFlashSerial, 0, payload));
  run.pipe->onWrite = [&] {
    if (run.log->attempts == 3) run.cancel = 1;  // during the second payload block
  };
  run.Go(std::move(job));
  EXPECT_EQ(run.result.outcome, UsbTransferResult::kCancelled);
  EXPECT_EQ(run.result.sent, 4096u);
  EXPECT_EQ(Concat(run.log->accepted, 1), Bytes(payload.begin(), payload.begin() + 4096));
  EXPECT_EQ(run.observer.EventsOf("count").back(), "4K/20K");
  EXPECT_EQ(run.observer.Events().back(), "finished");
  EXPECT_TRUE(run.log->released);
}

TEST(UsbTransferWorker, TransfersTakeTurnsAndAnEarlyCancelIsKept) {
  std::atomic<bool> gate{false};
  std::mutex logMutex;
  std::vector<int> order;  // which worker wrote, in order
  auto makeJob = [&](int id, bool waitAtGate) {
    auto log = std::make_shared<FakePipe::Log>();
    auto pipe = std::make_unique<FakePipe>(log);
    pipe->accept = [&, id, waitAtGate](uint32_t, uint32_t) {
      while (waitAtGate && !gate.load()) std::this_thread::yield();
      std::lock_guard<std::mutex> lock(logMutex);
      order.push_back(id);
      return true;
    };
    UsbTransferJob job;
    const Bytes image = MakeImage(kFlashSerial, 0, test::RandomBytes(5000, id));
    job.file = test::KeptBytes(image);
    job.size = image.size();
    job.pipe = std::move(pipe);
    job.label = "file" + std::to_string(id);
    return job;
  };
  auto clock = std::make_shared<FakeClock>();
  auto first = std::make_shared<UsbRecordingObserver>();
  auto second = std::make_shared<UsbRecordingObserver>();
  UsbTransferTurns turns;
  UsbTransferWorker w1(turns, makeJob(1, true), first, clock);
  auto w2 = std::make_unique<UsbTransferWorker>(turns, makeJob(2, false), second, clock);
  w1.Start();
  w2->Start();
  // The second window is closed before its worker had its turn: the worker is cancelled
  // and the turns take over its thread, which keeps its own share of the clock.
  w2.reset();
  clock.reset();
  EXPECT_EQ(second->Events().front(), "label:file2");
  for (int i = 0; i < 20000; ++i) std::this_thread::yield();  // give an unordered worker its chance
  gate = true;
  const auto r1 = w1.Wait();
  turns.WaitForAll();  // joins the second worker
  ASSERT_TRUE(second->Finished());
  const auto r2 = second->Result();
  EXPECT_EQ(r1.outcome, UsbTransferResult::kCompleted);
  EXPECT_EQ(r2.outcome, UsbTransferResult::kCancelled);
  EXPECT_EQ(r2.sent, 2048u);  // command block and one block, then the cancel is seen
  EXPECT_EQ(order, (std::vector<int>{1, 1, 1, 1, 2, 2}));
}

}  // namespace
}  // namespace edog
