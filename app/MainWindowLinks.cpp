// The main window's handlers that drive the device: the update job behind 更新, the
// serial link (COM port and baud rate boxes, Connect), the serial code download with its
// Browse button, and the device text reader behind Read USB. The engines are the core's
// (the link itself is app/SerialLinkController.h); here they only meet the window's controls.
#include <wx/app.h>
#include <wx/button.h>
#include <wx/combobox.h>
#include <wx/listbox.h>
#include <wx/textctrl.h>

#include <cstdlib>
#include <utility>

#include "app/RS232TestDlg.h"
#include "app/DeveloperLayout.h"
#include "device/SerialDownload.h"
#include "device/SerialPorts.h"
#include "device/ui/UsbDwn.h"
#include "update/PackageLookup.h"
#include "widgets/DialogLayout.h"
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

}  // namespace

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
  void OnFileUnreadable() override { Box(kFileOpenErrorText); }
  void OnTransferCompleted() override { Box(kTransferDoneText); }
  void ResumeReader() override {}  // the link resumes its own reader
  void OnEnded() override {
    ui_->Post([dlg = &dlg_] { dlg->OnWindowUpdate(true); });
  }
  // In the update log, as the USB transfer says it: the progress list's last line belongs
  // to the block in flight, which the next block deletes.
  void OnDeviceRefusing(const std::string& text) override {
    ui_->Send([&] {
      dlg_.updateLog_ += text;
      dlg_.UpdateData(false);
    });
  }
  // Where the blocks' time went, and what would shorten it, in the update log.
  void OnLineTiming(const SerialLineTiming& timing) override {
    ui_->Send([&] {
      for (const auto& line : SerialTimingLines(timing)) dlg_.updateLog_ += line + "\r\n";
      dlg_.UpdateData(false);
    });
  }

 private:
  // A message box with its OK button; the download waits until it is closed.
  void Box(const char* text) {
    ui_->Send([&] { dlg_.ShowMessage(text); });
  }
  CRS232TestDlg& dlg_;
  std::shared_ptr<UiCallTarget> ui_;
};

Clock& CRS232TestDlg::WindowClock() const {
  return options_.clock ? *options_.clock : SystemClock();
}

void CRS232TestDlg::StopWorkers() {
  // From here no worker waits on the window, so each one can be joined.
  ui_->Detach();
  serialLink_.Stop();
  textReader_.reset();
}

// ---- The update job ---------------------------------------------------------------------

void CRS232TestDlg::OnUpdate() {
  if (job_.Running()) return;  // a press from inside one of the job's waits
  UpdateSettings settings;
  PackagePlaces places = PackagePlacesHere(options_.packagePath);
  places.programDir = programDirectory_;
  const PackageLookup lookup = FindPackage(places);
  updateHost_.AppendLog(PackageLookupText(lookup));
  settings.packagePath = lookup.path;
  settings.packageRefusal = lookup.refusal;
  settings.encryptionMethod = encryptionMethod_;
  lastResult_ = job_.Run({voiceSelected_ != 0, databaseSelected_ != 0, softwareSelected_ != 0},
                         settings);
}

void CRS232TestDlg::AddProgressLine(const std::string& line) {
  const int index = progressList_->Append(U8(line));
  progressList_->EnsureVisible(index);
}

void CRS232TestDlg::ShowMessage(const std::string& text) {
  ShowMessageBox(U8(text), ApplicationCaption(), wxOK, this);
}

void CRS232TestDlg::StartSerialDownload(const edog::KeptFile* software) {
  serialLink_.StartDownload(softwarePath_, std::make_unique<DownloadReports>(*this), software);
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
  if (serialLink_.Connected()) {
    serialLink_.Disconnect();
    connectButton_->SetLabel(kConnectText);
    return;
  }
  switch (serialLink_.Connect(comPortName_, setComDlg_.port_,
                              static_cast<uint32_t>(setComDlg_.speed_))) {
    case SerialLinkController::ConnectResult::kNoEvents: return;
    case SerialLinkController::ConnectResult::kOpenFailed:
      // The template's text first; the reason, when known, says what the user can do.
      ShowMessageBox(serialLink_.OpenFailure().empty()
                         ? wxString(kFailConnectText)
                         : kFailConnectText + wxString("\n\n") + U8(serialLink_.OpenFailure()),
                     ApplicationCaption(), wxOK, this);
      return;
    case SerialLinkController::ConnectResult::kConnected: break;
  }
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
    // The pipe opened but no thread could read it: say that, not "Can't open".
    const std::string& why = textReader_->StartError();
    ShowMessageBox(U8(why.empty() ? kCantOpenUsbDevice : why), U8(kUsbErrorCaption),
                   wxOK | wxICON_INFORMATION, this);
    return;
  }
  readUsbButton_->Disable();
}

// ---- Developer switch ---------------------------------------------------------------------

namespace {

// The arrangement's place for a control: by its template id, else (statics and group
// boxes) by its text.
const DeveloperPlace* PlaceOf(const DeveloperArrangement& arrangement, wxWindow* control) {
  for (const DeveloperPlace& place : arrangement.places) {
    if (place.id != 0 ? control->GetId() == place.id
                      : (control->GetId() == wxID_STATIC || control->GetId() < 0) &&
                            ToU8(control->GetLabel()) == place.text) {
      return &place;
    }
  }
  return nullptr;
}

}  // namespace

void CRS232TestDlg::ShowDeveloperControls() {
  for (wxWindow* control : developerControls_) control->Show();
  // The template overlaps its hidden controls: they get an arrangement of their own,
  // the picture keeping its corner with nothing on it. Creation (tab) order stays.
  const wxSize picture = ConvertPixelsToDialog(background_.IsOk() ? background_.GetSize()
                                                                  : wxSize(0, 0));
  const DeveloperArrangement arrangement = ArrangeDeveloperLayout({picture.x, picture.y});
  for (wxWindow* control : GetChildren()) {
    const DeveloperPlace* place = PlaceOf(arrangement, control);
    if (!place) continue;
    wxSize size = ConvertDialogToPixels(wxSize(place->box.w, place->box.h));
    if (dynamic_cast<wxComboBox*>(control)) size.y = control->GetSize().y;  // GTK's own
    control->SetSize(wxRect(ConvertDialogToPixels(wxPoint(place->box.x, place->box.y)), size));
  }
  PlaceWindow(FitControls(
      this, ConvertDialogToPixels(wxSize(arrangement.client.w, arrangement.client.h))));
  Refresh();
}
