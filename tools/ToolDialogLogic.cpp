#include "tools/ToolDialogLogic.h"

#include <cctype>

namespace edog {

std::string ToggledCompressionBits(const std::string& text) { return text == "4" ? "3" : "4"; }

int ColumnAtX(int x, const std::vector<int>& widths, const std::vector<int>& order) {
  if (x < 0) return -1;
  int left = 0;
  for (int column : order) {
    if (column < 0 || static_cast<size_t>(column) >= widths.size()) continue;
    left += widths[static_cast<size_t>(column)];
    if (x < left) return column;
  }
  return -1;
}

std::optional<uint32_t> ReadHexField(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
      i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 2])))
    i += 2;
  uint64_t value = 0;
  for (; i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])); ++i) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
    value = value * 16 + static_cast<uint64_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    if (value > UINT32_MAX) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

}  // namespace edog
