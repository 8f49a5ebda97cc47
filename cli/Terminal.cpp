#include "cli/Terminal.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "common/Format.h"

namespace edog::cli {

ProgressDisplay::ProgressDisplay(std::string label) : label_(std::move(label)), tty_(IsTerminal()) {}

ProgressDisplay::~ProgressDisplay() { Finish(); }

bool ProgressDisplay::IsTerminal() { return isatty(fileno(stdout)) != 0; }

void ProgressDisplay::Update(unsigned percent, const std::string& detail) {
  lastPercent_ = percent;
  if (tty_) {
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(std::min(percent, 100u) * kWidth / 100);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(kWidth, '.');
    std::printf("\r%s [%s] %3u%% %s\033[K", label_.c_str(), bar.c_str(), percent, detail.c_str());
    std::fflush(stdout);
    drawn_ = true;
    return;
  }
  const int step = static_cast<int>(percent / 10);
  if (step > lastStep_) {
    lastStep_ = step;
    std::printf("%s %u%%%s%s\n", label_.c_str(), percent, detail.empty() ? "" : " ",
                detail.c_str());
    std::fflush(stdout);
  }
}

void ProgressDisplay::Finish() {
  if (tty_ && drawn_) {
    std::printf("\n");
    std::fflush(stdout);
    drawn_ = false;
  }
}

std::string TraceStamp() {
  using namespace std::chrono;
  static const auto start = steady_clock::now();
  const auto us = duration_cast<microseconds>(steady_clock::now() - start).count();
  return Format("%lld.%06lld", static_cast<long long>(us / 1000000),
                static_cast<long long>(us % 1000000));
}

}  // namespace edog::cli
