// The gradient progress bar's pixels, read back from what it paints.
#include <gtest/gtest.h>
#include <wx/dcmemory.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/panel.h>
#include <wx/settings.h>

#include <memory>

#include "GuiTestSupport.h"
#include "widgets/GradientProgressCtrl.h"

namespace edog {
namespace {

constexpr int kWidth = 330;
constexpr int kHeight = 20;

class GradientBar : public ::testing::Test {
 protected:
  void SetUp() override {
    frame_ = new wxFrame(nullptr, wxID_ANY, "bar", wxPoint(40, 40), wxSize(400, 100));
    // A panel between them, or the frame would stretch its only child.
    auto* panel = new wxPanel(frame_);
    bar_ = new CGradientProgressCtrl(panel, 1014, wxPoint(10, 10), wxSize(kWidth, kHeight));
    bar_->SetStartColor(0x000000);
    bar_->SetEndColor(0xFF0000);
    bar_->SetBkColor(kBackground);
  }
  void TearDown() override {
    frame_->Destroy();
    guitest::Flush();
  }

  // Paints the bar onto a bitmap of its client size and reads it back.
  wxImage Render() const {
    wxBitmap bitmap(kWidth, kHeight, 24);
    {
      wxMemoryDC dc(bitmap);
      dc.SetBackground(wxBrush(wxColour(1, 2, 3)));  // no colour the bar uses
      dc.Clear();
      bar_->Render(dc, wxSize(kWidth, kHeight));
    }
    return bitmap.ConvertToImage();
  }
  static wxColour At(const wxImage& image, int x, int y) {
    return wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y));
  }
  // First column (on the top row, clear of any text) showing the background colour.
  static int FirstBackgroundColumn(const wxImage& image) {
    for (int x = 0; x < image.GetWidth(); ++x) {
      if (At(image, x, 0) == ToWxColour(kBackground)) return x;
    }
    return image.GetWidth();
  }

  static constexpr ColorRef kBackground = 0x40C0E0;  // a colour the gradient never has
  wxFrame* frame_ = nullptr;
  CGradientProgressCtrl* bar_ = nullptr;
};

TEST_F(GradientBar, Position37FillsThirtySevenPercentOfTheWidth) {
  bar_->SetRange(0, 100);
  bar_->SetPos(37);
  const wxImage image = Render();
  const int edge = FirstBackgroundColumn(image);
  const int filled = 37 * kWidth / 100;
  // The band crossing the filled width is drawn whole: at most one band (330/255 px) more.
  EXPECT_GE(edge, filled);
  EXPECT_LE(edge, filled + 2);
  for (int x = edge; x < kWidth; ++x) EXPECT_EQ(At(image, x, 0), ToWxColour(kBackground)) << x;
  // Black towards blue: the blue channel follows the column, red and green stay 0.
  for (int x = 0; x < edge; x += 7) {
    const wxColour c = At(image, x, 0);
    EXPECT_EQ(c.Red(), 0);
    EXPECT_EQ(c.Green(), 0);
    EXPECT_NEAR(c.Blue(), 255.0 * x / kWidth, 2.0) << x;
  }
  // The gradient covers the full height.
  EXPECT_EQ(At(image, 5, kHeight - 1), At(image, 5, 0));
}

TEST_F(GradientBar, FullPositionEndsTheLastBandAtTheRightEdge) {
  bar_->SetRange(0, 100);
  bar_->SetPos(100);
  const wxImage image = Render();
  EXPECT_EQ(FirstBackgroundColumn(image), kWidth);
  EXPECT_GE(At(image, kWidth - 1, 0).Blue(), 250);
  EXPECT_EQ(At(image, 0, 0), wxColour(0, 0, 0));
}

TEST_F(GradientBar, OutOfRangePaintsOnlyTheButtonFace) {
  const wxColour face = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE);
  bar_->ShowPercent(true);
  bar_->SetRange(10, 100);
  for (int position : {9, 101, -5}) {
    bar_->SetPos(position);
    const wxImage image = Render();
    for (int y = 0; y < kHeight; y += 3) {
      for (int x = 0; x < kWidth; x += 5) {
        ASSERT_EQ(At(image, x, y), face) << position << " at " << x << "," << y;
      }
    }
  }
}

TEST_F(GradientBar, LowerEndShowsBackgroundWithTheZeroPercentText) {
  bar_->SetRange(0, 100);
  bar_->SetPos(0);
  wxImage image = Render();
  int background = 0, other = 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      (At(image, x, y) == ToWxColour(kBackground) ? background : other)++;
    }
  }
  EXPECT_EQ(other, 0);  // blanked, no text

  // The white text colour cannot be read on this light background: it is drawn dark.
  bar_->ShowPercent(true);
  image = Render();
  int dark = 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const wxColour c = At(image, x, y);
      if (c.Red() < 100 && c.Green() < 100 && c.Blue() < 100) {
        ++dark;
        EXPECT_GT(x, kWidth / 2 - 40);  // "0%" sits in the middle
        EXPECT_LT(x, kWidth / 2 + 40);
      }
    }
  }
  EXPECT_GT(dark, 5);
}

TEST_F(GradientBar, StatusWindowTextReadsOverTheFillAndTheBackground) {
  // The download status window's colours: teal to navy with dark green text. The text
  // straddles the fill's end at 50 %: white over the fill, green beside it.
  bar_->SetStartColor(0x808000);
  bar_->SetEndColor(0x800000);
  bar_->SetTextColor(0x008000);
  bar_->SetBkColor(0xFFFFFF);
  bar_->ShowPercent(true);
  bar_->SetRange(0, 100);
  bar_->SetPos(50);
  const wxImage image = Render();
  const int fillEnd = kWidth / 2;
  int whiteOverFill = 0, greenOverBackground = 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = kWidth / 2 - 40; x < kWidth / 2 + 40; ++x) {
      const wxColour c = At(image, x, y);
      if (x < fillEnd && c.Red() > 200 && c.Green() > 200 && c.Blue() > 200) ++whiteOverFill;
      if (x >= fillEnd && c.Green() > 60 && c.Red() < 90 && c.Blue() < 90) ++greenOverBackground;
    }
  }
  EXPECT_GT(whiteOverFill, 5);
  EXPECT_GT(greenOverBackground, 5);
}

TEST_F(GradientBar, PercentTextIsWhiteAndCentred) {
  bar_->SetRange(0, 100);
  bar_->SetPos(100);
  const wxImage plain = Render();
  bar_->ShowPercent(true);
  bar_->SetCaption("edogvoice.hdr");
  const wxImage text = Render();
  int changed = 0, minX = kWidth, maxX = 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      if (At(plain, x, y) != At(text, x, y)) {
        ++changed;
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
      }
    }
  }
  ASSERT_GT(changed, 20);
  EXPECT_NEAR((minX + maxX) / 2.0, kWidth / 2.0, 4.0);
}

TEST_F(GradientBar, EqualColoursPaintTheBackground) {
  bar_->SetStartColor(0xFF0000);
  bar_->SetRange(0, 100);
  bar_->SetPos(60);
  const wxImage image = Render();
  EXPECT_EQ(FirstBackgroundColumn(image), 0);
  EXPECT_EQ(At(image, kWidth - 1, kHeight - 1), ToWxColour(kBackground));
}

TEST_F(GradientBar, RangeAndPositionBookkeeping) {
  bar_->SetPos(40);
  bar_->SetRange(20, 80);
  EXPECT_EQ(bar_->GetPos(), 20);  // a new range moves the position to its lower end
  EXPECT_EQ(bar_->SetPos(55), 20);
  EXPECT_EQ(bar_->GetPos(), 55);
  bar_->SetStep(5);
  EXPECT_EQ(bar_->GetStep(), 5);
}

TEST_F(GradientBar, OnScreenPaintMatchesTheRendering) {
  bar_->SetRange(0, 100);
  bar_->SetPos(37);
  frame_->Show();
  ASSERT_TRUE(guitest::RunLoopUntil([&] { return bar_->IsShownOnScreen(); }));
  const wxImage screen = guitest::Capture(bar_).ConvertToImage();
  guitest::SaveArtifact(guitest::Capture(bar_), "gradient-bar-37.png");
  const wxImage rendered = Render();
  ASSERT_EQ(screen.GetWidth(), kWidth);
  EXPECT_EQ(FirstBackgroundColumn(screen), FirstBackgroundColumn(rendered));
  for (int x = 0; x < kWidth; x += 11) EXPECT_EQ(At(screen, x, 0), At(rendered, x, 0)) << x;
}

}  // namespace
}  // namespace edog
