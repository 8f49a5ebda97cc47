// Off-screen drawing: what is drawn through CMemDC reaches the target at the same
// coordinates, within the target's clip box, in one copy at the end.
#include <gtest/gtest.h>
#include <wx/dcmemory.h>
#include <wx/image.h>

#include "widgets/MemDC.h"

namespace {

wxColour At(const wxBitmap& bitmap, int x, int y) {
  const wxImage image = bitmap.ConvertToImage();
  return wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y));
}

TEST(MemDC, DrawsOffScreenAndCopiesTheClipBoxAtTheSameCoordinates) {
  wxBitmap target(100, 60, 24);
  {
    wxMemoryDC dc(target);
    dc.SetBackground(*wxWHITE_BRUSH);
    dc.Clear();
    dc.SetClippingRegion(20, 10, 50, 30);
    {
      CMemDC mem(dc);
      ASSERT_TRUE(mem.IsOffScreen());
      EXPECT_EQ(mem.Rect(), wxRect(20, 10, 50, 30));
      mem->SetPen(*wxTRANSPARENT_PEN);
      mem->SetBrush(*wxRED_BRUSH);
      mem->DrawRectangle(0, 0, 100, 60);  // beyond the clip box on every side
      mem->SetBrush(*wxBLUE_BRUSH);
      mem->DrawRectangle(30, 15, 5, 5);
      // Nothing reaches the target before the copy.
      wxColour before;
      ASSERT_TRUE(dc.GetPixel(31, 16, &before));
      EXPECT_EQ(before, *wxWHITE);
    }
    dc.DestroyClippingRegion();
  }
  EXPECT_EQ(At(target, 31, 16), *wxBLUE);   // same coordinates as drawn
  EXPECT_EQ(At(target, 20, 10), *wxRED);    // clip box's corner
  EXPECT_EQ(At(target, 69, 39), *wxRED);    // its far corner
  EXPECT_EQ(At(target, 19, 10), *wxWHITE);  // outside the clip box: untouched
  EXPECT_EQ(At(target, 70, 39), *wxWHITE);
  EXPECT_EQ(At(target, 40, 40), *wxWHITE);
}

TEST(MemDC, WithoutClippingCoversTheWholeTarget) {
  wxBitmap target(40, 20, 24);
  {
    wxMemoryDC dc(target);
    CMemDC mem(dc);
    EXPECT_EQ(mem.Rect(), wxRect(0, 0, 40, 20));
    mem->SetBackground(*wxGREEN_BRUSH);
    mem->Clear();
  }
  EXPECT_EQ(At(target, 0, 0), *wxGREEN);
  EXPECT_EQ(At(target, 39, 19), *wxGREEN);
}

}  // namespace
