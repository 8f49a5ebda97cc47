// The vendor-style DLLs (VendorStyleDll.cpp), __cdecl and __stdcall, through the real
// loader, the real USB transfer, the device text reader and the voice generation run.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "common/Files.h"
#include "device/DeviceTextReader.h"
#include "device/UsbTransfer.h"
#include "tools/VoiceGeneration.h"
#include "update/HeaderedImage.h"

namespace edog {
namespace {

namespace fs = std::filesystem;

class VendorDll : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    dll_ = std::string(EDOG_VENDOR_DIR) + "\\vendor-probe-" + GetParam() + "\\vendor_probe.dll";
    dir_ = fs::temp_directory_path() / fs::u8path("edog-vendor-" + std::to_string(GetCurrentProcessId()) +
                                                  "-" + GetParam() + "-语音");
    fs::create_directories(dir_);
    // ASCII, so the DLL's narrow calls find it under any code page.
    SetEnvironmentVariableA("EDOG_TEST_VENDOR_SINK", (fs::temp_directory_path() / "edog-vendor-sink.bin").string().c_str());
    sink_ = (fs::temp_directory_path() / "edog-vendor-sink.bin").u8string();
    RemoveFile(sink_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
    RemoveFile(sink_);
  }
  std::string dll_, sink_;
  fs::path dir_;
};

struct Quiet : UsbTransferObserver {};

// The pipe written after the library would have been let go: a DLL that closes its
// handles on unload still gets every byte, in order.
TEST_P(VendorDll, TransferKeepsTheLibraryWhileItsPipeLives) {
  const uint32_t payload = 5000;
  Bytes file(kHeaderBlockSize + payload);
  const SizeAndPackets size = PacketRoundedSize(Port::Usb, payload);
  ASSERT_EQ(size.fileSize, payload + (64 - payload % 64) % 64);
  file.resize(kHeaderBlockSize + size.fileSize);
  const HeaderBlock header = BuildHeaderBlock(Port::Usb, kFlashSerial, 0, size.fileSize, size.packetCount);
  std::copy(header.begin(), header.end(), file.begin());
  for (size_t i = kHeaderBlockSize; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 7);
  const std::string image = (dir_ / "image.hdr").u8string();
  ASSERT_TRUE(WriteWholeFile(image, file));

  UsbTransferJob job;
  const auto setup = PrepareUsbTransfer(image, "image.hdr", job, dll_);
  ASSERT_TRUE(setup.Ok()) << setup.message;
  std::atomic<int> cancel{0};
  Quiet quiet;
  const UsbTransferResult r = RunUsbTransfer(std::move(job), cancel, quiet, SystemClock());
  EXPECT_TRUE(r.commandBlockAccepted);
  EXPECT_EQ(r.sent, size.fileSize);
  const auto got = ReadWholeFile(sink_);
  ASSERT_TRUE(got);
  Bytes expected(file.begin(), file.begin() + 20);
  expected.insert(expected.end(), file.begin() + kHeaderBlockSize, file.end());
  EXPECT_EQ(*got, expected);
}

// PIPE01 never answers: stopping the reader breaks its read instead of hanging.
TEST_P(VendorDll, ReaderOnASilentPipeStops) {
  auto library = UsbLibrary::Load(dll_);
  ASSERT_TRUE(library);
  EXPECT_TRUE(library->DevicePresent());
  DeviceTextReader reader(library);
  ASSERT_TRUE(reader.Start([] { return true; }, [](const std::string&) {}));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // into its read
  const auto start = std::chrono::steady_clock::now();
  reader.Stop();
  EXPECT_FALSE(reader.Reading());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// A wave file in a Chinese folder reaches an ANSI encoder (exact code page, else 8.3).
TEST_P(VendorDll, VoiceRunFromAChineseFolder) {
  std::string wave = "RIFF....WAVEfmt ";
  const uint8_t fmt[] = {16, 0, 0, 0, 1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x80, 0x3E, 0, 0, 2, 0, 16, 0};
  wave.append(reinterpret_cast<const char*>(fmt), sizeof fmt);
  wave += "data";
  const uint32_t bytes = 1600;
  for (int i = 0; i < 4; ++i) wave += static_cast<char>(bytes >> (8 * i));
  wave.append(bytes, '\x11');
  const std::string path = (dir_ / fs::u8path("提示音.wav")).u8string();
  ASSERT_TRUE(WriteWholeFile(path, reinterpret_cast<const uint8_t*>(wave.data()), wave.size()));

  VoiceGeneration g;
  g.AddFile(path, "8000", "4");
  struct Obs : VoiceGenerationObserver {
    void OnBusyChanged(bool) override {}
    void OnProgress(long) override {}
    void OnCompleted(long) override {}
  } obs;
  const auto r = RunVoiceGeneration(g, 0, obs, dll_);
  EXPECT_EQ(r.status, VoiceRunStatus::kCompleted) << r.message;
  const auto data = ReadWholeFile((dir_ / "KOVA_DATA.HDR").u8string());
  ASSERT_TRUE(data);
  EXPECT_GE(data->size(), kHeaderBlockSize + wave.size());  // the copy the DLL made is in it
}

INSTANTIATE_TEST_SUITE_P(Conventions, VendorDll, ::testing::Values("cdecl", "stdcall"));

}  // namespace
}  // namespace edog
