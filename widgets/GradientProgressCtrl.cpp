#include "widgets/GradientProgressCtrl.h"

#include <wx/dcclient.h>
#include <wx/dc.h>

#include <algorithm>
#include <wx/settings.h>

#include "widgets/MemDC.h"
#include "widgets/WxText.h"

wxColour ToWxColour(edog::ColorRef c) {
  return wxColour(edog::RedOf(c), edog::GreenOf(c), edog::BlueOf(c));
}

edog::ColorRef ToColorRef(const wxColour& c) {
  return edog::MakeColorRef(c.Red(), c.Green(), c.Blue());
}

CGradientProgressCtrl::CGradientProgressCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos,
                                             const wxSize& size, long style)
    : wxControl(parent, id, pos, size, style),
      bkColor_(ToColorRef(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE))) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);  // the paint handler covers every pixel
  Bind(wxEVT_PAINT, &CGradientProgressCtrl::OnPaint, this);
  Bind(wxEVT_ERASE_BACKGROUND, [](wxEraseEvent&) {});
}

void CGradientProgressCtrl::SetRange(int lower, int upper) {
  lower_ = lower;
  upper_ = upper;
  position_ = lower;
  Refresh(false);
}

int CGradientProgressCtrl::SetPos(int position) {
  const int previous = position_;
  position_ = position;
  Refresh(false);
  return previous;
}

void CGradientProgressCtrl::OnPaint(wxPaintEvent&) {
  wxPaintDC dc(this);
  Render(dc, GetClientSize());
}

void CGradientProgressCtrl::Render(wxDC& dc, const wxSize& client) const {
  const wxRect clientRect(0, 0, client.x, client.y);
  if (edog::GradientOutOfRange(position_, lower_, upper_)) {
    const wxColour face = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE);
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(face));
    dc.DrawRectangle(clientRect);
    return;
  }
  const int filledWidth = edog::GradientFilledWidth(position_, upper_, client.x);
  const edog::GradientPlan plan =
      edog::PlanGradient(startColor_, endColor_, bkColor_, client.x, client.y, filledWidth);
  DrawGradient(dc, plan);

  dc.SetFont(GetFont());
  if (position_ == lower_) {
    // Blank whatever text an earlier position left behind.
    dc.SetTextForeground(ToWxColour(bkColor_));
    dc.SetTextBackground(ToWxColour(bkColor_));
    dc.SetBackgroundMode(wxBRUSHSTYLE_SOLID);
    dc.DrawLabel(U8(edog::GradientBlankText()), clientRect, wxALIGN_CENTRE);
  }
  if (showPercent_) DrawPercentText(dc, clientRect, plan, filledWidth);
}

void CGradientProgressCtrl::DrawPercentText(wxDC& dc, const wxRect& client,
                                            const edog::GradientPlan& plan,
                                            int filledWidth) const {
  const wxString text = U8(edog::GradientPercentText(position_, upper_, ToU8(text_)));
  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
  // The part of the text over the fill and the part over the background each get a colour
  // that reads on what lies under them; the bar's own text colour wherever it does.
  const int textWidth = dc.GetTextExtent(text).x;
  const int textLeft = (client.width - textWidth) / 2;
  const int textRight = textLeft + textWidth;
  struct Part {
    wxRect area;
    int sampleX;
  };
  const Part parts[] = {
      {wxRect(0, 0, filledWidth, client.height), (textLeft + std::min(textRight, filledWidth)) / 2},
      {wxRect(filledWidth, 0, client.width - filledWidth, client.height),
       (std::max(textLeft, filledWidth) + textRight) / 2},
  };
  for (const Part& part : parts) {
    if (part.area.width <= 0) continue;
    const edog::ColorRef under = edog::PlanColorAt(plan, part.sampleX, bkColor_);
    wxDCClipper clip(dc, part.area);
    dc.SetTextForeground(ToWxColour(edog::LegibleTextColor(textColor_, under)));
    dc.DrawLabel(text, client, wxALIGN_CENTRE);
  }
}

void CGradientProgressCtrl::DrawGradient(wxDC& target, const edog::GradientPlan& plan) const {
  CMemDC mem(target);
  wxDC& dc = mem.Dc();
  dc.SetPen(*wxTRANSPARENT_PEN);
  for (const auto& fill : plan.fills) {
    dc.SetBrush(wxBrush(ToWxColour(fill.color)));
    dc.DrawRectangle(fill.left, fill.top, fill.right - fill.left, fill.bottom - fill.top);
  }
}
