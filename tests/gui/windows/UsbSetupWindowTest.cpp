// The window's USB device setup and 诊断...: readable within a 1024 x 768 screen, and the
// setup opened by 更新 once while nothing is configured, instead of a second message box.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/display.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "MainWindowTestPeer.h"
#include "app/DoctorDlg.h"
#include "app/MainWindowLogic.h"
#include "app/RS232TestDlg.h"
#include "app/UsbSetupDlg.h"
#include "device/DeviceSocket.h"
#include "device/UsbConfig.h"
#include "support/TestSupport.h"
#include "update/UpdateJob.h"
#include "widgets/MessageBox.h"
#include "widgets/WxText.h"

namespace edog {
namespace {

using guitest::RunLoopUntil;

// A modal dialog of type T among the open windows.
template <typename T>
T* OpenModal() {
  for (wxWindow* w : wxTopLevelWindows)
    if (auto* d = dynamic_cast<T*>(w); d && d->IsModal()) return d;
  return nullptr;
}

// The whole window on the screen, and no control cut.
void ExpectWhollyVisible(wxWindow* w, const std::string& name) {
  const wxRect screen = wxDisplay(static_cast<unsigned>(0)).GetGeometry();
  const wxRect r = w->GetScreenRect();
  EXPECT_TRUE(screen.Contains(r)) << name << " at " << r.x << "," << r.y << " " << r.width << "x"
                                  << r.height << " on a " << screen.width << "x" << screen.height
                                  << " screen";
  EXPECT_EQ(guitest::ClippedControls(w), std::vector<std::string>{}) << name;
}

class UsbSetupWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv(kDeviceSocketEnv, (dir_ / "nobody.sock").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);  // no usb.conf there
    unsetenv("EDOG_USB_ID");
  }
  void TearDown() override {
    unsetenv("XDG_CONFIG_HOME");
    unsetenv(kDeviceSocketEnv);
  }
  test::TempDir dir_;
};

TEST_F(UsbSetupWindow, FitsTheScreenWithTheLongestReason) {
  const wxRect screen = wxDisplay(static_cast<unsigned>(0)).GetGeometry();
  // The one-line hint that was cut at a 1024 px screen's edge, as the reason.
  std::unique_ptr<CUsbSetupDlg, guitest::DestroyWindow> setup(
      new CUsbSetupDlg(nullptr, UsbConfigHint() + " " + UsbConfigHint()));
  setup->Show();
  ASSERT_TRUE(RunLoopUntil([&] { return setup->IsShownOnScreen(); }));
  guitest::Flush();
  ExpectWhollyVisible(setup.get(), "setup dialog");
  guitest::SaveArtifact(guitest::Capture(setup.get()), "usb-setup.png");
  EXPECT_LE(setup->GetSize().x, screen.width);

  std::unique_ptr<CDoctorDlg, guitest::DestroyWindow> doctor(
      new CDoctorDlg(nullptr, guitest::BuiltDeviceLibrary(), dir_ / "qzkt.dll"));
  doctor->Show();
  ASSERT_TRUE(RunLoopUntil([&] { return doctor->IsShownOnScreen(); }));
  guitest::Flush();
  ExpectWhollyVisible(doctor.get(), "diagnosis");
  EXPECT_NE(doctor->Text().find("FIX  update package: not found"), std::string::npos) << doctor->Text();
}

// 更新 with the real device's library and no ids: "USB没连接", then the setup dialog in place
// of the second box; a second 更新 does not bring it again, the right-click item does.
TEST_F(UsbSetupWindow, UpdateOpensTheSetupOnceWhileNothingIsConfigured) {
  const std::string library = test::PluginPath("HaldenUSB-usb");
  if (!std::filesystem::exists(library)) GTEST_SKIP() << "built without libusb";
  std::vector<std::string> boxes;
  const MessageBoxHandler previous =
      SetMessageBoxHandler([&](const wxString& t, const wxString&, long, wxWindow*) {
        boxes.push_back(ToU8(t));
        return wxOK;
      });
  MainWindowOptions options;
  options.usbLibrary = library;
  std::unique_ptr<CRS232TestDlg, guitest::DestroyWindow> dlg(new CRS232TestDlg(nullptr, options));
  dlg->Show();
  ASSERT_TRUE(RunLoopUntil([&] { return !dlg->DeviceProblem().empty(); }));
  int setups = 0;
  wxTimer closer;
  closer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    if (CUsbSetupDlg* setup = OpenModal<CUsbSetupDlg>()) {
      ++setups;
      guitest::Flush();
      ExpectWhollyVisible(setup, "setup dialog over the main window");
      setup->EndModal(wxID_CLOSE);
    }
  });
  closer.Start(30);
  CRS232TestDlgTestPeer(*dlg).VoiceSelected() = 1;
  const auto press = [&] {
    guitest::Click(CRS232TestDlgTestPeer(*dlg).UpdateButton());
    RunLoopUntil([&] { return !CRS232TestDlgTestPeer(*dlg).JobRunning(); });
    guitest::Flush();
  };
  press();
  EXPECT_EQ(setups, 1);
  EXPECT_EQ(boxes, std::vector<std::string>{kNotConnectedText});
  press();
  EXPECT_EQ(setups, 1);
  EXPECT_EQ(boxes, (std::vector<std::string>{kNotConnectedText, kNotConnectedText}));
  dlg->OnSysCommand(IDM_USB_SETUP);
  EXPECT_EQ(setups, 2);
  closer.Stop();
  SetMessageBoxHandler(previous);
  // The log keeps what the status line has no room for.
  EXPECT_NE(CRS232TestDlgTestPeer(*dlg).UpdateLog().find("edogtool usb-setup"), std::string::npos);
}

}  // namespace
}  // namespace edog
