#include "app/RS232TestDlg.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/combobox.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/display.h>
#include <wx/listbox.h>
#include <wx/menu.h>
#include <wx/radiobut.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/strconv.h>
#include <wx/textctrl.h>

#include <utility>

#ifdef __WXMSW__
#include <wx/msw/wrapwin.h>
#endif

#include "app/AboutDlg.h"
#include "app/DoctorDlg.h"
#include "app/UsbSetupDlg.h"
#include "app/MainWindowLogic.h"
#include "app/Resources.h"
#include "common/DynamicLibrary.h"
#include "common/LineEnds.h"
#include "device/UsbConfig.h"
#include "widgets/DialogLayout.h"
#include "widgets/EventLoop.h"
#include "widgets/GradientProgressCtrl.h"
#include "widgets/MessageBox.h"
#include "widgets/UiCall.h"
#include "widgets/WxText.h"

using namespace edog;

namespace {

constexpr int kDefaultBackgroundWidth = 500;
constexpr int kDefaultBackgroundHeight = 233;

// Device and serial text arrives as bytes: UTF-8 when it is valid UTF-8, else the
// device's GBK code page, else byte for byte.
wxString DecodeDeviceText(const std::string& bytes) {
  wxString text = wxString::FromUTF8(bytes.data(), bytes.size());
  if (!text.empty() || bytes.empty()) return text;
  wxCSConv gbk(wxFONTENCODING_CP936);
  if (gbk.IsOk()) {
    text = wxString(bytes.data(), gbk, bytes.size());
    if (!text.empty()) return text;
  }
  return wxString(bytes.data(), wxConvISO8859_1, bytes.size());
}

}  // namespace

CRS232TestDlg::CRS232TestDlg(wxWindow* parent, MainWindowOptions options)
    : methodRadio_(kInitialMethodRadio),
      options_(std::move(options)),
      pollTimer_(this, kPollTimerId),
      ui_(UiCallTarget::Create()),
      serialLink_({[this](const char* bytes, size_t count) { SendSerialText(bytes, count); },
                   [](const char* text, const char* caption) {
                     ShowMessageBox(U8(text), U8(caption), wxOK | wxICON_WARNING, nullptr);
                   }}) {
  usbStatus_ = UsbStatusBeforePoll();
  // A pop-up window with caption, system menu and minimise box; not resizable. Without
  // a parent it is an application window with its own task bar button.
  Create(parent, IDD_RS232TEST_DIALOG, ApplicationCaption(), wxDefaultPosition, wxDefaultSize,
         wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxCLOSE_BOX | wxDIALOG_NO_PARENT);
  // Dialog units follow the font: set it before any control is placed.
  SetFont(LoadMainFont());
  CreateControls();

  Bind(wxEVT_INIT_DIALOG, &CRS232TestDlg::OnInitDialog, this);
  Bind(wxEVT_PAINT, &CRS232TestDlg::OnPaint, this);
  Bind(wxEVT_TIMER, &CRS232TestDlg::OnTimer, this);
  Bind(wxEVT_CONTEXT_MENU, &CRS232TestDlg::OnContextMenu, this);
  Bind(wxEVT_CHAR_HOOK, &CRS232TestDlg::OnCharHook, this);
  Bind(wxEVT_SHOW, [this](wxShowEvent& e) {
    e.Skip();
    if (!e.IsShown() || refitted_) return;
    // GTK knows the controls' natural sizes for sure only once they are realised.
    refitted_ = true;
    ui_->Post([this] { PlaceWindow(FitControls(this, wantedClient_)); });
  });
  Bind(wxEVT_SIZE, [this](wxSizeEvent& e) {
    e.Skip();
    OnShowOrSize();
  });
  for (int id : {IDM_ABOUTBOX, IDM_DOCTOR, IDM_USB_SETUP})
    Bind(wxEVT_MENU, [this](wxCommandEvent& e) { OnSysCommand(static_cast<unsigned>(e.GetId())); },
         id);

  auto onButton = [this](int id, void (CRS232TestDlg::*handler)()) {
    Bind(wxEVT_BUTTON, [this, handler](wxCommandEvent&) { (this->*handler)(); }, id);
  };
  onButton(IDC_UPDATE, &CRS232TestDlg::OnUpdate);
  onButton(IDC_EXIT, &CRS232TestDlg::OnExit);
  onButton(IDC_RESET, &CRS232TestDlg::Reset);
  onButton(IDC_KOVA_DATA, &CRS232TestDlg::OnKovaDataGeneration);
  onButton(IDC_HEADER_GENERATION, &CRS232TestDlg::OnHeaderGeneration);
  onButton(IDC_SELECT_IMAGES, &CRS232TestDlg::OnSelectImageFiles);
  onButton(IDC_CONNECT, &CRS232TestDlg::OnConnect);
  onButton(IDC_BROWSE, &CRS232TestDlg::OnBrowse);
  onButton(IDC_READ_USB, &CRS232TestDlg::OnReadUsb);
  Bind(wxEVT_COMBOBOX, [this](wxCommandEvent&) { OnComPortChanged(); }, IDC_COM_PORT);
  Bind(wxEVT_COMBOBOX, [this](wxCommandEvent&) { OnBaudRateChanged(); }, IDC_BAUD_RATE);
  for (int id : {IDC_VOICE, IDC_DATABASE, IDC_SOFTWARE}) {
    Bind(wxEVT_CHECKBOX, [this, id](wxCommandEvent&) { OnCheckBox(id); }, id);
  }
  Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent& e) { OnMethodRadio(e.GetId()); },
       IDC_METHOD_FIRST, IDC_METHOD_LAST);
}

CRS232TestDlg::~CRS232TestDlg() {
  pollTimer_.Stop();
  StopWorkers();
  // A transfer cancelled with Esc may still be finishing its block: it ends first.
  usbTurns_.WaitForAll();
}

void CRS232TestDlg::CreateControls() {
  auto at = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
  auto size = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };
  // GTK has minimum sizes (tick areas, button padding): where its minimum is larger
  // than the template's place, the control gets GTK's.
  auto fit = [](auto* w) {
    wxSize placed = w->GetSize();
    placed.IncTo(w->GetBestSize());
    w->SetSize(placed);
    return w;
  };
  auto hidden = [this](wxWindow* w) {
    w->Hide();
    developerControls_.push_back(w);
    return w;
  };
  auto group = [&](const char* text, int x, int y, int w, int h) {
    return new wxStaticBox(this, wxID_ANY, U8(text), at(x, y), size(w, h));
  };
  auto button = [&](int id, const char* text, int x, int y, int w, int h) {
    return fit(new wxButton(this, id, U8(text), at(x, y), size(w, h)));
  };
  auto label = [&](const char* text, int x, int y, int w, int h) {
    return new wxStaticText(this, wxID_STATIC, U8(text), at(x, y), size(w, h));
  };

  // The device picture overlaps the Connect and Header Generation buttons in the template,
  // which lie above it there. GTK draws later controls on top, so it is made first.
  hidden(new wxStaticBitmap(this, IDB_DEVICE, LoadResourceBitmap(IDB_DEVICE), at(294, 77),
                            size(32, 53)));

  // Shown part of the template.
  group("更新选择", 0, 161, 258, 25);
  voiceBox_ = fit(new wxCheckBox(this, IDC_VOICE, U8("语音"), at(63, 170), size(32, 11)));
  databaseBox_ = fit(new wxCheckBox(this, IDC_DATABASE, U8("数据"), at(124, 170), size(32, 11)));
  softwareBox_ = fit(new wxCheckBox(this, IDC_SOFTWARE, U8("软件"), at(191, 170), size(32, 11)));
  updateButton_ = button(IDC_UPDATE, "更新", 267, 169, 56, 34);
  usbStatusText_ = new wxStaticText(this, IDC_USB_STATUS, "USB: OK", at(8, 194), size(221, 16),
                                    wxST_NO_AUTORESIZE | wxALIGN_LEFT);
  consoleOutput_ = new wxTextCtrl(this, IDC_CONSOLE_OUTPUT, "", at(0, 369), size(348, 57),
                                  wxBORDER_SIMPLE);

  // Developer part: created hidden, and working all the same.
  hidden(group("更新说明", 0, 188, 258, 94));
  updateLogEdit_ = new wxTextCtrl(this, IDC_UPDATE_LOG, "", at(4, 197), size(248, 78),
                                  wxTE_MULTILINE | wxBORDER_SIMPLE);
  hidden(updateLogEdit_);
  exitButton_ = button(IDC_EXIT, "退出", 267, 232, 56, 38);
  hidden(exitButton_);
  hidden(group("选择加密方式", 6, 27, 337, 32));
  static const int kRadioX[kMethodCount] = {14, 59, 103, 143, 183, 223, 268, 303};
  static const char* const kRadioText[kMethodCount] = {"加密A", "加密B", "加密C", "加密D",
                                                       "加密E", "加密F", "加密G", "加密H"};
  for (int i = 0; i < kMethodCount; ++i) {
    methodRadios_[i] = fit(new wxRadioButton(this, IDC_METHOD_FIRST + i, U8(kRadioText[i]),
                                             at(kRadioX[i], i < 4 ? 41 : 42), size(36, 10),
                                             i == 0 ? wxRB_GROUP : 0));
    hidden(methodRadios_[i]);
  }
  progressList_ = new wxListBox(this, IDC_PROGRESS_LIST, at(8, 73), size(178, 52));
  hidden(progressList_);
  hidden(button(IDC_RESET, "Reset", 181, 129, 50, 21));
  hidden(button(IDC_BROWSE, "Browse", 232, 129, 50, 22));
  softwarePathEdit_ =
      new wxTextCtrl(this, IDC_SOFTWARE_PATH, "", at(174, 370), size(172, 13), wxTE_READONLY);
  hidden(softwarePathEdit_);
  progressBar_ = new CGradientProgressCtrl(this, IDC_PROGRESS, at(3, 332), size(330, 15));
  hidden(progressBar_);
  comPortBox_ = new wxComboBox(this, IDC_COM_PORT, "", at(64, 78), wxSize(size(48, 58).x, -1),
                               0, nullptr, wxCB_READONLY | wxCB_SORT);
  hidden(comPortBox_);
  baudRateBox_ = new wxComboBox(this, IDC_BAUD_RATE, "", at(173, 78), wxSize(size(48, 58).x, -1),
                                0, nullptr, wxCB_READONLY | wxCB_SORT);
  hidden(baudRateBox_);
  connectButton_ = button(IDC_CONNECT, "Connect", 255, 76, 79, 17);
  hidden(connectButton_);
  hidden(button(IDC_KOVA_DATA, "KOVA Data Generation", 61, 101, 132, 21));
  hidden(button(IDC_HEADER_GENERATION, "Header Generation", 202, 97, 132, 21));
  hidden(button(IDC_SELECT_IMAGES, "Select Imgae Files", 146, 0, 123, 15));
  readUsbButton_ = button(IDC_READ_USB, "Read USB", 274, 0, 38, 15);
  hidden(readUsbButton_);
  hidden(button(IDC_BUTTON4, "Button4", 91, 0, 50, 15));
  statusMonitor_ = new wxTextCtrl(this, IDC_STATUS_MONITOR, "", at(0, 311), size(178, 52),
                                  wxTE_MULTILINE | wxVSCROLL);
  hidden(statusMonitor_);
  hidden(label("File  :", 150, 372, 22, 10));
  hidden(label("COM Port :", 14, 80, 48, 10));
  hidden(label("BaudRate :", 123, 80, 48, 10));
  hidden(label("Console Output : ", 0, 359, 80, 10));
  hidden(label("Status Monitor Window:", 0, 301, 100, 10));
  hidden(group("STEP. 1", 6, 66, 337, 30));
  hidden(group("STEP. 2", 6, 96, 337, 30));
  hidden(group("STEP. 3", 6, 126, 337, 30));
}

bool CRS232TestDlg::UpdateData(bool saveAndValidate) {
  if (saveAndValidate) {
    softwarePath_ = ToU8(softwarePathEdit_->GetValue());
    usbStatus_ = ToU8(usbStatusText_->GetLabel());
    voiceSelected_ = voiceBox_->GetValue() ? 1 : 0;
    databaseSelected_ = databaseBox_->GetValue() ? 1 : 0;
    softwareSelected_ = softwareBox_->GetValue() ? 1 : 0;
    updateLog_ = FromControlLineEnds(ToU8(updateLogEdit_->GetValue()));
    methodRadio_ = -1;
    for (int i = 0; i < kMethodCount; ++i) {
      if (methodRadios_[i]->GetValue()) methodRadio_ = i;
    }
    return true;
  }
  // Only changed values are written, so the once-a-second refresh neither flickers nor
  // moves the caret of the update log.
  auto setText = [](wxTextCtrl* edit, const wxString& text) {
    if (edit->GetValue() != text) edit->ChangeValue(text);
  };
  setText(softwarePathEdit_, U8(softwarePath_));
  if (usbStatusText_->GetLabel() != U8(usbStatus_)) usbStatusText_->SetLabel(U8(usbStatus_));
  voiceBox_->SetValue(voiceSelected_ != 0);
  databaseBox_->SetValue(databaseSelected_ != 0);
  softwareBox_->SetValue(softwareSelected_ != 0);
  setText(updateLogEdit_, U8(ToControlLineEnds(updateLog_)));
  if (methodRadio_ >= 0 && methodRadio_ < kMethodCount &&
      !methodRadios_[methodRadio_]->GetValue()) {
    methodRadios_[methodRadio_]->SetValue(true);
  }
  return true;
}

bool CRS232TestDlg::Show(bool show) {
  if (show && !initialised_) InitDialog();
  return wxDialog::Show(show);
}

void CRS232TestDlg::OnInitDialog(wxInitDialogEvent&) {
  if (initialised_) return;  // the framework asks again once the window is shown
  initialised_ = true;
  // 1. Controls receive the initial field values.
  UpdateData(false);

  // 2. The About item: in the system menu on Windows; GTK has none, so there a right-click
  //    in the window offers it instead (OnContextMenu).
#ifdef __WXMSW__
  AppendAboutToSystemMenu();
#endif

  // 3. Progress bar: 0..100 at 0, black to blue, white percentage text.
  progressBar_->SetRange(0, 100);
  progressBar_->SetPos(0);
  progressBar_->SetStartColor(0x000000);
  progressBar_->SetEndColor(0xFF0000);
  progressBar_->SetTextColor(0xFFFFFF);
  progressBar_->ShowPercent(true);

  // 4. The update button is ready; Read USB waits for the device.
  updateButton_->Enable();
  readUsbButton_->Disable();

  // 5. Icon.
  SetIcons(LoadAppIcon());

  // 6. Screen size and the background picture.
  const wxRect screen = wxDisplay(static_cast<unsigned>(0)).GetGeometry();
  background_ = options_.background.IsOk() ? options_.background
                                           : LoadResourceBitmap(IDB_BACKGROUND);
  const int w = background_.IsOk() ? background_.GetWidth() : kDefaultBackgroundWidth;
  const int h = background_.IsOk() ? background_.GetHeight() : kDefaultBackgroundHeight;

  // 7. The encryption method starts as the radio field says.
  encryptionMethod_ = methodRadio_;

  // 8. W x (H + 120), centred on the screen. That is the client area, so a window
  //    manager's decorations do not cut off the bottom row, and it grows where a control
  //    needs more room in this font.
  const WindowRect rect = MainWindowRect(screen.width, screen.height, w, h);
  SetSize(rect.left, rect.top, rect.width, rect.height);
  PlaceWindow(FitControls(this, wxSize(rect.width, rect.height)));
  Refresh();

  // 9. The device library; a failed load only means "no device" to every probe. Why a
  //    library that is there cannot be used is kept for the 更新 press.
  usb_ = UsbLibrary::Load(options_.usbLibrary, &usbLibraryProblem_);

  // 10. Program folder, with its trailing separator.
  programDirectory_ = ProgramDirectory();

  // 11. Serial port and speed lists.
  FillComPorts();
  baudRateBox_->Clear();
  baudRateBox_->Append("115200");
  baudRateBox_->Append("57600");
  baudRateBox_->SetSelection(0);  // sorted: "115200" comes first

  // 12. Update log; shown at the next refresh.
  updateLog_ = InitialUpdateLog();

  // 13. First presence probe in 100 ms; default focus.
  pollTimer_.Start(kFirstPollMs);
  voiceBox_->SetFocus();

  if (options_.developerControls) ShowDeveloperControls();
}

void CRS232TestDlg::PlaceWindow(wxSize client) {
  wantedClient_ = client;
  placing_ = true;
  SetClientSize(client);
  const wxRect screen = wxDisplay(static_cast<unsigned>(0)).GetGeometry();
  const wxSize outer = GetSize();
  const WindowRect rect = CentredRect(screen.width, screen.height, outer.x, outer.y);
  Move(rect.left, rect.top);
  placing_ = false;
}

void CRS232TestDlg::OnShowOrSize() {
  // Bounded: a window manager that insists on another size is not fought forever.
  constexpr int kMaxPlacements = 4;
  if (placing_ || !wantedClient_.IsFullySpecified() || IsIconized() ||
      placements_ >= kMaxPlacements) {
    return;
  }
  const bool sized = GetClientSize() == wantedClient_;
  const wxRect screen = wxDisplay(static_cast<unsigned>(0)).GetGeometry();
  const wxSize outer = GetSize();
  const WindowRect rect = CentredRect(screen.width, screen.height, outer.x, outer.y);
  if (sized && GetPosition() == wxPoint(rect.left, rect.top)) return;
  ++placements_;
  ui_->Post([this] { PlaceWindow(wantedClient_); });
}

void CRS232TestDlg::OnPaint(wxPaintEvent&) {
  wxPaintDC dc(this);
  if (IsIconized()) {
    const wxIcon icon = LoadAppIcon().GetIcon(32);
    const wxSize client = GetClientSize();
    dc.DrawIcon(icon, (client.x - icon.GetWidth() + 1) / 2, (client.y - icon.GetHeight() + 1) / 2);
    return;
  }
  if (!background_.IsOk()) return;
  wxMemoryDC mem(background_);
  dc.Blit(0, 0, background_.GetWidth(), background_.GetHeight(), &mem, 0, 0);
}

void CRS232TestDlg::OnTimer(wxTimerEvent& event) {
  event.Skip();  // every timer message also gets the default processing
  if (event.GetId() != kPollTimerId) return;
  const PresenceOutcome outcome = DecidePresence(usb_ && usb_->DevicePresent(), reading_);
  usbStatus_ = outcome.statusText;
  connected_ = outcome.connected;
  // The status line has no room for why no device answers: the log says it, once for each
  // new reason (a real device's library: nothing configured, not attached, no permission).
  if (const std::string why = outcome.connected ? std::string() : DeviceProblem();
      why != loggedDeviceProblem_) {
    loggedDeviceProblem_ = why;
    if (!why.empty()) updateLog_ += why + "\r\n";
  }
  if (outcome.connected) usbSetupShown_ = false;
  if (!outcome.connected) {
    readUsbButton_->Disable();
  } else if (outcome.readUsbEnabled) {
    readUsbButton_->Enable();
  }
  pollTimer_.Start(outcome.nextPeriodMs);  // replaces the running timer
  UpdateData(false);
}

void CRS232TestDlg::OnContextMenu(wxContextMenuEvent& event) {
#ifdef __WXMSW__
  event.Skip();  // the system menu holds the item there
  return;
#endif
  (void)event;
  wxMenu menu;
  if (const wxString about = LoadResourceString(IDS_ABOUTBOX); !about.empty())
    menu.Append(IDM_ABOUTBOX, about);
  menu.Append(IDM_DOCTOR, U8(kDoctorItem));
  menu.Append(IDM_USB_SETUP, U8(kUsbSetupItem));
  PopupMenu(&menu);
}

void CRS232TestDlg::OnSysCommand(unsigned id) {
  switch (id & 0xFFF0) {
    case IDM_ABOUTBOX: RunAboutBox(); break;
    case IDM_DOCTOR: RunDoctor(); break;
    case IDM_USB_SETUP: RunUsbSetup(); break;
    default: break;  // move, minimise, close: the window manager's own here
  }
}

bool CRS232TestDlg::NeedsUsbSetup() const {
#ifdef _WIN32
  return false;  // the device maker's library finds its device itself
#else
  // Only the real device's library reads the ids; the stand-in plays edog-sim.
  return usb_ && !usb_->StandIn() && !LoadUsbConfig().Configured();
#endif
}

void CRS232TestDlg::RunDoctor() {
  CDoctorDlg doctor(this, options_.usbLibrary, options_.packagePath);
  doctor.ShowModal();
}

void CRS232TestDlg::RunUsbSetup(const std::string& reason) {
  usbSetupShown_ = true;
  CUsbSetupDlg setup(this, reason);
  setup.ShowModal();
  // The next probe reads the configuration again: no restart.
  pollTimer_.Start(kFirstPollMs);
}

#ifdef __WXMSW__
void CRS232TestDlg::AppendAboutToSystemMenu() {
  const wxString about = LoadResourceString(IDS_ABOUTBOX);
  HMENU menu = ::GetSystemMenu(GetHWND(), FALSE);
  if (!menu || about.empty()) return;
  ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about.wc_str());
  ::AppendMenuW(menu, MF_STRING, IDM_DOCTOR, U8(kDoctorItem).wc_str());
}

WXLRESULT CRS232TestDlg::MSWWindowProc(WXUINT message, WXWPARAM wParam, WXLPARAM lParam) {
  if (message == WM_SYSCOMMAND && ((static_cast<unsigned>(wParam) & 0xFFF0) == IDM_ABOUTBOX ||
                                   (static_cast<unsigned>(wParam) & 0xFFF0) == IDM_DOCTOR)) {
    OnSysCommand(static_cast<unsigned>(wParam));
    return 0;
  }
  return wxDialog::MSWWindowProc(message, wParam, lParam);
}
#endif

void CRS232TestDlg::RunAboutBox() {
  CAboutDlg about(this);
  about.ShowModal();
}

void CRS232TestDlg::OnCharHook(wxKeyEvent& event) {
  switch (event.GetKeyCode()) {
    case WXK_ESCAPE:
      CloseWithCode(wxID_CANCEL);
      return;
    case WXK_RETURN:
    case WXK_NUMPAD_ENTER:
      // A focused push button takes Enter as its own click; elsewhere Enter ends the
      // window as OK does.
      if (dynamic_cast<wxButton*>(FindFocus())) break;
      CloseWithCode(wxID_OK);
      return;
    default:
      break;
  }
  event.Skip();
}

void CRS232TestDlg::CloseWithCode(int code) { EndDialogWith(*this, code); }

void CRS232TestDlg::OnCheckBox(int id) {
  int& field = id == IDC_VOICE ? voiceSelected_ : id == IDC_DATABASE ? databaseSelected_
                                                                     : softwareSelected_;
  field = field ? 0 : 1;
  UpdateData(false);
}

void CRS232TestDlg::OnMethodRadio(int id) {
  encryptionMethod_ = id - IDC_METHOD_FIRST;
  // The radio field follows, so the next refresh keeps the button that was chosen
  // instead of jumping back to 加密D while another method is in use.
  methodRadio_ = encryptionMethod_;
}

void CRS232TestDlg::OnExit() {
  usb_.reset();
  CloseWithCode(wxID_CANCEL);
}

void CRS232TestDlg::Reset() {
  progressList_->Clear();
  softwarePath_.clear();
  voicePath_.clear();
  databasePath_.clear();
  progressBar_->SetPos(0);
  statusMonitor_->Clear();
  UpdateData(false);
}

void CRS232TestDlg::PostUpdateButtonState(bool enable) {
  ui_->Post([this, enable] { OnWindowUpdate(enable); });
}

void CRS232TestDlg::PostDeviceText(std::string text) {
  ui_->Post([this, text = std::move(text)] { OnDeviceText(text); });
}

void CRS232TestDlg::SendSerialText(const char* bytes, size_t count) {
  const std::string text = SerialBufferText(bytes, count);
  // The sender waits until the text is shown, so its receive buffer stays untouched.
  ui_->Send([this, &text] { AppendToStatusMonitor(DecodeDeviceText(text)); });
}

void CRS232TestDlg::OnWindowUpdate(bool enable) {
  // A transfer that ends inside the update job does not enable 更新: the job does when
  // it ends, so the button looks as unusable as it is during the job's waits.
  updateButton_->Enable(enable && !job_.Running());
  UpdateData(false);
}

void CRS232TestDlg::OnDeviceText(const std::string& text) {
  if (StatusMonitorOverflows(statusMonitor_->GetLastPosition())) statusMonitor_->Clear();
  AppendToStatusMonitor(DecodeDeviceText(text));
}

void CRS232TestDlg::AppendToStatusMonitor(const wxString& text) {
  // Always the true end of the text, also past 65535 characters.
  statusMonitor_->SetInsertionPointEnd();
  statusMonitor_->ShowPosition(statusMonitor_->GetLastPosition());
  statusMonitor_->WriteText(text);
}
