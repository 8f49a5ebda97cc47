#include "app/UsbSetupDlg.h"

#include <wx/button.h>
#include <wx/clipbrd.h>
#include <wx/display.h>
#include <wx/listbox.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>

#include "device/UsbConfig.h"
#include "widgets/MessageBox.h"
#include "widgets/WxText.h"

using namespace edog;

namespace {
// Room kept free around the dialog on the screen.
constexpr int kScreenMargin = 40;
constexpr int kPreferredWidth = 560;
}  // namespace

CUsbSetupDlg::CUsbSetupDlg(wxWindow* parent, const std::string& reason)
    : wxDialog(parent, wxID_ANY, U8("USB设备设置 - ") + ApplicationCaption(), wxDefaultPosition,
               wxDefaultSize, wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxRESIZE_BORDER) {
  if (parent) SetFont(parent->GetFont());
  const wxRect screen = wxDisplay(static_cast<unsigned>(0)).GetClientArea();
  wrap_ = std::min(kPreferredWidth, screen.width - 2 * kScreenMargin);

  auto* top = new wxBoxSizer(wxVERTICAL);
  const auto text = [&](const std::string& s) {
    auto* t = new wxStaticText(this, wxID_ANY, U8(s));
    t->Wrap(wrap_);
    top->Add(t, 0, wxLEFT | wxRIGHT | wxTOP, 10);
    return t;
  };
  text("没有配置USB设备：请连接设备，在下面的列表中选择它，然后按“设置”。设备的编号将写入 " +
       UsbConfigPath() + "，无需重新启动程序。");
  text("No USB device is configured: attach the device, choose it in the list below and press "
       "Set up. Its id is written into " + UsbConfigPath() +
       "; the program finds the device without a restart.");
  if (!reason.empty()) text(reason);

  list_ = new wxListBox(this, wxID_ANY, wxDefaultPosition, wxSize(wrap_, 80));
  top->Add(list_, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, 10);
  listNote_ = new wxStaticText(this, wxID_ANY, "");
  top->Add(listNote_, 0, wxLEFT | wxRIGHT | wxTOP, 10);

  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  auto* refresh = new wxButton(this, wxID_REFRESH, U8("刷新 Refresh"));
  setUp_ = new wxButton(this, wxID_APPLY, U8("设置 Set up"));
  copy_ = new wxButton(this, wxID_COPY, U8("复制命令 Copy command"));
  auto* close = new wxButton(this, wxID_CLOSE, U8("关闭 Close"));
  for (wxButton* b : {refresh, setUp_, copy_, close}) buttons->Add(b, 0, wxRIGHT, 6);
  copy_->Disable();
  top->Add(buttons, 0, wxALL, 10);

  report_ = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxSize(wrap_, 180),
                           wxTE_MULTILINE | wxTE_READONLY);
  report_->Hide();
  top->Add(report_, 1, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 10);
  SetSizer(top);

  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Refresh(); }, wxID_REFRESH);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { SetUpChosen(); }, wxID_APPLY);
  Bind(wxEVT_LISTBOX_DCLICK, [this](wxCommandEvent&) { SetUpChosen(); });
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    if (wxTheClipboard->Open()) {
      wxTheClipboard->SetData(new wxTextDataObject(U8(result_.command)));
      wxTheClipboard->Close();
    }
  }, wxID_COPY);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { EndModal(wxID_CLOSE); }, wxID_CLOSE);
  SetEscapeId(wxID_CLOSE);
  Refresh();
}

void CUsbSetupDlg::Refresh() {
  std::string why;
  list_->Clear();
  if (!ListUsbSetupCandidates(candidates_, &why)) {
    listNote_->SetLabel(U8(why));
  } else if (candidates_.empty()) {
    listNote_->SetLabel(U8("没有找到带厂商专用接口的USB设备。\nNo attached USB device has a "
                           "vendor-specific interface."));
  } else {
    for (const UsbSetupCandidate& c : candidates_) list_->Append(U8(c.Id() + "   " + c.place));
    list_->SetSelection(0);
    listNote_->SetLabel("");
  }
  listNote_->Wrap(wrap_);
  setUp_->Enable(!candidates_.empty());
  Place();
}

bool CUsbSetupDlg::SetUpChosen() {
  const int at = list_->GetSelection();
  if (at == wxNOT_FOUND || static_cast<size_t>(at) >= candidates_.size()) return false;
  std::string why;
  if (!SetUpUsbDevice(candidates_[static_cast<size_t>(at)], result_, &why)) {
    ShowMessageBox(U8("设置失败。Setup failed:\n" + why), ApplicationCaption(), wxOK | wxICON_WARNING, this);
    return false;
  }
  std::string text = "已写入 " + result_.configPath + "。\n";
  if (!result_.command.empty())
    text += "为了让用户可以打开设备，请以管理员身份安装下面的udev规则（“复制命令”复制安装命令）。\n";
  report_->ChangeValue(U8(text + result_.Report()));
  report_->Show();
  copy_->Enable(!result_.command.empty());
  Place();
  return true;
}

void CUsbSetupDlg::Place() {
  // Whole on the screen, whatever the texts: the report scrolls within its place.
  const wxRect screen = wxDisplay(static_cast<unsigned>(0)).GetClientArea();
  const wxSize max(screen.width - 2 * kScreenMargin, screen.height - 2 * kScreenMargin);
  wxSize size = GetSizer()->ComputeFittingWindowSize(this);
  size.DecTo(max);
  SetMinSize(wxDefaultSize);
  SetSize(size);
  Layout();
  if (GetParent()) CentreOnParent(); else Centre();
  // Centred on a parent near the edge may still stick out: pulled back onto the screen.
  wxPoint p = GetPosition();
  p.x = std::max(screen.x, std::min(p.x, screen.GetRight() - size.x + 1));
  p.y = std::max(screen.y, std::min(p.y, screen.GetBottom() - size.y + 1));
  Move(p);
}
