// The main window's handlers that drive the device: the update job behind 更新, the
// serial link (COM port and baud rate boxes, Connect), the serial code download with its
// Browse button, and the device text reader behind Read USB. The engines are the core's;
// here they only meet the window's controls.
#include <wx/app.h>
#include <wx/button.h>
#include <wx/combobox.h>
#include <wx/listbox.h>
#include <wx/textctrl.h>

#include <cstdlib>
#include <utility>

#include "app/RS232TestDlg.h"
#include "device/SerialDownload.h"
#include "device/SerialPorts.h"
#include "device/ui/UsbDwn.h"
#include "widgets/EventLoop.h"
#include "widgets/FileDialog.h"
#include "widgets/GradientProgressCtrl.h"
#include "widgets/MessageBox.h"
#include "widgets/UiCall.h"
#include "widgets/WxText.h"

using namespace edog;

bool DeveloperControlsRequested() {
  const char* value = std::getenv("EDOG_DEVELOPER");
  return value && std::string(value) == "1";
}

namespace {

// The Browse filter "All File(*.*) |*.*||" in the framework's wildcard form.
constexpr const char* kBrowseFilter = "All File(*.*) |*.*||";
constexpr const char* kSelectedSuffix = " Selected ...";
constexpr const char* kConnectText = "Connect";
constexpr const char* kConnectedText = "Connect OK!";
constexpr const char* kFailConnectText = "Fail connect!";
constexpr int kTemplateWidth = 348;   // dialog units of template 102
constexpr int kTemplateHeight = 432;

wxString AppCaption() { return wxTheApp ? wxTheApp->GetAppDisplayName() : wxString("edog"); }

}  // namespace

// The serial reader's text, handed over synchronously through a target of this
// connection's own: Close joins the reader, so the window lets a waiting reader go first.
class CRS232TestDlg::SerialSink final : public CommNotifySink {
 public:
  explicit SerialSink(CRS232TestDlg& dlg) : dlg_(dlg), ui_(UiCallTarget::Create()) {}
  void OnSerialText(const CComm& comm) override {
    ui_->Send([&] { dlg_.SendSerialText(comm.Text(), static_cast<size_t>(comm.TextLength())); });
  }
  void OnReaderFailed(const char* text, const char* caption) override {
    ui_->Post([text, caption] {
      ShowMessageBox(U8(text), U8(caption), wxOK | wxICON_WARNING, nullptr);
    });
  }
  void Detach() { ui_->Detach(); }

 private:
  CRS232TestDlg& dlg_;
  std::shared_ptr<UiCallTarget> ui_;
};

// The serial code download's reports: direct work on the window's controls, done on the
// window's thread while the download waits.
class CRS232TestDlg::DownloadReports final : public SerialDownloadObserver {
 public:
  explicit DownloadReports(CRS232TestDlg& dlg) : dlg_(dlg), ui_(dlg.ui_) {}
  void AppendLine(const std::string& line) override {
    ui_->Send([&] { dlg_.AddProgressLine(line); });
  }
  void DeleteLastLine() override {
    ui_->Send([&] {
      const unsigned count = dlg_.progressList_->GetCount();
      if (count > 0) dlg_.progressList_->Delete(count - 1);
    });
  }
  void SetProgress(unsigned percent) override {
    ui_->Send([&] {
      dlg_.progressBar_->SetPos(static_cast<int>(percent));
      if (percent == 0) dlg_.progressBar_->Refresh();  // the whole bar, erased
    });
  }
  void MessageBox(const std::string& text) override {
    ui_->Send([&] { dlg_.ShowMessage(text); });
  }
  void ResumeReader() override { dlg_.comm_.ResumeReader(); }
  void EnableUpdateButton() override {
    ui_->Post([dlg = &dlg_] { dlg->OnWindowUpdate(true); });
  }

 private:
  CRS232TestDlg& dlg_;
  std::shared_ptr<UiCallTarget> ui_;
};

struct CRS232TestDlg::Download {
  std::unique_ptr<DownloadReports> reports;
  std::unique_ptr<SerialDownload> download;
};

Clock& CRS232TestDlg::WindowClock() const {
  return options_.clock ? *options_.clock : SystemClock();
}

void CRS232TestDlg::StopWorkers() {
  // From here no worker waits on the window, so each one can be joined.
  ui_->Detach();
  if (serialSink_) serialSink_->Detach();
  for (auto& d : downloads_) d->download->Cancel();
  downloads_.clear();
  textReader_.reset();
  if (comm_.IsOpen()) comm_.Close();
  comm_.SetNotifyWnd(nullptr);
  serialSink_.reset();
}

// ---- The update job ---------------------------------------------------------------------

void CRS232TestDlg::OnUpdate() {
  if (job_.Running()) return;  // a press from inside one of the job's waits
  UpdateSettings settings;
  settings.packagePath =
      options_.packagePath.empty() ? programDirectory_ + kPackageFileName : options_.packagePath;
  settings.encryptionMethod = encryptionMethod_;
  lastResult_ = job_.Run({voiceSelected_ != 0, databaseSelected_ != 0, softwareSelected_ != 0},
                         settings);
}

void CRS232TestDlg::AppendLog(const std::string& text) {
  updateLog_ += text;
  UpdateData(false);
}

void CRS232TestDlg::AddProgressLine(const std::string& line) {
  const int index = progressList_->Append(U8(line));
  progressList_->EnsureVisible(index);
}

void CRS232TestDlg::ShowMessage(const std::string& text) {
  ShowMessageBox(U8(text), AppCaption(), wxOK, this);
}

void CRS232TestDlg::PumpWait(uint32_t ms) {
  // The window keeps handling its messages (the presence poll goes on) until the time
  // has passed; at least one round of them is dispatched.
  Clock& clock = WindowClock();
  const uint32_t start = clock.TickMs();
  bool first = true;
  DispatchEventsUntil([&] {
    if (first) {
      first = false;
      return false;
    }
    return clock.TickMs() - start >= ms;
  });
}

void CRS232TestDlg::SetUpdateButtonEnabled(bool enabled) { updateButton_->Enable(enabled); }

void CRS232TestDlg::SetPath(ContentKind kind, const std::string& path) {
  switch (kind) {
    case ContentKind::kVoice: voicePath_ = path; break;
    case ContentKind::kDatabase: databasePath_ = path; break;
    case ContentKind::kSoftware: softwarePath_ = path; break;
  }
}

TransferOutcome CRS232TestDlg::RunUsbTransfer(const std::string& path, const std::string& label) {
  UsbDwnOptions options;
  options.usbLibrary = options_.usbLibrary;
  // The end notification: WM_USER+2 (0, 1) to this window, which may be gone by then.
  options.onTransferEnded = [ui = ui_, dlg = this] {
    ui->Post([dlg] { dlg->OnWindowUpdate(true); });
  };
  CUsbDwn status(nullptr, std::move(options));
  status.SetTransfer(path, label);
  status.ShowModal();
  const std::optional<UsbTransferResult> r = status.Result();
  return r && DeviceTookWholeFile(*r) ? TransferOutcome::kCompleted : TransferOutcome::kFailed;
}

void CRS232TestDlg::StartSerialDownload() {
  // Downloads that have ended are let go; one still running keeps its turn on the link.
  for (auto it = downloads_.begin(); it != downloads_.end();) {
    it = (*it)->download->Finished() ? downloads_.erase(it) : it + 1;
  }
  comm_.SuspendReader();
  auto d = std::make_shared<Download>();
  d->reports = std::make_unique<DownloadReports>(*this);
  d->download = std::make_unique<SerialDownload>(comm_, *d->reports);
  d->download->Start(serialConnected_ != 0, softwarePath_);
  downloads_.push_back(std::move(d));
}

bool CRS232TestDlg::SerialDownloadsFinished() const {
  for (const auto& d : downloads_) {
    if (!d->download->Finished()) return false;
  }
  return true;
}

// ---- Serial link --------------------------------------------------------------------------

void CRS232TestDlg::FillComPorts() {
  comPortBox_->Clear();
  for (const std::string& name : ComPortBoxEntries(DefaultSimulatorStateDir())) {
    comPortBox_->Append(U8(name));
  }
  if (comPortBox_->GetCount() == 0) return;  // both settings keep their 0
  comPortBox_->SetSelection(0);
  comPortName_ = ToU8(comPortBox_->GetString(0));
  setComDlg_.port_ = PortNumberFromName(comPortName_);
  setComDlg_.speed_ = 115200;
}

void CRS232TestDlg::OnComPortChanged() {
  comPortName_ = ToU8(comPortBox_->GetStringSelection());
  setComDlg_.port_ = PortNumberFromName(comPortName_);
}

void CRS232TestDlg::OnBaudRateChanged() {
  setComDlg_.speed_ = std::atoi(ToU8(baudRateBox_->GetStringSelection()).c_str());
}

void CRS232TestDlg::OnConnect() {
  if (serialConnected_) {
    if (serialSink_) serialSink_->Detach();  // a reader waiting on the window lets go
    comm_.Close();
    comm_.SetNotifyWnd(nullptr);
    serialSink_.reset();
    serialConnected_ = 0;
    connectButton_->SetLabel(kConnectText);
    return;
  }
  const uint32_t speed = static_cast<uint32_t>(setComDlg_.speed_);
  // "COMn" names go by number (the Windows device names); others are device paths.
  if (comPortName_.rfind("COM", 0) == 0 && setComDlg_.port_ > 0) {
    comm_.SetParams(static_cast<uint8_t>(setComDlg_.port_), speed, 8, kOneStopBit, kNoParity);
  } else {
    comm_.SetParams(comPortName_, speed, 8, kOneStopBit, kNoParity);
  }
  if (!comm_.CreateEvents()) return;
  // The sink is in place before the reader starts, so no first text is lost.
  serialSink_ = std::make_shared<SerialSink>(*this);
  comm_.SetNotifyWnd(serialSink_.get());
  if (!comm_.Open()) {
    comm_.SetNotifyWnd(nullptr);
    serialSink_.reset();
    ShowMessageBox(kFailConnectText, AppCaption(), wxOK, this);
    return;
  }
  serialConnected_ = 1;
  connectButton_->SetLabel(kConnectedText);
}

void CRS232TestDlg::OnBrowse() {
  OpenFileRequest request;
  request.filter = kBrowseFilter;
  request.parent = this;
  const std::vector<wxString> chosen = ShowOpenFileDialog(request);
  if (!chosen.empty()) {
    softwarePath_ = ToU8(chosen.front());
    AddProgressLine(softwarePath_ + kSelectedSuffix);
    updateButton_->Enable();
  }
  UpdateData(false);
}

// ---- Device text reader -----------------------------------------------------------------

void CRS232TestDlg::OnReadUsb() {
  if (!textReader_) textReader_ = std::make_unique<DeviceTextReader>(usb_);
  // The reader runs while the presence poll finds the device; when it stops finding it the
  // reading flag drops, so the poll may offer the button again later.
  auto connected = [this] {
    if (connected_) return true;
    reading_ = false;
    return false;
  };
  auto onText = [this](const std::string& text) {
    if (!text.empty()) PostDeviceText(text);
  };
  // The flag is up before the thread can look at it.
  reading_ = true;
  if (!textReader_->Start(connected, onText)) {
    reading_ = false;
    ShowMessageBox(U8(kCantOpenUsbDevice), U8(kUsbErrorCaption), wxOK | wxICON_INFORMATION, this);
    return;
  }
  readUsbButton_->Disable();
}

// ---- Developer switch ---------------------------------------------------------------------

void CRS232TestDlg::ShowDeveloperControls() {
  for (wxWindow* control : developerControls_) control->Show();
  SetClientSize(ConvertDialogToPixels(wxSize(kTemplateWidth, kTemplateHeight)));
  CentreOnScreen();
  Refresh();
}
