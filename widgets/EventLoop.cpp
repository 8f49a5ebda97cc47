#include "widgets/EventLoop.h"

#include <wx/app.h>
#include <wx/evtloop.h>

#include <memory>

#include "common/TimerResolution.h"

void DispatchEventsUntil(const std::function<bool()>& done) {
  // Its 5 ms rounds would otherwise last a whole scheduler tick on Windows.
  const edog::FineTimerResolution fineTimer;
  wxEventLoopBase* running = wxEventLoopBase::GetActive();
  std::unique_ptr<wxGUIEventLoop> own;
  std::unique_ptr<wxEventLoopActivator> activate;
  if (!running || !running->IsRunning()) {
    own = std::make_unique<wxGUIEventLoop>();
    activate = std::make_unique<wxEventLoopActivator>(own.get());
    running = own.get();
  }
  for (;;) {
    if (wxTheApp) wxTheApp->ProcessPendingEvents();
    if (done()) return;
    while (running->Pending()) running->Dispatch();
    running->DispatchTimeout(5);
    running->ProcessIdle();
  }
}

void EndDialogWith(wxDialog& dialog, int code) {
  if (dialog.IsModal()) {
    dialog.EndModal(code);
  } else {
    dialog.SetReturnCode(code);
    dialog.Hide();
  }
}
