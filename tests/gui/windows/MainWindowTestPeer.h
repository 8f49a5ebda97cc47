#pragma once
// The GUI tests' view of the main window: its bound fields and controls, which the window
// keeps private. One peer per use: CRS232TestDlgTestPeer(dlg).StatusMonitor().
#include "app/RS232TestDlg.h"

class CRS232TestDlgTestPeer {
 public:
  explicit CRS232TestDlgTestPeer(CRS232TestDlg& dlg) : dlg_(dlg) {}

  std::string& SoftwarePath() { return dlg_.softwarePath_; }
  std::string& VoicePath() { return dlg_.voicePath_; }
  std::string& DatabasePath() { return dlg_.databasePath_; }
  std::string& UsbStatus() { return dlg_.usbStatus_; }
  int& VoiceSelected() { return dlg_.voiceSelected_; }
  int& DatabaseSelected() { return dlg_.databaseSelected_; }
  int& SoftwareSelected() { return dlg_.softwareSelected_; }
  std::string& UpdateLog() { return dlg_.updateLog_; }
  int& MethodRadio() { return dlg_.methodRadio_; }
  edog::VoiceGeneration& VoiceGeneration() { return dlg_.voiceGeneration_; }
  wxComboBox* ComPortBox() const { return dlg_.comPortBox_; }
  wxListBox* ProgressList() const { return dlg_.progressList_; }
  wxTextCtrl* SoftwarePathEdit() const { return dlg_.softwarePathEdit_; }
  CGradientProgressCtrl* ProgressBar() const { return dlg_.progressBar_; }
  wxButton* UpdateButton() const { return dlg_.updateButton_; }
  wxComboBox* BaudRateBox() const { return dlg_.baudRateBox_; }
  wxTextCtrl* ConsoleOutput() const { return dlg_.consoleOutput_; }
  wxButton* ConnectButton() const { return dlg_.connectButton_; }
  wxStaticText* UsbStatusText() const { return dlg_.usbStatusText_; }
  wxTextCtrl* StatusMonitor() const { return dlg_.statusMonitor_; }
  wxButton* ReadUsbButton() const { return dlg_.readUsbButton_; }
  wxCheckBox* VoiceBox() const { return dlg_.voiceBox_; }
  wxCheckBox* DatabaseBox() const { return dlg_.databaseBox_; }
  wxCheckBox* SoftwareBox() const { return dlg_.softwareBox_; }
  wxTextCtrl* UpdateLogEdit() const { return dlg_.updateLogEdit_; }
  wxRadioButton* MethodRadios(int i) const { return dlg_.methodRadios_[i]; }
  wxButton* ExitButton() const { return dlg_.exitButton_; }
  bool JobRunning() const { return dlg_.job_.Running(); }

 private:
  CRS232TestDlg& dlg_;
};
