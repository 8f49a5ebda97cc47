#pragma once
// Placing controls of a dialog template in dialog units, as the tool windows are laid out.
#include <wx/font.h>
#include <wx/window.h>

class wxButton;
class wxRadioButton;
class wxStaticBox;
class wxStaticText;

// Converts template coordinates (dialog units of the window's font) to pixels.
class DialogLayout {
 public:
  explicit DialogLayout(wxWindow* dialog) : dialog_(dialog) {}

  // Controls of the template, placed in dialog units (buttons and radios at least at
  // GTK's minimum size). A radio button with `first` set starts a new group.
  wxStaticText* Label(const char* text, int x, int y, int w, int h = 9) const;
  wxStaticBox* Group(int id, const char* text, int x, int y, int w, int h) const;
  wxButton* Button(int id, const char* text, int x, int y, int w, int h = 14) const;
  wxRadioButton* Radio(int id, const char* text, int x, int y, int w, bool first) const;

  wxPoint At(int x, int y) const { return dialog_->ConvertDialogToPixels(wxPoint(x, y)); }
  wxSize Size(int w, int h) const { return dialog_->ConvertDialogToPixels(wxSize(w, h)); }
  // GTK has minimum sizes (tick areas, button padding): where its minimum is larger than
  // the template's place, the control gets GTK's.
  template <typename W>
  static W* Fit(W* w) {
    wxSize placed = w->GetSize();
    placed.IncTo(w->GetBestSize());
    w->SetSize(placed);
    return w;
  }

 private:
  wxWindow* dialog_;
};

// Gives every shown control of `dialog` at least its natural size (text, item lists),
// moving the controls after it along so none covers another, and returns the client size
// that holds them all: at least `client`. Lists, edits and pictures keep their places.
wxSize FitControls(wxWindow* dialog, wxSize client);

// The tool windows' font: 8 pt in the first of the shell dialog faces the system has
// (checked with the font enumerator), else the system's GUI font at 8 pt.
wxFont LoadToolDialogFont();
