#include "widgets/MessageBox.h"

#include <wx/msgdlg.h>  // before the generic box, which builds on it
#include <wx/generic/msgdlgg.h>
#include <wx/dcclient.h>
#include <wx/dialog.h>
#include <wx/sizer.h>
#include <wx/toplevel.h>
#include <wx/weakref.h>

#include <utility>

#include "widgets/UiCall.h"

namespace {
MessageBoxHandler& Handler() {
  static MessageBoxHandler handler;
  return handler;
}

// wx's box, made wide enough for its whole caption: window managers cut a caption that
// does not fit in the middle ("GP… 务").
class CaptionedBox : public wxGenericMessageDialog {
 public:
  using wxGenericMessageDialog::wxGenericMessageDialog;

 protected:
  // Called while the box lays itself out: a spacer as wide as the title bar needs. The
  // caption is drawn in bold and centred, so both sides keep room for the most buttons a
  // title bar puts on one side: minimise, maximise and close (openbox draws all three on
  // every dialog, whatever the window asks for). Each is square, as wide as the bar is
  // high.
  void AddMessageDialogDetails(wxSizer* sizer) override {
    wxClientDC dc(this);
    dc.SetFont(GetFont().Bold());
    const wxSize caption = dc.GetTextExtent(GetTitle());
    sizer->Add(caption.x + 2 * kButtonsPerSide * TitleBarHeight(caption.y), 0);
  }

 private:
  static constexpr int kButtonsPerSide = 3;

  // The frame of the windows shown so far, as the window manager reported it (GTK keeps
  // it for every window of the same kind); before any, a bar one and a half lines high.
  int TitleBarHeight(int textHeight) const {
    const wxSize frame = GetSize() - GetClientSize();
    const int sides = frame.x / 2;
    const int measured = frame.y - sides;
    return measured > 0 ? measured : textHeight * 3 / 2;
  }
};

// True while a modal window made after `owner` (the next box in a row, a dialog) is up: it
// keeps the front and the focus. Without a window manager nothing keeps a box above its
// owner, so raising the owner then would hide that box, mapped but never painted, and
// leave the display deaf to clicks until a blind Enter closes it.
bool LaterModalWindowShown(const wxWindow* owner) {
  bool afterOwner = false;
  for (wxWindow* window : wxTopLevelWindows) {  // in the order they were made
    if (window == owner) {
      afterOwner = true;
    } else if (auto* dialog = dynamic_cast<wxDialog*>(window);
               afterOwner && dialog && dialog->IsModal() && dialog->IsShown()) {
      return true;
    }
  }
  return false;
}

}  // namespace

wxString ApplicationCaption() { return wxString::FromUTF8("GPS更新服务"); }

int ShowMessageBox(const wxString& text, const wxString& caption, long style, wxWindow* parent) {
  if (Handler()) return Handler()(text, caption, style, parent);
  wxWindow* owner = parent ? wxGetTopLevelParent(parent) : nullptr;
  wxWindowRef focused(wxWindow::FindFocus());
  // Right after a box of the same owner the focus is still in that box, or nowhere: this
  // one gives back what that one took.
  static wxWindowRef lastOwner, lastFocused;
  if (owner && lastOwner.get() == owner && (!focused || wxGetTopLevelParent(focused.get()) != owner))
    focused = lastFocused;
  // wx's own box rather than GTK's: a GTK box closed with the mouse leaves its owner deaf
  // to the keyboard until the next click in it. Destroyed once its last events are done.
  // The texts end their lines with CR LF, which GTK would show as two line breaks.
  wxString shown = text;
  shown.Replace("\r\n", "\n");
  auto* box = new CaptionedBox(parent, shown, caption, style);
  const int code = box->ShowModal();
  box->Destroy();
  lastOwner = owner;
  lastFocused = focused;
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
  if (!owner || !owner->IsShown() || LaterModalWindowShown(owner)) return;
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
