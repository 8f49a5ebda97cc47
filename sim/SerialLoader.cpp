#include "sim/SerialLoader.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "common/Clock.h"
#include "common/Files.h"
#include "common/Format.h"
#include "common/ThreadStart.h"
#include "common/TimerResolution.h"
#include "sim/Sha256.h"
#include "sim/StateFiles.h"
#include "update/HeaderedImage.h"

namespace edog::sim {
namespace {

constexpr uint8_t kStx = 0x02, kEot = 0x04, kAck = 0x06, kNak = 0x15;
constexpr size_t kBlockBytes = 1029, kDataBytes = 1024;
constexpr size_t kMaxCommand = 64;
constexpr uint32_t kEndWaitMs = 2000;  // for the 0x00 and "q" after EOT

// The loader's own CRC-16 (polynomial 0x1021, initial 0), bit by bit as a small
// controller computes it.
uint16_t LoaderCrc(const uint8_t* p, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= static_cast<uint16_t>(p[i] << 8);
    for (int b = 0; b < 8; ++b)
      crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

// The host waits for a "C" and takes the first one it sees, console text included: the
// console never says one.
std::string ConsoleSafe(std::string text) {
  std::replace(text.begin(), text.end(), 'C', 'c');
  return text;
}

struct Job {
  uint64_t number = 0;
  std::vector<uint8_t> data;  // the accepted blocks' data, in order
  uint64_t blocksReceived = 0;
  uint64_t naks = 0;
  uint64_t noise = 0;  // bytes outside blocks
  std::string fault;
};

}  // namespace

struct SerialLoader::Impl {
  enum class State { kIdle, kReceiving, kEnding };

  Impl(const SerialLoaderOptions& o, std::string fw, std::string db, FlashModel& f, Journal& j)
      : options(o), firmware(std::move(fw)), database(std::move(db)), flash(f), journal(j),
        faults(o.faults) {}

  const SerialLoaderOptions options;
  const std::string firmware, database;
  FlashModel& flash;
  Journal& journal;
  std::mutex faultsMutex;
  SerialFaults faults;

  int master = -1, slave = -1;
  int wake[2] = {-1, -1};
  std::string linePath, announcement;
  std::thread thread;
  std::atomic<bool> stop{false};
  std::atomic<bool> running{false};

  State state = State::kIdle;
  std::string command;
  std::vector<uint8_t> block;
  Job job;
  uint64_t jobCount = 0;
  std::string lastOutcome;
  int64_t lastByteMs = 0;
  int64_t nextConsoleMs = 0;
  int64_t startMs = 0;
  int64_t lineFreeNs = 0;  // when the line has carried every byte read so far
  bool pacing = false;     // the last read was paced and nothing was sent since

  ~Impl() { CloseAll(); }

  void CloseAll() {
    for (int* fd : {&master, &slave, &wake[0], &wake[1]}) {
      if (*fd >= 0) ::close(*fd);
      *fd = -1;
    }
  }

  bool Open(const std::string& stateDir, std::string* error) {
    auto fail = [&](const std::string& what) {
      if (error) *error = what;
      CloseAll();
      return false;
    };
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
      return fail("cannot open a pseudo-terminal for the serial line");
    const char* name = ::ptsname(master);
    if (!name) return fail("pseudo-terminal has no name");
    linePath = name;
    // The loader holds the line's other end too, so the line stays up while no host has
    // it open; and the line is raw until a host sets it up its own way.
    slave = ::open(linePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) return fail("cannot open " + linePath);
    termios tio{};
    if (::tcgetattr(slave, &tio) == 0) {
      ::cfmakeraw(&tio);
      ::tcsetattr(slave, TCSANOW, &tio);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    if (::pipe(wake) != 0) return fail("cannot make a pipe");
    for (int fd : wake) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    announcement = JoinPath(stateDir, kAnnouncementFile);
    const std::string text = linePath + "\n";
    if (std::string why; !WriteStateFile(announcement, text, &why)) return fail(why);
    return true;
  }

  void Send(const std::string& s) {
    pacing = false;  // what the host sends next follows what it hears now: not queued
    // Console text nobody reads is lost when the line's buffer is full, as on a real UART.
    [[maybe_unused]] const ssize_t n = ::write(master, s.data(), s.size());
  }
  void SendByte(uint8_t b) { Send(std::string(1, static_cast<char>(b))); }

  void Console(const std::string& line) { Send(ConsoleSafe(line) + "\n"); }

  // The line carries 10 bits a byte: what is read is taken no sooner than it could have
  // come down the line. The line's clock starts at the read when the loader was waiting
  // for bytes, and runs on from where it stood when they had queued while it paced, so a
  // pause that ends late is made good by the bytes behind it and idle time is never
  // banked. The pause runs to an absolute deadline: time spent awake counts too.
  void Pace(size_t bytes, bool queued) {
    if (options.baud == 0) return;
    const int64_t now = NowUs() * 1000;
    const int64_t from = queued ? lineFreeNs : std::max(lineFreeNs, now);
    lineFreeNs = from + static_cast<int64_t>(bytes) * 10 * 1000000000LL / options.baud;
    PauseUntilNs(lineFreeNs);
    pacing = true;
  }

  // Waits until the steady clock reaches `ns` or until Stop.
  void PauseUntilNs(int64_t ns) {
    for (;;) {
      const int64_t left = ns - NowUs() * 1000;
      if (stop || left <= 0) return;
      const timespec t{static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
      pollfd p{wake[0], POLLIN, 0};
      if (::ppoll(&p, 1, &t, nullptr) > 0) return;
    }
  }

  void Run() {
    const FineTimerResolution fineTimer;  // the line's pace to the microsecond
    startMs = NowMs();
    nextConsoleMs = startMs;
    uint8_t buf[64];
    while (!stop) {
      const int64_t now = NowMs();
      if (state == State::kIdle && now >= nextConsoleMs) {
        Console(Format("edog loader: idle, firmware %s, database %s, up %llds%s%s",
                       firmware.c_str(), database.c_str(),
                       static_cast<long long>((now - startMs) / 1000),
                       lastOutcome.empty() ? "" : ", last job ", lastOutcome.c_str()));
        nextConsoleMs = now + options.consoleIntervalMs;
      }
      CheckTimers(now);
      pollfd fds[2] = {{wake[0], POLLIN, 0}, {master, POLLIN, 0}};
      // Bytes already waiting right after a paced read queued while the loader paced.
      const bool queued = pacing && ::poll(fds, 2, 0) > 0 && (fds[1].revents & POLLIN);
      pacing = false;
      if (!queued) ::poll(fds, 2, static_cast<int>(NextTimeout(NowMs())));
      if (stop) break;
      if (!(fds[1].revents & POLLIN)) continue;
      const ssize_t n = ::read(master, buf, sizeof buf);
      if (n <= 0) {
        if (n < 0 && errno != EAGAIN && errno != EINTR) PauseUntilNs((NowUs() + 50000) * 1000);
        continue;
      }
      Pace(static_cast<size_t>(n), queued);
      lastByteMs = NowMs();
      for (ssize_t i = 0; i < n; ++i) Feed(buf[i]);
    }
    if (state == State::kReceiving) FinishJob("stopped", false);
  }

  int64_t NextTimeout(int64_t now) const {
    int64_t until = nextConsoleMs;
    if (state == State::kReceiving) {
      const uint32_t quiet = block.empty() ? options.abandonMs
                                           : std::min(options.blockGapMs, options.abandonMs);
      until = lastByteMs + quiet;
    } else if (state == State::kEnding) {
      until = lastByteMs + kEndWaitMs;
    }
    return std::clamp<int64_t>(until - now, 1, 1000);
  }

  void CheckTimers(int64_t now) {
    if (state == State::kReceiving) {
      if (now - lastByteMs >= options.abandonMs) {
        FinishJob("abandoned", false);
      } else if (!block.empty() && now - lastByteMs >= options.blockGapMs) {
        block.clear();  // a broken-off block: ask for it again
        Answer(kNak);
      }
    } else if (state == State::kEnding && now - lastByteMs >= kEndWaitMs) {
      state = State::kIdle;  // no "q": back to the console all the same
    }
  }

  void Answer(uint8_t b) {
    if (b == kNak) ++job.naks;
    // An adapter passes received bytes on only when its timer runs out.
    if (options.answerLatencyUs) {
      const int64_t period = int64_t{options.answerLatencyUs} * 1000;
      PauseUntilNs((NowUs() * 1000 / period + 1) * period);
    }
    SendByte(b);
  }

  void Feed(uint8_t b) {
    switch (state) {
      case State::kIdle: return FeedCommand(b);
      case State::kEnding:
        if (b == 0x00) return;
        if (b == 'q') {
          state = State::kIdle;
          Console("edog loader: " + lastOutcome);
          return;
        }
        state = State::kIdle;
        return FeedCommand(b);
      case State::kReceiving:
        if (block.empty()) {
          if (b == kStx) {
            block.push_back(b);
          } else if (b == kEot) {
            FinishJob("", true);
            state = State::kEnding;
          } else {
            ++job.noise;
          }
          return;
        }
        block.push_back(b);
        if (block.size() == kBlockBytes) {
          TakeBlock();
          block.clear();
        }
        return;
    }
  }

  void FeedCommand(uint8_t b) {
    if (b == '\r') {
      const std::string cmd = command;
      command.clear();
      if (cmd == "upgrade") {
        job = Job{};
        job.number = ++jobCount;
        block.clear();
        state = State::kReceiving;
        SendNoise(CurrentFaults().noiseBeforeStart);
        SendByte('C');
      } else if (!cmd.empty()) {
        Console("edog loader: unknown command '" + cmd + "'");
      }
    } else if (b != '\n' && command.size() < kMaxCommand) {
      command += static_cast<char>(b);
    }
  }

  SerialFaults CurrentFaults() {
    std::lock_guard<std::mutex> lock(faultsMutex);
    return faults;
  }

  // Line noise: pseudo-random bytes with every "C" left out, so it cannot start a download.
  void SendNoise(uint32_t count) {
    std::string noise;
    uint32_t x = 0x9E3779B9u;
    while (noise.size() < count) {
      x = x * 1664525u + 1013904223u;
      const char c = static_cast<char>(x >> 24);
      if (c != 'C') noise += c;
    }
    if (!noise.empty()) Send(noise);
  }

  // The line goes dead: both ends of the pseudo-terminal close, so the host sees a hang-up.
  void HangUp() {
    for (int* fd : {&master, &slave}) {
      if (*fd >= 0) ::close(*fd);
      *fd = -1;
    }
    job.fault = "hung up";
    FinishJob("hung-up", false);
  }

  void TakeBlock() {
    const SerialFaults f = CurrentFaults();
    const int64_t index = static_cast<int64_t>(job.blocksReceived++);
    if (f.hangUpAfter >= 0 && index >= f.hangUpAfter) return HangUp();
    if (f.corruptBlock == index) {
      block[3 + static_cast<size_t>(index) % kDataBytes] ^= 0x5A;
      job.fault = Format("corrupted block %lld", static_cast<long long>(index));
    }
    if (f.silentAfter >= 0 && index >= f.silentAfter) {
      job.fault = Format("silent after %lld blocks", static_cast<long long>(f.silentAfter));
      return;
    }
    const bool framed = block[0] == kStx && static_cast<uint8_t>(block[1] ^ block[2]) == 0xFF;
    const uint16_t crc = static_cast<uint16_t>(block[1027] << 8 | block[1028]);
    const bool sound = framed && LoaderCrc(&block[3], kDataBytes) == crc;
    const uint8_t expected = static_cast<uint8_t>(job.data.size() / kDataBytes);
    if (!sound || (f.nakFirst && index == 0) ||
        (f.nakEvery > 0 && (index + 1) % f.nakEvery == 0)) {
      if (sound && job.fault.empty()) job.fault = "refused sound blocks";
      return Answer(kNak);
    }
    if (block[1] == expected) {
      job.data.insert(job.data.end(), block.begin() + 3, block.begin() + 3 + kDataBytes);
      return Answer(kAck);
    }
    // The block before, again (our ACK was lost): take it as received, keep it once.
    if (!job.data.empty() && block[1] == static_cast<uint8_t>(expected - 1)) return Answer(kAck);
    Answer(kNak);  // out of sequence
  }

  // Ends the job: on EOT writes the image as its header block says; journals it either way.
  void FinishJob(const std::string& brokenOutcome, bool complete) {
    JournalRecord r;
    r.Set("kind", "serial-download").Set("job", job.number).Set("line", linePath);
    std::string outcome = brokenOutcome;
    Sha256 sha;
    if (complete) {
      outcome = WriteImage(r, sha);
    }
    r.Set("blocks", job.data.size() / kDataBytes)
        .Set("received", job.data.size())
        .Set("naks", job.naks)
        .Set("sha256", sha.HexDigest())
        .Set("outcome", outcome);
    if (!job.fault.empty()) r.Set("fault", job.fault);
    journal.Append(r);
    lastOutcome = Format("%s (%zu bytes)", outcome.c_str(), job.data.size());
    if (!complete) state = State::kIdle;
    block.clear();
  }

  std::string WriteImage(JournalRecord& r, Sha256& sha) {
    const auto& d = job.data;
    if (d.size() < kHeaderBlockSize) return "no-header";
    const HeaderFields h = ParseHeaderFields(d.data());
    r.Set("magic", h.magic).Set("port", h.port).Set("flash", h.flash).Set("start", h.startAddress)
        .Set("size", h.fileSize).Set("packets", h.packetCount);
    if (h.magic != kHeaderMagic) return "bad-header";
    if (flash.Capacity(h.flash) == 0) return "bad-header";
    const uint64_t address = FlashModel::ByteAddress(h.flash, h.startAddress);
    r.Set("address", address);
    const size_t available = d.size() - kHeaderBlockSize;
    const size_t length = std::min<size_t>(h.fileSize, available);
    const uint8_t* payload = d.data() + kHeaderBlockSize;
    sha.Update(payload, length);
    const size_t written = flash.Write(h.flash, address, payload, length);
    r.Set("written", written);
    if (written < length) return "out-of-range";
    if (length < h.fileSize) return "short";
    return "complete";
  }
};

SerialLoader::SerialLoader(const SerialLoaderOptions& options, std::string firmwareVersion,
                           std::string databaseVersion, FlashModel& flash, Journal& journal)
    : impl_(std::make_unique<Impl>(options, std::move(firmwareVersion), std::move(databaseVersion),
                                   flash, journal)) {}

SerialLoader::~SerialLoader() { Stop(); }

bool SerialLoader::Start(const std::string& stateDir, std::string* error) {
  if (impl_->running) return true;
  if (!impl_->Open(stateDir, error)) return false;
  impl_->stop = false;
  const std::string why =
      StartThread(impl_->thread, "the simulator's serial loader", [this] { impl_->Run(); });
  if (!why.empty()) {
    RemoveFile(impl_->announcement);
    impl_->CloseAll();
    if (error) *error = why;
    return false;
  }
  impl_->running = true;
  return true;
}

void SerialLoader::Stop() {
  if (!impl_->running) return;
  impl_->stop = true;
  const char b = 1;
  [[maybe_unused]] const ssize_t n = ::write(impl_->wake[1], &b, 1);
  if (impl_->thread.joinable()) impl_->thread.join();
  RemoveFile(impl_->announcement);
  impl_->CloseAll();
  impl_->running = false;
}

bool SerialLoader::IsRunning() const { return impl_->running; }

const std::string& SerialLoader::LinePath() const { return impl_->linePath; }

void SerialLoader::Feed(const uint8_t* data, size_t size) {
  if (impl_->running) return;
  impl_->lastByteMs = NowMs();
  for (size_t i = 0; i < size; ++i) impl_->Feed(data[i]);
}

void SerialLoader::SetFaults(const SerialFaults& faults) {
  std::lock_guard<std::mutex> lock(impl_->faultsMutex);
  impl_->faults = faults;
}

}  // namespace edog::sim
