#pragma once
// Row edits shared by the tool windows' report-style lists: rows are nothing but their
// column texts, so moving a row is exchanging texts.
#include <wx/listctrl.h>

#include <string>
#include <vector>

// Indices of the selected rows, ascending.
std::vector<int> SelectedRows(const wxListCtrl& list);
// Appends a row with one text per column; returns its index.
long AppendRow(wxListCtrl& list, const std::vector<std::string>& texts);
// Exchanges the texts of two rows in every column (equal indices do nothing).
void SwapRows(wxListCtrl& list, int a, int b);
// MoveUp (-1) / MoveDown (+1) of the selected rows: selection and focus follow each moved
// row; the walk stops at the first row that cannot move. The list then takes the focus.
void MoveSelectedRows(wxListCtrl& list, int direction);
// Deletes the selected rows, highest index first.
void DeleteSelectedRows(wxListCtrl& list);
// The column texts of every row, in list order.
std::vector<std::string> ColumnTexts(const wxListCtrl& list, int column);
