#pragma once
// Making room for controls whose text needs more than the template's place, free of any
// window code: each control grows to its natural size and pushes the controls after it
// on its row or in its column along, so none comes to cover another and the template's
// order stays; group boxes grow to keep holding what they held; the client area grows to
// hold what grew or moved.
#include <vector>

namespace edog {

struct LayoutBox {
  int x = 0, y = 0, w = 0, h = 0;
  int Right() const { return x + w; }
  int Bottom() const { return y + h; }
};

struct LayoutItem {
  LayoutBox box;                 // in: the template's place; out: the fitted place
  int naturalW = 0, naturalH = 0;  // what the control needs to show itself whole
  bool group = false;            // a group box: holds the controls inside its place
};

struct LayoutSize {
  int w = 0, h = 0;
};

// Fits `items` in place and returns the client size they need: at least `client`, grown
// to hold every item with `margin` to spare. Controls never shrink; a control moves only
// as far as needed to clear the one before it, keeping at most `spacing` between them.
LayoutSize FitLayout(std::vector<LayoutItem>& items, LayoutSize client, int margin, int spacing);

}  // namespace edog
