// The Win32 files of the core and the Windows stand-in device library, under wine.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/DynamicLibrary.h"
#include "device/Comm.h"
#include "device/HandleIo.h"
#include "device/SerialDownload.h"
#include "device/UsbLibrary.h"
#include "tools/MappedFile.h"

namespace edog {
namespace {

std::string BinFile(const std::string& name) { return std::string(EDOG_BIN_DIR) + "/" + name; }

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string TempPath(const std::string& name) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  return std::string(dir) + "edog-win32-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

void Put(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// --- plug-in loader: the program's folder, then the system's; never PATH ---------------

TEST(DynamicLibraryWin32, ProgramFolderFirstAndNeverALibraryPlantedOnPath) {
  // A library of the name in a folder on PATH is not loaded (a planted DLL there would run
  // with the user's rights); the one beside the program is, by its full path.
  const std::string name = "EdogLoaderProbe" + std::to_string(GetCurrentProcessId());
  const std::string besideUs = ProgramDirectory() + name + ".dll";
  const std::string pathDir = TempPath("path");
  // Wine reuses process ids: a run that failed half-way may have left the folder.
  ASSERT_TRUE(CreateDirectoryA(pathDir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  const std::string onPath = pathDir + "\\" + name + ".dll";
  ASSERT_TRUE(CopyFileA(BinFile("HaldenUSB.dll").c_str(), onPath.c_str(), FALSE));
  const std::string oldPath = Env("PATH");
  SetEnvironmentVariableA("PATH", (pathDir + ";" + oldPath).c_str());

  EXPECT_EQ(DynamicLibrary::Load(name), nullptr) << "loaded from PATH";
  ASSERT_TRUE(CopyFileA(BinFile("Kova100.dll").c_str(), besideUs.c_str(), FALSE));
  {
    const auto beside = DynamicLibrary::Load(name);
    ASSERT_NE(beside, nullptr);
    EXPECT_EQ(beside->Path(), besideUs);
    EXPECT_NE(beside->Symbol("Encoder"), nullptr);
    EXPECT_EQ(beside->Symbol("open_dev"), nullptr);
  }
  EXPECT_EQ(DynamicLibrary::Load(name + "Missing"), nullptr);
  EXPECT_EQ(DynamicLibrary::PlatformFileName("HaldenUSB"), "HaldenUSB.dll");

  SetEnvironmentVariableA("PATH", oldPath.c_str());
  DeleteFileA(besideUs.c_str());
  DeleteFileA(onPath.c_str());
  RemoveDirectoryA(pathDir.c_str());
}

// --- file mapping ---------------------------------------------------------------------

TEST(MappedFileWin32, MapsWholeFilesEmptyFilesAndRefusesMissingOnes) {
  struct Case {
    std::string content;
  };
  std::string big(200000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + (i >> 9));
  for (const Case& c : {Case{""}, Case{"BM"}, Case{big}}) {
    const std::string path = TempPath("map.bin");
    Put(path, c.content);
    MappedFile f;
    ASSERT_TRUE(f.Open(path)) << c.content.size();
    ASSERT_EQ(f.Size(), c.content.size());
    EXPECT_TRUE(c.content.empty() ||
                std::string(reinterpret_cast<const char*>(f.Data()), f.Size()) == c.content);
    f.Close();
    EXPECT_TRUE(DeleteFileA(path.c_str())) << "the mapping must not keep the file open";
  }
  MappedFile missing;
  EXPECT_FALSE(missing.Open(TempPath("no-such-file")));
  EXPECT_EQ(missing.Size(), 0u);
}

// --- handle I/O on the stand-in device library's handles ------------------------------

class DeviceOverTcp : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Env("EDOG_TEST_SIM").empty()) GTEST_SKIP() << "no simulator (scripts/test-windows.sh runs one)";
    lib_ = UsbLibrary::Load(BinFile("HaldenUSB.dll"));
    ASSERT_NE(lib_, nullptr);
  }
  std::shared_ptr<UsbLibrary> lib_;
};

TEST_F(DeviceOverTcp, TextRequestOnPipe00IsAnsweredInBlocksOnPipe01) {
  bool present = false;
  for (int i = 0; i < 3 && !present; ++i) present = lib_->DevicePresent();
  ASSERT_TRUE(present);

  // Nothing asked: a read fails after its wait, and says it got nothing.
  uint8_t block[256];
  uint32_t got = 7;
  const UsbHandle idle = lib_->OpenFile(USB_PIPE_IN);
  ASSERT_NE(idle, USB_INVALID_HANDLE);
  EXPECT_FALSE(HandleRead(idle, block, sizeof block, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(HandleClose(idle));

  // The text request as the window makes it, then the text on a new PIPE01.
  const UsbHandle out = lib_->OpenFile(USB_PIPE_OUT);
  ASSERT_NE(out, USB_INVALID_HANDLE);
  const uint8_t request = 0x40;
  uint32_t written = 0;
  EXPECT_TRUE(HandleWrite(out, &request, 1, &written));
  EXPECT_EQ(written, 1u);
  EXPECT_TRUE(HandleClose(out));
  const UsbHandle in = lib_->OpenFile(USB_PIPE_IN);
  ASSERT_NE(in, USB_INVALID_HANDLE);

  std::string text;
  size_t blocks = 0;
  for (int i = 0; i < 50 && text.find('\n') == std::string::npos; ++i) {
    if (HandleRead(in, block, sizeof block, &got)) {
      ASSERT_LE(got, 64u) << "device text comes in blocks of at most 64 bytes";
      text.append(reinterpret_cast<char*>(block), got);
      ++blocks;
    }
  }
  EXPECT_GE(blocks, 1u);
  EXPECT_NE(text.find('\n'), std::string::npos) << text;
  EXPECT_TRUE(HandleClose(in));

  uint32_t n = 0;
  EXPECT_FALSE(HandleWrite(USB_INVALID_HANDLE, &request, 1, &n));
  EXPECT_FALSE(HandleRead(USB_INVALID_HANDLE, block, 1, &n));
  EXPECT_FALSE(HandleClose(USB_INVALID_HANDLE));
  EXPECT_EQ(lib_->OpenFile("PIPE99"), USB_INVALID_HANDLE);
}

// --- the serial port against the simulator's serial loader ----------------------------

class TextSink final : public CommNotifySink {
 public:
  void OnSerialText(const CComm& comm) override {
    std::lock_guard<std::mutex> lock(m);
    text.append(comm.Text(), static_cast<size_t>(comm.TextLength() > 0 ? comm.TextLength() - 1 : 0));
    cv.notify_all();
  }
  bool WaitFor(const std::string& needle) {
    std::unique_lock<std::mutex> lock(m);
    return cv.wait_for(lock, std::chrono::seconds(10),
                       [&] { return text.find(needle) != std::string::npos; });
  }
  std::mutex m;
  std::condition_variable cv;
  std::string text;
};

class Lines final : public SerialDownloadObserver {
 public:
  explicit Lines(CComm& comm) : comm_(comm) {}
  void AppendLine(const std::string& l) override { lines.push_back(l); }
  void DeleteLastLine() override {
    if (!lines.empty()) lines.pop_back();
  }
  void SetProgress(unsigned p) override { last = p; }
  void OnFileUnreadable() override { boxes.push_back(kFileOpenErrorText); }
  void OnTransferCompleted() override { boxes.push_back(kTransferDoneText); }
  void ResumeReader() override { comm_.ResumeReader(); }
  void OnEnded() override {}
  std::vector<std::string> lines, boxes;
  unsigned last = 0;

 private:
  CComm& comm_;
};

TEST(CommWin32, ConsoleTextThenACodeDownloadOverAWineComPort) {
  const std::string port = Env("EDOG_TEST_COM");
  if (port.empty()) GTEST_SKIP() << "no COM port mapped to the simulator's serial line";
  const std::string image = Env("EDOG_TEST_SERIAL_IMAGE");
  ASSERT_FALSE(image.empty());

  TextSink console;
  CComm comm;
  comm.SetParams(static_cast<uint8_t>(std::atoi(port.c_str() + 3)), 115200, 8, kOneStopBit, kNoParity);
  ASSERT_EQ(comm.CreateEvents(), 1);
  comm.SetNotifyWnd(&console);
  ASSERT_NE(comm.Open(), 0) << port;
  EXPECT_TRUE(comm.IsOpen());
  // The reader (WaitCommEvent) hands over the loader's idle console text.
  EXPECT_TRUE(console.WaitFor("\n")) << console.text;

  Lines lines(comm);
  comm.SuspendReader();
  SerialDownload download(comm, lines);
  download.Start(true, image);
  EXPECT_EQ(download.Wait(), SerialDownloadResult::kDone);
  ASSERT_FALSE(lines.lines.empty());
  EXPECT_EQ(lines.lines.back(), "Code Download End...");
  EXPECT_EQ(lines.last, 100u);
  EXPECT_EQ(comm.Close(), 1);
  EXPECT_FALSE(comm.IsOpen());
}

}  // namespace
}  // namespace edog
