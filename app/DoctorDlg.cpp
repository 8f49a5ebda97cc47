#include "app/DoctorDlg.h"

#include <wx/button.h>
#include <wx/clipbrd.h>
#include <wx/display.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>

#include "device/Doctor.h"
#include "tools/VoiceGeneration.h"
#include "widgets/MessageBox.h"
#include "widgets/WxText.h"

using namespace edog;

namespace {
constexpr int kScreenMargin = 40;
}  // namespace

CDoctorDlg::CDoctorDlg(wxWindow* parent, const std::string& deviceLibrary,
                       const std::string& packagePath)
    : wxDialog(parent, wxID_ANY, U8("诊断 - ") + ApplicationCaption(), wxDefaultPosition,
               wxDefaultSize, wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxRESIZE_BORDER) {
  if (parent) SetFont(parent->GetFont());
  DoctorInputs inputs;
  inputs.deviceLibrary = deviceLibrary;
  inputs.encoderLibrary = kVoiceEncoderLibrary;
  inputs.encoderExport = kVoiceEncoderExport;
  inputs.packagePlaces = PackagePlacesHere(packagePath);
  const auto checks = RunDoctor(inputs);
  text_ = DoctorReport(checks);

  const wxRect screen = wxDisplay(static_cast<unsigned>(0)).GetClientArea();
  const wxSize max(screen.width - 2 * kScreenMargin, screen.height - 2 * kScreenMargin);
  auto* top = new wxBoxSizer(wxVERTICAL);
  auto* intro = new wxStaticText(
      this, wxID_ANY,
      U8(DoctorPassed(checks) ? "所有检查都通过了。All checks passed."
                              : "有些检查需要修正（FIX 行）。Some checks need a fix (FIX lines)."));
  intro->Wrap(max.x - 20);
  top->Add(intro, 0, wxALL, 10);
  report_ = new wxTextCtrl(this, wxID_ANY, U8(text_), wxDefaultPosition,
                           wxSize(std::min(640, max.x - 20), std::min(300, max.y / 2)),
                           wxTE_MULTILINE | wxTE_READONLY);
  top->Add(report_, 1, wxEXPAND | wxLEFT | wxRIGHT, 10);
  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  buttons->Add(new wxButton(this, wxID_COPY, U8("复制 Copy")), 0, wxRIGHT, 6);
  buttons->Add(new wxButton(this, wxID_CLOSE, U8("关闭 Close")), 0);
  top->Add(buttons, 0, wxALL, 10);
  SetSizer(top);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    if (wxTheClipboard->Open()) {
      wxTheClipboard->SetData(new wxTextDataObject(U8(text_)));
      wxTheClipboard->Close();
    }
  }, wxID_COPY);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { EndModal(wxID_CLOSE); }, wxID_CLOSE);
  SetEscapeId(wxID_CLOSE);
  wxSize size = top->ComputeFittingWindowSize(this);
  size.DecTo(max);
  SetSize(size);
  if (parent) CentreOnParent(); else Centre();
}
