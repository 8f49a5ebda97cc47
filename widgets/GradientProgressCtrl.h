#pragma once
// The progress bar of the main window, the download status window and the voice data
// generator: the filled part is a colour gradient in vertical bands, the rest the
// background colour, optionally with a centred percentage text. Painting goes through
// CMemDC, and the background is never erased separately, so the bar does not flicker.
#include <wx/control.h>

#include "widgets/GradientBands.h"

class CGradientProgressCtrl : public wxControl {
 public:
  CGradientProgressCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                        const wxSize& size = wxDefaultSize, long style = wxBORDER_NONE);

  // Stores the range and moves the position to the lower end.
  void SetRange(int lower, int upper);
  void GetRange(int& lower, int& upper) const {
    lower = lower_;
    upper = upper_;
  }
  // Stores the position and repaints; returns the previous position.
  int SetPos(int position);
  int GetPos() const { return position_; }
  void SetStep(int step) { step_ = step; }
  int GetStep() const { return step_; }

  // Colours are references 0x00BBGGRR, as the owners state them.
  void SetStartColor(edog::ColorRef c) { startColor_ = c; Refresh(false); }
  void SetEndColor(edog::ColorRef c) { endColor_ = c; Refresh(false); }
  void SetBkColor(edog::ColorRef c) { bkColor_ = c; Refresh(false); }
  void SetTextColor(edog::ColorRef c) { textColor_ = c; Refresh(false); }
  void ShowPercent(bool show = true) { showPercent_ = show; Refresh(false); }
  // Caption appended to the percentage as " : caption".
  void SetCaption(const wxString& text) { text_ = text; Refresh(false); }

  edog::ColorRef GetStartColor() const { return startColor_; }
  edog::ColorRef GetEndColor() const { return endColor_; }
  edog::ColorRef GetBkColor() const { return bkColor_; }
  edog::ColorRef GetTextColor() const { return textColor_; }
  bool IsPercentShown() const { return showPercent_; }

  // Paints the bar for a client area of the given size onto any context (the paint
  // handler passes its paint context; tests pass a memory context on a bitmap).
  void Render(wxDC& dc, const wxSize& client) const;

 protected:
  wxSize DoGetBestSize() const override { return FromDIP(wxSize(150, 16)); }

 private:
  void OnPaint(wxPaintEvent& event);
  void DrawGradient(wxDC& dc, const edog::GradientPlan& plan) const;
  void DrawPercentText(wxDC& dc, const wxRect& client, const edog::GradientPlan& plan,
                       int filledWidth) const;

  wxString text_;
  int lower_ = 0;
  int upper_ = 100;
  int step_ = 10;
  int position_ = 0;
  edog::ColorRef startColor_ = 0x800000;
  edog::ColorRef endColor_ = 0xFF0000;
  edog::ColorRef bkColor_;
  edog::ColorRef textColor_ = 0xFFFFFF;
  bool showPercent_ = false;
};

// Conversions between colour references and wx colours.
wxColour ToWxColour(edog::ColorRef c);
edog::ColorRef ToColorRef(const wxColour& c);
