#pragma once
// What the three tool windows share as windows: Cancel, the close box and Esc going to one
// handler, closing whether shown modally or not, the end of a cancelled run, and the file
// list with its edit buttons resting while a run works.
#include <wx/dialog.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "tools/ToolRun.h"

class wxButton;
class wxListCtrl;

// The close box, Esc and the Cancel button (where the window has one) call `onCancel`.
void BindToolCancel(wxDialog& window, std::function<void()> onCancel);
// Ends the window's modal run, or hides a window shown without one.
void CloseToolWindow(wxDialog& window, int code);
// Cancel or Esc: a run going is asked to stop (the window closes at its end, in
// EndCancelledRun); without a run the window closes with `code`.
void CancelToolRun(wxDialog& window, edog::ToolRun& run, int code = wxID_CANCEL);
// At the run's end, on the window's thread: waits for the worker; when the run was
// cancelled, removes what a finished run wrote, says so and closes the window (true).
bool EndCancelledRun(wxDialog& window, edog::ToolRun& run,
                     const std::vector<std::string>& finishedOutputs = {});

// Delete, MoveUp and MoveDown of the window's list (by their button ids); nothing while
// the run works.
void BindListEdits(wxDialog& window, wxListCtrl& list, const edog::ToolRun& run, int deleteId,
                   int moveUpId, int moveDownId);
// The list and its edit buttons rest while a run works.
void LockList(wxListCtrl& list, std::initializer_list<wxButton*> buttons, bool locked);
// At a run's start: the keyboard focus goes to the button that stops it (`cancelId`), so
// that Esc still reaches the window once the button just pressed has gone off.
void FocusStopDuringRun(wxDialog& window, int cancelId);
