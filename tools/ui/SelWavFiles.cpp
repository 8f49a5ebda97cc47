#include "tools/ui/SelWavFiles.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/listctrl.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "tools/ToolDialogLogic.h"
#include "tools/ToolTexts.h"
#include "tools/WaveListRow.h"
#include "tools/ui/ToolWindow.h"
#include "widgets/DialogLayout.h"
#include "widgets/FileDialog.h"
#include "widgets/GradientProgressCtrl.h"
#include "widgets/ListRows.h"
#include "widgets/MessageBox.h"
#include "widgets/UiCall.h"
#include "widgets/WxText.h"

// <windows.h>, which some wx headers pull in on Windows, defines SetPort as SetPortW.
#ifdef SetPort
#undef SetPort
#endif

using namespace edog;

// The run's side, on the worker thread: its reports are queued to the window's thread in
// the order posted. The worker never waits for the window.
class CSelWavFiles::RunObserver : public VoiceGenerationObserver {
 public:
  explicit RunObserver(CSelWavFiles& dlg) : dlg_(dlg) {}
  void OnBusyChanged(bool busy) override {
    dlg_.ui_->Post([d = &dlg_, busy] { d->OnRunBusy(busy); });
  }
  void OnProgress(long percent) override {
    dlg_.ui_->Post([d = &dlg_, percent] { d->OnRunProgress(percent); });
  }
  void OnCompleted(long files) override {
    dlg_.ui_->Post([d = &dlg_, files] { d->OnRunCompleted(files); });
  }
  bool StopRequested() override { return dlg_.run_.StopRequested(); }

 private:
  CSelWavFiles& dlg_;
};

CSelWavFiles::CSelWavFiles(wxWindow* parent, VoiceGeneration& generation,
                           std::string encoderLibrary)
    : generation_(generation),
      encoderLibrary_(std::move(encoderLibrary)),
      ui_(UiCallTarget::Create()) {
  Create(parent, IDD, "KOVA Data Generation", wxDefaultPosition, wxDefaultSize,
         wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
  SetFont(LoadToolDialogFont());
  CreateControls();
  Bind(wxEVT_INIT_DIALOG, &CSelWavFiles::OnInitDialog, this);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnAddFiles(); }, IDC_ADD_FILES);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnOK(); }, wxID_OK);
  BindListEdits(*this, *waveList_, run_, IDC_DELETE, IDC_MOVE_UP, IDC_MOVE_DOWN);
  BindToolCancel(*this, [this] { OnCancel(); });
  Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { SetFlash(kSelectSerial); }, IDC_SERIAL);
  Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { SetFlash(kSelectNand); }, IDC_NAND);
  Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { SetPort(kSelectUsb); }, IDC_USB);
  Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { SetPort(kSelectUart); }, IDC_UART);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnBitsChange(); }, IDC_BITS_CHANGE);
  Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnRateBitsOption(); }, IDC_RATE_BITS);
  // The address field takes upper case only.
  addressEdit_->Bind(wxEVT_TEXT, [this](wxCommandEvent&) {
    const wxString text = addressEdit_->GetValue();
    if (text.Upper() == text) return;
    const long at = addressEdit_->GetInsertionPoint();
    addressEdit_->ChangeValue(text.Upper());
    addressEdit_->SetInsertionPoint(at);
  });
  // Double clicks arrive at the list or, where the list is drawn by the toolkit's generic
  // code, at its inner item window.
  auto bindDoubleClick = [this](wxWindow* source) {
    source->Bind(wxEVT_LEFT_DCLICK,
                 [this, source](wxMouseEvent& e) { OnListMouseDoubleClick(e, source); });
  };
  bindDoubleClick(waveList_);
  for (wxWindow* child : waveList_->GetChildren()) bindDoubleClick(child);
}

CSelWavFiles::~CSelWavFiles() {
  run_.Halt();
  ui_->Detach();  // what the run queued is dropped with the window
}

void CSelWavFiles::CreateControls() {
  const DialogLayout du(this);
  SetClientSize(du.Size(514, 288));

  du.Label("Source Wave Files:", 7, 5, 100);
  waveList_ = new wxListCtrl(this, IDC_WAVE_LIST, du.At(7, 15), du.Size(420, 192),
                             wxLC_REPORT | wxBORDER_SUNKEN);
  addFilesButton_ = du.Button(IDC_ADD_FILES, "AddFiles", 433, 15, 75);
  deleteButton_ = du.Button(IDC_DELETE, "Delete", 433, 37, 75);
  moveUpButton_ = du.Button(IDC_MOVE_UP, "MoveUp", 433, 59, 75);
  moveDownButton_ = du.Button(IDC_MOVE_DOWN, "MoveDown", 433, 81, 75);
  bitsChangeButton_ = du.Button(IDC_BITS_CHANGE, "N bit Comp change", 433, 110, 75);

  du.Label("Address", 7, 219, 30);
  du.Label("0x", 40, 219, 10);
  addressEdit_ = new wxTextCtrl(this, IDC_ADDRESS, "", du.At(52, 216), du.Size(70, 13));
  du.Label("Output file name:", 135, 219, 62);
  outputEdit_ = new wxTextCtrl(this, IDC_OUTPUT_NAME, "", du.At(200, 216), du.Size(110, 13));
  tempCleanBox_ = DialogLayout::Fit(new wxCheckBox(this, IDC_TEMP_CLEAN, "Temp file clean",
                                                   du.At(7, 238), du.Size(75, 10)));
  rateBitsBox_ = DialogLayout::Fit(new wxCheckBox(this, IDC_RATE_BITS, "Freq, N bit Comp save",
                                                  du.At(95, 238), du.Size(100, 10)));

  du.Group(wxID_ANY, "Flash Select", 320, 210, 92, 34);
  serialRadio_ = du.Radio(IDC_SERIAL, "Serial", 326, 225, 38, true);
  nandRadio_ = du.Radio(IDC_NAND, "NAND", 368, 225, 38, false);
  du.Group(wxID_ANY, "Port Select", 416, 210, 91, 34);
  usbRadio_ = du.Radio(IDC_USB, "USB", 422, 225, 38, true);
  uartRadio_ = du.Radio(IDC_UART, "UART", 464, 225, 38, false);

  progress_ = new CGradientProgressCtrl(this, IDC_PROGRESS, du.At(7, 258), du.Size(420, 14));
  okButton_ = du.Button(wxID_OK, "OK", 433, 244, 75);
  okButton_->SetDefault();
  du.Button(wxID_CANCEL, "Cancel", 433, 266, 75);
  SetClientSize(FitControls(this, GetClientSize()));
}

void CSelWavFiles::OnInitDialog(wxInitDialogEvent&) {
  if (initialised_) return;  // showing the window asks again
  initialised_ = true;
  CWaveInfo working;
  waveList_->InsertColumn(kName, "Name", wxLIST_FORMAT_LEFT, 200);
  waveList_->InsertColumn(kFreq, "Freq", wxLIST_FORMAT_RIGHT, 50);
  waveList_->InsertColumn(kBits, "N bit Comp", wxLIST_FORMAT_RIGHT, 70);
  waveList_->InsertColumn(kSize, "Size", wxLIST_FORMAT_RIGHT, 70);
  waveList_->InsertColumn(kDir, "Dir", wxLIST_FORMAT_LEFT, 300);
  // The files of the last OK again, with their rates read anew and bits 4.
  for (const std::string& path : generation_.paths) AddFile(working, path);

  progress_->SetRange(0, 100);
  progress_->SetPos(0);
  progress_->ShowPercent(true);
  progress_->SetStartColor(0x808000);
  progress_->SetEndColor(0x800000);
  progress_->SetTextColor(0x8000);
  bitsChangeButton_->Disable();
  UpdateData(false);
  SetFlash(kSelectSerial);
  SetPort(kSelectUsb);
}

bool CSelWavFiles::UpdateData(bool saveAndValidate) {
  if (saveAndValidate) {
    addressText_ = ToU8(addressEdit_->GetValue());
    tempFileClean_ = tempCleanBox_->GetValue() ? 1 : 0;
    rateAndBits_ = rateBitsBox_->GetValue() ? 1 : 0;
    outputName_ = ToU8(outputEdit_->GetValue());
    return true;
  }
  addressEdit_->ChangeValue(U8(addressText_));
  tempCleanBox_->SetValue(tempFileClean_ != 0);
  rateBitsBox_->SetValue(rateAndBits_ != 0);
  outputEdit_->ChangeValue(U8(outputName_));
  return true;
}

void CSelWavFiles::AddFile(CWaveInfo& working, const std::string& path) {
  const WaveListEntry entry = MakeWaveListEntry(working, path);
  if (entry.kind != WaveListEntry::kAdded) {
    ShowMessageBox(U8(entry.message), ApplicationCaption(), wxOK, this);
    return;
  }
  const WaveListRow& r = entry.row;
  AppendRow(*waveList_, {r.name, r.freq, r.bits, r.size, r.dir});
}

void CSelWavFiles::OnAddFiles() {
  if (Running()) return;
  OpenFileRequest request;
  request.title = "Select Wave Files";
  request.filter = "Wav(*.wav) |*.wav| All File(*.*) |*.*||";
  request.multiple = true;
  request.parent = this;
  UpdateData(true);
  const std::vector<wxString> chosen = ShowOpenFileDialog(request);
  if (chosen.empty()) return;
  CWaveInfo working;
  for (const wxString& path : chosen) AddFile(working, ToU8(path));
  UpdateData(false);
}

void CSelWavFiles::LockEdits(bool locked) {
  LockList(*waveList_, {addFilesButton_, deleteButton_, moveUpButton_, moveDownButton_}, locked);
  bitsChangeButton_->Enable(!locked && rateAndBits_ != 0);
}

void CSelWavFiles::OnBitsChange() {
  const std::vector<int> rows = SelectedRows(*waveList_);
  if (rows.empty()) return;
  UpdateData(true);
  for (int row : rows)
    waveList_->SetItem(row, kBits, U8(ToggledCompressionBits(ToU8(waveList_->GetItemText(row, kBits)))));
}

void CSelWavFiles::OnRateBitsOption() {
  UpdateData(true);
  bitsChangeButton_->Enable(rateAndBits_ != 0);
}

void CSelWavFiles::OnListDoubleClick(long item, long column) {
  if (!DoubleClickToggles(rateAndBits_ != 0, item, column)) return;
  waveList_->SetItem(item, kBits, U8(ToggledCompressionBits(ToU8(waveList_->GetItemText(item, kBits)))));
}

void CSelWavFiles::OnListMouseDoubleClick(wxMouseEvent& event, wxWindow* source) {
  event.Skip();
  const wxPoint inList = waveList_->ScreenToClient(source->ClientToScreen(event.GetPosition()));
  int flags = 0;
  long column = -1;
  const long item = waveList_->HitTest(inList, flags, &column);
  if (item < 0 || !(flags & wxLIST_HITTEST_ONITEM)) return OnListDoubleClick(-1, -1);
  // The column under the pointer, from the columns' widths in their shown order.
  std::vector<int> widths, order;
  for (int c = 0; c < waveList_->GetColumnCount(); ++c) {
    widths.push_back(waveList_->GetColumnWidth(c));
    order.push_back(waveList_->GetColumnIndexFromOrder(c));
  }
  wxRect first;
  waveList_->GetItemRect(item, first);
  OnListDoubleClick(item, ColumnAtX(inList.x - first.x, widths, order));
}

void CSelWavFiles::SetFlash(int selection) {
  serialRadio_->SetValue(selection == kSelectSerial);
  nandRadio_->SetValue(selection == kSelectNand);
  generation_.flashSelection = selection;
}

void CSelWavFiles::SetPort(int selection) {
  usbRadio_->SetValue(selection == kSelectUsb);
  uartRadio_->SetValue(selection == kSelectUart);
  generation_.portSelection = selection;
}

void CSelWavFiles::OnOK() {
  if (Running()) return;
  // OK is off from the click on, so a second click cannot start a second run.
  okButton_->Disable();
  generation_.ClearFiles();
  for (long i = 0; i < waveList_->GetItemCount(); ++i) {
    generation_.AddFile(ToU8(waveList_->GetItemText(i, kDir)), ToU8(waveList_->GetItemText(i, kFreq)),
                        ToU8(waveList_->GetItemText(i, kBits)));
  }
  UpdateData(true);
  const std::optional<uint32_t> start = ReadHexField(addressText_);
  if (!start) {
    ShowMessageBox(U8("Address 0x" + addressText_ + " does not fit 32 bits."), ApplicationCaption(),
                   wxOK, this);
    okButton_->Enable();
    return;
  }
  generation_.tempFileClean = tempFileClean_ != 0;
  generation_.outputName = outputName_;
  generation_.rateAndBits = rateAndBits_ != 0;

  LockEdits(true);
  FocusStopDuringRun(*this, wxID_CANCEL);
  // The run works on its own copy: the window may change the lists at the next OK.
  const auto run = [this, generation = generation_, address = *start] {
    RunObserver observer(*this);
    const Result<VoiceRunStatus> result =
        RunVoiceGeneration(generation, address, observer, encoderLibrary_);
    ui_->Post([this, result] { OnRunEnded(result); });
  };
  if (const std::string error = run_.Start("the voice data run", run); !error.empty())
    OnRunEnded({VoiceRunStatus::kFailed, error});
}

void CSelWavFiles::OnRunBusy(bool busy) {
  if (!ending_) okButton_->Enable(!busy);
}

void CSelWavFiles::OnRunProgress(long percent) {
  if (!ending_) progress_->SetPos(static_cast<int>(percent));
}

void CSelWavFiles::OnRunCompleted(long files) {
  if (ending_ || run_.Cancelled()) return;
  ShowMessageBox(U8(VoiceCompletionText(files, generation_.outputName)), ApplicationCaption(), wxOK,
                 this);
  UpdateData(true);
  ending_ = true;
  if (IsModal()) EndModal(wxID_OK);
}

void CSelWavFiles::OnRunEnded(const Result<VoiceRunStatus>& result) {
  if (ending_) {
    // The completion box has been shown: the run is over, and a Cancel since just closes.
    if (run_.End()) CloseToolWindow(*this, wxID_CANCEL);
    return;
  }
  // A stop that came after the run's last look at it: what it wrote goes all the same.
  const std::vector<std::string> written = {VoiceDataPath(generation_),
                                            VoiceHeaderPath(VoiceDataPath(generation_))};
  if (EndCancelledRun(*this, run_, result.Ok() ? written : std::vector<std::string>{})) {
    ending_ = true;
    return;
  }
  if (result.Ok()) return;
  LockEdits(false);
  if (!result.message.empty()) ShowMessageBox(U8(result.message), ApplicationCaption(), wxOK, this);
  // A run that stopped at an error leaves OK usable, so the list can be mended.
  okButton_->Enable();
}

void CSelWavFiles::OnCancel() {
  // During a run it stops between files and chunks and removes what it wrote; the window
  // says so and closes when the run's end arrives (OnRunEnded). Afterwards Cancel just
  // closes.
  CancelToolRun(*this, run_);
}
