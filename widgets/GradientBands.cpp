#include "widgets/GradientBands.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "common/Format.h"

namespace edog {

namespace {

int TruncateToInt(double v) {
  if (std::isnan(v)) return 0;
  // Keep far-away values (a negative lower end measured against a small upper end)
  // inside int instead of overflowing the conversion.
  v = std::clamp(v, -2147483520.0, 2147483520.0);
  return static_cast<int>(v);
}

uint8_t ChannelAt(int start, float step, int i) {
  const int v = static_cast<int>(static_cast<float>(start) + step * static_cast<float>(i));
  return static_cast<uint8_t>(((v % 256) + 256) % 256);
}

}  // namespace

ColorRef PlanColorAt(const GradientPlan& plan, int x, ColorRef background) {
  ColorRef color = background;
  for (const FillRect& fill : plan.fills) {
    if (x >= fill.left && x < fill.right) color = fill.color;
  }
  return color;
}

namespace {

double RelativeLuminance(ColorRef c) {
  auto linear = [](uint8_t channel) {
    const double v = channel / 255.0;
    return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear(RedOf(c)) + 0.7152 * linear(GreenOf(c)) + 0.0722 * linear(BlueOf(c));
}

double Contrast(ColorRef a, ColorRef b) {
  const double la = RelativeLuminance(a), lb = RelativeLuminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

}  // namespace

ColorRef LegibleTextColor(ColorRef text, ColorRef under) {
  constexpr double kReadable = 4.5;
  constexpr ColorRef kWhite = 0xFFFFFF, kBlack = 0x000000;
  if (Contrast(text, under) >= kReadable) return text;
  return Contrast(kWhite, under) >= Contrast(kBlack, under) ? kWhite : kBlack;
}

int GradientFilledWidth(int position, int upper, int clientRight) {
  if (upper == 0) return 0;
  const float ratio = static_cast<float>(position) / static_cast<float>(upper);
  return TruncateToInt(static_cast<double>(ratio * static_cast<float>(clientRight)));
}

GradientPlan PlanGradient(ColorRef start, ColorRef end, ColorRef background, int clientRight,
                          int clientBottom, int filledWidth) {
  GradientPlan plan;
  const int r0 = RedOf(start), g0 = GreenOf(start), b0 = BlueOf(start);
  const int dr = RedOf(end) - r0, dg = GreenOf(end) - g0, db = BlueOf(end) - b0;
  const int bands = std::max({std::abs(dr), std::abs(dg), std::abs(db)});
  plan.bandCount = bands;
  if (bands <= 0) {
    plan.fills.push_back({0, 0, clientRight, clientBottom, background});
    return plan;
  }
  const float bandWidth = static_cast<float>(clientRight) / static_cast<float>(bands);
  const float stepR = static_cast<float>(dr) / static_cast<float>(bands);
  const float stepG = static_cast<float>(dg) / static_cast<float>(bands);
  const float stepB = static_cast<float>(db) / static_cast<float>(bands);
  for (int i = 0; i < bands; ++i) {
    FillRect band;
    band.left = static_cast<int>(static_cast<float>(i) * bandWidth);
    band.right = static_cast<int>(static_cast<float>(i + 1) * bandWidth);
    band.top = 0;
    band.bottom = clientBottom + 1;
    band.color = MakeColorRef(ChannelAt(r0, stepR, i), ChannelAt(g0, stepG, i),
                              ChannelAt(b0, stepB, i));
    plan.fills.push_back(band);
    if (filledWidth == 0) {
      plan.fills.push_back({0, 0, clientRight, clientBottom, background});
      break;
    }
    if (band.right > filledWidth) {
      plan.fills.push_back({band.right, 0, clientRight, clientBottom, background});
      break;
    }
  }
  return plan;
}

std::string GradientPercentText(int position, int upper, const std::string& caption) {
  const double percent =
      upper == 0 ? 0.0 : static_cast<double>(position) * 100.0 / static_cast<double>(upper);
  std::string text = Format("%.0f%%", percent);
  if (!caption.empty()) text += " : " + caption;
  return text;
}

}  // namespace edog
