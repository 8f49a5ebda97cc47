// The developer layout of the main window, without a display.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/DeveloperLayout.h"
#include "gui/LayoutChecks.h"

namespace edog {
namespace {

TEST(DeveloperLayout, EveryControlStandsOnItsOwnOffThePictureInsideTheClientArea) {
  // The shipped picture in the main window's font, a smaller and a larger picture, none.
  const LayoutSize pictures[] = {{333, 143}, {200, 93}, {420, 260}, {0, 0}};
  for (const LayoutSize picture : pictures) {
    SCOPED_TRACE(std::to_string(picture.w) + "x" + std::to_string(picture.h));
    const DeveloperArrangement arrangement = ArrangeDeveloperLayout(picture);
    std::vector<test::NamedBox> boxes;
    std::set<std::string> names;
    for (const DeveloperPlace& place : arrangement.places) {
      const std::string name = place.id ? "id " + std::to_string(place.id) : place.text;
      EXPECT_TRUE(names.insert(name).second) << name << " has two places";
      const LayoutBox& b = place.box;
      EXPECT_TRUE(b.w > 0 && b.h > 0 && b.x >= 0 && b.y >= 0) << name;
      EXPECT_LT(b.Right(), arrangement.client.w) << name;
      EXPECT_LT(b.Bottom(), arrangement.client.h) << name;
      boxes.push_back({name, b, place.group});
    }
    EXPECT_EQ(test::ArrangementFaults(boxes, {0, 0, picture.w, picture.h}),
              std::vector<std::string>{});
    EXPECT_GE(arrangement.client.w, picture.w);
    EXPECT_GE(arrangement.client.h, picture.h);
  }
}

TEST(DeveloperLayout, FaultsAreFound) {
  // The checker itself: what the template does (a label on the picture, a panel over a
  // group it is not inside, two buttons on each other) is reported, a held control is not.
  const std::vector<test::NamedBox> boxes = {
      {"group", {0, 100, 100, 40}, true},
      {"inside", {10, 110, 30, 10}},
      {"across", {90, 120, 30, 10}},
      {"radio", {10, 20, 30, 10}},
      {"Reset", {200, 10, 50, 20}},
      {"Browse", {240, 10, 50, 20}},
  };
  EXPECT_EQ(test::ArrangementFaults(boxes, {0, 0, 100, 50}),
            (std::vector<std::string>{"group and across overlap", "radio lies on the picture",
                                      "Reset and Browse overlap"}));
}

}  // namespace
}  // namespace edog
