#pragma once
// One run of a tool window on its worker thread, and what Cancel (or Esc) does to it: the
// run polls the stop at its steps, a stop cuts its pauses short, and at its end a cancelled
// run's outputs go even when it had finished before it saw the stop. No window headers here.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace edog {

class ToolRun {
 public:
  ToolRun() = default;
  ToolRun(const ToolRun&) = delete;
  ToolRun& operator=(const ToolRun&) = delete;
  ~ToolRun() { Halt(); }

  // Stops a run still going and waits for it: for a window that goes, before anything
  // the worker reaches goes with it.
  void Halt();

  // Starts `body` on the worker; empty on success, else why it could not start (StartThread).
  std::string Start(const char* what, std::function<void()> body);
  // From the start until End() has waited for the worker.
  bool Running() const { return worker_.joinable(); }

  // Worker side: polled at each step; true once a stop has been asked for.
  bool StopRequested();
  // Worker side: waits up to `ms` milliseconds; false when a stop cut the wait short.
  bool Pause(int ms);

  // Window side, for Cancel or Esc. During a run: asks it to stop and answers true (the
  // window closes when the run's end arrives); a second press changes nothing. Without a
  // run: false, and the window closes at once.
  bool Cancel();
  // Window side, when the run's end arrives: waits for the worker. True when the run was
  // cancelled; then `finishedOutputs` (what a run that finished before it saw the stop
  // has written; empty for a run that stopped, which removes its own) are removed.
  bool End(const std::vector<std::string>& finishedOutputs = {});
  bool Cancelled() const { return cancelled_; }

  // For tests: at each step while `hold()` answers true the run waits there until stopped,
  // so a test can cancel it at a known step without racing it.
  void HoldStepsWhile(std::function<bool()> hold) { hold_ = std::move(hold); }

 private:
  void Stop();

  std::thread worker_;
  std::atomic<bool> stop_{false};
  bool cancelled_ = false;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::function<bool()> hold_;
};

}  // namespace edog
