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

#include "app/SetComDlg.h"
#include "device/UsbLibrary.h"
#include "device/UsbLibraryApi.h"

class wxButton;
class wxCheckBox;
class wxComboBox;
class wxListBox;
class wxRadioButton;
class wxStaticText;
class wxTextCtrl;
class CGradientProgressCtrl;

// What the environment gives the main window; the defaults are the shipped program's.
struct MainWindowOptions {
  // Device library: base name (program folder first, then the system path) or a path.
  std::string usbLibrary = USB_LIBRARY_NAME;
  // Replaces the background picture (resource 1024) when valid.
  wxBitmap background;
};

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

  // System command: id 16 (masked with 0xFFF0) opens the About box.
  void OnSysCommand(unsigned id);

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

  // Bound fields (the names of the window's data exchange).
  std::string softwarePath_;
  std::string voicePath_;
  std::string databasePath_;
  std::string usbStatus_;
  int voiceSelected_ = 0;
  int databaseSelected_ = 0;
  int softwareSelected_ = 0;
  std::string updateLog_;
  int methodRadio_;

 protected:
  // Handlers whose engines arrive with the update, serial and tool windows.
  virtual void OnUpdate() {}
  virtual void OnConnect() {}
  virtual void OnBrowse() {}
  virtual void OnReadUsb() {}
  virtual void OnKovaDataGeneration() {}
  virtual void OnHeaderGeneration() {}
  virtual void OnSelectImageFiles() {}
  virtual void OnComPortChanged() {}
  virtual void OnBaudRateChanged() {}
  // Fills the COM port box with the system's serial ports.
  virtual void FillComPorts() {}

 private:
  void CreateControls();
  void OnInitDialog(wxInitDialogEvent& event);
  void OnPaint(wxPaintEvent& event);
  void OnTimer(wxTimerEvent& event);
  void OnContextMenu(wxContextMenuEvent& event);
  void OnCharHook(wxKeyEvent& event);
  void OnCheckBox(int id);
  void OnMethodRadio(int id);
  void OnExit();
  void OnWindowUpdate(bool enable);
  void OnDeviceText(const std::string& text);
  void AppendToStatusMonitor(const wxString& text);
  void CloseWithCode(int code);
  void RunAboutBox();

  MainWindowOptions options_;
  bool initialised_ = false;
  CSetComDlg setComDlg_;
  int serialConnected_ = 0;
  int encryptionMethod_ = 0;
  std::atomic<bool> connected_{false};
  std::atomic<bool> reading_{false};
  std::shared_ptr<edog::UsbLibrary> usb_;
  std::string programDirectory_;
  wxBitmap background_;
  wxTimer pollTimer_;

 public:
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
