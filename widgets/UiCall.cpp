#include "widgets/UiCall.h"

#include <wx/app.h>
#include <wx/thread.h>

std::shared_ptr<UiCallTarget> UiCallTarget::Create() {
  return std::shared_ptr<UiCallTarget>(new UiCallTarget());
}

bool UiCallTarget::Attached() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return attached_;
}

bool UiCallTarget::Send(std::function<void()> call) {
  if (wxThread::IsMain()) {
    if (!Attached()) return false;
    call();
    return true;
  }
  if (!wxTheApp || !Attached()) return false;
  struct Outcome {
    bool done = false;
    bool ran = false;
  };
  auto outcome = std::make_shared<Outcome>();
  std::shared_ptr<UiCallTarget> self = shared_from_this();
  // The call runs only while attached; Detach runs on the UI thread too, so a call that
  // started finishes before any Detach, and a worker let go early is never touched again.
  wxTheApp->CallAfter([self, outcome, call = std::move(call)] {
    const bool run = self->Attached();
    if (run) call();
    {
      std::lock_guard<std::mutex> lock(self->mutex_);
      outcome->done = true;
      outcome->ran = run;
    }
    self->changed_.notify_all();
  });
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return outcome->done || !attached_; });
  return outcome->ran;
}

void UiCallTarget::Post(std::function<void()> call) {
  if (!wxTheApp || !Attached()) return;
  std::shared_ptr<UiCallTarget> self = shared_from_this();
  wxTheApp->CallAfter([self, call = std::move(call)] {
    if (self->Attached()) call();
  });
}

void UiCallTarget::Detach() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    attached_ = false;
  }
  changed_.notify_all();
}
