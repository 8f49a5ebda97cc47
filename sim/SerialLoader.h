#pragma once
// The device's serial loader: a pseudo-terminal that plays the device's serial line. While
// idle it sends console text; "upgrade" CR wakes the loader, which answers "C", takes
// 1029-byte blocks (STX, number, complement, 1024 data bytes, CRC-16 high byte first),
// answers each with ACK or NAK, and on EOT writes the image into flash as its header
// block says and journals the job. The line's path is announced in STATE/serial-line.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "sim/FlashModel.h"
#include "sim/Journal.h"

namespace edog::sim {

// Faults count the blocks the loader receives (repeats included), from 0.
struct SerialFaults {
  bool nakFirst = false;       // refuse the first block once, though it is sound
  uint32_t nakEvery = 0;       // refuse every Nth block received (0: never)
  int64_t corruptBlock = -1;   // this block arrives with one data byte changed (a CRC error)
  int64_t silentAfter = -1;    // after this many blocks, answer nothing any more
  uint32_t noiseBeforeStart = 0;  // bytes of line noise (never a "C") sent ahead of the "C"
  int64_t hangUpAfter = -1;    // after this many blocks the line goes dead (the cable pulled)
};

struct SerialLoaderOptions {
  bool enabled = true;
  uint32_t baud = 115200;            // the line's pace (10 bits a byte); 0 = as fast as it comes
  uint32_t consoleIntervalMs = 1000; // period of the console lines while idle
  uint32_t blockGapMs = 1000;        // a block broken off for this long is dropped with a NAK
  uint32_t abandonMs = 15000;        // a job that hears nothing for this long is given up
  // Plays a USB serial adapter's latency timer: each ACK or NAK waits for the next
  // multiple of this many microseconds on the steady clock (0: answers go at once).
  uint32_t answerLatencyUs = 0;
  SerialFaults faults;
};

class SerialLoader {
 public:
  SerialLoader(const SerialLoaderOptions& options, std::string firmwareVersion,
               std::string databaseVersion, FlashModel& flash, Journal& journal);
  ~SerialLoader();  // stops
  SerialLoader(const SerialLoader&) = delete;
  SerialLoader& operator=(const SerialLoader&) = delete;

  // Opens the pseudo-terminal, announces its path in `stateDir` and starts the thread.
  bool Start(const std::string& stateDir, std::string* error);
  // A job in progress is journaled as "stopped"; the announcement is removed.
  void Stop();
  bool IsRunning() const;
  // The path a host opens (for example /dev/pts/3); empty before Start.
  const std::string& LinePath() const;
  void SetFaults(const SerialFaults& faults);
  // Takes bytes as if they had come in on the line, on the caller's thread: the parser
  // without a pseudo-terminal, for fuzzing. Only while not started (answers go nowhere).
  void Feed(const uint8_t* data, size_t size);

  static constexpr const char* kAnnouncementFile = "serial-line";

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace edog::sim
