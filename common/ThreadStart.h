#pragma once
// Every thread of the tools and the simulator starts here. A system out of threads or
// memory (ulimit -u, ulimit -v) makes std::thread throw; this turns that into a value and
// a reason, so that the job fails with a message and nobody waits for a thread that never
// started.
#include <functional>
#include <string>
#include <thread>

namespace edog {

// Starts `body` on `thread` (which must be empty). On failure `thread` stays empty and the
// result says why in plain words ("cannot start a thread for WHAT: REASON"); empty on
// success.
std::string StartThread(std::thread& thread, const char* what, std::function<void()> body);

// For tests: the next `count` starts fail as a system out of threads would make them.
void FailNextThreadStarts(int count);

}  // namespace edog
