#include "widgets/FileDialog.h"

#include <wx/filedlg.h>

#include <utility>

namespace {
OpenFileDialogHandler& Handler() {
  static OpenFileDialogHandler handler;
  return handler;
}
}  // namespace

wxString ShowOpenFileDialog(wxWindow* parent, const wxString& wildcard) {
  if (Handler()) return Handler()(parent, wildcard);
  wxFileDialog dialog(parent, wxFileSelectorPromptStr, wxEmptyString, wxEmptyString, wildcard,
                      wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  return dialog.ShowModal() == wxID_OK ? dialog.GetPath() : wxString();
}

OpenFileDialogHandler SetOpenFileDialogHandler(OpenFileDialogHandler handler) {
  return std::exchange(Handler(), std::move(handler));
}
