#pragma once
// Every file-open dialog of the windows goes through here, so tests can answer them
// (native GTK file dialogs cannot be closed from code).
#include <wx/string.h>
#include <wx/window.h>

#include <functional>
#include <vector>

struct OpenFileRequest {
  wxString title;     // empty: the toolkit's default title
  wxString filter;    // as the tools state it: "Text|pattern|Text|pattern||"
  bool multiple = false;
  wxWindow* parent = nullptr;
};

// The chosen paths in the order the dialog returns them; empty when the user cancels.
using OpenFileHandler = std::function<std::vector<wxString>(const OpenFileRequest& request)>;

std::vector<wxString> ShowOpenFileDialog(const OpenFileRequest& request);
// Replaces the real dialog; an empty handler restores it. Returns the previous handler.
OpenFileHandler SetOpenFileHandler(OpenFileHandler handler);

// "Wav(*.wav) |*.wav| All File(*.*) |*.*||" -> the toolkit's wildcard: the trailing
// separators dropped, and each pattern without its padding.
wxString FilterToWildcard(const wxString& filter);
