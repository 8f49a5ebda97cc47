#include "common/ThreadStart.h"

#include <atomic>
#include <cerrno>
#include <system_error>

namespace edog {
namespace {
// Only tests set it; one counter for the whole process, as the system's limit is.
std::atomic<int> failuresToForce{0};
}  // namespace

void FailNextThreadStarts(int count) { failuresToForce.store(count); }

std::string StartThread(std::thread& thread, const char* what, std::function<void()> body) {
  const std::string prefix = std::string("cannot start a thread for ") + what + ": ";
  int forced = failuresToForce.load();
  while (forced > 0 && !failuresToForce.compare_exchange_weak(forced, forced - 1)) {
  }
  if (forced > 0)
    return prefix + std::error_code(EAGAIN, std::generic_category()).message() +
           " (the system allows no more threads)";
  try {
    thread = std::thread(std::move(body));
  } catch (const std::system_error& e) {
    return prefix + e.code().message() + " (the system allows no more threads)";
  } catch (const std::bad_alloc&) {
    return prefix + "out of memory";
  }
  return {};
}

}  // namespace edog
