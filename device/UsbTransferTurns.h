#pragma once
// The order in which USB transfers reach the device: a transfer writes only once every
// transfer started before it has ended, so a cancelled one still finishing its block never
// mixes with the next file. Whoever runs transfers (the main window, edogtool, a test)
// owns one and hands it to each worker; it also takes over the thread of a worker whose
// window went before the transfer ended, and joins it.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace edog {

class UsbTransferTurns {
 public:
  UsbTransferTurns() = default;
  ~UsbTransferTurns();  // WaitForAll()
  UsbTransferTurns(const UsbTransferTurns&) = delete;
  UsbTransferTurns& operator=(const UsbTransferTurns&) = delete;

  // A place in the queue, in the order of the calls.
  uint64_t TakeTicket();
  // Blocks until every transfer of an earlier ticket has ended.
  void WaitForTurn(uint64_t ticket);
  // The transfer holding the current turn has ended: the next one may write.
  void EndTurn();
  // A ticket whose transfer never started (no thread): its turn passes at once.
  void SkipTurn(uint64_t ticket);
  // Keeps a worker thread that nobody waits for any more; WaitForAll joins it.
  void Adopt(std::thread thread);
  // Waits until every transfer with a ticket has ended and joins the adopted threads.
  void WaitForAll();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t issued_ = 0;
  uint64_t serving_ = 0;
  std::set<uint64_t> skipped_;
  void PassSkipped();  // with mutex_ held
  std::vector<std::thread> adopted_;
};

}  // namespace edog
