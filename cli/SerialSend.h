#pragma once
// The serial code download on a terminal, shared by the commands that send files over a
// serial line (send-serial, update).
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "cli/Terminal.h"
#include "common/Format.h"
#include "device/Comm.h"
#include "device/SerialDownload.h"

namespace edog::cli {

// Shows the progress list as it stands: a line is printed once another line follows it,
// so of the "Download Size..." lines only the latest one is shown. Message-box texts and
// the notice that the device keeps refusing a block are printed as they come; the bar
// follows the progress with the bytes sent and the speed.
class TerminalSerialObserver final : public SerialDownloadObserver {
 public:
  TerminalSerialObserver(uint64_t fileSize, std::function<void()> resumeReader = {})
      : fileSize_(fileSize), bar_("send-serial"), resumeReader_(std::move(resumeReader)) {}
  void AppendLine(const std::string& line) override {
    Flush();
    pending_ = line;
    hasPending_ = true;
    unsigned bytes = 0;
    if (std::sscanf(line.c_str(), kDownloadSizeLine, &bytes) == 1) ShowBar(bytes);
  }
  void DeleteLastLine() override { hasPending_ = false; }
  void SetProgress(unsigned percent) override {
    if (percent == 0) start_ = std::chrono::steady_clock::now();
    percent_ = percent;
  }
  void OnFileUnreadable() override { Notice(kFileOpenErrorText); }
  void OnTransferCompleted() override { Notice(kTransferDoneText); }
  void ResumeReader() override {
    if (resumeReader_) resumeReader_();
  }
  // The account of the line's time comes last, after the message-box text.
  void OnEnded() override {
    Flush();
    for (const auto& line : timing_) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
  void OnLineTiming(const SerialLineTiming& timing) override { timing_ = SerialTimingLines(timing); }
  // A line of its own, printed at once: the "Download Size..." line still waiting is the
  // list's last line, which the next block replaces, so it stays pending.
  void OnDeviceRefusing(const std::string& text) override {
    bar_.Finish();
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
  // The last line the list holds ("Code Download End..." on success).
  const std::string& LastLine() const { return last_; }

 private:
  void Notice(const char* text) {
    Flush();
    std::printf("%s\n", text);
    std::fflush(stdout);
  }
  void Flush() {
    if (!hasPending_) return;
    bar_.Finish();
    std::printf("%s\n", pending_.c_str());
    std::fflush(stdout);
    last_ = pending_;
    hasPending_ = false;
  }
  void ShowBar(unsigned bytes) {
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const uint64_t sent = std::min<uint64_t>(bytes, fileSize_);
    const double rate = secs > 0 ? sent / secs : 0;
    const unsigned left = rate > 0 ? static_cast<unsigned>((fileSize_ - sent) / rate) : 0;
    bar_.Update(percent_, Format("%lluK/%lluK %.1fKB/s %u:%02u left",
                                 static_cast<unsigned long long>(sent / 1024),
                                 static_cast<unsigned long long>((fileSize_ + 1023) / 1024),
                                 rate / 1024, left / 60, left % 60));
  }
  uint64_t fileSize_;
  ProgressDisplay bar_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  unsigned percent_ = 0;
  std::string pending_, last_;
  bool hasPending_ = false;
  std::vector<std::string> timing_;
  std::function<void()> resumeReader_;
};

bool ParseBaud(const std::string& text, uint32_t& baud);
// Opens the port as the Connect button does; prints "Fail connect!" when it cannot.
bool ConnectSerial(CComm& comm, const std::string& port, uint32_t baud, const char* command);

}  // namespace edog::cli
