#include "device/UsbTransferTurns.h"

#include <utility>

namespace edog {

UsbTransferTurns::~UsbTransferTurns() { WaitForAll(); }

uint64_t UsbTransferTurns::TakeTicket() {
  std::lock_guard<std::mutex> lock(mutex_);
  return issued_++;
}

void UsbTransferTurns::WaitForTurn(uint64_t ticket) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return serving_ == ticket; });
}

void UsbTransferTurns::EndTurn() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++serving_;
    PassSkipped();
  }
  changed_.notify_all();
}

void UsbTransferTurns::SkipTurn(uint64_t ticket) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    skipped_.insert(ticket);
    PassSkipped();
  }
  changed_.notify_all();
}

void UsbTransferTurns::PassSkipped() {
  while (!skipped_.empty() && *skipped_.begin() == serving_) {
    skipped_.erase(skipped_.begin());
    ++serving_;
  }
}

void UsbTransferTurns::Adopt(std::thread thread) {
  std::lock_guard<std::mutex> lock(mutex_);
  adopted_.push_back(std::move(thread));
}

void UsbTransferTurns::WaitForAll() {
  std::vector<std::thread> threads;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return serving_ == issued_; });
    threads.swap(adopted_);
  }
  // Each adopted thread has ended its turn; it only returns from here on.
  for (std::thread& t : threads) t.join();
}

}  // namespace edog
