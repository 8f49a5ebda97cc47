#include "widgets/FileDialog.h"

#include <wx/filedlg.h>
#include <wx/tokenzr.h>

#include <utility>

namespace {
OpenFileHandler& Handler() {
  static OpenFileHandler handler;
  return handler;
}
}  // namespace

wxString FilterToWildcard(const wxString& filter) {
  wxArrayString parts = wxSplit(filter, '|', '\0');
  while (!parts.empty() && parts.back().empty()) parts.pop_back();
  wxString wildcard;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) wildcard += '|';
    // Descriptions keep their text; patterns lose the blanks around them.
    wildcard += i % 2 ? wxString(parts[i]).Trim(true).Trim(false) : parts[i];
  }
  return wildcard;
}

std::vector<wxString> ShowOpenFileDialog(const OpenFileRequest& request) {
  if (Handler()) return Handler()(request);
  long style = wxFD_OPEN | wxFD_FILE_MUST_EXIST;
  if (request.multiple) style |= wxFD_MULTIPLE;
  wxFileDialog dialog(request.parent, request.title.empty() ? wxString(wxFileSelectorPromptStr)
                                                            : request.title,
                      wxEmptyString, wxEmptyString, FilterToWildcard(request.filter), style);
  std::vector<wxString> chosen;
  if (dialog.ShowModal() != wxID_OK) return chosen;
  if (request.multiple) {
    wxArrayString paths;
    dialog.GetPaths(paths);
    chosen.assign(paths.begin(), paths.end());
  } else {
    chosen.push_back(dialog.GetPath());
  }
  return chosen;
}

OpenFileHandler SetOpenFileHandler(OpenFileHandler handler) {
  return std::exchange(Handler(), std::move(handler));
}
