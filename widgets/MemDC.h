#pragma once
// Off-screen drawing: everything drawn through Dc() lands in a bitmap of the target's
// clip box and is copied to the target in one piece when the object goes away, so a
// control that repaints itself does not flicker. A printing target is drawn directly.
#include <wx/bitmap.h>
#include <wx/dc.h>
#include <wx/dcmemory.h>

class CMemDC {
 public:
  explicit CMemDC(wxDC& target);
  ~CMemDC();
  CMemDC(const CMemDC&) = delete;
  CMemDC& operator=(const CMemDC&) = delete;

  // The context to draw into, in the target's own coordinates.
  wxDC& Dc() { return offScreen_ ? static_cast<wxDC&>(memDC_) : target_; }
  wxDC* operator->() { return &Dc(); }
  bool IsOffScreen() const { return offScreen_; }
  const wxRect& Rect() const { return rect_; }

 private:
  wxDC& target_;
  wxBitmap bitmap_;
  wxMemoryDC memDC_;
  wxRect rect_;
  bool offScreen_ = false;
};
