#pragma once
// Every message box of the windows goes through here, so tests can answer them (native
// GTK message boxes cannot be closed from code).
#include <wx/string.h>
#include <wx/window.h>

#include <functional>

using MessageBoxHandler =
    std::function<int(const wxString& text, const wxString& caption, long style, wxWindow* parent)>;

// Shows the box (wxMessageBox style flags and results).
int ShowMessageBox(const wxString& text, const wxString& caption, long style = wxOK,
                   wxWindow* parent = nullptr);
// Replaces the real box; an empty handler restores it. Returns the previous handler.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
