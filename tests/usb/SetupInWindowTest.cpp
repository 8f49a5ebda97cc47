// The window's USB device setup against a vendor-class device that umockdev emulates: 更新
// with no ids opens the setup, which offers the device and writes it; the status line then
// turns to 成功 without a restart. Runs under umockdev-wrapper on a virtual display.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/display.h>
#include <wx/listbox.h>
#include <wx/stattext.h>
#include <wx/timer.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/RS232TestDlg.h"
#include "app/UsbSetupDlg.h"
#include "device/UsbConfig.h"
#include "gui/windows/GuiTestSupport.h"
#include "gui/windows/MainWindowTestPeer.h"
#include "support/TestSupport.h"
#include "update/UpdateJob.h"
#include "usb/MockUsbDevice.h"
#include "widgets/MessageBox.h"
#include "widgets/WxText.h"

namespace edog {
namespace {

using guitest::RunLoopUntil;
using Peer = CRS232TestDlgTestPeer;

CUsbSetupDlg* OpenSetup() {
  for (wxWindow* w : wxTopLevelWindows)
    if (auto* d = dynamic_cast<CUsbSetupDlg*>(w); d && d->IsModal()) return d;
  return nullptr;
}

TEST(SetupInWindow, SettingTheDeviceUpMakesTheStatusLineSucceedWithoutARestart) {
  if (const std::string why = test::MockUsbDevice::WhyUnavailable(); !why.empty())
    GTEST_SKIP() << "umockdev cannot emulate the USB device here: " << why;
  test::TempDir dir;
  test::SetEnv("XDG_CONFIG_HOME", dir / "config");
  test::UnsetEnv(kUsbIdEnv);
  test::MockUsbDevice device;
  ASSERT_TRUE(device.Ok()) << device.Error();
  std::vector<std::string> boxes;
  const MessageBoxHandler previous =
      SetMessageBoxHandler([&](const wxString& t, const wxString&, long, wxWindow*) {
        boxes.push_back(ToU8(t));
        return wxOK;
      });
  MainWindowOptions options;
  options.usbLibrary = test::PluginPath("HaldenUSB-usb");
  std::unique_ptr<CRS232TestDlg, guitest::DestroyWindow> dlg(new CRS232TestDlg(nullptr, options));
  dlg->Show();
  const auto status = [&] { return ToU8(Peer(*dlg).UsbStatusText()->GetLabel()); };
  ASSERT_TRUE(RunLoopUntil([&] { return status() == "USB连接状态: 失败"; }));

  std::vector<std::string> offered;
  std::string report;
  wxRect setupRect;
  wxTimer driver;
  driver.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    CUsbSetupDlg* setup = OpenSetup();
    if (!setup) return;
    driver.Stop();
    for (unsigned i = 0; i < setup->List()->GetCount(); ++i)
      offered.push_back(ToU8(setup->List()->GetString(i)));
    if (setup->SetUpChosen()) report = setup->Result().Report();
    guitest::Flush();
    setupRect = setup->GetScreenRect();
    guitest::SaveArtifact(guitest::Capture(setup), "usb-setup-done.png");
    setup->EndModal(wxID_CLOSE);
  });
  driver.Start(30);
  Peer(*dlg).VoiceSelected() = 1;
  guitest::Click(Peer(*dlg).UpdateButton());
  RunLoopUntil([&] { return !Peer(*dlg).JobRunning(); });
  driver.Stop();
  SetMessageBoxHandler(previous);

  EXPECT_EQ(boxes, std::vector<std::string>{kNotConnectedText});
  EXPECT_EQ(offered, std::vector<std::string>{"1d6b:0f17   Bus 001 Device 007"});
  EXPECT_NE(report.find("ATTR{idVendor}==\"1d6b\", ATTR{idProduct}==\"0f17\""), std::string::npos) << report;
  EXPECT_TRUE(wxDisplay(static_cast<unsigned>(0)).GetGeometry().Contains(setupRect));
  EXPECT_EQ(test::ReadText(dir / "config/edog/usb.conf"), "1d6b:0f17:0:0x02:0x81\n");
  EXPECT_TRUE(RunLoopUntil([&] { return status() == "USB连接状态: 成功"; }, 5000)) << status();
  EXPECT_TRUE(device.Received().empty());
  dlg.reset();
  test::UnsetEnv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace edog
