#pragma once
// The walk of MoveUp / MoveDown and Delete over the selected rows of a list, kept apart from
// any list control so the tool windows and their tests share it.
#include <vector>

namespace edog {

// One step of a move: exchange the texts of rows `from` and `to`, then select and focus
// `to` and deselect `from`.
struct RowSwap {
  int from;
  int to;
};

// The swaps of MoveUp (direction -1) or MoveDown (+1) for the selected rows (any order).
// MoveUp walks the selection from the first row, MoveDown from the last; the walk stops at
// the first row whose target lies outside the list, and the rows not yet handled stay.
std::vector<RowSwap> PlanRowMoves(std::vector<int> selected, int rowCount, int direction);

// Delete removes the selected rows from the highest index down, so the others stay valid.
std::vector<int> DeletionOrder(std::vector<int> selected);

}  // namespace edog
