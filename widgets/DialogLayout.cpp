#include "widgets/DialogLayout.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/fontenum.h>
#include <wx/radiobut.h>
#include <wx/settings.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include <vector>

#include "widgets/LayoutFit.h"

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

namespace {

// What a control needs to show itself whole; its own size where it scrolls or is drawn.
wxSize NaturalSize(wxWindow* control) {
  // Labels that shorten their text on purpose keep their place.
  if (dynamic_cast<wxStaticText*>(control) &&
      (control->GetWindowStyle() & (wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_MASK))) {
    return control->GetSize();
  }
  if (dynamic_cast<wxButton*>(control) || dynamic_cast<wxCheckBox*>(control) ||
      dynamic_cast<wxRadioButton*>(control) || dynamic_cast<wxStaticText*>(control) ||
      dynamic_cast<wxComboBox*>(control) || dynamic_cast<wxChoice*>(control)) {
    return control->GetBestSize();
  }
  return control->GetSize();
}

}  // namespace

wxSize FitControls(wxWindow* dialog, wxSize client) {
  std::vector<wxWindow*> controls;
  std::vector<edog::LayoutItem> items;
  for (wxWindow* child : dialog->GetChildren()) {
    if (child->IsTopLevel() || !child->IsShown()) continue;
    const wxRect r = child->GetRect();
    const wxSize natural = NaturalSize(child);
    edog::LayoutItem item;
    item.box = {r.x, r.y, r.width, r.height};
    item.naturalW = natural.x;
    item.naturalH = natural.y;
    item.group = dynamic_cast<wxStaticBox*>(child) != nullptr;
    controls.push_back(child);
    items.push_back(item);
  }
  const wxSize unit = dialog->ConvertDialogToPixels(wxSize(4, 4));
  const edog::LayoutSize needed =
      edog::FitLayout(items, {client.x, client.y}, unit.y, unit.x);
  for (size_t i = 0; i < controls.size(); ++i) {
    const edog::LayoutBox& b = items[i].box;
    const wxRect fitted(b.x, b.y, b.w, b.h);
    if (controls[i]->GetRect() != fitted) controls[i]->SetSize(fitted);
  }
  return wxSize(needed.w, needed.h);
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
