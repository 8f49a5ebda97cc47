// edogtool update end to end: the real job, the real stand-in library and the real
// simulator (in this process), USB and serial routes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <utility>
#include <vector>

#include "device/DeviceSocket.h"
#include "sim/Simulator.h"
#include "support/HeaderedContent.h"
#include "support/TestSupport.h"
#include "update/HeaderedImage.h"
#include "update/Package.h"

namespace edog {
namespace {

using test::RunTool;

using Content = test::HeaderedContent;
constexpr auto Make = test::MakeHeaderedContent;

class UpdateCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv(kDeviceSocketEnv, (dir_ / "dev.sock").c_str(), 1);
    setenv("TMP", tmp_.Path().c_str(), 1);
  }
  void TearDown() override { unsetenv("TMP"); }
  sim::Simulator& StartSim(bool serial = false) {
    sim::SimulatorOptions o;
    o.stateDir = dir_ / "state";
    o.serial.enabled = serial;
    o.serial.baud = 0;  // unpaced: the test is about the route, not the line's speed
    sim_ = std::make_unique<sim::Simulator>(o);
    std::string error;
    EXPECT_TRUE(sim_->Start(&error)) << error;
    return *sim_;
  }
  std::string Pack(const Content& voice, const Content& map, const Content& soft, int method = 3) {
    const std::string path = dir_ / "qzkt.dll";
    EXPECT_EQ(WritePackage(path,
                           {{"edogvoice.hdr", voice.file},
                            {"edogmap.hdr", map.file},
                            {"edogsoftware.hdr", soft.file}},
                           KeyForMethod(method)),
              "");
    return path;
  }
  test::TempDir dir_, tmp_;
  std::unique_ptr<sim::Simulator> sim_;
};

TEST_F(UpdateCommand, AllThreeOverUsbLandByteExactInOrder) {
  auto& sim = StartSim();
  const Content voice = Make(Port::Usb, kFlashNand, 0x200, 30000, 1);
  const Content map = Make(Port::Usb, kFlashSerial, 0x10000, 12345, 2);
  const Content soft = Make(Port::Usb, kFlashE, 0x1000, 4000, 3);
  const auto r = RunTool({"update", "--voice", "--map", "--software", "--package",
                          Pack(voice, map, soft)});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Result:\n语音文件更新成功!\n数据库文件更新成功!\n软件更新成功!\n"),
            std::string::npos)
      << r.out;
  EXPECT_LT(r.out.find("语音文件更新开始！"), r.out.find("数据库文件更新开始！"));
  EXPECT_LT(r.out.find("数据库文件更新开始！"), r.out.find("电子狗软件更新开始！"));
  EXPECT_NE(r.out.find("-> start address: 0x00040000\n"), std::string::npos);

  ASSERT_TRUE(sim.WaitForJournal(3, 5000));
  const auto records = sim.JournalRecords();
  ASSERT_EQ(records.size(), 3u);
  for (const auto& rec : records) EXPECT_EQ(rec.Text("outcome"), "complete");
  EXPECT_EQ(sim.ReadFlash(kFlashNand, 0x200 * 512, voice.payload.size()), voice.payload);
  EXPECT_EQ(sim.ReadFlash(kFlashSerial, 0x10000, map.payload.size()), map.payload);
  EXPECT_EQ(sim.ReadFlash(kFlashE, 0x1000, soft.payload.size()), soft.payload);
  EXPECT_TRUE(std::filesystem::is_empty(tmp_.Path())) << "extraction directory left behind";
}

TEST_F(UpdateCommand, NoDeviceIsRefusedWithTheNotConnectedText) {
  const Content c = Make(Port::Usb, kFlashE, 0x1000, 100, 4);
  const auto r = RunTool({"update", "--software", "--package", Pack(c, c, c)});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("USB没连接"), std::string::npos) << r.err;
  // The terminal user learns which library found no device and what plays it here.
  EXPECT_NE(r.err.find("no device answered through " + test::BinDir() + "/libHaldenUSB.so; edog-sim "
                       "plays the device"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.out.find("正在解压"), std::string::npos);
}

TEST_F(UpdateCommand, NothingSelectedNamesTheThreeFlags) {
  StartSim();
  const Content c = Make(Port::Usb, kFlashE, 0x1000, 100, 4);
  const auto r = RunTool({"update", "--package", Pack(c, c, c)});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("请选择要升级的文件！\nchoose what to renew: --voice, --map, --software"),
            std::string::npos)
      << r.err;
}

TEST_F(UpdateCommand, TheSummaryIsPrintedOnceOnStandardOutput) {
  StartSim();
  const Content c = Make(Port::Usb, kFlashSerial, 0, 3000, 9);
  const auto r = RunTool({"update", "--map", "--package", Pack(c, c, c)});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string line = "数据库文件更新成功!";
  const std::string both = r.out + r.err;
  ASSERT_NE(both.find(line), std::string::npos) << both;
  EXPECT_EQ(both.find(line, both.find(line) + 1), std::string::npos) << both;
  EXPECT_NE(r.out.find("Result:\n" + line), std::string::npos) << r.out;
}

TEST_F(UpdateCommand, BadSoftwareHeaderFailsOnlyThatContent) {
  auto& sim = StartSim();
  const Content voice = Make(Port::Usb, kFlashSerial, 0, 500, 5);
  Content soft = Make(Port::Usb, kFlashE, 0x1000, 500, 6);
  soft.file[0] = '#';
  const auto r = RunTool({"update", "--voice", "--software", "--package", Pack(voice, voice, soft)});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("软件格式错误，请重新下载。\n"), std::string::npos);
  EXPECT_NE(r.out.find("Result:\n语音文件更新成功!\n软件更新失败!\n"), std::string::npos) << r.out;
  ASSERT_TRUE(sim.WaitForJournal(1, 5000));
  EXPECT_EQ(sim.ReadFlash(kFlashSerial, 0, voice.payload.size()), voice.payload);
}

TEST_F(UpdateCommand, DeviceRefusingForGoodIsNotReportedAsSuccess) {
  sim::SimulatorOptions o;
  o.stateDir = dir_ / "state";
  o.serial.enabled = false;
  o.faults.refuse.enabled = true;
  o.faults.refuse.afterBytes = 4096;
  sim_ = std::make_unique<sim::Simulator>(o);
  ASSERT_TRUE(sim_->Start());
  const Content map = Make(Port::Usb, kFlashSerial, 0, 40000, 7);
  const auto r = RunTool({"update", "--map", "--package", Pack(map, map, map)});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Result:\n数据库文件更新失败!\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("数据库文件更新成功"), std::string::npos);
}

// The device goes while the database is on its way: the loss is seen at once, not after a
// round of retries; the disconnect box follows, then the summary of what the device holds.
TEST_F(UpdateCommand, ADeviceLostMidwayIsSeenAtOnceAndTheSummarySaysWhatItHolds) {
  auto& sim = StartSim();
  sim::FaultOptions faults;
  faults.vanish = {true, 20000, 0};  // per download: the voice stays under it
  sim.SetFaults(faults);
  const Content voice = Make(Port::Usb, kFlashSerial, 0, 8000, 11);
  const Content map = Make(Port::Usb, kFlashSerial, 0x10000, 60000, 12);
  const Content soft = Make(Port::Usb, kFlashE, 0x1000, 4000, 13);
  const auto r = RunTool({"update", "--voice", "--map", "--software", "--trace", "--package",
                          Pack(voice, map, soft)});
  EXPECT_EQ(r.status, 1);
  // From the last block the device took to the last write tried.
  std::regex traceLine("(\\d+\\.\\d{6}) PIPE00 \\w+ offset \\d+ size \\d+ attempt \\d+ (accepted|refused)");
  double lastTaken = -1, lastTried = -1;
  for (auto it = std::sregex_iterator(r.err.begin(), r.err.end(), traceLine); it != std::sregex_iterator(); ++it) {
    lastTried = std::stod((*it)[1]);
    if ((*it)[2] == "accepted") lastTaken = lastTried;
  }
  ASSERT_GE(lastTaken, 0) << r.err.substr(0, 2000);
  EXPECT_LT(lastTried - lastTaken, 1.5) << "the loss took that long to be seen";
  const size_t box = r.err.find("USB disconnect!\n\nCheck USB!");
  EXPECT_NE(box, std::string::npos) << r.err.substr(r.err.size() > 2000 ? r.err.size() - 2000 : 0);
  EXPECT_NE(r.out.find("Result:\n语音文件更新成功!\n数据库文件更新中断，设备中只有部分数据!\n软件未发送!\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("数据库文件更新中断：USB连接已断开"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("电子狗软件更新开始！"), std::string::npos) << "nothing is tried without the device";
  ASSERT_TRUE(sim.WaitForJournal(2, 5000));
  EXPECT_EQ(sim.JournalRecords()[1].Text("ended"), "vanished");
  EXPECT_TRUE(std::filesystem::is_empty(tmp_.Path()));
}

TEST_F(UpdateCommand, SoftwareOverUartGoesThroughTheSerialLoader) {
  auto& sim = StartSim(/*serial=*/true);
  ASSERT_FALSE(sim.SerialLinePath().empty()) << sim.SerialLineError();
  const Content usb = Make(Port::Usb, kFlashSerial, 0, 100, 8);
  const Content soft = Make(Port::Uart, kFlashSerial, 0x20000, 2500, 9);
  const auto r = RunTool({"update", "--software", "--port", sim.SerialLinePath(), "--package",
                          Pack(usb, usb, soft)});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("-> port: UART\n"), std::string::npos);
  EXPECT_NE(r.out.find("Code Download End..."), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nSerial line: "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("File Transfer is completed!"), std::string::npos);
  EXPECT_NE(r.out.find("Result:\n"), std::string::npos);
  ASSERT_TRUE(sim.WaitForJournal(1, 5000));
  EXPECT_EQ(sim.ReadFlash(kFlashSerial, 0x20000, soft.payload.size()), soft.payload);
}

TEST_F(UpdateCommand, UartContentWithoutAnOpenPortEndsWithTheComMessage) {
  StartSim();
  const Content soft = Make(Port::Uart, kFlashE, 0x1000, 100, 10);
  const auto r = RunTool({"update", "--software", "--package", Pack(soft, soft, soft)});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("COMx disconnect!\n\nCheck COMx port!"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("Result:"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_empty(tmp_.Path()));
}

// A clone built under `umask 002` (the default where each user has a group of his own) has
// its bin folder at 0775 and the demo package at 0664. The package beside the program is
// trusted as the program is, so the first update from such a folder goes through.
TEST_F(UpdateCommand, TheDemoPackageOfAFolderBuiltUnderUmask002IsUsed) {
  namespace fs = std::filesystem;
  const mode_t before = ::umask(002);
  const std::string bin = dir_ / "bin";
  fs::create_directory(bin);
  for (const char* name : {"edogtool", "libHaldenUSB.so", "edog-sim-default", "qzkt.dll"})
    fs::copy_file(test::BinDir() + "/" + name, bin + "/" + name);
  ::umask(before);
  ASSERT_EQ(::chmod(bin.c_str(), 0775), 0);
  ASSERT_EQ(::chmod((bin + "/qzkt.dll").c_str(), 0664), 0);
  auto& sim = StartSim();
  const auto r = test::RunProgram(bin + "/edogtool", {"update", "--voice"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("更新包: " + bin + "/qzkt.dll"), std::string::npos) << r.out;
  const auto records = sim.JournalRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].Text("outcome"), "complete");
}

TEST_F(UpdateCommand, UsageErrors) {
  EXPECT_EQ(RunTool({"update", "--method", "9"}).status, 2);
  EXPECT_EQ(RunTool({"update", "--baud", "9600"}).status, 2);
  const auto r = RunTool({"update", "--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("--software"), std::string::npos);
}

}  // namespace
}  // namespace edog
