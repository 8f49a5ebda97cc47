#include "tools/ToolRun.h"

#include <chrono>

#include "common/Files.h"
#include "common/ThreadStart.h"

namespace edog {

void ToolRun::Halt() {
  if (!worker_.joinable()) return;
  Stop();
  worker_.join();
}

std::string ToolRun::Start(const char* what, std::function<void()> body) {
  stop_ = false;
  cancelled_ = false;
  return StartThread(worker_, what, std::move(body));
}

bool ToolRun::StopRequested() {
  if (hold_ && !stop_ && hold_()) {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [this] { return stop_.load(); });
  }
  return stop_;
}

bool ToolRun::Pause(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_.load(); });
}

void ToolRun::Stop() {
  {
    // Under the lock, so that a worker about to wait cannot miss the wake-up.
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
}

bool ToolRun::Cancel() {
  if (!Running()) return false;
  if (!cancelled_) {
    cancelled_ = true;
    Stop();
  }
  return true;
}

bool ToolRun::End(const std::vector<std::string>& finishedOutputs) {
  if (worker_.joinable()) worker_.join();
  if (!cancelled_) return false;
  for (const std::string& path : finishedOutputs) RemoveFile(path);
  return true;
}

}  // namespace edog
