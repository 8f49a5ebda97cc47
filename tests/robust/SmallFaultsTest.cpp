// Small faults with large effects: a sample rate that does not fit an int, and a full temp
// folder during an update that was blamed on the package.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "robust/RobustFiles.h"
#include "support/TestSupport.h"
#include "update/Package.h"
#include "update/UpdateJob.h"

namespace edog::test {
namespace {

TEST(SmallFaults, SampleRatesBeyondAnIntAreRefused) {
  TempDir dir;
  WriteFile(dir / "max.wav", MonoWave(0x7FFFFFFFu, 8));
  EXPECT_NE(RunTool({"wavinfo", dir / "max.wav"}).out.find("\t2147483647\t"), std::string::npos);
  for (uint32_t rate : {0x80000000u, 0xFFFFFFFFu}) {
    WriteFile(dir / "w.wav", MonoWave(rate, 8));
    for (const char* command : {"wavinfo", "voice"}) {
      const auto r = RunTool({command, dir / "w.wav"});
      EXPECT_EQ(r.status, 1) << command;
      EXPECT_NE(r.err.find("sample rate " + std::to_string(rate) + " Hz is out of range"),
                std::string::npos) << r.err;
    }
  }
}

// Records the job's message boxes; the device is always there.
struct Host : UpdateHost {
  std::vector<std::string> boxes;
  bool Connected() override { return true; }
  void AppendLog(const std::string&) override {}
  void AddProgressLine(const std::string&) override {}
  void OnFailure(const std::string& text) override { boxes.push_back(text); }
  void OnSummary(const std::string& text) override { boxes.push_back(text); }
  void PumpWait(uint32_t) override {}
  void OnBusyChanged(bool) override {}
  void SetPath(ContentKind, const std::string&) override {}
  void Reset() override {}
  TransferOutcome RunUsbTransfer(const std::string&, const std::string&) override {
    return TransferOutcome::kFailed;
  }
  bool SerialOpen() override { return false; }
  void StartSerialDownload() override {}
};

TEST(SmallFaults, AFullTempFolderIsNotCalledAPackageMismatch) {
  TempDir dir;
  const auto entry = RandomBytes(100 * 1024, 9);
  ASSERT_EQ(WritePackage(dir / "qzkt.dll",
                         {{"edogvoice.hdr", entry}, {"edogmap.hdr", entry}, {"edogsoftware.hdr", entry}},
                         KeyForMethod(3)),
            "");
  WriteFile(dir / "short.dll", std::string(50, 'x'));
  std::filesystem::create_directory(dir / "tmp");
  setenv("TMP", (dir / "tmp").c_str(), 1);
  struct Case {
    std::string package;
    bool full;
    const char* text;
  };
  for (const Case& c : {Case{"qzkt.dll", true, kExtractDiskFullText},
                        Case{"short.dll", false, kPackageMismatchText}}) {
    Host host;
    UpdateSelection selection;
    selection.voice = true;
    UpdateSettings settings;
    settings.packagePath = dir / c.package;
    UpdateResult result;
    {
      std::unique_ptr<FileSizeLimit> full;
      if (c.full) full = std::make_unique<FileSizeLimit>(64 * 1024);
      result = UpdateJob(host).Run(selection, settings);
    }
    EXPECT_FALSE(result.extracted);
    EXPECT_EQ(host.boxes, std::vector<std::string>{c.text}) << c.package;
    EXPECT_TRUE(std::filesystem::is_empty(dir / "tmp")) << c.package;
  }
  unsetenv("TMP");
}

}  // namespace
}  // namespace edog::test
