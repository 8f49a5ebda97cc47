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
  std::function<bool(uint32_t attempt, uint32_t size)> accept;
  std::function<void()> onWrite;
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
    job.file = image;
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

TEST(UsbTransfer, RefusedCommandBlockIsTried3002TimesThenThePayloadGoesAnyway) {
  for (const uint32_t refusals : {3001u, 3002u}) {
    SCOPED_TRACE(refusals);
    TransferRun run;
    const Bytes payload = test::RandomBytes(3000, 9);
    auto job = run.Job(MakeImage(kFlashNand, 4, payload));
    run.pipe->accept = [&](uint32_t attempt, uint32_t) { return attempt > refusals; };
    run.Go(std::move(job));
    const auto writes = run.observer.Writes();
    size_t commandAttempts = 0;
    for (const auto& w : writes) commandAttempts += w.kind == UsbWriteKind::kCommandBlock;
    EXPECT_EQ(commandAttempts, std::min(refusals + 1, 3002u));
    EXPECT_EQ(run.result.commandBlockAccepted, refusals < 3002);
    // A 5 ms sleep after every refused attempt, the last one included.
    const auto sleeps = run.clock.Sleeps();
    EXPECT_EQ(sleeps.size(), refusals);
    EXPECT_TRUE(std::all_of(sleeps.begin(), sleeps.end(), [](uint32_t s) { return s == 5; }));
    EXPECT_EQ(run.result.outcome, UsbTransferResult::kCompleted);
    EXPECT_EQ(Concat(run.log->accepted, refusals < 3002 ? 1 : 0), payload);
    // 15 s of refusals are not silent: one notice, once a second of them has passed.
    EXPECT_EQ(run.observer.EventsOf("refusing"), std::vector<std::string>{kDeviceRefusingText});
  }
}

TEST(UsbTransfer, RefusedPayloadBlockAbortsAfter3002AttemptsAndStillEndsCleanly) {
  TransferRun run;
  const Bytes payload = test::RandomBytes(20000, 5);
  auto job = run.Job(MakeImage(kFlashSerial, 0, payload));
  // Command block and two payload blocks go through, then the device takes nothing more.
  run.pipe->accept = [](uint32_t attempt, uint32_t) { return attempt <= 3; };
  bool releasedBeforeEnd = false;
  struct Observer : UsbRecordingObserver {
    std::function<void()> atEnd;
    void OnFinished(const UsbTransferResult& r) override {
      atEnd();
      UsbRecordingObserver::OnFinished(r);
    }
  } observer;
  observer.atEnd = [&] { releasedBeforeEnd = run.log->released; };
  run.result = RunUsbTransfer(std::move(job), run.cancel, observer, run.clock);

  EXPECT_EQ(run.result.outcome, UsbTransferResult::kAborted);
  EXPECT_EQ(run.result.sent, 4096u);
  EXPECT_EQ(run.log->attempts, 3u + 3002u);
  const auto writes = observer.Writes();
  EXPECT_EQ(writes.back().offset, 4096u);
  EXPECT_EQ(writes.back().attempt, 3002u);
  EXPECT_EQ(run.clock.Sleeps(), std::vector<uint32_t>(3002, 1));
  EXPECT_EQ(observer.EventsOf("refusing"), std::vector<std::string>{kDeviceRefusingText});
  // No report for the refused block; the summary still comes, with the whole payload size.
  EXPECT_EQ(observer.EventsOf("percent"), (std::vector<std::string>{"10", "20"}));
  EXPECT_EQ(observer.EventsOf("info").back(), "3002ms, 5KB/s");  // (20000 / 3002) * 1000 >> 10
  EXPECT_EQ(observer.Events().back(), "finished");            // no close: percent is not 100
  EXPECT_TRUE(releasedBeforeEnd);
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
    job.file = MakeImage(kFlashSerial, 0, test::RandomBytes(5000, id));
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
