#include "tools/ui/ToolWindow.h"

#include <wx/button.h>
#include <wx/listctrl.h>

#include "tools/ToolTexts.h"
#include "widgets/ListRows.h"
#include "widgets/MessageBox.h"
#include "widgets/WxText.h"

using namespace edog;

void BindToolCancel(wxDialog& window, std::function<void()> onCancel) {
  window.Bind(wxEVT_BUTTON, [onCancel](wxCommandEvent&) { onCancel(); }, wxID_CANCEL);
  window.Bind(wxEVT_CLOSE_WINDOW, [onCancel](wxCloseEvent&) { onCancel(); });
  window.Bind(wxEVT_CHAR_HOOK, [onCancel](wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_ESCAPE) {
      onCancel();
    } else {
      event.Skip();
    }
  });
}

void CloseToolWindow(wxDialog& window, int code) {
  if (window.IsModal()) {
    window.EndModal(code);
  } else {
    window.Hide();
  }
}

void CancelToolRun(wxDialog& window, ToolRun& run, int code) {
  if (!run.Cancel()) CloseToolWindow(window, code);
}

bool EndCancelledRun(wxDialog& window, ToolRun& run,
                     const std::vector<std::string>& finishedOutputs) {
  if (!run.End(finishedOutputs)) return false;
  ShowMessageBox(U8(kRunCancelledText), ApplicationCaption(), wxOK, &window);
  CloseToolWindow(window, wxID_CANCEL);
  return true;
}

void BindListEdits(wxDialog& window, wxListCtrl& list, const ToolRun& run, int deleteId,
                   int moveUpId, int moveDownId) {
  wxListCtrl* rows = &list;
  const ToolRun* working = &run;
  window.Bind(wxEVT_BUTTON, [rows, working](wxCommandEvent&) {
    if (!working->Running()) DeleteSelectedRows(*rows);
  }, deleteId);
  for (const auto& [id, direction] : {std::pair{moveUpId, -1}, std::pair{moveDownId, +1}}) {
    window.Bind(wxEVT_BUTTON, [rows, working, direction = direction](wxCommandEvent&) {
      if (!working->Running()) MoveSelectedRows(*rows, direction);
    }, id);
  }
}

void FocusStopDuringRun(wxDialog& window, int cancelId) {
  if (wxWindow* stop = window.FindWindow(cancelId)) stop->SetFocus();
}

void LockList(wxListCtrl& list, std::initializer_list<wxButton*> buttons, bool locked) {
  list.Enable(!locked);
  for (wxButton* b : buttons) b->Enable(!locked);
}
