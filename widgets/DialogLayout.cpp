#include "widgets/DialogLayout.h"

#include <wx/fontenum.h>
#include <wx/settings.h>

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
