// The serial settings dialog (template 130): its two fields and the port range check.
#include <gtest/gtest.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include <functional>

#include "GuiTestSupport.h"
#include "app/MainWindowLogic.h"
#include "app/SetComDlg.h"
#include "widgets/MessageBox.h"

namespace edog {
namespace {

// Runs the dialog modally and, once it is up, does `act` with it from inside its loop.
int RunWith(CSetComDlg& dlg, const std::function<void(CSetComDlg&)>& act) {
  wxTimer driver;
  driver.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    if (!dlg.IsModal()) return;
    driver.Stop();
    act(dlg);
  });
  driver.Start(20);
  return dlg.DoModal();
}

wxTextCtrl* Edit(CSetComDlg& dlg, int id) { return dynamic_cast<wxTextCtrl*>(dlg.FindWindow(id)); }

TEST(SetComDlg, HoldsItsFieldsWithoutAWindowUntilOpened) {
  CSetComDlg settings;  // as the main window constructs it: no window yet
  EXPECT_EQ(settings.port_, 0);
  EXPECT_EQ(settings.speed_, 0);
  EXPECT_FALSE(settings.UpdateData(true));
  settings.port_ = 3;
  settings.speed_ = 115200;
  EXPECT_EQ(settings.port_, 3);
}

TEST(SetComDlg, OkTakesTheEditedValues) {
  CSetComDlg dlg;
  dlg.port_ = 2;
  dlg.speed_ = 57600;
  const int result = RunWith(dlg, [](CSetComDlg& d) {
    EXPECT_EQ(d.GetTitle(), "COM Port Setting");
    EXPECT_EQ(Edit(d, IDC_COM_PORT_EDIT)->GetValue(), "2");
    EXPECT_EQ(Edit(d, IDC_SPEED_EDIT)->GetValue(), "57600");
    Edit(d, IDC_COM_PORT_EDIT)->ChangeValue("7");
    Edit(d, IDC_SPEED_EDIT)->ChangeValue("115200");
    guitest::Click(d.FindWindow(wxID_OK));
  });
  EXPECT_EQ(result, wxID_OK);
  EXPECT_EQ(dlg.port_, 7);
  EXPECT_EQ(dlg.speed_, 115200);
}

TEST(SetComDlg, PortOutsideOneToTenIsRefusedAndTheDialogStays) {
  std::vector<wxString> boxes;
  const MessageBoxHandler previous = SetMessageBoxHandler(
      [&](const wxString& text, const wxString&, long, wxWindow*) {
        boxes.push_back(text);
        return wxOK;
      });
  CSetComDlg dlg;
  dlg.port_ = 1;
  const int result = RunWith(dlg, [&](CSetComDlg& d) {
    for (const char* bad : {"0", "11", "x"}) {
      Edit(d, IDC_COM_PORT_EDIT)->ChangeValue(bad);
      guitest::Click(d.FindWindow(wxID_OK));
      EXPECT_TRUE(d.IsModal()) << bad;
    }
    d.EndModal(wxID_CANCEL);
  });
  SetMessageBoxHandler(previous);
  EXPECT_EQ(result, wxID_CANCEL);
  EXPECT_EQ(dlg.port_, 1);  // unchanged
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0], "Please enter an integer between 1 and 10.");
}

}  // namespace
}  // namespace edog
