#pragma once
// A second user's swap of the update job's extraction folder: as soon as a fresh "tmp*"
// folder in `tmp` holds the three entries, it is renamed away and a folder of the same
// name put in its place, holding `planted` under the entries' names.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/TestSupport.h"

namespace edog::test {

constexpr const char* kPackageEntryNames[3] = {"edogvoice.hdr", "edogmap.hdr", "edogsoftware.hdr"};

class ExtractionSwapper {
 public:
  ExtractionSwapper(std::string tmp, std::vector<std::vector<uint8_t>> planted)
      : tmp_(std::move(tmp)), planted_(std::move(planted)), thread_([this] { Run(); }) {}
  ~ExtractionSwapper() {
    stop_ = true;
    thread_.join();
  }
  bool Swapped() const { return swapped_; }

 private:
  void Run() {
    namespace fs = std::filesystem;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!stop_ && std::chrono::steady_clock::now() < end) {
      std::error_code ec;
      for (const auto& e : fs::directory_iterator(tmp_, ec)) {
        const fs::path dir = e.path();
        // The entries appear together, the software last: the folder is complete.
        if (dir.filename().string().rfind("tmp", 0) != 0 ||
            !fs::exists(dir / kPackageEntryNames[2], ec))
          continue;
        fs::rename(dir, tmp_ + "/taken-away", ec);
        if (ec) return;
        fs::create_directory(dir, ec);
        for (size_t i = 0; i < planted_.size() && i < 3; ++i)
          WriteFile((dir / kPackageEntryNames[i]).string(), planted_[i]);
        swapped_ = true;
        return;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  }
  std::string tmp_;
  std::vector<std::vector<uint8_t>> planted_;
  std::atomic<bool> stop_{false}, swapped_{false};
  std::thread thread_;
};

}  // namespace edog::test
