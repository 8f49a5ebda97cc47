#include "widgets/MessageBox.h"

#include <wx/msgdlg.h>  // before the generic box, which builds on it
#include <wx/generic/msgdlgg.h>
#include <wx/toplevel.h>
#include <wx/weakref.h>

#include <utility>

#include "widgets/UiCall.h"

namespace {
MessageBoxHandler& Handler() {
  static MessageBoxHandler handler;
  return handler;
}
}  // namespace

wxString ApplicationCaption() { return wxString::FromUTF8("GPS更新服务"); }

int ShowMessageBox(const wxString& text, const wxString& caption, long style, wxWindow* parent) {
  if (Handler()) return Handler()(text, caption, style, parent);
  wxWindow* owner = parent ? wxGetTopLevelParent(parent) : nullptr;
  wxWindowRef focused(wxWindow::FindFocus());
  // wx's own box rather than GTK's: a GTK box closed with the mouse leaves its owner deaf
  // to the keyboard until the next click in it. Destroyed once its last events are done.
  // The texts end their lines with CR LF, which GTK would show as two line breaks.
  wxString shown = text;
  shown.Replace("\r\n", "\n");
  auto* box = new wxGenericMessageDialog(parent, shown, caption, style);
  const int code = box->ShowModal();
  box->Destroy();
  const int answer = code == wxID_OK    ? wxOK
                     : code == wxID_YES ? wxYES
                     : code == wxID_NO  ? wxNO
                                        : wxCANCEL;
  // After the display has told the windows that the box is gone, or that news would take
  // the focus away again.
  if (owner) {
    UiCallTarget::Create()->Post([owner = wxWindowRef(owner), focused] {
      if (owner) RestoreFocus(owner.get(), focused.get());
    });
  }
  return answer;
}

void RestoreFocus(wxWindow* owner, wxWindow* focused) {
  if (!owner || !owner->IsShown()) return;
  owner->Raise();
  if (focused && wxGetTopLevelParent(focused) == owner && focused->IsShownOnScreen() &&
      focused->IsEnabled()) {
    focused->SetFocus();
    return;
  }
  for (wxWindow* child : owner->GetChildren()) {
    if (child->IsShownOnScreen() && child->IsEnabled() && child->CanAcceptFocus()) {
      child->SetFocus();
      return;
    }
  }
  owner->SetFocus();
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  return std::exchange(Handler(), std::move(handler));
}
