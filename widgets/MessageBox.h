#pragma once
// Every message box of the windows goes through here, so tests can answer them (native
// GTK message boxes cannot be closed from code).
#include <wx/string.h>
#include <wx/window.h>

#include <functional>

using MessageBoxHandler =
    std::function<int(const wxString& text, const wxString& caption, long style, wxWindow* parent)>;

// The caption of every box: the application's name, which is the main window's title.
wxString ApplicationCaption();

// Shows the box (wxMessageBox style flags and results). When it closes, the keyboard focus
// goes back to the window that had it (else to the owner's first control), so Esc and
// Enter reach the window again without a click.
int ShowMessageBox(const wxString& text, const wxString& caption, long style = wxOK,
                   wxWindow* parent = nullptr);
// Gives the keyboard focus back to `owner` after a box it owned: to `focused` when that
// is still one of its shown, enabled controls, else to its first control that takes focus.
// Nothing while a modal window made after `owner` is up (the next box): that one keeps
// the front, and gives the focus back when it closes.
void RestoreFocus(wxWindow* owner, wxWindow* focused);

// Replaces the real box; an empty handler restores it. Returns the previous handler.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
