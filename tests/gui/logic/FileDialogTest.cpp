// The tools' file-dialog filters as the toolkit's wildcards.
#include <gtest/gtest.h>

#include "widgets/FileDialog.h"

namespace {

TEST(FileDialogFilter, TrailingSeparatorsGoAndPatternsLoseTheirPadding) {
  EXPECT_EQ(FilterToWildcard("All File(*.*) |*.*||"), "All File(*.*) |*.*");
  EXPECT_EQ(FilterToWildcard("Wav(*.wav) |*.wav| All File(*.*) |*.*||"),
            "Wav(*.wav) |*.wav| All File(*.*) |*.*");
  EXPECT_EQ(FilterToWildcard("Image(*.bmp)|*.bmp|All File(*.*)|*.*|"),
            "Image(*.bmp)|*.bmp|All File(*.*)|*.*");
  EXPECT_EQ(FilterToWildcard(""), "");
}

}  // namespace
