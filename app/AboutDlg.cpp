#include "app/AboutDlg.h"

#include <wx/button.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include <string>

#include "app/MainWindowLogic.h"
#include "app/Resources.h"
#include "common/Version.h"
#include "widgets/DialogLayout.h"
#include "widgets/WxText.h"

CAboutDlg::CAboutDlg(wxWindow* parent)
    : wxDialog(parent, edog::IDD_ABOUTBOX, U8("关于 GPS更新服务"), wxDefaultPosition,
               wxDefaultSize, wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
  if (parent) SetFont(parent->GetFont());
  auto du = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
  auto ds = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };
  SetClientSize(ds(235, 55));
  const wxIconBundle icons = LoadAppIcon();
  new wxStaticBitmap(this, edog::IDR_MAINFRAME, icons.GetIcon(32), du(11, 17), wxSize(32, 32));
  new wxStaticText(this, wxID_STATIC, U8("GPS更新服务 V1.0"), du(40, 10), ds(119, 8));
  // The second line carries the build's version; the first keeps the product's own text.
  new wxStaticText(this, wxID_STATIC,
                   U8(std::string("电子狗语音、数据与软件更新工具 版本 ") + edog::kVersion),
                   du(40, 25), ds(130, 8));
  auto* ok = new wxButton(this, wxID_OK, "OK", du(178, 7), ds(50, 14));
  ok->SetDefault();
  SetClientSize(FitControls(this, GetClientSize()));
  SetIcons(icons);
  CentreOnParent();
}
