#pragma once
// Pieces the serial tests share: a pseudo-terminal pair, a clock whose sleeps cost nothing,
// an observer that records every report, and framing written independently of the product.
#ifndef _WIN32
#include <pty.h>
#include <poll.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/Clock.h"
#include "device/Comm.h"
#include "device/SerialDownload.h"

namespace edog::test {

#ifndef _WIN32
// The test holds the master side and plays the device; the product opens the slave path.
class PtyPair {
 public:
  PtyPair() {
    char name[128] = {};
    // The product opens the slave by name. The test keeps its own slave descriptor, unused,
    // so that the master does not report a hang-up before the product has opened it.
    if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0) path_ = name;
  }
  ~PtyPair() {
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
  }
  int Master() const { return master_; }
  const std::string& SlavePath() const { return path_; }
  void Send(const std::string& s) const { Send(s.data(), s.size()); }
  void Send(const void* p, size_t n) const {
    const auto* b = static_cast<const uint8_t*>(p);
    while (n > 0) {
      const ssize_t w = ::write(master_, b, n);
      if (w <= 0) return;
      b += w;
      n -= static_cast<size_t>(w);
    }
  }
  // Exactly n bytes, or fewer when nothing arrives for `idleMs`.
  std::vector<uint8_t> Receive(size_t n, int idleMs = 3000) const {
    std::vector<uint8_t> out;
    while (out.size() < n) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, idleMs) <= 0 || !(p.revents & POLLIN)) break;
      uint8_t buf[2048];
      const size_t want = std::min(sizeof buf, n - out.size());
      const ssize_t r = ::read(master_, buf, want);
      if (r <= 0) break;
      out.insert(out.end(), buf, buf + r);
    }
    return out;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};
#endif

// Real time for the waits on the line, but the fixed pauses (700 ms, 500 ms, 1 ms ...)
// are skipped and only counted.
class FastClock final : public Clock {
 public:
  uint32_t TickMs() override {
    using namespace std::chrono;
    return static_cast<uint32_t>(
               duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count()) +
           skipped_.load();
  }
  void SleepMs(uint32_t ms) override {
    skipped_ += ms;
    std::lock_guard<std::mutex> lock(m_);
    sleeps_.push_back(ms);
  }
  std::vector<uint32_t> Sleeps() {
    std::lock_guard<std::mutex> lock(m_);
    return sleeps_;
  }

 private:
  std::atomic<uint32_t> skipped_{0};
  std::mutex m_;
  std::vector<uint32_t> sleeps_;
};

// Every report of a download, in order, as "kind:text" strings, and the list as it stands.
class DownloadRecordingObserver final : public SerialDownloadObserver {
 public:
  void AppendLine(const std::string& line) override {
    Add("append:" + line);
    std::lock_guard<std::mutex> lock(m_);
    list_.push_back(line);
  }
  void DeleteLastLine() override {
    Add("delete");
    std::lock_guard<std::mutex> lock(m_);
    if (!list_.empty()) list_.pop_back();
  }
  void SetProgress(unsigned percent) override {
    Add("progress:" + std::to_string(percent));
    std::lock_guard<std::mutex> lock(m_);
    percents_.push_back(percent);
  }
  void OnFileUnreadable() override { Add(std::string("box:") + kFileOpenErrorText); }
  void OnTransferCompleted() override { Add(std::string("box:") + kTransferDoneText); }
  void ResumeReader() override { Add("resume"); }
  void OnEnded() override { Add("enable"); }
  void OnDeviceRefusing(const std::string& text) override { Add("refusing:" + text); }
  void OnLineTiming(const SerialLineTiming& timing) override {
    std::lock_guard<std::mutex> lock(m_);
    timing_ = timing;
  }

  // The account of the line's time, when the download gave one.
  std::optional<SerialLineTiming> Timing() {
    std::lock_guard<std::mutex> lock(m_);
    return timing_;
  }
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> lock(m_);
    return events_;
  }
  std::vector<std::string> List() {
    std::lock_guard<std::mutex> lock(m_);
    return list_;
  }
  std::vector<unsigned> Percents() {
    std::lock_guard<std::mutex> lock(m_);
    return percents_;
  }

 private:
  void Add(const std::string& e) {
    std::lock_guard<std::mutex> lock(m_);
    events_.push_back(e);
  }
  std::mutex m_;
  std::vector<std::string> events_, list_;
  std::vector<unsigned> percents_;
  std::optional<SerialLineTiming> timing_;
};

// Records the reports and resumes the link's reader as the main window does.
class ReaderResumer final : public SerialDownloadObserver {
 public:
  explicit ReaderResumer(CComm& comm) : comm_(comm) {}
  void AppendLine(const std::string& l) override { rec.AppendLine(l); }
  void DeleteLastLine() override { rec.DeleteLastLine(); }
  void SetProgress(unsigned p) override { rec.SetProgress(p); }
  void OnFileUnreadable() override { rec.OnFileUnreadable(); }
  void OnTransferCompleted() override { rec.OnTransferCompleted(); }
  void ResumeReader() override {
    rec.ResumeReader();
    comm_.ResumeReader();
  }
  void OnEnded() override { rec.OnEnded(); }
  void OnDeviceRefusing(const std::string& t) override { rec.OnDeviceRefusing(t); }
  void OnLineTiming(const SerialLineTiming& t) override { rec.OnLineTiming(t); }
  DownloadRecordingObserver rec;

 private:
  CComm& comm_;
};

class TextCollector final : public CommNotifySink {
 public:
  void OnSerialText(const CComm& comm) override {
    std::lock_guard<std::mutex> lock(m);
    text.append(comm.Text(), comm.TextLength() - 1);
    arrived.notify_all();
  }
  // Waits up to 5 s until `done` holds for the text received so far.
  bool WaitFor(const std::function<bool(const std::string&)>& done) {
    std::unique_lock<std::mutex> lock(m);
    return arrived.wait_for(lock, std::chrono::seconds(5), [&] { return done(text); });
  }
  std::string Text() {
    std::lock_guard<std::mutex> lock(m);
    return text;
  }
  std::mutex m;
  std::condition_variable arrived;
  std::string text;
};

// CRC-16 with polynomial 0x1021, initial 0, shifted bit by bit: the textbook form, not the
// byte-wise one the product uses.
inline uint16_t BitwiseCrc16(const uint8_t* p, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= static_cast<uint16_t>(p[i] << 8);
    for (int b = 0; b < 8; ++b)
      crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
  }
  return crc;
}

// The 1029 bytes a block of `data` (at most 1024 bytes) must look like on the line.
inline std::vector<uint8_t> ExpectedBlock(unsigned number, const uint8_t* data, size_t n) {
  std::vector<uint8_t> out(1029, 0);
  out[0] = 0x02;
  out[1] = static_cast<uint8_t>(number % 256);
  out[2] = static_cast<uint8_t>(255 - number % 256);
  for (size_t i = 0; i < n; ++i) out[3 + i] = data[i];
  const uint16_t crc = BitwiseCrc16(&out[3], 1024);
  out[1027] = static_cast<uint8_t>(crc / 256);
  out[1028] = static_cast<uint8_t>(crc % 256);
  return out;
}

struct PeerResult {
  std::vector<uint8_t> command;               // the bytes before the "C"
  std::vector<std::vector<uint8_t>> blocks;   // every 1029-byte block as received
  std::vector<std::vector<uint8_t>> accepted; // the blocks answered with ACK, in order
  std::vector<uint8_t> tail;                  // the end sequence
  std::string problem;                        // the first thing the loader objected to
};

#ifndef _WIN32
// How a loader behaves beyond the protocol's bare bones.
struct LoaderScript {
  std::function<bool(size_t)> refuse;  // NAK the i-th block received (empty: never)
  size_t silentAfter = SIZE_MAX;       // blocks answered before it falls silent
  std::string hello;                   // text sent after the end sequence
  int startDelayMs = 0;                // the "C" comes this long after the command
  std::string beforeAnswer;            // text sent ahead of every ACK or NAK
};
// A device loader written independently of the product: answers "C" to "upgrade" CR,
// checks each block (STX, number, complement, CRC) and answers it, takes the end sequence
// and then sends the script's `hello`.
PeerResult PlayLoader(const PtyPair& pty, const LoaderScript& script);
inline PeerResult PlayLoader(const PtyPair& pty, std::function<bool(size_t)> refuse,
                             size_t silentAfter = SIZE_MAX, const std::string& hello = {}) {
  LoaderScript script;
  script.refuse = std::move(refuse);
  script.silentAfter = silentAfter;
  script.hello = hello;
  return PlayLoader(pty, script);
}
#endif

// CRC-16 of each record by Python's binascii.crc_hqx(data, 0), a CRC written by others.
// Records are written to a file of `recordSize`-byte records; empty when Python is missing.
std::vector<uint16_t> PythonCrcs(const std::vector<std::vector<uint8_t>>& records);

}  // namespace edog::test
