#include "common/RowMoves.h"

#include <algorithm>
#include <functional>

namespace edog {

std::vector<RowSwap> PlanRowMoves(std::vector<int> selected, int rowCount, int direction) {
  std::vector<RowSwap> swaps;
  if (direction == 0) return swaps;
  std::sort(selected.begin(), selected.end());
  if (direction > 0) std::reverse(selected.begin(), selected.end());
  for (int row : selected) {
    const int target = row + direction;
    if (target < 0 || target >= rowCount) break;
    swaps.push_back({row, target});
  }
  return swaps;
}

std::vector<int> DeletionOrder(std::vector<int> selected) {
  std::sort(selected.begin(), selected.end(), std::greater<int>());
  selected.erase(std::unique(selected.begin(), selected.end()), selected.end());
  return selected;
}

}  // namespace edog
