#pragma once
// The main window, dialog template 102: background picture, the three content check
// boxes, the USB status line and the update button; the developer controls of the same
// template exist hidden. Timer 1 probes the USB device (100 ms first, then every
// 800 ms while absent and 1000 ms while present).
#include <wx/bitmap.h>
#include <wx/dialog.h>
#include <wx/timer.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "app/MainWindowUpdateHost.h"
#include "app/SerialLinkController.h"
#include "app/SetComDlg.h"
#include "common/Clock.h"
#include "device/DeviceTextReader.h"
#include "device/UsbLibrary.h"
#include "device/UsbLibraryApi.h"
#include "device/UsbTransferTurns.h"
#include "tools/VoiceGeneration.h"
#include "update/UpdateJob.h"

class wxButton;
class wxCheckBox;
class wxComboBox;
class wxListBox;
class wxRadioButton;
class wxStaticText;
class wxTextCtrl;
class CGradientProgressCtrl;
class UiCallTarget;

// The developer switch: EDOG_DEVELOPER=1 in the environment shows the developer controls
// that the shipped layout hides.
bool DeveloperControlsRequested();

// What the environment gives the main window; the defaults are the shipped program's.
struct MainWindowOptions {
  // Device library: base name (program folder first, then the system path) or a path.
  std::string usbLibrary = USB_LIBRARY_NAME;
  // Replaces the background picture (resource 1024) when valid.
  wxBitmap background;
  // The update package; empty: looked up (update/PackageLookup.h).
  std::string packagePath;
  // Time of the update job's message-pump waits (tests pass a faster one).
  edog::Clock* clock = nullptr;  // null: the system clock
  // Shows the developer controls (and the whole template) instead of the shipped layout.
  bool developerControls = DeveloperControlsRequested();
};

// The window's controls, data exchange and handlers; the serial link and the update job's
// host are classes of their own (app/SerialLinkController.h, app/MainWindowUpdateHost.h).
class CRS232TestDlg : public wxDialog {
 public:
  explicit CRS232TestDlg(wxWindow* parent = nullptr, MainWindowOptions options = {});
  ~CRS232TestDlg() override;

  // Runs the initialisation before the window first appears, so it never shows at a
  // size other than its own.
  bool Show(bool show = true) override;

  // Data exchange: false copies every bound field to its control, true reads them back.
  bool UpdateData(bool saveAndValidate = true);

  // Window update message (WM_USER+2), wParam 0: enables or disables the update button.
  // Any thread; queued to the window.
  void PostUpdateButtonState(bool enable);
  // Window update message, wParam 1: device text for the status monitor. Any thread;
  // queued, and the window owns the text from here on.
  void PostDeviceText(std::string text);
  // Serial text message (WM_USER+1): the serial port's received bytes for the status
  // monitor. Runs on the window's thread; a worker thread waits until it has run, so
  // the serial reader must be stopped before the window goes away.
  void SendSerialText(const char* bytes, size_t count);

  // The Reset routine (also run by the update job after each file).
  void Reset();
  // A line at the end of the progress list, scrolled into view.
  void AddProgressLine(const std::string& line);
  // A message box with an OK button and the application's name as caption.
  void ShowMessage(const std::string& text);

  // The last job's result (for tests and the developer's eye).
  const edog::UpdateResult& LastUpdateResult() const { return lastResult_; }
  bool SerialConnected() const { return serialLink_.Connected(); }
  // True once every serial code download started from this window has ended.
  bool SerialDownloadsFinished() const { return serialLink_.DownloadsFinished(); }

  // System command: id 16 (masked with 0xFFF0) opens the About box; 32 诊断..., 48 the USB
  // device setup.
  void OnSysCommand(unsigned id);
  // The right-click menu's items beside About (and 诊断... in the system menu on Windows).
  static constexpr const char* kDoctorItem = "诊断...";
  static constexpr const char* kUsbSetupItem = "USB设备设置...";
  // The real device's library is in use and no device is configured (Linux).
  bool NeedsUsbSetup() const;
  // The USB device setup dialog, modal; `reason` says why it opens.
  void RunUsbSetup(const std::string& reason = {});
  void RunDoctor();
  // Whether the setup was shown since the device was last found: 更新 opens it once.
  bool UsbSetupShown() const { return usbSetupShown_; }

  // Values that later engines and tests read.
  int EncryptionMethod() const { return encryptionMethod_; }
  // Flags shared with worker threads.
  bool Connected() const { return connected_; }
  bool Reading() const { return reading_; }
  void SetReading(bool reading) { reading_ = reading; }
  int PollPeriodMs() const { return pollTimer_.IsRunning() ? pollTimer_.GetInterval() : 0; }
  const std::string& ProgramDirectoryPath() const { return programDirectory_; }
  const wxBitmap& Background() const { return background_; }
  CSetComDlg& SerialSettings() { return setComDlg_; }
  // The device library held since initialisation; null once released or not found.
  const std::shared_ptr<edog::UsbLibrary>& UsbLibraryHandle() const { return usb_; }
  // Why no device can answer, as the user should read it: the library that cannot be used,
  // else the library's own word on its last open (empty: nothing to say).
  std::string DeviceProblem() const {
    if (!usbLibraryProblem_.empty()) return usbLibraryProblem_;
    return usb_ ? usb_->Problem() : std::string();
  }

 protected:
  // The update job, the serial link and its download, and the device text reader.
  virtual void OnUpdate();
  virtual void OnConnect();
  virtual void OnBrowse();
  virtual void OnReadUsb();
  // The developer tool windows (app/RS232TestDlgTools.cpp).
  virtual void OnKovaDataGeneration();
  virtual void OnHeaderGeneration();
  virtual void OnSelectImageFiles();
  virtual void OnComPortChanged();
  virtual void OnBaudRateChanged();
  // Fills the COM port box with the system's serial ports.
  virtual void FillComPorts();

 private:
  void CreateControls();
  void OnInitDialog(wxInitDialogEvent& event);
  void OnPaint(wxPaintEvent& event);
  void OnTimer(wxTimerEvent& event);
  void OnContextMenu(wxContextMenuEvent& event);
#ifdef __WXMSW__
  // The About item in the window's system menu, and the system commands that reach it.
  void AppendAboutToSystemMenu();
  WXLRESULT MSWWindowProc(WXUINT message, WXWPARAM wParam, WXLPARAM lParam) override;
#endif
  void OnCharHook(wxKeyEvent& event);
  void OnCheckBox(int id);
  void OnMethodRadio(int id);
  void OnExit();
  void OnWindowUpdate(bool enable);
  void OnDeviceText(const std::string& text);
  void AppendToStatusMonitor(const wxString& text);
  void CloseWithCode(int code);
  void RunAboutBox();
  // Shows every developer control and the whole template (the developer switch).
  void ShowDeveloperControls();
  // Gives the window `client` as its client area, every shown control whole in it, and
  // centres the whole window, decorations included, on the screen.
  void PlaceWindow(wxSize client);
  // A window manager's frame takes its decorations out of the window's size once it has
  // mapped the window: the client area and the centring are restored then.
  void OnShowOrSize();
  // Ends the workers that talk to the window: before it goes away.
  void StopWorkers();
  edog::Clock& WindowClock() const;
  // The serial code download of the software path, reporting to the window's controls;
  // `software` is the extracted file the path names, read instead when given.
  void StartSerialDownload(const edog::KeptFile* software);
  class DownloadReports;
  friend class MainWindowUpdateHost;
  friend class CRS232TestDlgTestPeer;  // the GUI tests' view of the fields and controls

  // Bound fields (the names of the window's data exchange).
  std::string softwarePath_;
  std::string voicePath_;
  std::string databasePath_;
  std::string usbStatus_;
  int voiceSelected_ = 0;
  int databaseSelected_ = 0;
  int softwareSelected_ = 0;
  std::string updateLog_;
  std::string usbLibraryProblem_;  // a device library that is there but unusable: why
  std::string loggedDeviceProblem_;  // the last reason for no device the log was given
  bool usbSetupShown_ = false;       // since the device was last found
  int methodRadio_;
  // The voice data generator's generation lists and settings: the next opening shows
  // the files of the last OK again.
  edog::VoiceGeneration voiceGeneration_;

  MainWindowOptions options_;
  bool initialised_ = false;
  CSetComDlg setComDlg_;
  int encryptionMethod_ = 0;
  std::atomic<bool> connected_{false};
  std::atomic<bool> reading_{false};
  std::shared_ptr<edog::UsbLibrary> usb_;
  std::string programDirectory_;
  wxBitmap background_;
  wxTimer pollTimer_;
  // Worker threads reach the window through this; detached when the window goes.
  std::shared_ptr<UiCallTarget> ui_;
  SerialLinkController serialLink_;
  std::string comPortName_;  // the chosen entry of the COM port box (a device path here)
  std::unique_ptr<edog::DeviceTextReader> textReader_;
  // The order of the download status windows' transfers; outlives their workers.
  edog::UsbTransferTurns usbTurns_;
  MainWindowUpdateHost updateHost_{*this};
  edog::UpdateJob job_{updateHost_};
  edog::UpdateResult lastResult_;
  std::vector<wxWindow*> developerControls_;
  wxSize wantedClient_;
  int placements_ = 0;
  bool placing_ = false;
  bool refitted_ = false;

  // Controls, by their template ids.
  wxComboBox* comPortBox_ = nullptr;          // 1019
  wxListBox* progressList_ = nullptr;         // 1003
  wxTextCtrl* softwarePathEdit_ = nullptr;    // 1011
  CGradientProgressCtrl* progressBar_ = nullptr;  // 1014
  wxButton* updateButton_ = nullptr;          // 1010
  wxComboBox* baudRateBox_ = nullptr;         // 1020
  wxTextCtrl* consoleOutput_ = nullptr;       // 1026
  wxButton* connectButton_ = nullptr;         // 1025
  wxStaticText* usbStatusText_ = nullptr;     // 1045
  wxTextCtrl* statusMonitor_ = nullptr;       // 1035
  wxButton* readUsbButton_ = nullptr;         // 1060
  wxCheckBox* voiceBox_ = nullptr;            // 1068
  wxCheckBox* databaseBox_ = nullptr;         // 1069
  wxCheckBox* softwareBox_ = nullptr;         // 1067
  wxTextCtrl* updateLogEdit_ = nullptr;       // 1070
  wxRadioButton* methodRadios_[8] = {};       // 1071..1078
  wxButton* exitButton_ = nullptr;            // 1012
};
