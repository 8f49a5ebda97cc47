#include "widgets/MemDC.h"

#include <wx/dcprint.h>

CMemDC::CMemDC(wxDC& target) : target_(target) {
#if wxUSE_PRINTING_ARCHITECTURE
  if (target.IsKindOf(wxCLASSINFO(wxPrinterDC))) return;  // draw straight onto the page
#endif
  wxCoord x = 0, y = 0, w = 0, h = 0;
  target.GetClippingBox(&x, &y, &w, &h);
  if (w <= 0 || h <= 0) {
    x = y = 0;
    target.GetSize(&w, &h);
  }
  if (w <= 0 || h <= 0) return;  // nothing to cover: draw directly
  rect_ = wxRect(x, y, w, h);
  bitmap_.Create(w, h, 24);
  memDC_.SelectObject(bitmap_);
  if (!memDC_.IsOk()) return;
  memDC_.SetDeviceOrigin(-x, -y);
  offScreen_ = true;
}

CMemDC::~CMemDC() {
  if (!offScreen_) return;
  target_.Blit(rect_.x, rect_.y, rect_.width, rect_.height, &memDC_, rect_.x, rect_.y);
  memDC_.SelectObject(wxNullBitmap);
}
