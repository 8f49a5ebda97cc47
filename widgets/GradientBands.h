#pragma once
// The painting plan of the gradient progress bar, free of any window code so that the
// band arithmetic can be checked exactly: which bands are filled in which colour, and
// where the background colour takes over.
#include <cstdint>
#include <string>
#include <vector>

namespace edog {

// Colour references as the device-side tools write them: 0x00BBGGRR.
using ColorRef = uint32_t;
constexpr uint8_t RedOf(ColorRef c) { return static_cast<uint8_t>(c & 0xFF); }
constexpr uint8_t GreenOf(ColorRef c) { return static_cast<uint8_t>((c >> 8) & 0xFF); }
constexpr uint8_t BlueOf(ColorRef c) { return static_cast<uint8_t>((c >> 16) & 0xFF); }
constexpr ColorRef MakeColorRef(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<ColorRef>(r) | (static_cast<ColorRef>(g) << 8) |
         (static_cast<ColorRef>(b) << 16);
}

struct FillRect {
  int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
  ColorRef color = 0;
};

struct GradientPlan {
  // Filled one after the other, in order (a later fill may cover an earlier one).
  std::vector<FillRect> fills;
  int bandCount = 0;  // bands the colours call for; 0 when the colours are equal
};

// Filled width of the bar: (float)position / (float)upper x client right edge, truncated.
// The lower end is not subtracted. An upper end of 0 gives 0 instead of a division by 0.
int GradientFilledWidth(int position, int upper, int clientRight);

// Bands for a client area of (0, 0, clientRight, clientBottom) filled up to filledWidth:
// band count = largest channel difference, band i spans (int)(i x w) .. (int)((i+1) x w)
// with w = right / bands, from y 0 to clientBottom + 1; the band that crosses the filled
// width is drawn whole and the background fills the rest. With equal colours no band is
// called for and the whole client area gets the background colour.
GradientPlan PlanGradient(ColorRef start, ColorRef end, ColorRef background, int clientRight,
                          int clientBottom, int filledWidth);

// Colour of the plan at column x: the last fill that covers it (the background where none
// does).
ColorRef PlanColorAt(const GradientPlan& plan, int x, ColorRef background);

// The text colour to draw over `under`: the given one where it stands out enough to read
// (contrast ratio 4.5:1 of relative luminances), else white or black, whichever stands out
// more. Dark green percentages over a navy fill become white; white over a light button
// face becomes black.
ColorRef LegibleTextColor(ColorRef text, ColorRef under);

// "%.0f%%" of position x 100.0 / upper, with " : caption" when the caption is not empty.
std::string GradientPercentText(int position, int upper, const std::string& caption);

// Whether a position lies outside lower..upper (the bar then shows only the button face).
inline bool GradientOutOfRange(int position, int lower, int upper) {
  return position < lower || position > upper;
}

// The blanking text drawn at the lower end: 46 spaces in the background colour.
inline const std::string& GradientBlankText() {
  static const std::string blank(46, ' ');
  return blank;
}

}  // namespace edog
