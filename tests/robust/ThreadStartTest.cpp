// A system that cannot start one more thread (ulimit -u, or ulimit -v too small for a
// thread's stack): every job that starts one fails at once with a message, and nothing
// waits for the thread that never came. In-process through the shared start seam, and end
// to end through edogtool under a stack limit larger than its memory limit.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "common/ThreadStart.h"
#include "device/Comm.h"
#include "device/DeviceSocket.h"
#include "device/SerialDownload.h"
#include "device/UsbTransfer.h"
#include "device/UsbTransferTurns.h"
#include "sim/Simulator.h"
#include "support/HeaderedContent.h"
#include "support/SimDevice.h"
#include "support/TestSupport.h"
#include "update/Package.h"

namespace edog::test {
namespace {

constexpr const char* kNoThread = "cannot start a thread for ";

class CountingSink final : public UsbBlockSink {
 public:
  explicit CountingSink(uint64_t* bytes) : bytes_(bytes) {}
  bool Write(const uint8_t*, uint32_t size) override {
    *bytes_ += size;
    return true;
  }

 private:
  uint64_t* bytes_;
};

class TextObserver final : public UsbTransferObserver {
 public:
  void OnInfoText(const std::string& text) override { infos.push_back(text); }
  void OnFinished(const UsbTransferResult&) override { ++finished; }
  std::vector<std::string> infos;
  int finished = 0;
};

class EndObserver final : public SerialDownloadObserver {
 public:
  void AppendLine(const std::string& line) override { lines.push_back(line); }
  void DeleteLastLine() override {}
  void SetProgress(unsigned) override {}
  void OnFileUnreadable() override {}
  void OnTransferCompleted() override {}
  void ResumeReader() override { ++resumed; }
  void OnEnded() override { ++ended; }
  std::vector<std::string> lines;
  int resumed = 0, ended = 0;
};

class NullLink final : public SerialLink {
 public:
  int Write(const void*, size_t) override { return 1; }
  int Read(void*, int) override { return 0; }
  bool WaitReadable(uint32_t) override { return false; }
};

bool Mentions(const std::vector<std::string>& texts, const std::string& what) {
  for (const auto& t : texts)
    if (t.find(kNoThread + what) != std::string::npos) return true;
  return false;
}

UsbTransferJob Job(uint64_t* bytes) {
  UsbTransferJob job;
  const Bytes image = MakeHeaderedContent(Port::Usb, kFlashE, 0x1000, 4000, 1).file;
  job.file = test::KeptBytes(image);
  job.size = image.size();
  job.pipe = std::make_unique<CountingSink>(bytes);
  job.label = "软件文件";
  return job;
}

struct SeamRow {
  const char* what;
  // Runs the job with the next thread start failing; returns the texts it reported.
  std::function<std::vector<std::string>()> run;
};

TEST(ThreadStart, EveryJobFailsWithAMessageWhenItsThreadCannotStart) {
  const SeamRow rows[] = {
      {"the USB transfer",
       [] {
         UsbTransferTurns turns;
         uint64_t bytes = 0;
         auto observer = std::make_shared<TextObserver>();
         UsbTransferWorker failed(turns, Job(&bytes), observer);
         EXPECT_FALSE(failed.Start());
         EXPECT_EQ(failed.Wait().outcome, UsbTransferResult::kAborted);
         EXPECT_EQ(observer->finished, 1);
         // The turn it held passes: the next transfer is not kept waiting.
         UsbTransferWorker next(turns, Job(&bytes), std::make_shared<TextObserver>());
         EXPECT_TRUE(next.Start());
         EXPECT_TRUE(DeviceTookWholeFile(next.Wait()));
         EXPECT_GT(bytes, 4000u);
         return observer->infos;
       }},
      {"the serial download",
       [] {
         NullLink link;
         EndObserver observer;
         SerialDownload download(link, observer);
         download.Start(true, "unused");
         EXPECT_TRUE(download.Finished());
         EXPECT_EQ(download.Wait(), SerialDownloadResult::kNoThread);
         EXPECT_EQ(observer.resumed, 1);
         EXPECT_EQ(observer.ended, 1);
         return observer.lines;
       }},
      {"the serial reader",
       [] {
         int master = -1, slave = -1;
         char name[128] = {};
         EXPECT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
         CComm comm;
         comm.SetParams(name, 115200, 8, kOneStopBit, kNoParity);
         EXPECT_TRUE(comm.CreateEvents());
         EXPECT_EQ(comm.Open(), 0);
         EXPECT_FALSE(comm.IsOpen());
         ::close(master);
         ::close(slave);
         return std::vector<std::string>{comm.ReaderStartError()};
       }},
      {"the simulator's USB side",
       [] {
         TempDir dir;
         sim::Simulator device(UsbOnlyDevice(dir / "state", dir / "d.sock"));
         std::string error;
         EXPECT_FALSE(device.Start(&error));
         return std::vector<std::string>{error};
       }},
  };
  for (const SeamRow& row : rows) {
    SCOPED_TRACE(row.what);
    FailNextThreadStarts(1);
    const auto start = std::chrono::steady_clock::now();
    const auto texts = row.run();
    FailNextThreadStarts(0);
    EXPECT_TRUE(Mentions(texts, row.what)) << (texts.empty() ? "(nothing said)" : texts[0]);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  }
}

// The worker's stack is as large as the stack limit; the memory limit leaves no room for
// it, while the main thread (grown on demand) runs on.
ProgramResult RunWithoutRoomForThreads(const std::string& args) {
  const std::string exe = BinDir() + "/edogtool";
  return RunProgram("/bin/sh",
                    {"-c", "ulimit -s 4000000 && ulimit -v 1000000 && exec " + exe + " " + args});
}

TEST(ThreadStart, SendUsbAndUpdateSayItInsteadOfWaitingForever) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's shadow memory cannot be mapped under ulimit -v; the forced "
                  "thread-start failures above cover these commands in this build";
#endif
  TempDir dir, tmp;
  SetEnv(kDeviceSocketEnv, dir / "dev.sock");
  SetEnv("TMP", tmp.Path());
  sim::Simulator device(UsbOnlyDevice(dir / "state"));
  std::string error;
  ASSERT_TRUE(device.Start(&error)) << error;
  const auto c = MakeHeaderedContent(Port::Usb, kFlashE, 0x1000, 4000, 1);
  WriteFile(dir / "s.hdr", c.file);
  ASSERT_EQ(WriteUpdatePackage(dir / "qzkt.dll", c.file), "");
  for (const std::string& args : {"send-usb " + (dir / "s.hdr"), "update --software --package " + (dir / "qzkt.dll")}) {
    SCOPED_TRACE(args);
    const auto r = RunWithoutRoomForThreads(args);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("cannot start a thread for the USB transfer"), std::string::npos) << r.err;
  }
  UnsetEnv("TMP");
  EXPECT_TRUE(device.JournalRecords().empty());
  EXPECT_TRUE(std::filesystem::is_empty(tmp.Path()));
}

}  // namespace
}  // namespace edog::test
