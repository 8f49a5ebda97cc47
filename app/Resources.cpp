#include "app/Resources.h"

#include <wx/dcmemory.h>
#include <wx/fontenum.h>
#include <wx/settings.h>
#include <wx/graphics.h>

#include <cmath>
#include <memory>

#include "app/MainWindowLogic.h"
#include "widgets/WxText.h"

namespace {

// An arc on its own path, started at its first point: GDI+ would otherwise draw a line to
// it from the path's origin.
wxGraphicsPath ArcPath(wxGraphicsContext& gc, double cx, double cy, double r, double from,
                       double to) {
  wxGraphicsPath path = gc.CreatePath();
  path.MoveToPoint(cx + r * std::cos(from), cy + r * std::sin(from));
  path.AddArc(cx, cy, r, from, to, true);
  return path;
}

constexpr int kBackgroundWidth = 500;
constexpr int kBackgroundHeight = 233;

// The window's face (a Song face where present), so the Chinese title renders.
wxFont ArtFont(double points, bool bold) {
  wxFont font = LoadMainFont();
  font.SetFractionalPointSize(points);
  if (bold) font.MakeBold();
  return font;
}

// A night road towards a speed camera; the device on the dashboard sends its warning
// arcs ahead. Title and subtitle name the tool.
void DrawBackground(wxGraphicsContext& gc) {
  const double w = kBackgroundWidth, h = kBackgroundHeight, horizon = 138;
  gc.SetPen(*wxTRANSPARENT_PEN);

  // Sky and ground.
  gc.SetBrush(gc.CreateLinearGradientBrush(0, 0, 0, horizon, wxColour(8, 20, 48),
                                           wxColour(28, 92, 140)));
  gc.DrawRectangle(0, 0, w, horizon);
  gc.SetBrush(gc.CreateLinearGradientBrush(0, horizon, 0, h, wxColour(22, 40, 34),
                                           wxColour(10, 18, 16)));
  gc.DrawRectangle(0, horizon, w, h - horizon);

  // Stars, placed by a fixed rule so the picture is the same on every start.
  gc.SetBrush(wxBrush(wxColour(220, 230, 255)));
  unsigned seed = 12345;
  for (int i = 0; i < 40; ++i) {
    seed = seed * 1103515245u + 12345u;
    const double x = (seed >> 8) % kBackgroundWidth;
    seed = seed * 1103515245u + 12345u;
    const double y = (seed >> 8) % 110;
    if (x < 250 && y < 80) continue;  // keep the title clear
    const double r = (i % 5 == 0) ? 1.3 : 0.8;
    gc.DrawEllipse(x - r, y - r, 2 * r, 2 * r);
  }

  // Distant hills on the horizon.
  wxGraphicsPath hills = gc.CreatePath();
  hills.MoveToPoint(0, horizon);
  for (int x = 0; x <= kBackgroundWidth; x += 10) {
    hills.AddLineToPoint(x, horizon - 8 - 6 * std::sin(x / 37.0) - 4 * std::sin(x / 13.0));
  }
  hills.AddLineToPoint(w, horizon);
  hills.CloseSubpath();
  gc.SetBrush(wxBrush(wxColour(14, 34, 52)));
  gc.FillPath(hills);

  // The road in perspective, with edge lines and a dashed centre line.
  const double vx = 250;
  wxGraphicsPath road = gc.CreatePath();
  road.MoveToPoint(vx - 6, horizon);
  road.AddLineToPoint(vx + 6, horizon);
  road.AddLineToPoint(430, h);
  road.AddLineToPoint(70, h);
  road.CloseSubpath();
  gc.SetBrush(gc.CreateLinearGradientBrush(0, horizon, 0, h, wxColour(58, 62, 70),
                                           wxColour(40, 42, 48)));
  gc.FillPath(road);
  gc.SetPen(wxPen(wxColour(230, 230, 220), 2));
  gc.StrokeLine(vx - 5, horizon, 80, h);
  gc.StrokeLine(vx + 5, horizon, 420, h);
  gc.SetPen(*wxTRANSPARENT_PEN);
  gc.SetBrush(wxBrush(wxColour(240, 200, 60)));
  for (double t = 0.05; t < 1.0; t += 0.16) {
    const double y0 = horizon + (h - horizon) * t * t;
    const double y1 = horizon + (h - horizon) * std::min(1.0, (t + 0.08) * (t + 0.08));
    const double half0 = 0.5 + 3.0 * t, half1 = 0.5 + 3.0 * (t + 0.08);
    wxGraphicsPath dash = gc.CreatePath();
    dash.MoveToPoint(vx - half0, y0);
    dash.AddLineToPoint(vx + half0, y0);
    dash.AddLineToPoint(vx + half1, y1);
    dash.AddLineToPoint(vx - half1, y1);
    dash.CloseSubpath();
    gc.FillPath(dash);
  }

  // The speed camera on its pole at the roadside, with its flash.
  gc.SetBrush(wxBrush(wxColour(150, 156, 165)));
  gc.DrawRectangle(377, 92, 4, 100);
  gc.SetBrush(wxBrush(wxColour(200, 204, 210)));
  gc.DrawRoundedRectangle(352, 80, 44, 22, 3);
  gc.SetBrush(wxBrush(wxColour(30, 30, 36)));
  gc.DrawEllipse(355, 84, 14, 14);
  gc.SetBrush(gc.CreateRadialGradientBrush(362, 91, 362, 91, 26, wxColour(255, 250, 220, 230),
                                           wxColour(255, 200, 80, 0)));
  gc.DrawEllipse(336, 65, 52, 52);

  // Warning arcs from the device towards the camera.
  for (int i = 0; i < 3; ++i) {
    const double r = 22 + 16 * i;
    gc.SetPen(wxPen(wxColour(255, 170 - 30 * i, 40, 230 - 50 * i), 3));
    gc.StrokePath(ArcPath(gc, 150, 196, r, -0.95, -0.15));
  }
  gc.SetPen(*wxTRANSPARENT_PEN);

  // The device on the dashboard: a small box with its speed display.
  gc.SetBrush(wxBrush(wxColour(24, 24, 28)));
  gc.DrawRoundedRectangle(104, 188, 66, 32, 6);
  gc.SetBrush(wxBrush(wxColour(10, 60, 40)));
  gc.DrawRoundedRectangle(110, 193, 40, 22, 3);
  gc.SetBrush(wxBrush(wxColour(230, 60, 50)));
  gc.DrawEllipse(156, 198, 8, 8);
  gc.SetFont(ArtFont(10, true), wxColour(90, 255, 150));
  double tw = 0, th = 0;
  gc.GetTextExtent("80", &tw, &th);
  gc.DrawText("80", 130 - tw / 2, 204 - th / 2);

  // Title and subtitle.
  gc.SetFont(ArtFont(22, true), wxColour(255, 255, 255));
  gc.DrawText(U8("GPS 电子狗"), 20, 16);
  gc.SetFont(ArtFont(11, false), wxColour(160, 210, 255));
  gc.DrawText(U8("测速预警 · 语音 数据 软件更新"), 22, 58);
  gc.SetFont(ArtFont(8, false), wxColour(120, 160, 200));
  gc.DrawText("edog update service", 22, 80);
}

// The device picture beside the serial controls: the device with its USB cable.
void DrawDevice(wxGraphicsContext& gc, double w, double h) {
  gc.SetPen(*wxTRANSPARENT_PEN);
  gc.SetBrush(wxBrush(wxColour(236, 236, 236)));
  gc.DrawRectangle(0, 0, w, h);
  gc.SetPen(wxPen(wxColour(60, 60, 60), 3));
  gc.StrokeLine(w / 2, h * 0.55, w / 2, h * 0.85);
  gc.SetPen(*wxTRANSPARENT_PEN);
  gc.SetBrush(wxBrush(wxColour(120, 120, 128)));
  gc.DrawRectangle(w / 2 - 6, h * 0.82, 12, h * 0.14);
  gc.SetBrush(wxBrush(wxColour(30, 30, 34)));
  gc.DrawRoundedRectangle(4, 6, w - 8, h * 0.5, 5);
  gc.SetBrush(wxBrush(wxColour(10, 70, 45)));
  gc.DrawRoundedRectangle(9, 11, w - 18, h * 0.5 - 18, 2);
  gc.SetBrush(wxBrush(wxColour(230, 60, 50)));
  gc.DrawEllipse(w / 2 - 3, h * 0.5 - 4, 6, 6);
}

// The icon: a speed gauge with its needle in the warning zone, on a night-blue tile.
void DrawIcon(wxGraphicsContext& gc, double s) {
  gc.SetPen(*wxTRANSPARENT_PEN);
  gc.SetBrush(gc.CreateLinearGradientBrush(0, 0, 0, s, wxColour(30, 90, 150),
                                           wxColour(10, 30, 60)));
  gc.DrawRoundedRectangle(0.5, 0.5, s - 1, s - 1, s / 6);
  const double cx = s / 2, cy = s * 0.62, r = s * 0.36;
  const double pi = 3.14159265358979;
  gc.SetPen(wxPen(wxColour(235, 240, 250), std::max(1.0, s / 14)));
  gc.StrokePath(ArcPath(gc, cx, cy, r, pi, 2 * pi));
  gc.SetPen(wxPen(wxColour(240, 70, 50), std::max(1.0, s / 10)));
  gc.StrokePath(ArcPath(gc, cx, cy, r, 1.72 * pi, 2 * pi));
  gc.SetPen(wxPen(wxColour(255, 200, 40), std::max(1.0, s / 12)));
  gc.StrokeLine(cx, cy, cx + r * 0.85 * std::cos(1.8 * pi), cy + r * 0.85 * std::sin(1.8 * pi));
  gc.SetPen(*wxTRANSPARENT_PEN);
  gc.SetBrush(wxBrush(wxColour(255, 200, 40)));
  gc.DrawEllipse(cx - s / 12, cy - s / 12, s / 6, s / 6);
  gc.SetBrush(wxBrush(wxColour(90, 230, 140)));
  gc.DrawRoundedRectangle(s * 0.3, s * 0.78, s * 0.4, s * 0.1, s / 30);
}

template <typename Draw>
wxBitmap Paint(int width, int height, Draw draw, bool withAlpha = false) {
  wxBitmap bitmap;
  if (withAlpha) {
    wxImage image(width, height);
    image.InitAlpha();
    std::fill(image.GetAlpha(), image.GetAlpha() + width * height, 0);
    bitmap = wxBitmap(image, 32);
  } else {
    bitmap.Create(width, height, 24);
  }
  {
    wxMemoryDC dc(bitmap);
    std::unique_ptr<wxGraphicsContext> gc(wxGraphicsContext::Create(dc));
    if (gc) {
      gc->SetAntialiasMode(wxANTIALIAS_DEFAULT);
      draw(*gc);
    }
  }
  return bitmap;
}

}  // namespace

wxBitmap LoadResourceBitmap(int id) {
  if (id == edog::IDB_BACKGROUND) {
    return Paint(kBackgroundWidth, kBackgroundHeight,
                 [](wxGraphicsContext& gc) { DrawBackground(gc); });
  }
  if (id == edog::IDB_DEVICE) {
    return Paint(48, 80, [](wxGraphicsContext& gc) { DrawDevice(gc, 48, 80); });
  }
  return wxBitmap();
}

wxBitmap PaintAppIcon(int size) {
  return Paint(size, size, [size](wxGraphicsContext& gc) { DrawIcon(gc, size); }, true);
}

wxIconBundle LoadAppIcon() {
  wxIconBundle bundle;
  for (int size : {16, 32, 48}) {
    wxIcon icon;
    icon.CopyFromBitmap(PaintAppIcon(size));
    bundle.AddIcon(icon);
  }
  return bundle;
}

wxString LoadResourceString(int id) {
  if (id == edog::IDS_ABOUTBOX) return U8("Vantor Information(&A)...");
  return wxString();
}

wxFont LoadMainFont() {
  const std::string face = edog::ChooseFace(edog::MainFontCandidates(), [](const std::string& f) {
    return wxFontEnumerator::IsValidFacename(U8(f));
  });
  if (face.empty()) {
    wxFont font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
    font.SetPointSize(9);
    return font;
  }
  return wxFont(wxFontInfo(9).FaceName(U8(face)));
}
