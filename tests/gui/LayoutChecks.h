#pragma once
// What makes an arrangement of controls readable, checked the same way on the layout
// logic's boxes and on a real window's rectangles.
#include <string>
#include <vector>

#include "widgets/LayoutFit.h"

namespace edog::test {

struct NamedBox {
  std::string name;
  LayoutBox box;
  bool group = false;  // a group box: may hold controls whole, nothing else
};

inline bool Meet(const LayoutBox& a, const LayoutBox& b) {
  return a.x < b.Right() && b.x < a.Right() && a.y < b.Bottom() && b.y < a.Bottom();
}

inline bool Holds(const LayoutBox& outer, const LayoutBox& inner) {
  return inner.x >= outer.x && inner.y >= outer.y && inner.Right() <= outer.Right() &&
         inner.Bottom() <= outer.Bottom();
}

// One line per fault: two controls on each other, a group box across a control or another
// group box, anything on the picture. Empty when every box stands on its own.
inline std::vector<std::string> ArrangementFaults(const std::vector<NamedBox>& boxes,
                                                  const LayoutBox& picture) {
  std::vector<std::string> faults;
  for (size_t i = 0; i < boxes.size(); ++i) {
    const NamedBox& a = boxes[i];
    if (Meet(a.box, picture)) faults.push_back(a.name + " lies on the picture");
    for (size_t j = i + 1; j < boxes.size(); ++j) {
      const NamedBox& b = boxes[j];
      if (!Meet(a.box, b.box)) continue;
      if (a.group != b.group && Holds(a.group ? a.box : b.box, a.group ? b.box : a.box)) continue;
      faults.push_back(a.name + " and " + b.name + " overlap");
    }
  }
  return faults;
}

}  // namespace edog::test
