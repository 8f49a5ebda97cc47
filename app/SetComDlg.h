#pragma once
// Serial settings, dialog template 130 ("COM Port Setting"): the port number (1 to 10)
// and the speed. The main window owns one object and uses its two fields as the current
// serial settings without opening it; the window itself exists only while DoModal runs.
#include <wx/dialog.h>

class wxTextCtrl;

class CSetComDlg : public wxDialog {
 public:
  CSetComDlg() = default;  // no window yet, as the main window constructs it

  // Builds the window under `parent`, runs it modally and returns wxID_OK or wxID_CANCEL.
  int DoModal(wxWindow* parent = nullptr);

  // Data exchange; reading back checks the port range (1 to 10) and says so when not.
  bool UpdateData(bool saveAndValidate = true);

  int port_ = 0;   // edit 1007
  int speed_ = 0;  // edit 1008

 private:
  void CreateControls(wxWindow* parent);
  void OnOK();

  wxTextCtrl* portEdit_ = nullptr;
  wxTextCtrl* speedEdit_ = nullptr;
};
