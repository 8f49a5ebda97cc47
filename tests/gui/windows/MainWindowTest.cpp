// The main window, constructed for real on the virtual display.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/combobox.h>
#include <wx/display.h>
#include <wx/fontenum.h>
#include <wx/listbox.h>
#include <wx/msgdlg.h>  // before the generic box, which builds on it
#include <wx/generic/msgdlgg.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "GuiTestSupport.h"
#include "gui/LayoutChecks.h"
#include "MainWindowTestPeer.h"
#include "app/AboutDlg.h"
#include "app/MainWindowLogic.h"
#include "app/RS232TestDlg.h"
#include "device/DeviceSocket.h"
#include "sim/Simulator.h"
#include "support/TestSupport.h"
#include "widgets/GradientProgressCtrl.h"
#include "widgets/MessageBox.h"
#include "widgets/WxText.h"

namespace edog {
namespace {

using Peer = CRS232TestDlgTestPeer;

using guitest::Click;
using guitest::RunLoopUntil;

using guitest::BuiltDeviceLibrary;

class MainWindow : public ::testing::Test {
 protected:
  // No device unless a test starts one: a socket path nobody answers on, so another
  // simulator running on this machine is never seen.
  void SetUp() override { setenv(kDeviceSocketEnv, (dir_ / "nobody.sock").c_str(), 1); }
  void TearDown() override { unsetenv(kDeviceSocketEnv); }

  // Destroyed with Destroy(), as top-level windows are.
  struct Closer {
    void operator()(CRS232TestDlg* dlg) const {
      dlg->Destroy();
      guitest::Flush();
    }
  };
  using DlgPtr = std::unique_ptr<CRS232TestDlg, Closer>;

  static DlgPtr Open(MainWindowOptions options = {}) {
    if (options.usbLibrary == USB_LIBRARY_NAME) options.usbLibrary = BuiltDeviceLibrary();
    DlgPtr dlg(new CRS232TestDlg(nullptr, std::move(options)));
    dlg->Show();
    return dlg;
  }
  static std::string StatusLine(CRS232TestDlg& dlg) { return ToU8(Peer(dlg).UsbStatusText()->GetLabel()); }

  test::TempDir dir_;
};

TEST_F(MainWindow, StartsWithUsbXThenReportsAbsentDeviceAndSlowsTo800ms) {
  MainWindowOptions options;
  options.usbLibrary = "/nonexistent/" + DynamicLibrary::PlatformFileName(USB_LIBRARY_NAME);
  auto dlg = Open(options);
  EXPECT_EQ(StatusLine(*dlg), "USB: x");
  EXPECT_EQ(dlg->PollPeriodMs(), 100);
  EXPECT_FALSE(Peer(*dlg).ReadUsbButton()->IsEnabled());
  EXPECT_TRUE(Peer(*dlg).UpdateButton()->IsEnabled());
  ASSERT_TRUE(RunLoopUntil([&] { return StatusLine(*dlg) != "USB: x"; }));
  EXPECT_EQ(StatusLine(*dlg), "USB连接状态: 失败");
  EXPECT_EQ(Peer(*dlg).UsbStatus(), "USB连接状态: 失败");
  EXPECT_FALSE(dlg->Connected());
  EXPECT_FALSE(Peer(*dlg).ReadUsbButton()->IsEnabled());
  EXPECT_EQ(dlg->PollPeriodMs(), 800);
}

// The real device's library with no ids configured: the log says once what to do.
TEST_F(MainWindow, RealDeviceLibraryWithoutIdsTellsInTheLogWhatToDo) {
  const std::string library = test::PluginPath("HaldenUSB-usb");
  if (!std::filesystem::exists(library)) GTEST_SKIP() << "built without libusb";
  unsetenv("EDOG_USB_ID");
  setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);  // no usb.conf there
  MainWindowOptions options;
  options.usbLibrary = library;
  auto dlg = Open(options);
  const std::string hint = "no USB device is configured: with the device attached, run 'edogtool usb-setup'";
  const bool said = RunLoopUntil([&] { return Peer(*dlg).UpdateLog().find(hint) != std::string::npos; });
  // Two more polls (800 ms apart) say nothing new.
  RunLoopUntil([] { return false; }, 1800);
  const std::string log = Peer(*dlg).UpdateLog();
  unsetenv("XDG_CONFIG_HOME");
  ASSERT_TRUE(said) << log;
  EXPECT_EQ(log.find(hint), log.rfind(hint)) << log;
  EXPECT_NE(log.find("60-edog-usb.rules.in"), std::string::npos) << log;
  EXPECT_EQ(StatusLine(*dlg), "USB连接状态: 失败");
}

// The device simulator on a socket of this test's own, found by the device library
// through the socket variable.
class WithDevice : public MainWindow {
 protected:
  void SetUp() override {
    setenv(kDeviceSocketEnv, (dir_ / "device.sock").c_str(), 1);
    sim::SimulatorOptions options;
    options.stateDir = dir_ / "state";
    options.socketPath = dir_ / "device.sock";
    sim_ = std::make_unique<sim::Simulator>(options);
  }
  void TearDown() override {
    sim_.reset();
    MainWindow::TearDown();
  }
  void StartDevice() {
    std::string error;
    ASSERT_TRUE(sim_->Start(&error)) << error;
  }
  std::unique_ptr<sim::Simulator> sim_;
};

TEST_F(WithDevice, FindsTheDeviceThenNoticesItGoingAway) {
  ASSERT_TRUE(wxFileExists(BuiltDeviceLibrary())) << BuiltDeviceLibrary();
  StartDevice();
  auto dlg = Open();
  EXPECT_EQ(StatusLine(*dlg), "USB: x");
  ASSERT_TRUE(RunLoopUntil([&] { return StatusLine(*dlg) != "USB: x"; }));
  EXPECT_EQ(StatusLine(*dlg), "USB连接状态: 成功");
  EXPECT_TRUE(dlg->Connected());
  EXPECT_TRUE(Peer(*dlg).ReadUsbButton()->IsEnabled());
  EXPECT_EQ(dlg->PollPeriodMs(), 1000);

  // Unplugged: within one poll period Read USB is off and the poll slows down.
  sim_->Stop();
  ASSERT_TRUE(RunLoopUntil([&] { return StatusLine(*dlg) == "USB连接状态: 失败"; }, 3000));
  EXPECT_FALSE(dlg->Connected());
  EXPECT_FALSE(Peer(*dlg).ReadUsbButton()->IsEnabled());
  EXPECT_EQ(dlg->PollPeriodMs(), 800);

  // Plugged in again while the device text reader runs: Read USB stays off.
  dlg->SetReading(true);
  StartDevice();
  ASSERT_TRUE(RunLoopUntil([&] { return dlg->Connected(); }, 3000));
  EXPECT_EQ(StatusLine(*dlg), "USB连接状态: 成功");
  EXPECT_FALSE(Peer(*dlg).ReadUsbButton()->IsEnabled());
  dlg->SetReading(false);
  ASSERT_TRUE(RunLoopUntil([&] { return Peer(*dlg).ReadUsbButton()->IsEnabled(); }, 3000));
}

TEST_F(WithDevice, ExitButtonLetsGoOfTheLibraryAndTheDeviceStaysUntouched) {
  StartDevice();
  auto dlg = Open();
  ASSERT_TRUE(RunLoopUntil([&] { return dlg->Connected(); }));
  Click(Peer(*dlg).ExitButton());
  EXPECT_EQ(dlg->UsbLibraryHandle(), nullptr);
  EXPECT_TRUE(sim_->JournalRecords().empty());  // probes are no jobs
}

TEST_F(MainWindow, InitialisationShowsTheFieldsAndPreparesTheControls) {
  auto dlg = Open();
  EXPECT_EQ(ToU8(dlg->GetTitle()), "GPS更新服务");
  EXPECT_EQ(dlg->EncryptionMethod(), 3);
  EXPECT_TRUE(Peer(*dlg).MethodRadios(3)->GetValue());
  EXPECT_EQ(Peer(*dlg).UpdateLog(), "V1.0\r\n");
  ASSERT_EQ(Peer(*dlg).BaudRateBox()->GetCount(), 2u);
  EXPECT_EQ(Peer(*dlg).BaudRateBox()->GetString(0), "115200");
  EXPECT_EQ(Peer(*dlg).BaudRateBox()->GetString(1), "57600");
  EXPECT_FALSE(dlg->ProgramDirectoryPath().empty());
  EXPECT_EQ(dlg->ProgramDirectoryPath().back(), '/');

  int lower = -1, upper = -1;
  Peer(*dlg).ProgressBar()->GetRange(lower, upper);
  EXPECT_EQ(lower, 0);
  EXPECT_EQ(upper, 100);
  EXPECT_EQ(Peer(*dlg).ProgressBar()->GetPos(), 0);
  EXPECT_EQ(Peer(*dlg).ProgressBar()->GetStartColor(), 0x000000u);
  EXPECT_EQ(Peer(*dlg).ProgressBar()->GetEndColor(), 0xFF0000u);
  EXPECT_EQ(Peer(*dlg).ProgressBar()->GetTextColor(), 0xFFFFFFu);
  EXPECT_TRUE(Peer(*dlg).ProgressBar()->IsPercentShown());

  // The shown part of the template; the developer controls exist hidden.
  for (int id : {IDC_VOICE, IDC_DATABASE, IDC_SOFTWARE, IDC_UPDATE, IDC_USB_STATUS}) {
    wxWindow* control = dlg->FindWindow(id);
    ASSERT_NE(control, nullptr) << id;
    EXPECT_TRUE(control->IsShown()) << id;
  }
  for (int id : {IDC_UPDATE_LOG, IDC_EXIT, IDC_PROGRESS_LIST, IDC_RESET, IDC_BROWSE,
                 IDC_SOFTWARE_PATH, IDC_PROGRESS, IDC_COM_PORT, IDC_BAUD_RATE, IDC_CONNECT,
                 IDC_KOVA_DATA, IDC_HEADER_GENERATION, IDC_SELECT_IMAGES, IDC_READ_USB,
                 IDC_BUTTON4, IDC_STATUS_MONITOR, IDC_METHOD_FIRST, IDC_METHOD_LAST}) {
    wxWindow* control = dlg->FindWindow(id);
    ASSERT_NE(control, nullptr) << id;
    EXPECT_FALSE(control->IsShown()) << id;
  }
  EXPECT_EQ(ToU8(dlg->FindWindow(IDC_SELECT_IMAGES)->GetLabel()), "Select Imgae Files");
  EXPECT_EQ(ToU8(dlg->FindWindow(IDC_UPDATE)->GetLabel()), "更新");

  // The update log reaches its control at the next refresh.
  ASSERT_TRUE(RunLoopUntil([&] { return Peer(*dlg).UpdateLogEdit()->GetValue() == "V1.0\n"; }));
}

TEST_F(MainWindow, FontIsTheFirstSongOrCjkFaceTheSystemHas) {
  auto dlg = Open();
  const wxFont font = dlg->GetFont();
  EXPECT_EQ(font.GetPointSize(), 9);
  std::string expected;
  for (const auto& face : MainFontCandidates()) {
    if (wxFontEnumerator::IsValidFacename(U8(face))) {
      expected = face;
      break;
    }
  }
  ASSERT_FALSE(expected.empty()) << "no CJK face installed (fonts-arphic-uming)";
  EXPECT_EQ(ToU8(font.GetFaceName()), expected);
  EXPECT_EQ(ToU8(Peer(*dlg).VoiceBox()->GetFont().GetFaceName()), expected);
}

TEST_F(MainWindow, ShippedBackgroundGivesA500By353WindowCentred) {
  auto dlg = Open();
  ASSERT_TRUE(dlg->Background().IsOk());
  EXPECT_EQ(dlg->Background().GetWidth(), 500);
  EXPECT_EQ(dlg->Background().GetHeight(), 233);
  EXPECT_EQ(dlg->Background().GetDepth(), 24);
  const wxRect screen = wxDisplay(0u).GetGeometry();
  const wxRect rect = dlg->GetRect();
  EXPECT_EQ(rect.width, 500);
  EXPECT_EQ(rect.height, 353);
  EXPECT_EQ(rect.x, screen.width / 2 - 500 / 2);
  EXPECT_EQ(rect.y, screen.height / 2 - 353 / 2);
}

// The shown controls, as the layout checks see them.
std::vector<test::NamedBox> ShownBoxes(wxWindow& dlg) {
  std::vector<test::NamedBox> boxes;
  for (wxWindow* c : dlg.GetChildren()) {
    if (c->IsTopLevel() || !c->IsShown()) continue;
    const wxRect r = c->GetRect();
    const std::string label = ToU8(c->GetLabel());
    boxes.push_back({label.empty() ? "id " + std::to_string(c->GetId()) : label,
                     {r.x, r.y, r.width, r.height},
                     dynamic_cast<wxStaticBox*>(c) != nullptr});
  }
  return boxes;
}
LayoutBox PictureBox(CRS232TestDlg& dlg) {
  return {0, 0, dlg.Background().GetWidth(), dlg.Background().GetHeight()};
}

// Run twice by CTest: on a bare display and under a window manager (openbox), whose frame
// takes its decorations out of the window only after it has mapped the window.
TEST_F(MainWindow, BothLayoutsShowEveryControlWholeAndCentreTheWindow) {
  const bool managed = std::getenv("EDOG_TEST_WINDOW_MANAGER") != nullptr;
  for (const bool developer : {false, true}) {
    SCOPED_TRACE(developer ? "developer layout" : "shipped layout");
    MainWindowOptions options;
    options.developerControls = developer;
    auto dlg = Open(options);
    ASSERT_TRUE(RunLoopUntil([&] { return dlg->IsShownOnScreen(); }));
    if (managed) {
      EXPECT_TRUE(RunLoopUntil([&] { return dlg->GetSize().y > dlg->GetClientSize().y; }))
          << "no frame: is the window manager running?";
    }
    // Placing settles within a few rounds of the event loop.
    int rounds = 0;
    RunLoopUntil([&] { return ++rounds > 50; }, 1000);

    // The console output lies below the shipped window, as in the template.
    EXPECT_EQ(guitest::ClippedControls(dlg.get(),
                                       [&](wxWindow* c) {
                                         return !developer && c->GetId() == IDC_CONSOLE_OUTPUT;
                                       }),
              std::vector<std::string>{});
    if (!developer) {
      EXPECT_EQ(dlg->GetClientSize(), wxSize(500, 353));
    }
    const wxRect screen = wxDisplay(0u).GetGeometry();
    const wxRect outer = dlg->GetRect();
    EXPECT_NEAR(outer.x + outer.width / 2, screen.width / 2, 2);
    EXPECT_NEAR(outer.y + outer.height / 2, screen.height / 2, 2);
    // Readable: no shown control on another or on the picture (group boxes hold theirs).
    EXPECT_EQ(test::ArrangementFaults(ShownBoxes(*dlg), PictureBox(*dlg)),
              std::vector<std::string>{});
    guitest::SaveArtifact(guitest::Capture(dlg.get()),
                          std::string("main-window-") + (developer ? "developer" : "shipped") +
                              (managed ? "-managed" : "") + ".png");
  }
}

// Every child of the window in creation (tab) order: kind, id and text, and where it is.
struct ChildPlace {
  std::string what;
  wxRect rect;
  bool operator==(const ChildPlace& o) const { return what == o.what && rect == o.rect; }
};
std::ostream& operator<<(std::ostream& os, const ChildPlace& c) {
  return os << c.what << " at " << c.rect.x << "," << c.rect.y << " " << c.rect.width << "x"
            << c.rect.height;
}
std::vector<ChildPlace> ChildPlaces(wxWindow& dlg) {
  std::vector<ChildPlace> places;
  for (wxWindow* c : dlg.GetChildren()) {
    places.push_back({ToU8(wxString(c->GetClassInfo()->GetClassName())) + " " +
                          std::to_string(c->GetId() > 0 ? c->GetId() : 0) + " " +
                          ToU8(c->GetLabel()),
                      c->GetRect()});
  }
  return places;
}

TEST_F(MainWindow, ShippedLayoutStaysAsCreatedAndTheDeveloperOneKeepsItsControlsInOrder) {
  // As created, before anything is shown: the template's places.
  const std::vector<ChildPlace> created = ChildPlaces(*DlgPtr(new CRS232TestDlg(nullptr, {})));
  auto settled = [](bool developer) {
    MainWindowOptions options;
    options.developerControls = developer;
    auto dlg = Open(options);
    EXPECT_TRUE(RunLoopUntil([&] { return dlg->IsShownOnScreen(); }));
    int rounds = 0;
    RunLoopUntil([&] { return ++rounds > 50; }, 1000);
    return ChildPlaces(*dlg);
  };
  // Showing the shipped window moves nothing: the developer arrangement stays out of it.
  const std::vector<ChildPlace> shipped = settled(false);
  std::vector<ChildPlace> unchanged = created;
  for (size_t i = 0; i < unchanged.size() && i < shipped.size(); ++i) {
    unchanged[i].what = shipped[i].what;  // the status line has polled once by now
  }
  EXPECT_EQ(shipped, unchanged);
  // The developer window has the same controls, ids and texts in the same order.
  const std::vector<ChildPlace> developer = settled(true);
  ASSERT_EQ(developer.size(), shipped.size());
  int moved = 0;
  for (size_t i = 0; i < developer.size(); ++i) {
    EXPECT_EQ(developer[i].what, shipped[i].what) << i;
    if (developer[i].rect != shipped[i].rect) ++moved;
  }
  EXPECT_GT(moved, static_cast<int>(developer.size()) / 2);
}

TEST_F(MainWindow, OtherBackgroundSizesTheWindowToWByHPlus120) {
  MainWindowOptions options;
  options.background = wxBitmap(301, 151, 24);
  auto dlg = Open(options);
  const wxRect screen = wxDisplay(0u).GetGeometry();
  const wxRect rect = dlg->GetRect();
  EXPECT_EQ(rect.width, 301);
  EXPECT_EQ(rect.height, 271);
  EXPECT_EQ(rect.x, screen.width / 2 - 150);
  EXPECT_EQ(rect.y, screen.height / 2 - 135);
}

TEST_F(MainWindow, CheckBoxesFlipTheirOwnFieldOnly) {
  auto dlg = Open();
  Click(Peer(*dlg).VoiceBox());
  EXPECT_EQ(Peer(*dlg).VoiceSelected(), 1);
  EXPECT_EQ(Peer(*dlg).DatabaseSelected(), 0);
  EXPECT_EQ(Peer(*dlg).SoftwareSelected(), 0);
  Click(Peer(*dlg).SoftwareBox());
  EXPECT_EQ(Peer(*dlg).SoftwareSelected(), 1);
  EXPECT_EQ(Peer(*dlg).VoiceSelected(), 1);
  Click(Peer(*dlg).VoiceBox());
  EXPECT_EQ(Peer(*dlg).VoiceSelected(), 0);
  EXPECT_FALSE(Peer(*dlg).VoiceBox()->GetValue());
  EXPECT_TRUE(Peer(*dlg).SoftwareBox()->GetValue());
  EXPECT_FALSE(Peer(*dlg).DatabaseBox()->GetValue());
  Click(Peer(*dlg).DatabaseBox());
  EXPECT_EQ(Peer(*dlg).DatabaseSelected(), 1);
  EXPECT_EQ(Peer(*dlg).SoftwareSelected(), 1);
  // A refresh shows the fields as they are.
  Peer(*dlg).VoiceSelected() = 1;
  dlg->UpdateData(false);
  EXPECT_TRUE(Peer(*dlg).VoiceBox()->GetValue());
  EXPECT_TRUE(dlg->UpdateData(true));
  EXPECT_EQ(Peer(*dlg).VoiceSelected() + Peer(*dlg).DatabaseSelected() + Peer(*dlg).SoftwareSelected(), 3);
}

TEST_F(MainWindow, MethodRadiosSetTheEncryptionMethodAndStayChosen) {
  auto dlg = Open();
  Click(Peer(*dlg).MethodRadios(0));
  EXPECT_EQ(dlg->EncryptionMethod(), 0);
  Click(Peer(*dlg).MethodRadios(7));
  EXPECT_EQ(dlg->EncryptionMethod(), 7);
  // The refresh keeps the chosen button instead of jumping back to 加密D.
  dlg->UpdateData(false);
  EXPECT_TRUE(Peer(*dlg).MethodRadios(7)->GetValue());
  EXPECT_FALSE(Peer(*dlg).MethodRadios(3)->GetValue());
}

// Device text as it arrives: lines of 64 characters, `n` characters in all.
wxString DeviceLines(size_t n, char c) {
  wxString text;
  for (size_t i = 0; i < n; ++i) text += (i % 64 == 63) ? '\n' : c;
  return text;
}

TEST_F(MainWindow, StatusMonitorClearsAbove16384CharactersBeforeDeviceText) {
  auto dlg = Open();
  Peer(*dlg).StatusMonitor()->ChangeValue(DeviceLines(16385, 'a'));
  ASSERT_EQ(Peer(*dlg).StatusMonitor()->GetLastPosition(), 16385);
  dlg->PostDeviceText("banner\r\n");
  ASSERT_TRUE(RunLoopUntil([&] { return Peer(*dlg).StatusMonitor()->GetValue().size() < 100; }));
  EXPECT_EQ(ToU8(Peer(*dlg).StatusMonitor()->GetValue()).find("banner"), 0u);

  Peer(*dlg).StatusMonitor()->ChangeValue(DeviceLines(16384, 'b'));
  dlg->PostDeviceText("tail");
  ASSERT_TRUE(RunLoopUntil([&] { return Peer(*dlg).StatusMonitor()->GetValue().EndsWith("tail"); }));
  EXPECT_EQ(Peer(*dlg).StatusMonitor()->GetValue().size(), 16384u + 4u);
}

TEST_F(MainWindow, DeviceTextInGbkOrUtf8ReachesTheStatusMonitor) {
  auto dlg = Open();
  dlg->PostDeviceText("版本 1.2 ");
  const std::string gbk = "\xca\xfd\xbe\xdd";  // 数据 in the device's code page
  dlg->PostDeviceText(gbk);
  ASSERT_TRUE(RunLoopUntil([&] { return Peer(*dlg).StatusMonitor()->GetValue().EndsWith(U8("数据")); }));
  EXPECT_EQ(ToU8(Peer(*dlg).StatusMonitor()->GetValue()), "版本 1.2 数据");
}

TEST_F(MainWindow, QueuedCallsFromWorkerThreads) {
  auto dlg = Open();
  std::thread([&] { dlg->PostUpdateButtonState(false); }).join();
  ASSERT_TRUE(RunLoopUntil([&] { return !Peer(*dlg).UpdateButton()->IsEnabled(); }));
  std::thread([&] { dlg->PostUpdateButtonState(true); }).join();
  ASSERT_TRUE(RunLoopUntil([&] { return Peer(*dlg).UpdateButton()->IsEnabled(); }));

  // The serial reader waits until its text is shown.
  bool returned = false;
  std::thread reader([&] {
    const char bytes[] = "upgrade\r\n";
    dlg->SendSerialText(bytes, sizeof bytes - 1);
    returned = true;
  });
  ASSERT_TRUE(RunLoopUntil([&] { return Peer(*dlg).StatusMonitor()->GetValue().Contains("upgrade"); }));
  reader.join();
  EXPECT_TRUE(returned);
  // Serial text is appended, never cleared by the 16384 rule.
  Peer(*dlg).StatusMonitor()->ChangeValue(DeviceLines(20000, 'c'));
  dlg->SendSerialText("x", 1);
  EXPECT_EQ(Peer(*dlg).StatusMonitor()->GetValue().size(), 20001u);
  EXPECT_TRUE(Peer(*dlg).StatusMonitor()->GetValue().EndsWith("x"));
}

TEST_F(MainWindow, ResetEmptiesListPathsBarAndMonitor) {
  auto dlg = Open();
  Peer(*dlg).ProgressList()->Append("Port : USB");
  Peer(*dlg).SoftwarePath() = "/tmp/tmpAbc/edogsoftware.hdr";
  Peer(*dlg).VoicePath() = "/tmp/tmpAbc/edogvoice.hdr";
  Peer(*dlg).DatabasePath() = "/tmp/tmpAbc/edogmap.hdr";
  dlg->UpdateData(false);
  Peer(*dlg).ProgressBar()->SetPos(40);
  Peer(*dlg).StatusMonitor()->ChangeValue("text");
  Click(dlg->FindWindow(IDC_RESET));
  EXPECT_EQ(Peer(*dlg).ProgressList()->GetCount(), 0u);
  EXPECT_TRUE(Peer(*dlg).SoftwarePath().empty());
  EXPECT_TRUE(Peer(*dlg).VoicePath().empty());
  EXPECT_TRUE(Peer(*dlg).DatabasePath().empty());
  EXPECT_TRUE(Peer(*dlg).SoftwarePathEdit()->GetValue().empty());
  EXPECT_EQ(Peer(*dlg).ProgressBar()->GetPos(), 0);
  EXPECT_TRUE(Peer(*dlg).StatusMonitor()->GetValue().empty());
}

TEST_F(MainWindow, ExitButtonReleasesTheLibraryAndCloses) {
  auto dlg = Open();
  Click(Peer(*dlg).ExitButton());
  EXPECT_EQ(dlg->UsbLibraryHandle(), nullptr);
  EXPECT_FALSE(dlg->IsShown());
  EXPECT_EQ(dlg->GetReturnCode(), wxID_CANCEL);
}

TEST_F(MainWindow, EscapeCancelsAndEnterEndsAsOk) {
  // Real key presses through the display, to the window that has the focus.
  auto press = [](CRS232TestDlg& dlg, int key) {
    ASSERT_TRUE(RunLoopUntil([&] { return dlg.IsShownOnScreen(); }));
    dlg.Raise();
    Peer(dlg).VoiceBox()->SetFocus();
    ASSERT_TRUE(RunLoopUntil([&] { return wxWindow::FindFocus() == Peer(dlg).VoiceBox(); }));
    wxUIActionSimulator keys;
    keys.Char(key);
    ASSERT_TRUE(RunLoopUntil([&] { return !dlg.IsShown(); }));
  };
  auto first = Open();
  press(*first, WXK_ESCAPE);
  EXPECT_EQ(first->GetReturnCode(), wxID_CANCEL);

  auto second = Open();
  press(*second, WXK_RETURN);
  EXPECT_EQ(second->GetReturnCode(), wxID_OK);
}

TEST_F(MainWindow, EnterOnAFocusedButtonClicksItInsteadOfClosing) {
  auto dlg = Open();
  ASSERT_TRUE(RunLoopUntil([&] { return dlg->IsShownOnScreen(); }));
  bool clicked = false;
  dlg->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) { clicked = true; }, IDC_UPDATE);
  Peer(*dlg).UpdateButton()->SetFocus();
  ASSERT_TRUE(RunLoopUntil([&] { return wxWindow::FindFocus() == Peer(*dlg).UpdateButton(); }));
  wxUIActionSimulator keys;
  keys.Char(WXK_RETURN);
  ASSERT_TRUE(RunLoopUntil([&] { return clicked; }));
  EXPECT_TRUE(dlg->IsShown());
}

TEST_F(WithDevice, TheProgramOpensItsWindowAndEscapeEndsItWithStatusZero) {
  StartDevice();
  test::ProgramResult result;
  std::thread program([&] { result = test::RunProgram("edog", {}); });
  wxRect window;
  const bool up = RunLoopUntil([&] {
    window = guitest::FindProgramWindow("edog");
    return !window.IsEmpty();
  }, 10000);
  if (up) {
    EXPECT_EQ(window.GetSize(), wxSize(500, 353));
    // Keys go to the window under the pointer (there is no window manager).
    wxUIActionSimulator input;
    input.MouseMove(window.GetPosition() + wxPoint(250, 100));
    EXPECT_TRUE(RunLoopUntil([&] { return window.Contains(wxGetMousePosition()); }));
    input.Char(WXK_ESCAPE);
  }
  program.join();  // ends by itself on Escape; a test time-out otherwise
  ASSERT_TRUE(up) << result.err;
  EXPECT_EQ(result.status, 0) << result.err;
}

// Share of sampled pixels of the window's top area that show the background picture.
double BackgroundShownShare(CRS232TestDlg& dlg) {
  const wxImage screen = guitest::Capture(&dlg).ConvertToImage();
  const wxImage picture = dlg.Background().ConvertToImage();
  int same = 0, total = 0;
  for (int y = 5; y < picture.GetHeight() && y < screen.GetHeight(); y += 17) {
    for (int x = 3; x < picture.GetWidth() && x < screen.GetWidth(); x += 23) {
      ++total;
      if (screen.GetRed(x, y) == picture.GetRed(x, y) &&
          screen.GetGreen(x, y) == picture.GetGreen(x, y) &&
          screen.GetBlue(x, y) == picture.GetBlue(x, y)) {
        ++same;
      }
    }
  }
  return total ? static_cast<double>(same) / total : 0.0;
}

// Finds the About box among the open windows.
CAboutDlg* OpenAboutBox() {
  for (wxWindow* w : wxTopLevelWindows) {
    if (auto* about = dynamic_cast<CAboutDlg*>(w); about && about->IsModal()) return about;
  }
  return nullptr;
}

TEST_F(MainWindow, AboutItemOpensTheAboutBoxOtherSystemCommandsDoNot) {
  auto dlg = Open();
  ASSERT_TRUE(RunLoopUntil([&] { return dlg->IsShownOnScreen(); }));
  bool seen = false;
  std::string shot;
  // Closes the About box from inside its modal loop, once it is up.
  wxTimer closer;
  closer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    CAboutDlg* about = OpenAboutBox();
    if (!about) return;  // not up yet: the timer comes again
    closer.Stop();
    seen = true;
    EXPECT_EQ(ToU8(about->GetTitle()), "关于 GPS更新服务");
    EXPECT_NE(about->FindWindow(wxID_OK), nullptr);
    guitest::Flush();
    shot = guitest::SaveArtifact(guitest::Capture(about), "about-box.png");
    about->EndModal(wxID_OK);
  });
  closer.Start(20);
  // The right-click menu's item carries command 16, as the system menu's does.
  wxCommandEvent item(wxEVT_MENU, IDM_ABOUTBOX);
  dlg->ProcessWindowEvent(item);
  EXPECT_TRUE(seen);
  EXPECT_FALSE(shot.empty());

  seen = false;
  closer.Start(20);
  dlg->OnSysCommand(0x0010 | 0x0002);  // the low four bits are the system's own
  EXPECT_TRUE(seen);

  dlg->OnSysCommand(0xF060);  // close: not the About box
  EXPECT_EQ(OpenAboutBox(), nullptr);
  EXPECT_TRUE(dlg->IsShown());
  // The main window shows its picture again where the About box was.
  EXPECT_GT(BackgroundShownShare(*dlg), 0.9);
}

// Share of the pixels that are the same in two pictures of one size.
double SameShare(const wxImage& a, const wxImage& b) {
  if (a.GetSize() != b.GetSize() || a.GetWidth() * a.GetHeight() == 0) return 0.0;
  const size_t bytes = static_cast<size_t>(a.GetWidth()) * a.GetHeight() * 3;
  size_t same = 0;
  for (size_t i = 0; i < bytes; i += 3) {
    same += std::equal(a.GetData() + i, a.GetData() + i + 3, b.GetData() + i);
  }
  return static_cast<double>(same) / static_cast<double>(bytes / 3);
}

// Two boxes in a row over the window (the summary after "USB disconnect!"): the second is
// on screen as the first was. Run without a window manager, where nothing but the program
// keeps a box above its owner.
TEST_F(MainWindow, ASecondBoxInARowIsPaintedAboveTheWindow) {
  auto dlg = Open();
  ASSERT_TRUE(RunLoopUntil([&] { return dlg->IsShownOnScreen(); }));
  Peer(*dlg).UpdateButton()->SetFocus();
  ASSERT_TRUE(RunLoopUntil([&] { return wxWindow::FindFocus() == Peer(*dlg).UpdateButton(); }));
  const MessageBoxHandler real = SetMessageBoxHandler({});
  std::vector<wxRect> places;
  std::vector<wxImage> shown;
  wxGenericMessageDialog* box = nullptr;
  int ticks = 0;
  wxTimer timer;
  timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    if (!box) {
      for (wxWindow* w : wxTopLevelWindows) {
        auto* b = dynamic_cast<wxGenericMessageDialog*>(w);
        if (b && b->IsModal() && b->IsShownOnScreen()) box = b;
      }
      ticks = 0;
      return;
    }
    // The box has been up for a while: whatever its opening and the last box's closing
    // queued has run.
    if (++ticks < 8) return;
    places.push_back(box->GetScreenRect());
    shown.push_back(guitest::CaptureScreen(places.back()));
    box->EndModal(wxID_OK);
    box = nullptr;
  });
  timer.Start(50);
  for (int i = 0; i < 2; ++i) ShowMessageBox("USB disconnect!", ApplicationCaption(), wxOK, dlg.get());
  timer.Stop();
  SetMessageBoxHandler(real);
  ASSERT_EQ(shown.size(), 2u);
  guitest::Flush();
  const wxImage window = guitest::CaptureScreen(places[0]);
  guitest::SaveArtifact(wxBitmap(shown[1], 24), "second-box-in-a-row.png");
  EXPECT_EQ(places[1], places[0]);
  EXPECT_LT(SameShare(shown[0], window), 0.5) << "the first box is not on screen";
  EXPECT_GT(SameShare(shown[1], shown[0]), 0.95) << "the second box is not on screen";
  // And the keys go where they went before the boxes.
  EXPECT_TRUE(RunLoopUntil([&] { return wxWindow::FindFocus() == Peer(*dlg).UpdateButton(); }));
}

TEST_F(MainWindow, RightClickMenuOffersTheAboutItem) {
  auto dlg = Open();
  ASSERT_TRUE(RunLoopUntil([&] { return dlg->IsShownOnScreen(); }));
  int menus = 0;
  dlg->Bind(wxEVT_CONTEXT_MENU, [&](wxContextMenuEvent& e) {
    ++menus;
    e.Skip();  // on to the window's own handler, which pops the menu up
  });
  bool aboutSeen = false;
  int ticksWithMenu = 0;
  // Runs inside the menu's and then the About box's modal loops.
  wxTimer driver;
  bool busy = false;  // simulated input yields, and the timer may come again meanwhile
  driver.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    if (busy) return;
    busy = true;
    if (CAboutDlg* about = OpenAboutBox()) {
      aboutSeen = true;
      driver.Stop();
      about->EndModal(wxID_OK);
    } else if (menus > 0 && ++ticksWithMenu == 3) {
      wxUIActionSimulator keys;  // the menu is up: take its first item, About
      keys.Char(WXK_DOWN);
      keys.Char(WXK_RETURN);
    } else if (ticksWithMenu > 60) {
      driver.Stop();
      wxUIActionSimulator keys;
      keys.Char(WXK_ESCAPE);  // give up; the expectation below reports it
    }
    busy = false;
  });
  driver.Start(50);
  wxUIActionSimulator mouse;
  mouse.MouseMove(dlg->ClientToScreen(wxPoint(250, 100)));  // on the picture
  ASSERT_TRUE(RunLoopUntil([&] { return dlg->GetScreenRect().Contains(wxGetMousePosition()); }));
  mouse.MouseClick(wxMOUSE_BTN_RIGHT);
  EXPECT_TRUE(RunLoopUntil([&] { return aboutSeen; }, 5000));
  EXPECT_EQ(menus, 1);
  driver.Stop();
  EXPECT_TRUE(dlg->IsShown());
}

TEST_F(WithDevice, ScreenshotOfTheShippedWindow) {
  StartDevice();
  auto dlg = Open();
  ASSERT_TRUE(RunLoopUntil([&] { return dlg->Connected(); }));
  Click(Peer(*dlg).VoiceBox());
  guitest::Flush();
  const wxBitmap shot = guitest::Capture(dlg.get());
  const std::string path = guitest::SaveArtifact(shot, "main-window.png");
  EXPECT_EQ(shot.GetWidth(), 500);
  EXPECT_EQ(shot.GetHeight(), 353);
  // The background picture is on screen at (0, 0) in its own size.
  EXPECT_GT(BackgroundShownShare(*dlg), 0.9) << path;
}

}  // namespace
}  // namespace edog
