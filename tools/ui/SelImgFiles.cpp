#include "tools/ui/SelImgFiles.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/gauge.h>
#include <wx/listctrl.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <filesystem>

#include "common/Files.h"
#include "common/Format.h"
#include "tools/PathFunctions.h"
#include "tools/ToolTexts.h"
#include "tools/ToolDialogLogic.h"
#include "tools/VoiceGeneration.h"
#include "tools/ui/ToolWindow.h"
#include "widgets/DialogLayout.h"
#include "widgets/FileDialog.h"
#include "widgets/ListRows.h"
#include "widgets/MessageBox.h"
#include "widgets/UiCall.h"
#include "widgets/WxText.h"

using namespace edog;

namespace {

constexpr int kPreviewSide = 256;       // pixels: every picture of the format fits whole
constexpr int kEncodePauseMs = 10;      // after each picture is encoded

wxImage ToImage(const Picture& picture) {
  wxImage image(picture.width, picture.height, false);
  std::copy(picture.rgb.begin(), picture.rgb.end(), image.GetData());
  return image;
}

}  // namespace

// ---------------------------------------------------------------------------------------
CImagePreview::CImagePreview(wxWindow* parent, wxWindowID id, const wxPoint& pos,
                             const wxSize& size)
    : wxWindow(parent, id, pos, size, wxBORDER_SUNKEN | wxFULL_REPAINT_ON_RESIZE) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  const wxSize client = GetClientSize();
  canvas_.Create(std::max(client.x, 1), std::max(client.y, 1), 24);
  Clear();
  Bind(wxEVT_PAINT, &CImagePreview::OnPaint, this);
}

void CImagePreview::ShowPicture(const Picture& picture) {
  if (picture.width <= 0 || picture.height <= 0) return;
  {
    wxMemoryDC dc(canvas_);
    dc.DrawBitmap(wxBitmap(ToImage(picture), 24), 0, 0);
  }
  ++picturesShown_;
  Refresh(false);
}

void CImagePreview::ClearArea(int width, int height) {
  {
    wxMemoryDC dc(canvas_);
    const wxColour background = GetParent()->GetBackgroundColour();
    dc.SetPen(wxPen(background));
    dc.SetBrush(wxBrush(background));
    dc.DrawRectangle(0, 0, width, height);
  }
  Refresh(false);
}

void CImagePreview::OnPaint(wxPaintEvent&) {
  wxPaintDC dc(this);
  dc.DrawBitmap(canvas_, 0, 0);
}

// ---------------------------------------------------------------------------------------
// The run's reports, on the worker thread: everything the window shows is queued to the
// window's own thread; the worker never waits for it, so the window can always wait for
// the worker.
class CSelImgFiles::RunObserver : public ImageTableObserver {
 public:
  RunObserver(CSelImgFiles& dlg, int displayMs) : dlg_(dlg), displayMs_(displayMs) {}

  void OnProgress(int percent) override {
    dlg_.ui_->Post([d = &dlg_, percent] { d->progress_->SetValue(std::clamp(percent, 0, 100)); });
  }
  void OnPictureDecoded(size_t, const Picture& picture) override {
    dlg_.ui_->Post([d = &dlg_, picture] { d->preview_->ShowPicture(picture); });
    dlg_.run_.Pause(kEncodePauseMs);
  }
  void OnPreviewCleared() override {
    dlg_.ui_->Post([d = &dlg_] { d->preview_->Clear(); });
  }
  void OnPictureReplayed(size_t, const Picture& picture) override {
    dlg_.ui_->Post([d = &dlg_, picture] {
      d->preview_->Clear();
      d->preview_->ShowPicture(picture);
    });
    dlg_.run_.Pause(displayMs_);
    dlg_.ui_->Post([d = &dlg_, w = picture.width, h = picture.height] {
      d->preview_->ClearArea(w, h);
    });
  }
  bool CancelRequested() override { return dlg_.run_.StopRequested(); }

 private:
  CSelImgFiles& dlg_;
  const int displayMs_;
};

// ---------------------------------------------------------------------------------------
CSelImgFiles::CSelImgFiles(wxWindow* parent) : ui_(UiCallTarget::Create()) {
  Create(parent, IDD, "Select Image Files", wxDefaultPosition, wxDefaultSize,
         wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
  SetFont(LoadToolDialogFont());
  CreateControls();
  Bind(wxEVT_INIT_DIALOG, &CSelImgFiles::OnInitDialog, this);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnAddFiles(); }, IDC_ADD_FILES);
  BindListEdits(*this, *imageList_, run_, IDC_DELETE, IDC_MOVE_UP, IDC_MOVE_DOWN);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnOK(); }, wxID_OK);
  BindToolCancel(*this, [this] { OnCancel(); });
  Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { OnPair(serialRadio_, nandRadio_); }, IDC_SERIAL);
  Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { OnPair(nandRadio_, serialRadio_); }, IDC_NAND);
  Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { OnPair(usbRadio_, uartRadio_); }, IDC_USB);
  Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { OnPair(uartRadio_, usbRadio_); }, IDC_UART);
}

CSelImgFiles::~CSelImgFiles() {
  run_.Halt();
  ui_->Detach();  // what the run queued is dropped with the window
}

void CSelImgFiles::CreateControls() {
  const DialogLayout du(this);
  SetClientSize(du.Size(484, 268));

  du.Label("Source Wave Files:", 7, 5, 100);
  imageList_ = new wxListCtrl(this, IDC_IMAGE_LIST, du.At(7, 15), du.Size(290, 150),
                              wxLC_REPORT | wxBORDER_SUNKEN);
  editButtons_[0] = du.Button(IDC_ADD_FILES, "AddFiles", 7, 170, 55);
  editButtons_[1] = du.Button(IDC_DELETE, "Delete", 68, 170, 55);
  editButtons_[2] = du.Button(IDC_MOVE_UP, "MoveUp", 129, 170, 55);
  editButtons_[3] = du.Button(IDC_MOVE_DOWN, "MoveDown", 190, 170, 55);

  preview_ = new CImagePreview(this, IDC_PREVIEW, du.At(306, 15), wxSize(kPreviewSide + 4, kPreviewSide + 4));
  progress_ = new wxGauge(this, IDC_PROGRESS, 100, du.At(306, 188), du.Size(170, 10));

  du.Label("Address", 7, 200, 30);
  du.Label("0x", 42, 200, 10);
  addressEdit_ = new wxTextCtrl(this, IDC_ADDRESS, "", du.At(54, 197), du.Size(70, 13));
  du.Label("Display speed:", 136, 200, 55);
  speedEdit_ = new wxTextCtrl(this, IDC_DISPLAY_SPEED, "", du.At(195, 197), du.Size(40, 13));
  du.Label("Output file name:", 7, 218, 65);
  outputEdit_ = new wxTextCtrl(this, IDC_OUTPUT_NAME, "", du.At(75, 215), du.Size(110, 13));
  tempCleanBox_ = DialogLayout::Fit(
      new wxCheckBox(this, IDC_TEMP_CLEAN, "Temp file clean", du.At(195, 217), du.Size(80, 10)));

  du.Group(wxID_ANY, "Flash Select", 7, 234, 110, 30);
  serialRadio_ = du.Radio(IDC_SERIAL, "Serial", 14, 247, 40, true);
  nandRadio_ = du.Radio(IDC_NAND, "NAND", 62, 247, 40, false);
  du.Group(wxID_ANY, "Port Select", 125, 234, 110, 30);
  usbRadio_ = du.Radio(IDC_USB, "USB", 132, 247, 40, true);
  uartRadio_ = du.Radio(IDC_UART, "UART", 180, 247, 40, false);

  okButton_ = du.Button(wxID_OK, "OK", 366, 246, 52);
  du.Button(wxID_CANCEL, "Cancel", 424, 246, 52);
  SetClientSize(FitControls(this, GetClientSize()));
}

void CSelImgFiles::OnInitDialog(wxInitDialogEvent&) {
  if (initialised_) return;  // showing the window asks again
  initialised_ = true;
  imageList_->InsertColumn(kName, "Name", wxLIST_FORMAT_LEFT, 150);
  imageList_->InsertColumn(kSize, "Size", wxLIST_FORMAT_RIGHT, 70);
  imageList_->InsertColumn(kDir, "Dir", wxLIST_FORMAT_LEFT, 350);
  progress_->SetRange(100);
  progress_->SetValue(0);
  serialRadio_->SetValue(true);
  nandRadio_->SetValue(false);
  usbRadio_->SetValue(true);
  uartRadio_->SetValue(false);
  UpdateData(false);
}

bool CSelImgFiles::UpdateData(bool saveAndValidate) {
  if (saveAndValidate) {
    addressText_ = ToU8(addressEdit_->GetValue());
    tempClean_ = tempCleanBox_->GetValue();
    displaySpeed_ = ToU8(speedEdit_->GetValue());
    outputName_ = ToU8(outputEdit_->GetValue());
    return true;
  }
  addressEdit_->ChangeValue(U8(addressText_));
  tempCleanBox_->SetValue(tempClean_);
  speedEdit_->ChangeValue(U8(displaySpeed_));
  outputEdit_->ChangeValue(U8(outputName_));
  return true;
}

void CSelImgFiles::OnPair(wxRadioButton* checked, wxRadioButton* partner) {
  checked->SetValue(true);
  partner->SetValue(false);
}

void CSelImgFiles::OnAddFiles() {
  if (Running()) return;
  UpdateData(true);
  OpenFileRequest request;
  request.title = "Select Image Files";
  request.filter = "Image(*.bmp)|*.bmp|All File(*.*)|*.*|";
  request.multiple = true;
  request.parent = this;
  const std::vector<wxString> chosen = ShowOpenFileDialog(request);
  for (const wxString& choice : chosen) {
    const std::string path = ToU8(choice);
    const auto length = FileSize(path);
    if (!length) {
      ShowMessageBox(U8(path + ": cannot open the file"), ApplicationCaption(), wxOK, this);
      continue;
    }
    AppendRow(*imageList_, {ExtractFileName(path), Format("%llu", (unsigned long long)*length), path});
    pictureFolder_ = VoiceOutputFolder(path);
  }
  UpdateData(false);
}

void CSelImgFiles::LockEdits(bool locked) {
  LockList(*imageList_, {editButtons_[0], editButtons_[1], editButtons_[2], editButtons_[3]}, locked);
}

void CSelImgFiles::OnOK() {
  if (Running()) return;
  okButton_->Disable();
  UpdateData(true);
  ImageTableSettings settings;
  settings.pictures = ColumnTexts(*imageList_, kDir);
  const std::optional<uint32_t> address = ReadHexField(addressText_);
  if (!address) {
    ShowMessageBox(U8("Address 0x" + addressText_ + " does not fit 32 bits."), ApplicationCaption(),
                   wxOK, this);
    okButton_->Enable();
    return;
  }
  settings.address = *address;
  settings.outputName = outputName_;
  if (!pictureFolder_.empty() && !outputName_.empty() &&
      !std::filesystem::u8path(outputName_).is_absolute())
    settings.outputName = pictureFolder_ + outputName_;
  settings.flash = nandRadio_->GetValue() && !serialRadio_->GetValue() ? kFlashNand : kFlashSerial;
  settings.port = uartRadio_->GetValue() ? Port::Uart : Port::Usb;
  settings.cleanTemp = tempClean_;
  const int displayMs = std::max(0, ReadDecimalText(displaySpeed_));

  LockEdits(true);
  FocusStopDuringRun(*this, wxID_CANCEL);
  const auto run = [this, settings, displayMs, name = outputName_] {
    RunObserver observer(*this, displayMs);
    // The failure text is shown once the run has ended; the final text is the window's own.
    std::vector<std::string> messages;
    const Result<ImageTableStatus> result = RunImageTable(settings, observer);
    const bool finished = result.Ok();
    if (finished) {
      // The output as the user named it, not the folder it was put into.
      messages = {Format(kImageTableFinishedFormat, static_cast<int>(settings.pictures.size()),
                         name.c_str())};
    } else if (!result.message.empty()) {
      messages = {result.message};
    }
    ui_->Post([this, messages, finished, settings] { OnRunEnded(messages, finished, settings); });
  };
  if (const std::string error = run_.Start("the image table run", run); !error.empty())
    OnRunEnded({error}, false, settings);
}

void CSelImgFiles::OnRunEnded(const std::vector<std::string>& messages, bool finished,
                              const ImageTableSettings& settings) {
  // A stop that came after the run's last look at it: what it wrote goes all the same.
  if (EndCancelledRun(*this, run_,
                      finished ? std::vector<std::string>{settings.outputName,
                                                          CHeaderFileName(settings.outputName)}
                               : std::vector<std::string>{}))
    return;
  LockEdits(false);
  // Also after a failed run: the list can be mended and the run started again.
  okButton_->Enable();
  for (const std::string& text : messages) ShowMessageBox(U8(text), ApplicationCaption(), wxOK, this);
}

void CSelImgFiles::OnCancel() {
  // During a run it stops at its next step and removes what it wrote; the window says so
  // and closes when the run's end arrives (OnRunEnded). Afterwards Cancel just closes.
  CancelToolRun(*this, run_);
}
