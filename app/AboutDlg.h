#pragma once
// The About box, dialog template 100: the application icon, two lines of product text
// and an OK button.
#include <wx/dialog.h>

class CAboutDlg : public wxDialog {
 public:
  explicit CAboutDlg(wxWindow* parent = nullptr);
};
