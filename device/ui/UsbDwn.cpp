#include "device/ui/UsbDwn.h"

#include <wx/button.h>
#include <wx/panel.h>
#include <wx/settings.h>
#include <wx/stattext.h>

#include <algorithm>
#include <utility>

#include "widgets/DialogLayout.h"
#include "widgets/EventLoop.h"
#include "widgets/GradientProgressCtrl.h"
#include "widgets/MessageBox.h"
#include "widgets/UiCall.h"
#include "widgets/WxText.h"

using namespace edog;

// The worker's reports. Each one is a synchronous call into the window (the worker waits
// until the window has handled it); once the window is gone they are dropped.
class CUsbDwn::Reports final : public UsbTransferObserver {
 public:
  Reports(CUsbDwn* dlg, std::shared_ptr<UiCallTarget> ui, std::function<void()> ended,
          std::function<void(const std::string&)> refusing)
      : dlg_(dlg), ui_(std::move(ui)), ended_(std::move(ended)), refusing_(std::move(refusing)) {}

  void OnCountText(const std::string& text) override { ShowText(&CUsbDwn::countText_, text); }
  void OnSpeedText(const std::string& text) override { ShowText(&CUsbDwn::speedText_, text); }
  void OnPercent(uint32_t percent) override {
    ui_->Send([&] { dlg_->progressBar_->SetPos(static_cast<int>(percent)); });
  }
  void OnInfoText(const std::string& text) override { ShowText(&CUsbDwn::infoText_, text); }
  void OnLabel(const std::string& label) override { ShowText(&CUsbDwn::fileNameText_, label); }
  void OnDeviceRefusing(const std::string& text) override {
    if (refusing_) refusing_(text);
  }
  // The same road as the refusing notice: a hint while the retries go on.
  void OnPresenceProbeMissed(const std::string& text) override {
    if (refusing_) refusing_(text);
  }
  void OnFinished(const UsbTransferResult& result) override {
    ui_->Send([&] { dlg_->RecordResult(result); });
    if (ended_) ended_();
  }
  // Posted after the end notification, so the window is still there to close when the
  // recorded result is looked at.
  void OnFullPercent() override {
    ui_->Post([dlg = dlg_] { dlg->End(wxID_CANCEL); });
  }

 private:
  // A text report: the field takes the text and the controls are updated from the fields.
  void ShowText(std::string CUsbDwn::*field, const std::string& text) {
    ui_->Send([&] {
      dlg_->*field = text;
      dlg_->UpdateData();
    });
  }
  CUsbDwn* dlg_;
  std::shared_ptr<UiCallTarget> ui_;
  std::function<void()> ended_;
  std::function<void(const std::string&)> refusing_;
};

CUsbDwn::CUsbDwn(wxWindow* parent, UsbTransferTurns& turns, UsbDwnOptions options)
    : turns_(turns), options_(std::move(options)), ui_(UiCallTarget::Create()) {
  // Popup with caption and modal frame, no system menu.
  Create(parent, IDD_USBDWN, U8("下载状态"), wxDefaultPosition, wxDefaultSize, wxCAPTION);
  SetFont(wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT));
  CreateControls();
  SetClientSize(FitControls(this, ConvertDialogToPixels(wxSize(276, 62))));
  CentreOnScreen();
  Bind(wxEVT_INIT_DIALOG, &CUsbDwn::OnInitDialog, this);
  Bind(wxEVT_CHAR_HOOK, &CUsbDwn::OnCharHook, this);
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { End(wxID_CANCEL); });
}

CUsbDwn::~CUsbDwn() {
  CancelTransfer();
  ui_->Detach();   // reports still coming from the worker are dropped from here on
  worker_.reset(); // a worker still running finishes its block; the turns join it
}

void CUsbDwn::CreateControls() {
  auto at = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
  auto size = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };
  auto label = [&](int id, const char* text, int x, int y, int w, int h, long style) {
    return new wxStaticText(this, id, U8(text), at(x, y), size(w, h), style | wxST_NO_AUTORESIZE);
  };
  // GTK draws no frame around static text: the sunken ones sit in a sunken panel.
  auto sunken = [&](int id, int x, int y, int w, int h) {
    auto* frame = new wxPanel(this, wxID_ANY, at(x, y), size(w, h), wxBORDER_SUNKEN);
    const wxSize inside = frame->GetClientSize();
    auto* text = new wxStaticText(frame, id, "", wxPoint(0, 0), wxSize(inside.x, -1),
                                  wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
    text->Move(0, std::max(0, (inside.y - text->GetSize().y) / 2));
    return text;
  };
  auto hidden = [](wxStaticText* text) {
    text->Hide();
    if (auto* frame = dynamic_cast<wxPanel*>(text->GetParent())) frame->Hide();
  };
  label(wxID_STATIC, "File name:", 7, 7, 34, 8, 0);
  fileNameLabel_ = label(IDC_DWN_FILE_NAME, "", 42, 7, 227, 8, wxALIGN_LEFT | wxST_ELLIPSIZE_MIDDLE);
  label(wxID_STATIC, "下载:", 7, 21, 20, 8, 0);
  progressBar_ = new CGradientProgressCtrl(this, IDC_DWN_PROGRESS, at(33, 19), size(187, 10));
  label(wxID_STATIC, "下载速度:", 7, 34, 46, 9, 0);
  speedLabel_ = sunken(IDC_DWN_SPEED, 44, 34, 42, 9);
  countLabel_ = sunken(IDC_DWN_COUNT, 197, 21, 60, 8);
  hidden(countLabel_);
  infoLabel_ = label(IDC_DWN_INFO, "", 7, 49, 148, 8, wxALIGN_LEFT | wxST_ELLIPSIZE_MIDDLE);
  hidden(infoLabel_);
  // The hidden OK and Cancel keep their meaning through the key handler below.
  (new wxButton(this, wxID_OK, "OK", at(57, 49), size(50, 6)))->Hide();
  (new wxButton(this, wxID_CANCEL, "Cancel", at(124, 49), size(50, 6)))->Hide();
}

void CUsbDwn::SetTransfer(const std::string& path, const std::string& label) {
  transferPath_ = path;
  transferLabel_ = label;
  transferFile_ = nullptr;
}

void CUsbDwn::SetTransfer(const edog::KeptFile& file, const std::string& label) {
  transferPath_ = file.Path();
  transferLabel_ = label;
  transferFile_ = &file;
}

void CUsbDwn::UpdateData() {
  auto set = [](wxStaticText* control, const std::string& text) {
    const wxString value = U8(text);
    if (control->GetLabel() != value) control->SetLabel(value);
  };
  set(countLabel_, countText_);
  set(speedLabel_, speedText_);
  set(infoLabel_, infoText_);
  set(fileNameLabel_, fileNameText_);
}

void CUsbDwn::OnInitDialog(wxInitDialogEvent&) {
  if (initialised_) return;
  initialised_ = true;
  // 1. Controls receive the fields.
  UpdateData();
  // 2. The transfer file path and label.
  path_ = transferPath_;
  label_ = transferLabel_;
  fileNameText_ = transferLabel_;
  // 3-6. "PIPE00" through the library, then the file (read block by block as it goes).
  UsbTransferJob job;
  const edog::Result<edog::UsbSetupStatus> setup =
      transferFile_ ? edog::PrepareUsbTransfer(*transferFile_, label_, job, options_.usbLibrary)
                    : edog::PrepareUsbTransfer(path_, label_, job, options_.usbLibrary);
  transferFile_ = nullptr;  // the transfer has its own handle: the window needs it no more
  setup_ = setup.status;
  if (setup_ == UsbSetupStatus::kNoDevice) {
    ShowMessageBox(U8(kCantOpenUsbDevice), U8(kUsbErrorCaption), wxOK | wxICON_INFORMATION, this);
    return;
  }
  if (setup_ != UsbSetupStatus::kReady) {
    // No box here; the hidden info line keeps the reason for whoever looks.
    infoText_ = setup.message;
    UpdateData();
    return;
  }
  // 9 comes before the worker's first report can be shown: reports wait for this thread.
  progressBar_->SetRange(0, 100);
  progressBar_->SetPos(0);
  progressBar_->SetStartColor(0x808000);
  progressBar_->SetEndColor(0x800000);
  progressBar_->SetTextColor(0x008000);
  progressBar_->ShowPercent(true);
  // 7-8. The worker, then the label report.
  auto reports = std::make_shared<Reports>(this, ui_, options_.onTransferEnded,
                                           options_.onDeviceRefusing);
  worker_ = std::make_unique<UsbTransferWorker>(turns_, std::move(job), reports, options_.clock);
  worker_->Start();
}

void CUsbDwn::OnCharHook(wxKeyEvent& event) {
  switch (event.GetKeyCode()) {
    case WXK_ESCAPE:
      End(wxID_CANCEL);
      return;
    case WXK_RETURN:
    case WXK_NUMPAD_ENTER:
      End(wxID_OK);
      return;
    default:
      event.Skip();
  }
}

void CUsbDwn::End(int code) { EndDialogWith(*this, code); }

bool CUsbDwn::Destroy() {
  CancelTransfer();
  return wxDialog::Destroy();
}

void CUsbDwn::CancelTransfer() {
  if (worker_) worker_->Cancel();
}

void CUsbDwn::RecordResult(const UsbTransferResult& result) {
  {
    std::lock_guard<std::mutex> lock(resultMutex_);
    result_ = result;
  }
  if (result.outcome == UsbTransferResult::kAborted) ShowStopped(result);
}

void CUsbDwn::ShowStopped(const UsbTransferResult& result) {
  // The window stays open; its hidden info line, over the dialog's width, tells why and
  // how to close it instead of the summary figures.
  infoText_ = UsbStoppedText(result);
  UpdateData();
  const wxPoint at = infoLabel_->GetPosition();
  infoLabel_->SetSize(GetClientSize().x - 2 * at.x, -1);
  infoLabel_->Show();
}

std::optional<UsbTransferResult> CUsbDwn::Result() const {
  std::lock_guard<std::mutex> lock(resultMutex_);
  return result_;
}
