#include "app/SetComDlg.h"

#include <wx/button.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/MainWindowLogic.h"
#include "widgets/DialogLayout.h"
#include "widgets/MessageBox.h"
#include "widgets/WxText.h"

namespace {
constexpr int kMinPort = 1;
constexpr int kMaxPort = 10;

bool ParseInt(const wxString& text, int& value) {
  long v = 0;
  if (!text.Strip(wxString::both).ToLong(&v) || v < INT32_MIN || v > INT32_MAX) return false;
  value = static_cast<int>(v);
  return true;
}
}  // namespace

void CSetComDlg::CreateControls(wxWindow* parent) {
  wxDialog::Create(parent, edog::IDD_SETCOM, "COM Port Setting", wxDefaultPosition,
                   wxDefaultSize, wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
  SetFont(wxFont(wxFontInfo(10).Family(wxFONTFAMILY_SWISS)));
  auto du = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
  auto ds = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };
  SetClientSize(ds(187, 68));
  new wxStaticText(this, wxID_STATIC, "COM Port:", du(14, 12), ds(44, 10));
  portEdit_ = new wxTextCtrl(this, edog::IDC_COM_PORT_EDIT, "", du(62, 10), ds(52, 14));
  new wxStaticText(this, wxID_STATIC, "Speed :", du(14, 34), ds(44, 10));
  speedEdit_ = new wxTextCtrl(this, edog::IDC_SPEED_EDIT, "", du(62, 32), ds(52, 14));
  new wxButton(this, wxID_OK, "OK", du(130, 8), ds(50, 14));
  new wxButton(this, wxID_CANCEL, "Cancel", du(130, 30), ds(50, 14));
  SetClientSize(FitControls(this, GetClientSize()));
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnOK(); }, wxID_OK);
}

int CSetComDlg::DoModal(wxWindow* parent) {
  if (!GetHandle()) CreateControls(parent);
  UpdateData(false);
  return ShowModal();
}

bool CSetComDlg::UpdateData(bool saveAndValidate) {
  if (!portEdit_ || !speedEdit_) return false;
  if (!saveAndValidate) {
    portEdit_->ChangeValue(wxString::Format("%d", port_));
    speedEdit_->ChangeValue(wxString::Format("%d", speed_));
    return true;
  }
  int port = 0, speed = 0;
  if (!ParseInt(portEdit_->GetValue(), port) || port < kMinPort || port > kMaxPort) {
    ShowMessageBox(wxString::Format("Please enter an integer between %d and %d.", kMinPort,
                                    kMaxPort),
                   GetTitle(), wxOK | wxICON_EXCLAMATION, this);
    portEdit_->SetFocus();
    return false;
  }
  if (!ParseInt(speedEdit_->GetValue(), speed)) {
    ShowMessageBox("Please enter an integer.", GetTitle(), wxOK | wxICON_EXCLAMATION, this);
    speedEdit_->SetFocus();
    return false;
  }
  port_ = port;
  speed_ = speed;
  return true;
}

void CSetComDlg::OnOK() {
  if (UpdateData(true)) EndModal(wxID_OK);
}
