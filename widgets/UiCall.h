#pragma once
// How worker threads reach a window. Send is the worker's synchronous call: it is queued
// to the UI thread and the worker waits until it has run, so whatever the call refers to
// (a text on the worker's stack) stays valid meanwhile. Post queues a call without waiting.
//
// Detach (on the UI thread, when the window goes or stops listening) drops every queued and
// later call and lets a waiting worker go. So no worker ever waits on a window that is gone,
// and the UI thread may join a worker after detaching without the two waiting on each other.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class UiCallTarget : public std::enable_shared_from_this<UiCallTarget> {
 public:
  static std::shared_ptr<UiCallTarget> Create();

  // Runs `call` on the UI thread and waits for it (at once when already there). False
  // when the call was dropped because the target is detached.
  bool Send(std::function<void()> call);
  // Queues `call` for the UI thread; it is dropped when the target is detached by then.
  void Post(std::function<void()> call);
  // UI thread only.
  void Detach();
  bool Attached() const;

 private:
  UiCallTarget() = default;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool attached_ = true;
};
