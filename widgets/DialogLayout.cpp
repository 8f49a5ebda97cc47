#include "widgets/DialogLayout.h"

#include <wx/button.h>
#include <wx/fontenum.h>
#include <wx/radiobut.h>
#include <wx/settings.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

wxStaticText* DialogLayout::Label(const char* text, int x, int y, int w, int h) const {
  return new wxStaticText(dialog_, wxID_STATIC, text, At(x, y), Size(w, h));
}

wxStaticBox* DialogLayout::Group(int id, const char* text, int x, int y, int w, int h) const {
  return new wxStaticBox(dialog_, id, text, At(x, y), Size(w, h));
}

wxButton* DialogLayout::Button(int id, const char* text, int x, int y, int w, int h) const {
  return Fit(new wxButton(dialog_, id, text, At(x, y), Size(w, h)));
}

wxRadioButton* DialogLayout::Radio(int id, const char* text, int x, int y, int w,
                                   bool first) const {
  return Fit(new wxRadioButton(dialog_, id, text, At(x, y), Size(w, 10), first ? wxRB_GROUP : 0));
}

wxFont LoadToolDialogFont() {
  static const char* const kFaces[] = {"MS Shell Dlg", "MS Shell Dlg 2", "Tahoma",
                                       "Microsoft Sans Serif", "DejaVu Sans", "Liberation Sans"};
  for (const char* face : kFaces) {
    if (wxFontEnumerator::IsValidFacename(face)) return wxFont(wxFontInfo(8).FaceName(face));
  }
  wxFont font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
  font.SetPointSize(8);
  return font;
}
