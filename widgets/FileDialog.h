#pragma once
// Every open-file dialog of the windows goes through here, so tests can answer them
// (native GTK file dialogs cannot be closed from code).
#include <wx/string.h>
#include <wx/window.h>

#include <functional>

// Returns the chosen file's full path, or an empty string when the user cancelled.
using OpenFileDialogHandler = std::function<wxString(wxWindow* parent, const wxString& wildcard)>;

// A standard open-file dialog over `parent`; the file must exist.
wxString ShowOpenFileDialog(wxWindow* parent, const wxString& wildcard);
// Replaces the real dialog; an empty handler restores it. Returns the previous handler.
OpenFileDialogHandler SetOpenFileDialogHandler(OpenFileDialogHandler handler);
