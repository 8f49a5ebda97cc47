#pragma once
// 诊断...: the text of `edogtool doctor` (device/Doctor.h) in a window of its own, within
// the screen, with a button that copies it.
#include <wx/dialog.h>

#include <string>

class wxTextCtrl;

class CDoctorDlg : public wxDialog {
 public:
  // `deviceLibrary`: the library the window uses (its options), checked as the window sees it.
  CDoctorDlg(wxWindow* parent, const std::string& deviceLibrary, const std::string& packagePath);
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
  wxTextCtrl* report_ = nullptr;
};
