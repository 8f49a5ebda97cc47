#include "widgets/ListRows.h"

#include "common/RowMoves.h"
#include "widgets/WxText.h"

std::vector<int> SelectedRows(const wxListCtrl& list) {
  std::vector<int> rows;
  for (long i = list.GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); i >= 0;
       i = list.GetNextItem(i, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED)) {
    rows.push_back(static_cast<int>(i));
  }
  return rows;
}

long AppendRow(wxListCtrl& list, const std::vector<std::string>& texts) {
  const long row = list.InsertItem(list.GetItemCount(), texts.empty() ? wxString() : U8(texts[0]));
  for (size_t c = 1; c < texts.size(); ++c) list.SetItem(row, static_cast<int>(c), U8(texts[c]));
  return row;
}

void SwapRows(wxListCtrl& list, int a, int b) {
  if (a == b) return;
  // Whole texts: a path longer than any fixed buffer must not be cut short by a move.
  for (int c = 0; c < list.GetColumnCount(); ++c) {
    const wxString textA = list.GetItemText(a, c);
    const wxString textB = list.GetItemText(b, c);
    list.SetItem(a, c, textB);
    list.SetItem(b, c, textA);
  }
}

void MoveSelectedRows(wxListCtrl& list, int direction) {
  const std::vector<int> selected = SelectedRows(list);
  if (selected.empty()) return;
  constexpr long kMarks = wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED;
  for (const edog::RowSwap& swap : edog::PlanRowMoves(selected, list.GetItemCount(), direction)) {
    SwapRows(list, swap.from, swap.to);
    list.SetItemState(swap.to, kMarks, kMarks);
    list.SetItemState(swap.from, 0, kMarks);
  }
  list.SetFocus();
}

void DeleteSelectedRows(wxListCtrl& list) {
  for (int row : edog::DeletionOrder(SelectedRows(list))) list.DeleteItem(row);
}

std::vector<std::string> ColumnTexts(const wxListCtrl& list, int column) {
  std::vector<std::string> texts;
  for (long i = 0; i < list.GetItemCount(); ++i) texts.push_back(ToU8(list.GetItemText(i, column)));
  return texts;
}
