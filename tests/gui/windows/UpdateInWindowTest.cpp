// The update in the window, end to end on the virtual display: the real main window, the
// real download status windows and serial code download, the stand-in device library and
// the device simulator in this process. Message boxes and file dialogs are answered
// through their injectable functions.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/eventfilter.h>
#include <wx/image.h>
#include <wx/combobox.h>
#include <wx/listbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "GuiTestSupport.h"
#include "MainWindowTestPeer.h"
#include "app/MainWindowLogic.h"
#include "app/RS232TestDlg.h"
#include "common/Bytes.h"
#include "device/DeviceSocket.h"
#include "device/SerialPorts.h"
#include "device/ui/UsbDwn.h"
#include "sim/Simulator.h"
#include "support/FolderSwap.h"
#include "support/HeaderedContent.h"
#include "support/TestSupport.h"
#include "update/HeaderedImage.h"
#include "update/Package.h"
#include "widgets/FileDialog.h"
#include "widgets/GradientProgressCtrl.h"
#include "widgets/MessageBox.h"
#include "widgets/WxText.h"

namespace edog {
namespace {

using Peer = CRS232TestDlgTestPeer;

using guitest::Click;
using guitest::RunLoopUntil;

using guitest::BuiltDeviceLibrary;

// Waits of the update job run twenty times faster than the wall clock.
class FastClock final : public Clock {
 public:
  uint32_t TickMs() override {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count() * 20);
  }
  void SleepMs(uint32_t ms) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms / 20));
  }
};

using Content = test::HeaderedContent;
constexpr auto Make = test::MakeHeaderedContent;

// Every message box, answered with OK at once.
struct Boxes {
  struct Box {
    std::string text, caption;
  };
  Boxes() {
    previous = SetMessageBoxHandler([this](const wxString& t, const wxString& c, long, wxWindow*) {
      shown.push_back({ToU8(t), ToU8(c)});
      return wxOK;
    });
  }
  ~Boxes() { SetMessageBoxHandler(previous); }
  std::vector<Box> shown;
  MessageBoxHandler previous;
};

// A key press as the dialog's key handler sees it.
void PressKey(wxWindow* window, int key) {
  wxKeyEvent event(wxEVT_CHAR_HOOK);
  event.m_keyCode = key;
  event.SetEventObject(window);
  window->GetEventHandler()->ProcessEvent(event);
}

// Watches the download status windows as they appear and go, and runs `onTick` every
// 10 ms while a modal loop runs (so a test can act on an open status window). A window
// still open after `limitMs` is ended with Esc, so a failing test cannot hang.
class StatusWindows final : public wxEventFilter {
 public:
  struct Seen {
    std::string label;
    int finalPosition = -1;
    std::optional<UsbTransferResult> result;
  };
  explicit StatusWindows(int limitMs = 15000) : limitMs_(limitMs) {
    wxEvtHandler::AddFilter(this);
    timer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Tick(); });
    timer_.Start(10);
  }
  ~StatusWindows() override {
    timer_.Stop();
    wxEvtHandler::RemoveFilter(this);
  }
  int FilterEvent(wxEvent& event) override {
    if (event.GetEventType() != wxEVT_SHOW) return Event_Skip;
    auto* dlg = dynamic_cast<CUsbDwn*>(event.GetEventObject());
    if (!dlg) return Event_Skip;
    if (static_cast<wxShowEvent&>(event).IsShown()) {
      current = dlg;
      opened_ = std::chrono::steady_clock::now();
    } else if (dlg == current) {
      seen.push_back({dlg->label_, dlg->progressBar_->GetPos(), dlg->Result()});
      current = nullptr;
    }
    return Event_Skip;
  }
  std::function<void(CUsbDwn&)> onTick;
  CUsbDwn* current = nullptr;
  std::vector<Seen> seen;
  bool timedOut = false;

 private:
  void Tick() {
    if (!current) return;
    if (onTick) onTick(*current);
    if (current && std::chrono::steady_clock::now() - opened_ > std::chrono::milliseconds(limitMs_)) {
      timedOut = true;
      PressKey(current, WXK_ESCAPE);
    }
  }
  int limitMs_;
  wxTimer timer_;
  std::chrono::steady_clock::time_point opened_;
};

class UpdateInWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv(kDeviceSocketEnv, (dir_ / "device.sock").c_str(), 1);
    setenv("TMP", (dir_ / "tmp").c_str(), 1);
    std::filesystem::create_directories(dir_ / "tmp");
    setenv("EDOG_SIM_STATE", (dir_ / "state").c_str(), 1);
  }
  void TearDown() override {
    dlg_.reset();
    sim_.reset();
    unsetenv(kDeviceSocketEnv);
    unsetenv("TMP");
    unsetenv("EDOG_SIM_STATE");
  }
  sim::Simulator& StartDevice(uint64_t bytesPerSecond = 0, bool serial = false) {
    sim::SimulatorOptions o;
    o.stateDir = dir_ / "state";
    o.socketPath = dir_ / "device.sock";
    o.bytesPerSecond = bytesPerSecond;
    o.serial.enabled = serial;
    o.serial.baud = 0;
    sim_ = std::make_unique<sim::Simulator>(o);
    std::string error;
    EXPECT_TRUE(sim_->Start(&error)) << error;
    return *sim_;
  }
  std::string Pack(const Content& voice, const Content& map, const Content& soft) {
    const std::string path = dir_ / "qzkt.dll";
    EXPECT_EQ(WritePackage(path,
                           {{"edogvoice.hdr", voice.file},
                            {"edogmap.hdr", map.file},
                            {"edogsoftware.hdr", soft.file}},
                           KeyForMethod(3)),
              "");
    return path;
  }
  struct Closer {
    void operator()(CRS232TestDlg* dlg) const {
      dlg->Destroy();
      guitest::Flush();
    }
  };
  // The main window, shown, once it has found the device (when one runs).
  CRS232TestDlg& OpenWindow(const std::string& package, Clock* clock) {
    MainWindowOptions options;
    options.usbLibrary = BuiltDeviceLibrary();
    options.packagePath = package;
    options.clock = clock;
    options.developerControls = false;
    dlg_.reset(new CRS232TestDlg(nullptr, options));
    dlg_->Show();
    if (sim_ && sim_->IsRunning()) {
      EXPECT_TRUE(RunLoopUntil([&] { return dlg_->Connected(); }));
    }
    return *dlg_;
  }
  // Ticks voice, database and software and presses 更新; returns when the job has ended.
  static void UpdateAllThree(CRS232TestDlg& dlg) {
    Click(Peer(dlg).VoiceBox());
    Click(Peer(dlg).DatabaseBox());
    Click(Peer(dlg).SoftwareBox());
    Click(Peer(dlg).UpdateButton());
  }
  static std::vector<std::string> ListLines(CRS232TestDlg& dlg) {
    std::vector<std::string> lines;
    for (unsigned i = 0; i < Peer(dlg).ProgressList()->GetCount(); ++i)
      lines.push_back(ToU8(Peer(dlg).ProgressList()->GetString(i)));
    return lines;
  }

  test::TempDir dir_;
  std::unique_ptr<sim::Simulator> sim_;
  std::unique_ptr<CRS232TestDlg, Closer> dlg_;
  FastClock fast_;
};

TEST_F(UpdateInWindow, AllThreeOpenOneStatusWindowEachClosingAt100ThenTheSummary) {
  auto& sim = StartDevice();
  const Content voice = Make(Port::Usb, kFlashNand, 0x200, 30000, 1);
  const Content map = Make(Port::Usb, kFlashSerial, 0x10000, 12345, 2);
  const Content soft = Make(Port::Usb, kFlashE, 0x1000, 40000, 3);
  auto& dlg = OpenWindow(Pack(voice, map, soft), &fast_);
  Boxes boxes;
  StatusWindows windows;
  UpdateAllThree(dlg);

  EXPECT_FALSE(windows.timedOut) << "a status window stayed open";
  ASSERT_EQ(windows.seen.size(), 3u);
  const char* labels[] = {"语音文件", "数据文件", "软件文件"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(windows.seen[i].label, labels[i]);
    EXPECT_EQ(windows.seen[i].finalPosition, 100);
    ASSERT_TRUE(windows.seen[i].result.has_value());
    EXPECT_EQ(windows.seen[i].result->outcome, UsbTransferResult::kCompleted);
  }
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "语音文件更新成功!\r\n数据库文件更新成功!\r\n软件更新成功!\r\n");
  EXPECT_TRUE(Peer(dlg).UpdateButton()->IsEnabled());
  EXPECT_NE(Peer(dlg).UpdateLog().find("语音文件更新开始！\r\n语音文件更新完成！\r\n"), std::string::npos)
      << Peer(dlg).UpdateLog();
  EXPECT_TRUE(Peer(dlg).ProgressList()->IsEmpty());  // reset after each file

  ASSERT_TRUE(sim.WaitForJournal(3, 5000));
  EXPECT_EQ(sim.ReadFlash(kFlashNand, 0x200 * 512, voice.payload.size()), voice.payload);
  EXPECT_EQ(sim.ReadFlash(kFlashSerial, 0x10000, map.payload.size()), map.payload);
  EXPECT_EQ(sim.ReadFlash(kFlashE, 0x1000, soft.payload.size()), soft.payload);
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "tmp")) << "extraction directory left behind";
}

TEST_F(UpdateInWindow, DemoPackageClosesEveryStatusWindowAndUpdateStaysDisabledThroughout) {
  // The package that ships beside the programs, as a first run meets it.
  auto& sim = StartDevice();
  auto& dlg = OpenWindow(test::BinDir() + "/qzkt.dll", &fast_);
  Boxes boxes;
  StatusWindows windows;
  // 更新 is sampled through the whole job, its waits between the contents included.
  int enabledDuringJob = 0, samples = 0;
  wxTimer sampler;
  sampler.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    if (!Peer(dlg).JobRunning()) return;
    ++samples;
    if (Peer(dlg).UpdateButton()->IsEnabled()) ++enabledDuringJob;
  });
  sampler.Start(2);
  UpdateAllThree(dlg);
  sampler.Stop();

  EXPECT_FALSE(windows.timedOut) << "a status window stayed open";
  ASSERT_EQ(windows.seen.size(), 3u);
  for (const auto& seen : windows.seen) EXPECT_EQ(seen.finalPosition, 100) << seen.label;
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "语音文件更新成功!\r\n数据库文件更新成功!\r\n软件更新成功!\r\n");
  EXPECT_EQ(boxes.shown[0].caption, "GPS更新服务");
  EXPECT_GT(samples, 20);
  EXPECT_EQ(enabledDuringJob, 0);
  EXPECT_TRUE(Peer(dlg).UpdateButton()->IsEnabled());
  EXPECT_TRUE(sim.WaitForJournal(3, 5000));
}

TEST_F(UpdateInWindow, DemoAtTheRunScriptsPaceShowsEveryStatusBarMovingInThreeScreenshots) {
  // The demo package against run.sh's simulator: full-speed USB pace (--speed 1M).
  StartDevice(1024 * 1024);
  auto& dlg = OpenWindow(test::BinDir() + "/qzkt.dll", &fast_);
  Boxes boxes;
  StatusWindows windows;
  struct Shot {
    int position;
    wxImage image;
  };
  std::map<std::string, std::vector<Shot>> shots;  // by status window
  bool capturing = false;  // Capture runs the loop, and so this tick again
  windows.onTick = [&](CUsbDwn& d) {
    if (capturing) return;
    std::vector<Shot>& taken = shots[d.label_];
    const int position = d.progressBar_->GetPos();
    // A shot at 5 % and more, then each at least 10 points further on, short of the end.
    const int due = taken.empty() ? 5 : taken.back().position + 10;
    if (taken.size() == 3 || position < due || position >= 100) return;
    capturing = true;
    const wxBitmap bitmap = guitest::Capture(&d);
    capturing = false;
    taken.push_back({position, bitmap.ConvertToImage()});
    const std::string name = "demo-status-" + std::to_string(windows.seen.size() + 1) + "-" +
                             std::to_string(taken.size()) + ".png";
    guitest::SaveArtifact(bitmap, name);
  };
  UpdateAllThree(dlg);

  EXPECT_FALSE(windows.timedOut) << "a status window stayed open";
  ASSERT_EQ(windows.seen.size(), 3u);
  for (const auto& seen : windows.seen) {
    SCOPED_TRACE(seen.label);
    const std::vector<Shot>& taken = shots[seen.label];
    ASSERT_EQ(taken.size(), 3u) << "fewer than three screenshots while the bar moved";
    for (size_t i = 1; i < taken.size(); ++i) {
      EXPECT_GT(taken[i].position, taken[i - 1].position);
      const wxImage& a = taken[i - 1].image;
      const wxImage& b = taken[i].image;
      ASSERT_TRUE(a.IsOk() && b.IsOk());
      EXPECT_FALSE(a.GetSize() == b.GetSize() &&
                   std::equal(a.GetData(), a.GetData() + a.GetWidth() * a.GetHeight() * 3, b.GetData()))
          << "screenshots " << i << " and " << i + 1 << " show the same window";
    }
  }
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "语音文件更新成功!\r\n数据库文件更新成功!\r\n软件更新成功!\r\n");
}

TEST_F(UpdateInWindow, EscapeDuringTheTransferLeavesAPrefixAndTheButtonDisabledUntilTheEnd) {
  // 400 KB at 200 KB/s: Esc comes long before the end. The database file is small.
  auto& sim = StartDevice(200 * 1024);
  const Content voice = Make(Port::Usb, kFlashSerial, 0, 400 * 1024, 4);
  const Content map = Make(Port::Usb, kFlashSerial, 0x100000, 20 * 1024, 11);
  auto& dlg = OpenWindow(Pack(voice, map, voice), &fast_);
  Boxes boxes;
  StatusWindows windows;
  bool pressed = false;
  std::optional<bool> buttonAtSecondWindow;
  windows.onTick = [&](CUsbDwn& status) {
    if (!pressed && status.progressBar_->GetPos() >= 5) {
      pressed = true;
      PressKey(&status, WXK_ESCAPE);
    } else if (pressed && !buttonAtSecondWindow && status.label_ == "数据文件") {
      buttonAtSecondWindow = Peer(dlg).UpdateButton()->IsEnabled();
    }
  };
  Click(Peer(dlg).VoiceBox());
  Click(Peer(dlg).DatabaseBox());
  Click(Peer(dlg).UpdateButton());

  ASSERT_TRUE(pressed);
  ASSERT_EQ(windows.seen.size(), 2u);
  EXPECT_LT(windows.seen[0].finalPosition, 100);
  EXPECT_EQ(windows.seen[1].finalPosition, 100);
  // The cancelled transfer's end does not enable the button while the job goes on.
  ASSERT_TRUE(buttonAtSecondWindow.has_value());
  EXPECT_FALSE(*buttonAtSecondWindow);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text,
            "语音文件更新已取消，设备中只有部分数据!\r\n数据库文件更新成功!\r\n");
  EXPECT_NE(Peer(dlg).UpdateLog().find("语音文件更新开始！\r\n语音文件更新已取消，设备中只有部分语音数据"),
            std::string::npos)
      << Peer(dlg).UpdateLog();
  EXPECT_TRUE(Peer(dlg).UpdateButton()->IsEnabled());

  ASSERT_TRUE(sim.WaitForJournal(2, 10000));
  const auto records = sim.JournalRecords();
  ASSERT_EQ(records.size(), 2u);
  const uint64_t received = records[0].Number("received");
  EXPECT_GT(received, 0u);
  EXPECT_LT(received, voice.payload.size());
  EXPECT_NE(records[0].Text("outcome"), "complete");
  const std::vector<uint8_t> prefix(voice.payload.begin(),
                                    voice.payload.begin() + static_cast<long>(received));
  EXPECT_EQ(sim.ReadFlash(kFlashSerial, 0, received), prefix);
  EXPECT_EQ(records[1].Text("outcome"), "complete");
  EXPECT_EQ(sim.ReadFlash(kFlashSerial, 0x100000, map.payload.size()), map.payload);
}

TEST_F(UpdateInWindow, ADeviceGoneMidwayLeavesTheStatusWindowOpenSayingWhatItTook) {
  auto& sim = StartDevice();
  sim::FaultOptions faults;
  faults.vanish = {true, 20000, 0};
  sim.SetFaults(faults);
  const Content voice = Make(Port::Usb, kFlashSerial, 0, 42 * 1024, 8);
  auto& dlg = OpenWindow(Pack(voice, voice, voice), &fast_);
  Boxes boxes;
  StatusWindows windows;
  std::string said;
  int positionThen = -1;
  windows.onTick = [&](CUsbDwn& status) {
    if (!said.empty() || !status.infoLabel_->IsShown()) return;
    said = ToU8(status.infoLabel_->GetLabel());
    positionThen = status.progressBar_->GetPos();
    EXPECT_TRUE(status.IsShown()) << "the window keeps open after the refused attempts";
    guitest::SaveArtifact(guitest::Capture(&status), "status-window-device-gone.png");
    PressKey(&status, WXK_RETURN);
  };
  Click(Peer(dlg).VoiceBox());
  Click(Peer(dlg).UpdateButton());

  ASSERT_FALSE(said.empty()) << "the stopped transfer was not shown";
  EXPECT_FALSE(windows.timedOut);
  ASSERT_TRUE(sim.WaitForJournal(1, 5000));
  const uint64_t took = sim.JournalRecords()[0].Number("received");
  const uint64_t size = voice.payload.size();
  ASSERT_LT(took, size);
  // The bar and the line show what the device holds, not what left the program.
  EXPECT_EQ(static_cast<uint64_t>(positionThen), took / (size / 100));
  EXPECT_NE(said.find(std::to_string(took) + "/" + std::to_string(size) + "字节"), std::string::npos) << said;
  EXPECT_NE(said.find("传输已中断"), std::string::npos) << said;
  EXPECT_NE(said.find("按Esc或Enter关闭"), std::string::npos) << said;
  // The main window then says the device is gone, and what it holds.
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[0].text, "USB disconnect!\n\nCheck USB!");
  EXPECT_EQ(boxes.shown[1].text, "语音文件更新中断，设备中只有部分数据!\r\n");
}

TEST_F(UpdateInWindow, DeviceGoneBeforeTheFirstUsbFileEndsWithTheDisconnectBoxAlone) {
  StartDevice();
  const Content map = Make(Port::Usb, kFlashSerial, 0, 2000, 5);
  // The real clock: the job's 2000 ms wait gives the presence poll time to notice.
  auto& dlg = OpenWindow(Pack(map, map, map), nullptr);
  Boxes boxes;
  StatusWindows windows;
  Click(Peer(dlg).DatabaseBox());
  sim_->Stop();  // the window still believes the device is there
  Click(Peer(dlg).UpdateButton());

  EXPECT_TRUE(windows.seen.empty());
  ASSERT_EQ(boxes.shown.size(), 1u);  // no summary box follows
  EXPECT_EQ(boxes.shown[0].text, "USB disconnect!\n\nCheck USB!");
  EXPECT_TRUE(Peer(dlg).UpdateButton()->IsEnabled());
  EXPECT_EQ(Peer(dlg).UpdateLog().find("数据库文件更新开始"), std::string::npos);
}

TEST_F(UpdateInWindow, ADeviceRefusingForASecondIsNamedInTheUpdateLog) {
  auto& sim = StartDevice();
  sim::FaultOptions faults;
  faults.refuse = {true, 16 * 1024, 1500};  // the retries ride it out
  sim.SetFaults(faults);
  const Content voice = Make(Port::Usb, kFlashSerial, 0, 64 * 1024, 6);
  auto& dlg = OpenWindow(Pack(voice, voice, voice), &fast_);
  Boxes boxes;
  StatusWindows windows;
  Click(Peer(dlg).VoiceBox());
  Click(Peer(dlg).UpdateButton());

  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "语音文件更新成功!\r\n");
  EXPECT_NE(Peer(dlg).UpdateLog().find(
                "语音文件更新开始！\r\n设备拒绝接收数据，正在重试...\r\n语音文件更新完成！\r\n"),
            std::string::npos)
      << Peer(dlg).UpdateLog();
}

TEST_F(UpdateInWindow, SerialRouteConnectsAndDownloadsTheSoftwareOverThePty) {
  auto& sim = StartDevice(0, /*serial=*/true);
  const std::string line = sim.SerialLinePath();
  ASSERT_FALSE(line.empty()) << sim.SerialLineError();
  const Content usb = Make(Port::Usb, kFlashSerial, 0, 100, 6);
  const Content soft = Make(Port::Uart, kFlashSerial, 0x20000, 2500, 7);
  auto& dlg = OpenWindow(Pack(usb, usb, soft), &fast_);
  Boxes boxes;

  // The boxes as filled at start: the simulator's line is offered; 115200 comes first.
  ASSERT_EQ(Peer(dlg).BaudRateBox()->GetCount(), 2u);
  EXPECT_EQ(ToU8(Peer(dlg).BaudRateBox()->GetString(0)), "115200");
  EXPECT_EQ(Peer(dlg).BaudRateBox()->GetSelection(), 0);
  EXPECT_EQ(dlg.SerialSettings().speed_, 115200);
  const int index = Peer(dlg).ComPortBox()->FindString(U8(line));
  ASSERT_NE(index, wxNOT_FOUND) << line;
  Peer(dlg).ComPortBox()->SetSelection(index);
  wxCommandEvent select(wxEVT_COMBOBOX, Peer(dlg).ComPortBox()->GetId());
  select.SetEventObject(Peer(dlg).ComPortBox());
  Peer(dlg).ComPortBox()->ProcessWindowEvent(select);

  Click(Peer(dlg).ConnectButton());
  ASSERT_TRUE(dlg.SerialConnected()) << (boxes.shown.empty() ? "" : boxes.shown[0].text);
  EXPECT_EQ(ToU8(Peer(dlg).ConnectButton()->GetLabel()), "Connect OK!");
  // The loader's console lines reach the status monitor while idle.
  EXPECT_TRUE(RunLoopUntil([&] { return !Peer(dlg).StatusMonitor()->IsEmpty(); }, 5000));

  Click(Peer(dlg).SoftwareBox());
  StatusWindows windows;
  Click(Peer(dlg).UpdateButton());
  EXPECT_TRUE(windows.seen.empty());  // port 0: no status window
  ASSERT_GE(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "");  // no summary text for a serial content
  ASSERT_TRUE(RunLoopUntil([&] { return dlg.SerialDownloadsFinished(); }, 20000));
  guitest::Flush();
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[1].text, "File Transfer is completed!");
  EXPECT_EQ(ListLines(dlg),
            (std::vector<std::string>{"File Size: " + std::to_string(soft.file.size()) + " bytes",
                                      "Code Download Start...",
                                      "Download Size... " + std::to_string(soft.file.size()) + " bytes",
                                      "Code Download End..."}));
  EXPECT_EQ(Peer(dlg).ProgressBar()->GetPos(), 100);
  EXPECT_TRUE(Peer(dlg).UpdateButton()->IsEnabled());
  // The update log says where the blocks' time went, as send-serial does.
  EXPECT_NE(Peer(dlg).UpdateLog().find("Serial line: "), std::string::npos) << Peer(dlg).UpdateLog();
  ASSERT_TRUE(sim.WaitForJournal(1, 5000));
  EXPECT_EQ(sim.ReadFlash(kFlashSerial, 0x20000, soft.payload.size()), soft.payload);

  Click(Peer(dlg).ConnectButton());  // closes the link again
  EXPECT_FALSE(dlg.SerialConnected());
  EXPECT_EQ(ToU8(Peer(dlg).ConnectButton()->GetLabel()), "Connect");
}

TEST_F(UpdateInWindow, ConnectToAPortThatIsNotThereFailsAndBaudBoxSetsTheSpeed) {
  auto& dlg = OpenWindow("", &fast_);
  Boxes boxes;
  const wxString missing = U8(dir_ / "no-such-tty");
  Peer(dlg).ComPortBox()->Append(missing);
  Peer(dlg).ComPortBox()->SetStringSelection(missing);
  wxCommandEvent select(wxEVT_COMBOBOX, Peer(dlg).ComPortBox()->GetId());
  Peer(dlg).ComPortBox()->ProcessWindowEvent(select);
  Peer(dlg).BaudRateBox()->SetSelection(1);
  wxCommandEvent baud(wxEVT_COMBOBOX, Peer(dlg).BaudRateBox()->GetId());
  Peer(dlg).BaudRateBox()->ProcessWindowEvent(baud);
  EXPECT_EQ(dlg.SerialSettings().speed_, 57600);

  Click(Peer(dlg).ConnectButton());
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "Fail connect!");
  EXPECT_FALSE(dlg.SerialConnected());
  EXPECT_EQ(ToU8(Peer(dlg).ConnectButton()->GetLabel()), "Connect");
}

TEST_F(UpdateInWindow, BrowseChoosesTheSerialFileAndCancelChangesNothing) {
  auto& dlg = OpenWindow("", &fast_);
  wxString answer = U8(dir_ / "firmware.hdr");
  wxString filterSeen;
  auto previous = SetOpenFileHandler([&](const OpenFileRequest& request) {
    filterSeen = request.filter;
    return answer.empty() ? std::vector<wxString>{} : std::vector<wxString>{answer};
  });
  Peer(dlg).UpdateButton()->Disable();
  Click(dlg.FindWindow(IDC_BROWSE));
  EXPECT_EQ(filterSeen, "All File(*.*) |*.*||");
  EXPECT_EQ(FilterToWildcard(filterSeen), "All File(*.*) |*.*");
  EXPECT_EQ(Peer(dlg).SoftwarePath(), ToU8(answer));
  EXPECT_EQ(Peer(dlg).SoftwarePathEdit()->GetValue(), answer);
  EXPECT_EQ(ListLines(dlg), std::vector<std::string>{ToU8(answer) + " Selected ..."});
  EXPECT_TRUE(Peer(dlg).UpdateButton()->IsEnabled());

  answer.clear();  // cancelled
  Peer(dlg).UpdateButton()->Disable();
  Click(dlg.FindWindow(IDC_BROWSE));
  EXPECT_EQ(Peer(dlg).ProgressList()->GetCount(), 1u);
  EXPECT_FALSE(Peer(dlg).UpdateButton()->IsEnabled());
  SetOpenFileHandler(previous);
}

TEST_F(UpdateInWindow, ReadUsbShowsTheDeviceBannerAndStopsWithTheDevice) {
  StartDevice();
  auto& dlg = OpenWindow("", &fast_);
  ASSERT_TRUE(RunLoopUntil([&] { return Peer(dlg).ReadUsbButton()->IsEnabled(); }));
  Click(Peer(dlg).ReadUsbButton());
  EXPECT_TRUE(dlg.Reading());
  EXPECT_FALSE(Peer(dlg).ReadUsbButton()->IsEnabled());
  ASSERT_TRUE(RunLoopUntil(
      [&] { return ToU8(Peer(dlg).StatusMonitor()->GetValue()).find("EDOG-SIM firmware 1.00") != std::string::npos; },
      5000))
      << ToU8(Peer(dlg).StatusMonitor()->GetValue());
  sim_->Stop();
  EXPECT_TRUE(RunLoopUntil([&] { return !dlg.Reading(); }, 5000));
}

TEST_F(UpdateInWindow, ReadUsbWithoutADeviceSaysSoAndStartsNothing) {
  auto& dlg = OpenWindow("", &fast_);
  Boxes boxes;
  Click(Peer(dlg).ReadUsbButton());
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "Can't open USB device.\n");
  EXPECT_EQ(boxes.shown[0].caption, "Error");
  EXPECT_FALSE(dlg.Reading());
}

// ---- The download status window on its own ------------------------------------------------

class StatusWindow : public UpdateInWindow {
 protected:
  std::string WriteImage(const Content& c) {
    const std::string path = dir_ / "image.hdr";
    test::WriteFile(path, c.file);
    return path;
  }
  UsbDwnOptions Options() {
    UsbDwnOptions o;
    o.usbLibrary = BuiltDeviceLibrary();
    o.onTransferEnded = [this] { ++ended_; };
    return o;
  }
  std::atomic<int> ended_{0};
  UsbTransferTurns turns_;  // last: joins a worker a window left behind
};

TEST_F(StatusWindow, ShowsTheTransferAndAScreenshotMidway) {
  StartDevice(100 * 1024);
  const Content c = Make(Port::Usb, kFlashNand, 0x40, 300 * 1024, 8);
  CUsbDwn status(nullptr, turns_, Options());
  status.SetTransfer(WriteImage(c), "语音文件");
  StatusWindows windows;
  std::string shot;
  bool taken = false;
  windows.onTick = [&](CUsbDwn& d) {
    // Past a second of sending, so the speed is shown too.
    if (!taken && d.progressBar_->GetPos() >= 50) {
      taken = true;  // before Capture: it runs the loop, and this tick again
      shot = guitest::SaveArtifact(guitest::Capture(&d), "status-window-midway.png");
      // The texts shown so far.
      EXPECT_EQ(ToU8(d.fileNameLabel_->GetLabel()), "语音文件");
      EXPECT_NE(d.countText_.find("K/300K"), std::string::npos) << d.countText_;
      EXPECT_EQ(d.infoText_, "NAND Flash, Packet num: " + std::to_string(300 * 1024 / 64) +
                                 ", Tx size: 2048");
      EXPECT_EQ(d.progressBar_->GetStartColor(), 0x808000u);
      EXPECT_EQ(d.progressBar_->GetEndColor(), 0x800000u);
      EXPECT_EQ(d.progressBar_->GetTextColor(), 0x008000u);
      EXPECT_TRUE(d.progressBar_->IsPercentShown());
      EXPECT_FALSE(d.countLabel_->IsShown());
      EXPECT_FALSE(d.infoLabel_->IsShown());
      EXPECT_EQ(guitest::ClippedControls(&d), std::vector<std::string>{});
    }
  };
  status.ShowModal();
  EXPECT_FALSE(windows.timedOut) << "the window did not close itself at 100 %";
  EXPECT_FALSE(shot.empty());
  ASSERT_TRUE(status.Result().has_value());
  EXPECT_EQ(status.Result()->percent, 100u);
  EXPECT_EQ(status.countText_, "300K/300K");
  EXPECT_NE(status.speedText_.find("KB"), std::string::npos) << status.speedText_;
  EXPECT_EQ(ToU8(status.speedLabel_->GetLabel()), status.speedText_);
  EXPECT_NE(status.infoText_.find("ms, "), std::string::npos) << status.infoText_;
  EXPECT_EQ(status.progressBar_->GetPos(), 100);
  EXPECT_TRUE(RunLoopUntil([&] { return ended_ == 1; }));
}

TEST_F(StatusWindow, SmallPayloadEndsAbove100AndTheWindowStaysUntilEnter) {
  StartDevice();
  Content c = Make(Port::Usb, kFlashE, 0, 150, 9);
  c.file.resize(1024 + 150);  // payload of 150 bytes: divisor 1, final percent 150
  PutLE32(&c.file[7], 150);   // and a header that says so, or it is not sent at all
  CUsbDwn status(nullptr, turns_, Options());
  status.SetTransfer(WriteImage(c), "软件文件");
  StatusWindows windows;
  bool finished = false, stillOpen = false;
  windows.onTick = [&](CUsbDwn& d) {
    if (!finished && d.Result().has_value()) {
      finished = true;
      // Finished: give a close the chance to come; the window must still be open.
      guitest::Flush();
      stillOpen = d.IsShown();
      PressKey(&d, WXK_RETURN);
    }
  };
  EXPECT_EQ(status.ShowModal(), wxID_OK);
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(status.Result()->percent, 150u);
  EXPECT_EQ(status.progressBar_->GetPos(), 150);
}

TEST_F(StatusWindow, NoDeviceShowsTheBoxAndWaitsForEsc) {
  const Content c = Make(Port::Usb, kFlashE, 0, 5000, 10);
  CUsbDwn status(nullptr, turns_, Options());
  status.SetTransfer(WriteImage(c), "软件文件");
  Boxes boxes;
  StatusWindows windows;
  windows.onTick = [&](CUsbDwn& d) { PressKey(&d, WXK_ESCAPE); };
  EXPECT_EQ(status.ShowModal(), wxID_CANCEL);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "Can't open USB device.\n");
  EXPECT_EQ(boxes.shown[0].caption, "Error");
  EXPECT_FALSE(status.TransferStarted());
  EXPECT_EQ(ended_, 0);
}

TEST_F(UpdateInWindow, ScreenshotWithTheDeveloperControlsShown) {
  MainWindowOptions options;
  options.usbLibrary = BuiltDeviceLibrary();
  options.developerControls = true;
  dlg_.reset(new CRS232TestDlg(nullptr, options));
  dlg_->Show();
  guitest::Flush();
  EXPECT_TRUE(Peer(*dlg_).ConnectButton()->IsShown());
  EXPECT_TRUE(Peer(*dlg_).ProgressList()->IsShown());
  EXPECT_GT(dlg_->GetClientSize().y, 353);
  guitest::SaveArtifact(guitest::Capture(dlg_.get()), "main-window-developer.png");
}

// Another user swaps the extraction folder right after the extraction (on the window's own
// clock, so the job's pauses give him time): the window sends what it extracted.
TEST_F(UpdateInWindow, AFolderSwappedAfterTheExtractionChangesNothingTheDeviceStores) {
  auto& sim = StartDevice();
  const Content voice = Make(Port::Usb, kFlashSerial, 0x20000, 5000, 31);
  const Content planted = Make(Port::Usb, kFlashSerial, 0x20000, 5000, 32);
  auto& dlg = OpenWindow(Pack(voice, voice, voice), nullptr);
  Boxes boxes;
  StatusWindows windows;
  Click(Peer(dlg).VoiceBox());
  {
    test::ExtractionSwapper swapper(dir_ / "tmp", {planted.file, planted.file, planted.file});
    Click(Peer(dlg).UpdateButton());
    EXPECT_TRUE(swapper.Swapped());
  }
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "语音文件更新成功!\r\n");
  ASSERT_TRUE(sim.WaitForJournal(1, 5000));
  EXPECT_TRUE(sim.ReadFlash(kFlashSerial, 0x20000, voice.payload.size()) == voice.payload);
}

TEST(DeveloperSwitch, OnlyEdogDeveloper1ShowsTheControls) {
  unsetenv("EDOG_DEVELOPER");
  EXPECT_FALSE(DeveloperControlsRequested());
  setenv("EDOG_DEVELOPER", "0", 1);
  EXPECT_FALSE(DeveloperControlsRequested());
  setenv("EDOG_DEVELOPER", "1", 1);
  EXPECT_TRUE(DeveloperControlsRequested());
  unsetenv("EDOG_DEVELOPER");
}

}  // namespace
}  // namespace edog
