#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "support/TestSupport.h"
#include "update/HeaderedImage.h"
#include "update/UpdateJob.h"

namespace edog {
namespace {

using test::TempDir;

// Records every call in order as one readable string.
class RecordingHost : public UpdateHost {
 public:
  std::vector<std::string> events;
  std::vector<std::string> messages;
  std::function<bool()> connected = [] { return true; };
  bool serialOpen = true;
  TransferOutcome outcome = TransferOutcome::kCompleted;
  std::function<void()> onWait;
  std::vector<std::string> transferredPaths;
  bool buttonEnabled = true;

  bool Connected() override { return connected(); }
  void AppendLog(const std::string& t) override { events.push_back("log " + t); }
  void AddProgressLine(const std::string& l) override { events.push_back("line " + l); }
  void OnFailure(const std::string& t) override { Box(t); }
  void OnSummary(const std::string& t) override { Box(t); }
  void Box(const std::string& t) {
    events.push_back("box " + t);
    messages.push_back(t);
  }
  void PumpWait(uint32_t ms) override {
    events.push_back("wait " + std::to_string(ms));
    if (onWait) onWait();
  }
  void OnBusyChanged(bool busy) override {
    buttonEnabled = !busy;
    events.push_back(busy ? "button off" : "button on");
  }
  void SetPath(ContentKind k, const std::string& p) override {
    events.push_back("path " + std::to_string(int(k)) + " " +
                     std::filesystem::path(p).filename().string());
  }
  void Reset() override { events.push_back("reset"); }
  TransferOutcome RunUsbTransfer(const KeptFile& file, const std::string& label) override {
    const std::string& path = file.Path();
    transferredPaths.push_back(path);
    // The file must still be there while the window sends it.
    events.push_back("usb " + label + (std::filesystem::exists(path) ? "" : " (missing!)"));
    return outcome;
  }
  bool SerialOpen() override { return serialOpen; }
  void StartSerialDownload(const KeptFile*) override { events.push_back("serial"); }

  size_t Count(const std::string& prefix) const {
    size_t n = 0;
    for (const auto& e : events) n += e.rfind(prefix, 0) == 0;
    return n;
  }
};

std::vector<uint8_t> Image(Port port, uint8_t flash, uint32_t address, size_t payload) {
  const auto s = PacketRoundedSize(port, static_cast<uint32_t>(payload));
  const HeaderBlock h = BuildHeaderBlock(port, flash, address, s.fileSize, s.packetCount);
  std::vector<uint8_t> f(h.begin(), h.end());
  f.resize(f.size() + s.fileSize, 0x5A);
  return f;
}

class UpdateJobTest : public ::testing::Test {
 protected:
  TempDir dir_;
  TempDir tmp_;  // where extraction directories are made
  RecordingHost host_;
  UpdateSettings settings_;

  void SetUp() override {
    test::SetEnv("TMP", tmp_.Path().c_str());
    settings_.packagePath = dir_ / "qzkt.dll";
  }
  void TearDown() override { test::UnsetEnv("TMP"); }

  void Package(std::vector<uint8_t> voice, std::vector<uint8_t> map, std::vector<uint8_t> soft,
               int method = 3) {
    ASSERT_EQ(WritePackage(settings_.packagePath,
                           {{"edogvoice.hdr", std::move(voice)},
                            {"edogmap.hdr", std::move(map)},
                            {"edogsoftware.hdr", std::move(soft)}},
                           KeyForMethod(method)),
              "");
  }
  void UsbPackage() {
    Package(Image(Port::Usb, kFlashNand, 0x200, 100), Image(Port::Usb, kFlashSerial, 0, 300),
            Image(Port::Usb, kFlashE, 0x1000, 64));
  }
  bool TmpIsEmpty() const { return std::filesystem::is_empty(tmp_.Path()); }
};

TEST_F(UpdateJobTest, NotConnectedOrNothingSelectedEndsWithABoxOnly) {
  UsbPackage();
  host_.connected = [] { return false; };
  auto r = UpdateJob(host_).Run({true, true, true}, settings_);
  EXPECT_FALSE(r.started);
  EXPECT_EQ(host_.events, (std::vector<std::string>{
                              "box          USB没连接\n\r请检查电子设备与电脑是不是连接正常!"}));
  host_.events.clear();
  host_.connected = [] { return true; };
  r = UpdateJob(host_).Run({}, settings_);
  EXPECT_FALSE(r.started);
  EXPECT_EQ(host_.events, (std::vector<std::string>{"box 请选择要升级的文件！"}));
}

TEST_F(UpdateJobTest, OnlySoftwareWaitsThroughEveryPhaseFirst) {
  UsbPackage();
  const auto r = UpdateJob(host_).Run({false, false, true}, settings_);
  const std::vector<std::string> expected = {
      "button off",
      "log 正在解压升级程序...\r\n",
      "wait 200",
      "log 升级程序解压完成！\r\n",
      "wait 200",
      "wait 2000",
      "wait 2000",
      "path 2 edogsoftware.hdr",
      "line -> port: USB",
      "line -> flash memory: e-flash",
      "line -> start address: 0x00001000",
      "line -> file size: 64",
      "line -> packet count: 1",
      "log 电子狗软件更新开始！\r\n",
      "usb 软件文件",
      "log 电子狗软件更新完成！\r\n",
      "reset",
      "button on",
      "box 软件更新成功!\r\n"};
  EXPECT_EQ(host_.events, expected);
  EXPECT_EQ(r.usbCompleted, 1);
  EXPECT_EQ(r.failed, 0);
  EXPECT_TRUE(TmpIsEmpty()) << "the extraction directory is cleaned up";
}

TEST_F(UpdateJobTest, AllThreeOverUsbInOrderWithJoinedSummary) {
  UsbPackage();
  const auto r = UpdateJob(host_).Run({true, true, true}, settings_);
  EXPECT_EQ(host_.messages.back(), "语音文件更新成功!\r\n数据库文件更新成功!\r\n软件更新成功!\r\n");
  std::vector<std::string> usb;
  for (const auto& e : host_.events)
    if (e.rfind("usb ", 0) == 0) usb.push_back(e);
  EXPECT_EQ(usb, (std::vector<std::string>{"usb 语音文件", "usb 数据文件", "usb 软件文件"}));
  EXPECT_EQ(r.usbCompleted, 3);
  EXPECT_EQ(host_.Count("line "), 15u);
  EXPECT_EQ(host_.Count("reset"), 3u);
  // The NAND voice header shows its block address times 512.
  EXPECT_NE(std::find(host_.events.begin(), host_.events.end(), "line -> start address: 0x00040000"),
            host_.events.end());
  EXPECT_TRUE(host_.buttonEnabled);
  EXPECT_TRUE(TmpIsEmpty());
}

TEST_F(UpdateJobTest, BadHeadersGiveTheirExactTextsAndJoinOnOneLine) {
  std::vector<uint8_t> soft = Image(Port::Usb, kFlashE, 0, 64);
  soft[0] = '#';
  std::vector<uint8_t> map = Image(Port::Usb, kFlashSerial, 0, 64);
  map[0] = 'x';
  Package(std::vector<uint8_t>(10, '$'), map, soft);
  const auto r = UpdateJob(host_).Run({true, true, true}, settings_);
  EXPECT_EQ(host_.messages.back(), "语音文件更新失败!数据库文件更新失败!软件更新失败!\r\n");
  EXPECT_EQ(host_.Count("log 语音文件错误，请重新下载。\r\n"), 1u);
  EXPECT_EQ(host_.Count("log 数据库文件格式错误，请重新下载。\r\n"), 1u);
  EXPECT_EQ(host_.Count("log 软件格式错误，请重新下载。\r\n"), 1u);
  EXPECT_EQ(host_.Count("usb"), 0u);
  EXPECT_EQ(host_.Count("reset"), 0u) << "a refused kind is left before the Reset routine";
  EXPECT_EQ(r.failed, 3);
}

TEST_F(UpdateJobTest, VoiceFormatTextEndsWithTheLetterN) {
  std::vector<uint8_t> voice = Image(Port::Usb, kFlashE, 0, 64);
  voice[0] = 0;
  Package(voice, {}, {});
  UpdateJob(host_).Run({true, false, false}, settings_);
  EXPECT_EQ(host_.Count("log 语音文件格式不符合要求，请重新下载。\r\nn"), 1u);
  EXPECT_EQ(host_.messages.back(), "语音文件更新失败!");
}

TEST_F(UpdateJobTest, EveryKindOnUartStartsSerialDownloadsAndShowsEmptySummary) {
  Package(Image(Port::Uart, kFlashSerial, 0, 10), Image(Port::Uart, kFlashSerial, 0, 10),
          Image(Port::Uart, kFlashE, 0x1000, 10));
  const auto r = UpdateJob(host_).Run({true, true, true}, settings_);
  EXPECT_EQ(host_.Count("serial"), 3u);
  EXPECT_EQ(host_.Count("usb"), 0u);
  EXPECT_EQ(host_.messages.back(), "");
  EXPECT_EQ(r.serialDownloadsStarted, 3);
}

TEST_F(UpdateJobTest, UartWithClosedPortEndsTheJobAndStillCleansUp) {
  Package(Image(Port::Uart, kFlashSerial, 0, 10), {}, {});
  host_.serialOpen = false;
  const auto r = UpdateJob(host_).Run({true, false, false}, settings_);
  EXPECT_TRUE(r.aborted);
  EXPECT_EQ(host_.messages, (std::vector<std::string>{"COMx disconnect!\n\nCheck COMx port!"}));
  EXPECT_TRUE(host_.buttonEnabled);
  EXPECT_TRUE(TmpIsEmpty());
}

TEST_F(UpdateJobTest, DeviceGoneBeforeTheFirstUsbHeaderEndsWithTheDisconnectBoxAlone) {
  UsbPackage();
  int calls = 0;
  host_.connected = [&] { return ++calls == 1; };  // present at the press only
  const auto r = UpdateJob(host_).Run({true, true, true}, settings_);
  EXPECT_TRUE(r.aborted);
  EXPECT_FALSE(r.usbLost);
  // Nothing went to the device: the disconnect box alone, no summary box after it.
  EXPECT_EQ(host_.messages, (std::vector<std::string>{"USB disconnect!\n\nCheck USB!"}));
  EXPECT_EQ(host_.Count("log 语音文件更新开始"), 0u);
  EXPECT_EQ(host_.Count("usb"), 0u);
  EXPECT_TRUE(host_.buttonEnabled);
  EXPECT_TRUE(TmpIsEmpty());
  // Gone after the voice went: the summary still says what the device holds.
  calls = 0;
  host_.connected = [&] { return ++calls <= 2; };  // the press and the voice's check
  host_.messages.clear();
  const auto later = UpdateJob(host_).Run({true, true, true}, settings_);
  EXPECT_TRUE(later.usbLost);
  EXPECT_EQ(host_.messages, (std::vector<std::string>{"USB disconnect!\n\nCheck USB!",
                                                      "语音文件更新成功!\r\n数据库文件未发送!\r\n软件未发送!\r\n"}));
  EXPECT_TRUE(TmpIsEmpty());
}

TEST_F(UpdateJobTest, ExtractionFailureShowsMismatchAndLeavesNothing) {
  test::WriteFile(settings_.packagePath, std::string(40, 'x'));  // ends inside the table
  const auto r = UpdateJob(host_).Run({true, false, false}, settings_);
  EXPECT_FALSE(r.extracted);
  EXPECT_EQ(host_.messages, (std::vector<std::string>{"数据与下载工具不配对，请更换数据！"}));
  EXPECT_EQ(host_.Count("log "), 1u);
  EXPECT_TRUE(host_.buttonEnabled);
  EXPECT_TRUE(TmpIsEmpty());
  // A package that is not there: the same first line, then the reason naming it.
  settings_.packagePath = dir_ / "absent.dll";
  host_.messages.clear();
  UpdateJob(host_).Run({true, false, false}, settings_);
  EXPECT_EQ(host_.messages, (std::vector<std::string>{"数据与下载工具不配对，请更换数据！\n\n无法打开升级数据文件：\n" +
                                                      settings_.packagePath +
                                                      "\n请把升级数据放在本程序所在的文件夹中！"}));
  // A package the lookup refused (another user could have put it there) is not opened,
  // however good it is: the same box, nothing extracted, nothing sent.
  settings_.packagePath = dir_ / "qzkt.dll";
  UsbPackage();
  settings_.packageRefusal = "the folder of the update package belongs to user 65534";
  host_.events.clear();
  host_.messages.clear();
  EXPECT_FALSE(UpdateJob(host_).Run({true, true, true}, settings_).started);
  EXPECT_EQ(host_.events, (std::vector<std::string>{"box 数据与下载工具不配对，请更换数据！\n\n无法打开升级数据文件：\n" +
                                                    settings_.packagePath +
                                                    "\n请把升级数据放在本程序所在的文件夹中！"}));
  EXPECT_TRUE(TmpIsEmpty());
}

// The job checks the 15 bytes and the magic only: what the device stores is the device's
// to say, so every '$' image goes to its port, whatever its size field, flash or address.
TEST_F(UpdateJobTest, EveryImageWithTheMagicIsHandedToItsPort) {
  auto withFields = [](Port port, uint8_t flash, uint32_t start, uint32_t sizeField) {
    std::vector<uint8_t> f = Image(port, flash, start, 4096);
    const HeaderBlock h = BuildHeaderBlock(port, flash, start, sizeField, sizeField / 64);
    std::copy(h.begin(), h.begin() + kHeaderFieldBytes, f.begin());
    return f;
  };
  const struct {
    const char* what;
    std::vector<uint8_t> image;
    const char* flashLine;
    const char* sent;
  } rows[] = {
      {"NAND size field short of the payload", withFields(Port::Usb, kFlashNand, 0x200, 4096 - 256),
       "line -> flash memory: NAND", "usb 语音文件"},
      {"size field beyond the payload", withFields(Port::Usb, kFlashSerial, 0, 8192),
       "line -> flash memory: Serial", "usb 语音文件"},
      {"e-flash range past 64 KiB", withFields(Port::Usb, kFlashE, 0xFFFFF000, 4096),
       "line -> flash memory: e-flash", "usb 语音文件"},
      {"flash code 4", withFields(Port::Usb, 4, 0, 4096), "line -> flash memory: unknown (4)",
       "usb 语音文件"},
      {"flash code 255 over UART", withFields(Port::Uart, 255, 0, 4096),
       "line -> flash memory: unknown (255)", "serial"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    host_.events.clear();
    Package(row.image, {}, {});
    UpdateJob(host_).Run({true, false, false}, settings_);
    EXPECT_EQ(host_.Count(row.flashLine), 1u);
    EXPECT_EQ(host_.Count(row.sent), 1u);
    EXPECT_EQ(host_.Count("log 语音文件格式"), 0u);
  }
}

TEST_F(UpdateJobTest, TransferNotTakenWholeIsReportedAsFailure) {
  UsbPackage();
  host_.outcome = TransferOutcome::kFailed;
  const auto r = UpdateJob(host_).Run({true, false, true}, settings_);
  EXPECT_EQ(host_.messages.back(), "语音文件更新失败!\r\n软件更新失败!\r\n");
  EXPECT_EQ(host_.Count("log 语音文件更新完成"), 0u);
  EXPECT_EQ(r.failed, 2);
}

TEST_F(UpdateJobTest, MissingEntryLogsMissingTextAndOpenFailure) {
  ASSERT_EQ(WritePackage(settings_.packagePath,
                         {{"other.hdr", {}}, {"edogmap.hdr", {}}, {"x.hdr", {}}},
                         KeyForMethod(3)),
            "");
  UpdateJob(host_).Run({true, false, true}, settings_);
  EXPECT_EQ(host_.Count("log 未找到语音文件\r\n"), 1u);
  EXPECT_EQ(host_.Count("log 未找到数据文件\r\n"), 1u);
  EXPECT_EQ(host_.messages.back(), "语音文件更新失败!\r\n软件更新失败!");
}

TEST_F(UpdateJobTest, PressDuringAWaitDoesNotStartASecondJob) {
  UsbPackage();
  UpdateJob job(host_);
  int nested = 0;
  host_.onWait = [&] {
    EXPECT_TRUE(job.Running());
    if (job.Run({true, true, true}, settings_).started) ++nested;
  };
  job.Run({false, false, true}, settings_);
  EXPECT_EQ(nested, 0);
  EXPECT_FALSE(job.Running());
  EXPECT_EQ(host_.Count("usb"), 1u);
}

TEST_F(UpdateJobTest, OtherMethodsKeyGarblesTheHeaderFieldsButKeepsTheMagic) {
  Package(Image(Port::Usb, kFlashE, 0x1000, 64), {}, {}, /*method=*/0);
  UpdateJob(host_).Run({true, false, false}, settings_);
  // All keys begin "QH-PW-", so byte 0 still reads '$' and the port and flash bytes
  // survive; the address and size bytes do not.
  EXPECT_EQ(host_.Count("line -> start address: 0x00001000"), 0u);
  EXPECT_EQ(host_.Count("line -> flash memory: e-flash"), 1u);
  settings_.encryptionMethod = 0;
  host_.events.clear();
  UpdateJob(host_).Run({true, false, false}, settings_);
  EXPECT_EQ(host_.Count("line -> start address: 0x00001000"), 1u);
}

}  // namespace
}  // namespace edog
