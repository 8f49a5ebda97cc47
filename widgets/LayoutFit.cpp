#include "widgets/LayoutFit.h"

#include <algorithm>

namespace edog {

namespace {

bool RowsMeet(const LayoutBox& a, const LayoutBox& b) { return a.y < b.Bottom() && b.y < a.Bottom(); }
bool ColumnsMeet(const LayoutBox& a, const LayoutBox& b) { return a.x < b.Right() && b.x < a.Right(); }
bool Holds(const LayoutBox& outer, const LayoutBox& inner) {
  return inner.x >= outer.x && inner.y >= outer.y && inner.Right() <= outer.Right() &&
         inner.Bottom() <= outer.Bottom();
}

// Controls in the order of `key` on the template (left edges, or top edges).
template <typename Key>
std::vector<size_t> ControlsInOrder(const std::vector<LayoutItem>& items, Key key) {
  std::vector<size_t> order;
  for (size_t i = 0; i < items.size(); ++i) {
    if (!items[i].group) order.push_back(i);
  }
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return key(items[a].box) < key(items[b].box); });
  return order;
}

}  // namespace

LayoutSize FitLayout(std::vector<LayoutItem>& items, LayoutSize client, int margin, int spacing) {
  const std::vector<LayoutItem> placed = items;
  for (LayoutItem& item : items) {
    if (item.group) continue;
    item.box.w = std::max(item.box.w, item.naturalW);
    item.box.h = std::max(item.box.h, item.naturalH);
  }
  // Along the rows: a control that stood clear to the right of another stays clear of it.
  const auto byLeft = ControlsInOrder(placed, [](const LayoutBox& b) { return b.x; });
  for (size_t i : byLeft) {
    for (size_t j : byLeft) {
      const LayoutBox& a = placed[i].box;
      const LayoutBox& b = placed[j].box;
      if (i == j || b.x < a.Right() || !RowsMeet(a, b)) continue;
      const int gap = std::min(b.x - a.Right(), spacing);
      items[j].box.x = std::max(items[j].box.x, items[i].box.Right() + gap);
    }
  }
  // Down the columns, the same with the controls' new widths.
  const auto byTop = ControlsInOrder(placed, [](const LayoutBox& b) { return b.y; });
  for (size_t i : byTop) {
    for (size_t j : byTop) {
      const LayoutBox& a = placed[i].box;
      const LayoutBox& b = placed[j].box;
      if (i == j || b.y < a.Bottom() || !ColumnsMeet(items[i].box, items[j].box)) continue;
      const int gap = std::min(b.y - a.Bottom(), spacing);
      items[j].box.y = std::max(items[j].box.y, items[i].box.Bottom() + gap);
    }
  }
  // Group boxes keep holding what they held, with at most `margin` to spare.
  for (size_t g = 0; g < items.size(); ++g) {
    if (!items[g].group) continue;
    const LayoutBox outer = placed[g].box;
    for (size_t c = 0; c < items.size(); ++c) {
      if (items[c].group || !Holds(outer, placed[c].box)) continue;
      const int padRight = std::min(outer.Right() - placed[c].box.Right(), margin);
      const int padBottom = std::min(outer.Bottom() - placed[c].box.Bottom(), margin);
      LayoutBox& box = items[g].box;
      box.w = std::max(box.w, items[c].box.Right() + padRight - box.x);
      box.h = std::max(box.h, items[c].box.Bottom() + padBottom - box.y);
    }
  }
  LayoutSize needed = client;
  for (size_t i = 0; i < items.size(); ++i) {
    const LayoutBox& box = items[i].box;
    const LayoutBox& was = placed[i].box;
    // Only what grew or moved asks for room: the template's own overhangs stay as they are.
    if (box.Right() > was.Right()) needed.w = std::max(needed.w, box.Right() + margin);
    if (box.Bottom() > was.Bottom()) needed.h = std::max(needed.h, box.Bottom() + margin);
  }
  return needed;
}

}  // namespace edog
