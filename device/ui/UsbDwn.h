#pragma once
// The download status window, dialog template 150 ("下载状态"): sends one headered image
// to the device over "PIPE00" on a transfer worker and shows the file's name, a progress
// bar and the speed. The transfer itself is the core's (device/UsbTransfer.h); this class
// only shows its five reports. It closes itself when the transfer ends at exactly 100 %,
// otherwise it stays until Enter or Esc; when the device stopped taking data it says so.
#include <wx/dialog.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "common/Clock.h"
#include "device/UsbLibraryApi.h"
#include "device/UsbTransfer.h"

class wxStaticText;
class CGradientProgressCtrl;
class UiCallTarget;

struct UsbDwnOptions {
  // Device library: base name (program folder first) or a path.
  std::string usbLibrary = USB_LIBRARY_NAME;
  // Time of the transfer's speed and summary figures, shared with the worker, which may
  // outlive the window.
  std::shared_ptr<edog::Clock> clock;  // null: the system clock
  // The end notification (WM_USER+2 to the main window); called on the worker's thread.
  std::function<void()> onTransferEnded;
  // The device has been refusing a block for a second, or the presence probe missed it
  // while it refused (the text for the update log); called on the worker's thread.
  std::function<void(const std::string&)> onDeviceRefusing;
};

class CUsbDwn : public wxDialog {
 public:
  enum : int {
    IDD_USBDWN = 150,
    IDC_DWN_PROGRESS = 1014,
    IDC_DWN_COUNT = 1046,
    IDC_DWN_SPEED = 1048,
    IDC_DWN_INFO = 1050,
    IDC_DWN_FILE_NAME = 1051,
  };

  // `turns`: the transfer order of the window's owner, which outlives the window and joins
  // a worker the window leaves behind.
  CUsbDwn(wxWindow* parent, edog::UsbTransferTurns& turns, UsbDwnOptions options = {});
  ~CUsbDwn() override;

  // The transfer file path and label, read by the initialisation.
  void SetTransfer(const std::string& path, const std::string& label);
  // The same for a file already open (the update job's extracted files), read through its
  // handle; `file` must outlive the window's initialisation.
  void SetTransfer(const edog::KeptFile& file, const std::string& label);

  // DestroyWindow: sets the transfer's cancel flag, then destroys the window.
  bool Destroy() override;

  // Data exchange towards the controls.
  void UpdateData();

  // The transfer's result once its worker has ended; nothing while it runs or when no
  // transfer started.
  std::optional<edog::UsbTransferResult> Result() const;
  // The initialisation's outcome (kReady when the worker was started).
  edog::UsbSetupStatus SetupStatus() const { return setup_; }
  bool TransferStarted() const { return worker_ != nullptr; }

  // Bound fields.
  std::string countText_;
  std::string speedText_;
  std::string path_;
  std::string label_;
  std::string infoText_;
  std::string fileNameText_;

  CGradientProgressCtrl* progressBar_ = nullptr;  // 1014
  wxStaticText* countLabel_ = nullptr;            // 1046
  wxStaticText* speedLabel_ = nullptr;            // 1048
  wxStaticText* infoLabel_ = nullptr;             // 1050
  wxStaticText* fileNameLabel_ = nullptr;         // 1051

 private:
  class Reports;
  void CreateControls();
  void OnInitDialog(wxInitDialogEvent& event);
  void OnCharHook(wxKeyEvent& event);
  // Ends the dialog as the framework's OK and Cancel do.
  void End(int code);
  void CancelTransfer();
  void RecordResult(const edog::UsbTransferResult& result);
  void ShowStopped(const edog::UsbTransferResult& result);

  edog::UsbTransferTurns& turns_;
  UsbDwnOptions options_;
  std::string transferPath_, transferLabel_;
  const edog::KeptFile* transferFile_ = nullptr;  // read instead of transferPath_ when set
  bool initialised_ = false;
  edog::UsbSetupStatus setup_ = edog::UsbSetupStatus::kNoDevice;
  std::shared_ptr<UiCallTarget> ui_;
  std::unique_ptr<edog::UsbTransferWorker> worker_;
  mutable std::mutex resultMutex_;
  std::optional<edog::UsbTransferResult> result_;
};
