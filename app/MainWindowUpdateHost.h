#pragma once
// The update job's host as the main window provides it: the job's requests become work
// on the window's fields and controls, its serial link and its download windows.
#include <string>

#include "update/UpdateJob.h"

class CRS232TestDlg;

class MainWindowUpdateHost final : public edog::UpdateHost {
 public:
  explicit MainWindowUpdateHost(CRS232TestDlg& dlg) : dlg_(dlg) {}

  bool Connected() override;
  void AppendLog(const std::string& text) override;
  void AddProgressLine(const std::string& line) override;
  // Both are message boxes with an OK button and the application's name as caption.
  void OnFailure(const std::string& text) override;
  void OnSummary(const std::string& text) override;
  // A nested event loop until `ms` have passed on the window's clock.
  void PumpWait(uint32_t ms) override;
  // The update button is disabled while the job is busy.
  void OnBusyChanged(bool busy) override;
  void SetPath(edog::ContentKind kind, const std::string& path) override;
  void Reset() override;
  // One download status window, run modally.
  edog::TransferOutcome RunUsbTransfer(const edog::KeptFile& file, const std::string& label) override;
  bool SerialOpen() override;
  void StartSerialDownload(const edog::KeptFile* software) override;

 private:
  CRS232TestDlg& dlg_;
};
