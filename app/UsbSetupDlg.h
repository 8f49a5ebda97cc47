#pragma once
// The window's USB device setup: says that no device is configured (Chinese first, English
// after, wrapped within the screen), lists the attached devices with a vendor-specific
// interface, and on the owner's choice writes the device into usb.conf and shows its udev
// rule with the command that installs it. The logic is device/UsbSetup.h, shared with
// `edogtool usb-setup`.
#include <wx/dialog.h>

#include <string>
#include <vector>

#include "device/UsbSetup.h"

class wxButton;
class wxListBox;
class wxStaticText;
class wxTextCtrl;

class CUsbSetupDlg : public wxDialog {
 public:
  // `reason`: why it opens (the device library's word), shown after the intro; may be empty.
  explicit CUsbSetupDlg(wxWindow* parent, const std::string& reason = {});

  // Lists the attached candidates again.
  void Refresh();
  // Sets up the chosen device (the list's selection); false with the reason shown.
  bool SetUpChosen();
  // What the last setup wrote, and the command the copy button copies.
  const edog::UsbSetupResult& Result() const { return result_; }
  const std::vector<edog::UsbSetupCandidate>& Candidates() const { return candidates_; }
  wxListBox* List() const { return list_; }

 private:
  void Place();
  std::vector<edog::UsbSetupCandidate> candidates_;
  edog::UsbSetupResult result_;
  wxListBox* list_ = nullptr;
  wxStaticText* listNote_ = nullptr;
  wxButton* setUp_ = nullptr;
  wxTextCtrl* report_ = nullptr;
  wxButton* copy_ = nullptr;
  int wrap_ = 0;
};
