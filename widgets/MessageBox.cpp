#include "widgets/MessageBox.h"

#include <wx/msgdlg.h>

#include <utility>

namespace {
MessageBoxHandler& Handler() {
  static MessageBoxHandler handler;
  return handler;
}
}  // namespace

int ShowMessageBox(const wxString& text, const wxString& caption, long style, wxWindow* parent) {
  if (Handler()) return Handler()(text, caption, style, parent);
  return wxMessageBox(text, caption, style, parent);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  return std::exchange(Handler(), std::move(handler));
}
