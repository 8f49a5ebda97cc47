#include "tools/ui/HeaderGenDlg.h"

#include <wx/button.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "common/LineEnds.h"
#include "tools/ui/ToolWindow.h"
#include "widgets/DialogLayout.h"
#include "widgets/FileDialog.h"
#include "widgets/UiCall.h"
#include "widgets/WxText.h"

using namespace edog;

namespace {

constexpr ConvertOption kOptions[] = {ConvertOption::kC, ConvertOption::kI, ConvertOption::kN,
                                      ConvertOption::kS, ConvertOption::kM};
constexpr int kOptionIds[] = {CHeaderGenDlg::IDC_OPTION_C, CHeaderGenDlg::IDC_OPTION_I,
                              CHeaderGenDlg::IDC_OPTION_N, CHeaderGenDlg::IDC_OPTION_S,
                              CHeaderGenDlg::IDC_OPTION_M};
const char* const kOptionTexts[] = {
    "-C Convert to Binary data With Offset. [Code Area]",
    "-I Convert to Binary data Without Offset.[Code Area]",
    "-N Don't Convert to Binary data.[Code Area]",
    "-S Don't Convert to Binary data.[External Flash Area]",
    "-M Don't Convert to Binary data With Offset.[Code Area]",
};

}  // namespace

// The conversion's side, on the worker thread: report lines are queued to the window's
// thread in the order written; the worker never waits for the window.
class CHeaderGenDlg::PaneObserver : public HeaderGenObserver {
 public:
  explicit PaneObserver(CHeaderGenDlg& dlg) : dlg_(dlg) {}
  void OnReport(const std::string& text) override {
    dlg_.ui_->Post([d = &dlg_, text] { d->AppendReport(text); });
  }
  bool CancelRequested() override { return dlg_.run_.StopRequested(); }

 private:
  CHeaderGenDlg& dlg_;
};

CHeaderGenDlg::CHeaderGenDlg(wxWindow* parent) : ui_(UiCallTarget::Create()) {
  report_ = OptionReportLine(ConvertOption::kC);
  Create(parent, IDD, "Header Generation", wxDefaultPosition, wxDefaultSize,
         wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
  SetFont(LoadToolDialogFont());
  CreateControls();
  Bind(wxEVT_INIT_DIALOG, &CHeaderGenDlg::OnInitDialog, this);
  for (size_t i = 0; i < std::size(kOptions); ++i) {
    const ConvertOption option = kOptions[i];
    Bind(wxEVT_RADIOBUTTON, [this, option](wxCommandEvent&) { OnOption(option); }, kOptionIds[i]);
  }
  Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { OnPair(serialRadio_, nandRadio_); }, IDC_SERIAL);
  Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { OnPair(nandRadio_, serialRadio_); }, IDC_NAND);
  Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { OnPair(usbRadio_, uartRadio_); }, IDC_USB);
  Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { OnPair(uartRadio_, usbRadio_); }, IDC_UART);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnFileOpen(); }, IDC_FILE_OPEN);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnConvert(); }, IDC_CONVERT);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnEnd(wxID_OK); }, wxID_OK);
  BindToolCancel(*this, [this] { OnEnd(wxID_CANCEL); });
}

CHeaderGenDlg::~CHeaderGenDlg() {
  run_.Halt();
  ui_->Detach();  // what the conversion queued is dropped with the window
}

void CHeaderGenDlg::CreateControls() {
  const DialogLayout du(this);
  SetClientSize(du.Size(330, 318));

  du.Group(wxID_ANY, "Step 1. File selection", 7, 4, 316, 32);
  du.Button(IDC_FILE_OPEN, "File Open", 14, 15, 50);
  inputPathText_ = new wxStaticText(this, IDC_INPUT_PATH, "..", du.At(72, 18), du.Size(244, 10),
                                    wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_START);

  du.Group(wxID_ANY, "Step 2. Option", 7, 39, 316, 74);
  for (int i = 0; i < 5; ++i)
    optionRadios_[i] = du.Radio(kOptionIds[i], kOptionTexts[i], 14, 50 + 12 * i, 300, i == 0);

  step3Box_ = du.Group(IDC_STEP3, "Step 3. Offset", 7, 116, 150, 32);
  addressEdit_ = new wxTextCtrl(this, IDC_ADDRESS, "", du.At(14, 128), du.Size(90, 13));
  du.Group(wxID_ANY, "Flash Select", 162, 116, 78, 32);
  serialRadio_ = du.Radio(IDC_SERIAL, "Serial", 167, 130, 34, true);
  nandRadio_ = du.Radio(IDC_NAND, "NAND", 204, 130, 34, false);
  du.Group(wxID_ANY, "Port Select", 245, 116, 78, 32);
  usbRadio_ = du.Radio(IDC_USB, "USB", 250, 130, 34, true);
  uartRadio_ = du.Radio(IDC_UART, "UART", 287, 130, 34, false);

  du.Group(wxID_ANY, "Step 4. Start convert", 7, 151, 316, 30);
  du.Button(IDC_CONVERT, "Convert", 14, 162, 60);

  du.Label("Report:", 7, 186, 60);
  reportEdit_ = new wxTextCtrl(this, IDC_REPORT, "", du.At(7, 196), du.Size(316, 98),
                               wxTE_MULTILINE | wxTE_READONLY | wxTE_DONTWRAP | wxHSCROLL);
  du.Button(wxID_OK, "End", 273, 299, 50);
  SetClientSize(FitControls(this, GetClientSize()));
}

void CHeaderGenDlg::OnInitDialog(wxInitDialogEvent&) {
  if (initialised_) return;  // showing the window asks again
  initialised_ = true;
  for (int i = 0; i < 5; ++i) optionRadios_[i]->SetValue(i == 0);
  serialRadio_->SetValue(true);
  nandRadio_->SetValue(false);
  usbRadio_->SetValue(true);
  uartRadio_->SetValue(false);
  serialRadio_->Disable();
  nandRadio_->Disable();
  UpdateData(false);
  ScrollReportToEnd();
}

bool CHeaderGenDlg::UpdateData(bool saveAndValidate) {
  if (saveAndValidate) {
    addressText_ = ToU8(addressEdit_->GetValue());
    return true;
  }
  const wxString path = inputPath_.empty() ? wxString("..") : U8(inputPath_);
  if (inputPathText_->GetLabel() != path) inputPathText_->SetLabel(path);
  const wxString report = U8(ToControlLineEnds(report_));
  if (reportEdit_->GetValue() != report) reportEdit_->ChangeValue(report);
  if (addressEdit_->GetValue() != U8(addressText_)) addressEdit_->ChangeValue(U8(addressText_));
  if (step3Box_->GetLabel() != U8(step3Label_)) step3Box_->SetLabel(U8(step3Label_));
  return true;
}

void CHeaderGenDlg::OnOption(ConvertOption option) {
  const OptionLayout& layout = LayoutOf(option);
  for (size_t i = 0; i < std::size(kOptions); ++i) optionRadios_[i]->SetValue(kOptions[i] == option);
  addressEdit_->ChangeValue(layout.addressText);
  UpdateData(true);
  convertFlag_ = layout.flag;
  hexConversion_ = layout.hexConversion ? 1 : 0;
  reportOffset_ = static_cast<int>(option == ConvertOption::kM ? HexTextValue(addressText_)
                                                               : kDefaultOffset);
  step3Label_ = layout.step3Label;
  report_ += OptionReportLine(option);
  addressEdit_->Enable(layout.addressEditable);
  serialRadio_->Enable(layout.flashSelectable);
  nandRadio_->Enable(layout.flashSelectable);
  UpdateData(false);
  ScrollReportToEnd();
}

void CHeaderGenDlg::OnPair(wxRadioButton* checked, wxRadioButton* partner) {
  checked->SetValue(true);
  partner->SetValue(false);
}

void CHeaderGenDlg::OnFileOpen() {
  if (Running()) return;
  UpdateData(true);
  OpenFileRequest request;
  request.filter = "All File(*.*) |*.*||";
  request.parent = this;
  const std::vector<wxString> chosen = ShowOpenFileDialog(request);
  if (!chosen.empty()) {
    inputPath_ = ToU8(chosen.front());
    report_ += FileSelectedReportLine(inputPath_);
  }
  UpdateData(false);
  ScrollReportToEnd();
}

void CHeaderGenDlg::OnConvert() {
  if (Running()) return;
  UpdateData(true);
  HeaderGenSettings settings;
  settings.inputPath = inputPath_;
  settings.option = ParseConvertFlag(convertFlag_).value_or(ConvertOption::kC);
  settings.addressText = addressText_;
  settings.nand = !serialRadio_->GetValue() && nandRadio_->GetValue();
  settings.port = uartRadio_->GetValue() ? Port::Uart : Port::Usb;
  LockRun(true);
  FocusStopDuringRun(*this, wxID_OK);  // End
  const auto run = [this, settings] {
    PaneObserver observer(*this);
    std::vector<std::string> written;
    if (ConvertToHeaderedImage(settings, observer) == HeaderGenStatus::kDone) {
      written.push_back(HeaderGenOutputName(settings.inputPath, "hdr"));
      if (LayoutOf(settings.option).hexConversion)
        written.push_back(HeaderGenOutputName(settings.inputPath, "bin"));
    }
    ui_->Post([this, written] { OnConvertEnded(written); });
  };
  if (const std::string error = run_.Start("the conversion", run); !error.empty()) {
    AppendReport(" >> " + error + "\r\n");
    LockRun(false);
  }
}

void CHeaderGenDlg::OnConvertEnded(const std::vector<std::string>& written) {
  // A stop that came after the conversion's last look at it: what it wrote goes all the same.
  if (EndCancelledRun(*this, run_, written)) return;
  LockRun(false);
}

void CHeaderGenDlg::OnEnd(int code) {
  // During a conversion it stops at its next step and removes what it wrote; the window
  // says so and closes when the conversion's end arrives. Afterwards the window closes.
  CancelToolRun(*this, run_, code);
}

void CHeaderGenDlg::LockRun(bool locked) {
  for (int id : {int(IDC_FILE_OPEN), int(IDC_CONVERT)}) FindWindow(id)->Enable(!locked);
  for (wxRadioButton* option : optionRadios_) option->Enable(!locked);
}

void CHeaderGenDlg::AppendReport(const std::string& text) {
  report_ += text;
  UpdateData(false);
  ScrollReportToEnd();
}

void CHeaderGenDlg::ScrollReportToEnd() {
  reportEdit_->ShowPosition(reportEdit_->GetLastPosition());
}
