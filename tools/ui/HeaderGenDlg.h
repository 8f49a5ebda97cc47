#pragma once
// The HEX/BIN header generator window, dialog template 145 ("Header Generation"): choose a
// HEX or binary file, an option and an address, and Convert writes the headered image
// beside the input on a worker thread; every step is logged in the report pane. End, Esc
// or the close box during a conversion stop it and remove what it wrote.
#include <wx/dialog.h>

#include <memory>
#include <string>
#include <vector>

#include "tools/HeaderGen.h"
#include "tools/ToolRun.h"

class wxButton;
class wxRadioButton;
class wxStaticBox;
class wxStaticText;
class wxTextCtrl;
class UiCallTarget;

class CHeaderGenDlg : public wxDialog {
 public:
  enum : int {
    IDD = 145,
    IDC_FILE_OPEN = 1017,
    IDC_INPUT_PATH = 1029,
    IDC_CONVERT = 1030,
    IDC_OPTION_C = 1031,
    IDC_OPTION_I = 1032,
    IDC_OPTION_N = 1033,
    IDC_OPTION_S = 1034,
    IDC_OPTION_M = 1036,
    IDC_ADDRESS = 1035,
    IDC_REPORT = 1026,
    IDC_SERIAL = 1053,
    IDC_NAND = 1038,
    IDC_USB = 1056,
    IDC_UART = 1055,
    IDC_STEP3 = 1061,
  };

  explicit CHeaderGenDlg(wxWindow* parent = nullptr);
  ~CHeaderGenDlg() override;

  // Data exchange: false writes the members to the controls, true reads the editable ones.
  bool UpdateData(bool saveAndValidate = true);

  // The handlers, as the controls call them.
  void OnOption(edog::ConvertOption option);
  void OnFileOpen();
  void OnConvert();
  // End (`code` wxID_OK), Esc and the close box (wxID_CANCEL).
  void OnEnd(int code);
  // A conversion is in progress (from Convert until the worker has ended).
  bool Running() const { return run_.Running(); }
  // The conversion started by Convert and its stop.
  edog::ToolRun run_;

  // Members, as the dialog exchanges them.
  std::string inputPath_;
  int hexConversion_ = 1;
  int reportOffset_ = static_cast<int>(edog::kDefaultOffset);
  std::string report_;
  std::string convertFlag_ = "-C";
  std::string addressText_ = "0x1000";
  const int defaultOffset_ = static_cast<int>(edog::kDefaultOffset);
  std::string step3Label_ = "Step 3. Offset";

  wxTextCtrl* reportEdit_ = nullptr;
  wxTextCtrl* addressEdit_ = nullptr;
  wxRadioButton* serialRadio_ = nullptr;
  wxRadioButton* nandRadio_ = nullptr;
  wxRadioButton* usbRadio_ = nullptr;
  wxRadioButton* uartRadio_ = nullptr;
  wxRadioButton* optionRadios_[5] = {};  // -C, -I, -N, -S, -M
  wxStaticText* inputPathText_ = nullptr;
  wxStaticBox* step3Box_ = nullptr;

 private:
  class PaneObserver;

  void CreateControls();
  void OnInitDialog(wxInitDialogEvent& event);
  bool initialised_ = false;
  void OnPair(wxRadioButton* checked, wxRadioButton* partner);
  void AppendReport(const std::string& text);
  void ScrollReportToEnd();
  void OnConvertEnded(const std::vector<std::string>& written);
  // The controls that start or change a conversion rest while one runs.
  void LockRun(bool locked);

  // The worker reaches the window through this; detached when the window goes.
  std::shared_ptr<UiCallTarget> ui_;
};
