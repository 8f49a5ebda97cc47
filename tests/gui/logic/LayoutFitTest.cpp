// Making room for controls that need more than the template's place.
#include <gtest/gtest.h>

#include "widgets/LayoutFit.h"

namespace edog {
namespace {

LayoutItem Control(int x, int y, int w, int h, int naturalW = 0, int naturalH = 0) {
  LayoutItem item;
  item.box = {x, y, w, h};
  item.naturalW = naturalW;
  item.naturalH = naturalH;
  return item;
}

LayoutItem Group(int x, int y, int w, int h) {
  LayoutItem item = Control(x, y, w, h);
  item.group = true;
  return item;
}

struct Expected {
  int x, y, w, h;
};

TEST(LayoutFit, ControlsGrowAndPushTheirRowAndColumnAlong) {
  struct Case {
    const char* name;
    std::vector<LayoutItem> items;
    LayoutSize client;
    std::vector<Expected> fitted;
    LayoutSize needed;
  };
  const Case cases[] = {
      {"everything fits: nothing moves",
       {Control(10, 10, 50, 20, 40, 15), Control(70, 10, 50, 20)},
       {200, 100},
       {{10, 10, 50, 20}, {70, 10, 50, 20}},
       {200, 100}},
      {"a wider combo box pushes the label and box after it, keeping a small gap",
       {Control(10, 10, 50, 20, 90, 20), Control(64, 12, 40, 15, 40, 15), Control(110, 10, 50, 20)},
       {200, 100},
       {{10, 10, 90, 20}, {104, 12, 40, 15}, {148, 10, 50, 20}},
       {206, 100}},
      {"a growth smaller than the gap moves nothing",
       {Control(10, 10, 50, 20, 70, 20), Control(100, 10, 50, 20)},
       {200, 100},
       {{10, 10, 70, 20}, {100, 10, 50, 20}},
       {200, 100}},
      {"a row pushed past the right edge widens the client area by the margin",
       {Control(10, 10, 50, 20, 150, 20), Control(150, 10, 40, 20)},
       {200, 100},
       {{10, 10, 150, 20}, {164, 10, 40, 20}},
       {212, 100}},
      {"a taller button at the bottom grows the client area downwards",
       {Control(10, 10, 100, 40), Control(140, 80, 50, 14, 50, 30)},
       {200, 100},
       {{10, 10, 100, 40}, {140, 80, 50, 30}},
       {200, 118}},
      {"a taller control pushes the one below it in its column, not one beside it",
       {Control(10, 10, 50, 14, 50, 30), Control(10, 26, 50, 14), Control(100, 26, 50, 14)},
       {200, 100},
       {{10, 10, 50, 30}, {10, 42, 50, 14}, {100, 26, 50, 14}},
       {200, 100}},
      {"a group box grows around what grew inside it",
       {Group(5, 5, 100, 40), Control(10, 15, 40, 20, 120, 20)},
       {200, 100},
       {{5, 5, 133, 40}, {10, 15, 120, 20}},
       {200, 100}},
      {"controls overlapping in the template do not push each other",
       {Control(10, 10, 80, 20, 100, 20), Control(60, 10, 30, 40)},
       {200, 100},
       {{10, 10, 100, 20}, {60, 10, 30, 40}},
       {200, 100}},
      {"a control already hanging outside the client area asks for no room",
       {Control(0, 150, 200, 50)},
       {200, 100},
       {{0, 150, 200, 50}},
       {200, 100}},
  };
  for (const Case& c : cases) {
    std::vector<LayoutItem> items = c.items;
    const LayoutSize needed = FitLayout(items, c.client, /*margin=*/8, /*spacing=*/4);
    ASSERT_EQ(items.size(), c.fitted.size()) << c.name;
    for (size_t i = 0; i < items.size(); ++i) {
      const LayoutBox& b = items[i].box;
      EXPECT_EQ((std::vector<int>{b.x, b.y, b.w, b.h}),
                (std::vector<int>{c.fitted[i].x, c.fitted[i].y, c.fitted[i].w, c.fitted[i].h}))
          << c.name << ", item " << i;
    }
    EXPECT_EQ(needed.w, c.needed.w) << c.name;
    EXPECT_EQ(needed.h, c.needed.h) << c.name;
  }
}

}  // namespace
}  // namespace edog
