#pragma once
// Decisions of the three tool windows that are not window work: the compression-bits
// toggle, the double-click rule, and how the windows read their number fields. No window headers here.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace edog {

// "4" becomes "3"; anything else (also "3") becomes "4".
std::string ToggledCompressionBits(const std::string& text);

// A double click on the wave list toggles a row only with the rate-and-bits option set, on
// a row (item 0 or more) and in the "N bit Comp" column.
constexpr int kBitsColumn = 2;
inline bool DoubleClickToggles(bool rateAndBitsOption, long item, long column) {
  return rateAndBitsOption && item >= 0 && column == kBitsColumn;
}

// The column under x (client coordinates, scroll offset included) for columns of the given
// widths shown in the given order (order[k] is the column at display position k);
// -1 right of the last column or left of the first.
int ColumnAtX(int x, const std::vector<int>& widths, const std::vector<int>& order);

// An address field read as the "%x" conversion of formatted input does: leading white
// space, an optional 0x / 0X, hexadecimal digits up to the first other character. Text
// without digits gives 0; nullopt when the digits do not fit 32 bits.
std::optional<uint32_t> ReadHexField(const std::string& text);

}  // namespace edog
