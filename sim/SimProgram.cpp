#include "sim/SimProgram.h"

#include <pthread.h>
#include <signal.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "common/Files.h"
#include "common/StandardOutput.h"
#include "common/Version.h"
#include "device/DeviceSocket.h"
#include "device/DeviceTcp.h"
#include "device/SerialPorts.h"
#include "sim/StateFiles.h"
#include "sim/TcpBridge.h"

namespace edog::sim {
namespace {

// Why the last number was refused although well formed: it does not fit its field. Set
// by the parsers below, added to the usage error, so that a value which would wrap around
// is refused in words instead of turning into a small one.
std::string& OutOfRange() {
  static std::string why;
  return why;
}

bool TooLarge(uint64_t limit) {
  OutOfRange() = "too large, at most " + std::to_string(limit);
  return false;
}

// "123", "64K" (x1024), "1M" (x1048576).
bool ParseAmount(const std::string& text, uint64_t& out) {
  if (text.empty()) return false;
  uint64_t value = 0;
  size_t i = 0;
  bool over = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const uint64_t digit = uint64_t(text[i] - '0');
    over |= value > (UINT64_MAX - digit) / 10;
    if (!over) value = value * 10 + digit;
  }
  if (i == 0) return false;
  const std::string suffix = text.substr(i);
  uint64_t scale = 1;
  if (suffix == "k" || suffix == "K") scale = 1024;
  else if (suffix == "m" || suffix == "M") scale = 1024 * 1024;
  else if (!suffix.empty()) return false;
  if (over || value > UINT64_MAX / scale) return TooLarge(UINT64_MAX);
  out = value * scale;
  return true;
}

bool ParseMs(const std::string& text, uint32_t& out) {
  if (text.empty()) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    if (v <= UINT32_MAX) v = v * 10 + uint64_t(c - '0');
  }
  if (v > UINT32_MAX) return TooLarge(UINT32_MAX);
  out = static_cast<uint32_t>(v);
  return true;
}

// A duration in microseconds: "16ms", "500us", or a bare number of milliseconds.
bool ParseDurationUs(const std::string& text, uint32_t& out) {
  std::string digits = text;
  uint64_t scale = 1000;
  if (text.size() > 2 && text.compare(text.size() - 2, 2, "ms") == 0) {
    digits = text.substr(0, text.size() - 2);
  } else if (text.size() > 2 && text.compare(text.size() - 2, 2, "us") == 0) {
    digits = text.substr(0, text.size() - 2);
    scale = 1;
  }
  uint32_t v = 0;
  if (!ParseMs(digits, v)) return false;
  if (uint64_t{v} * scale > UINT32_MAX) return TooLarge(UINT32_MAX / scale);
  out = static_cast<uint32_t>(uint64_t{v} * scale);
  return true;
}

struct OptionDef {
  const char* name;
  const char* metavar;  // null for a flag
  const char* help;
  std::function<bool(const std::string&, SimulatorOptions&)> set;
};

// A flash memory's size: an amount a file can have (off_t).
bool FlashSize(const std::string& v, uint64_t& out) {
  uint64_t size = 0;
  if (!ParseAmount(v, size)) return false;
  if (size > uint64_t(INT64_MAX)) return TooLarge(uint64_t(INT64_MAX));
  out = size;
  return true;
}

bool After(Fault& f, const std::string& v) {
  f.enabled = true;
  return ParseAmount(v, f.afterBytes);
}

// A count of serial blocks (a fault that is off while negative).
bool BlockIndex(const std::string& v, int64_t& out) {
  uint32_t k = 0;
  if (!ParseMs(v, k)) return false;
  out = k;
  return true;
}

// One row per option; further device sides add theirs here.
const std::vector<OptionDef>& OptionTable() {
  static const std::vector<OptionDef> table = {
      {"--state", "DIR", "state folder: flash images and journal.jsonl (default $EDOG_SIM_STATE, else ./edog-sim-state)",
       [](const std::string& v, SimulatorOptions& o) { o.stateDir = v; return !v.empty(); }},
      {"--socket", "PATH",
       "local socket the device library connects to (default $EDOG_DEVICE_SOCKET, else "
       "$XDG_RUNTIME_DIR/edog-device.sock, else device.sock in the private folder edog-<uid> of "
       "the temp folder); a stale socket of yours there is replaced, anything else refused",
       [](const std::string& v, SimulatorOptions& o) { o.socketPath = v; return !v.empty(); }},
      {"--tcp", nullptr, "also listen on 127.0.0.1, port $EDOG_SIM_TCP_PORT (default 53117), for "
       "the Windows build of the device library (run under wine)",
       [](const std::string&, SimulatorOptions& o) { o.tcpPort = DeviceTcpPort(); return true; }},
      {"--tcp-port", "PORT", "... on this port instead",
       [](const std::string& v, SimulatorOptions& o) {
         uint32_t port = 0;
         if (!ParseMs(v, port) || port == 0) return false;
         if (port > 65535) return TooLarge(65535);
         o.tcpPort = static_cast<uint16_t>(port);
         return true;
       }},
      {"--speed", "BYTES", "emulated link speed in bytes per second, K/M suffixes allowed (default "
       "0 = unlimited; 1M plays full-speed USB)",
       [](const std::string& v, SimulatorOptions& o) { return ParseAmount(v, o.bytesPerSecond); }},
      {"--text-interval", "MS", "period of the status lines sent after a text request (default 1000)",
       [](const std::string& v, SimulatorOptions& o) { return ParseMs(v, o.textIntervalMs); }},
      {"--firmware", "TEXT", "firmware version in the device banner (default 1.00)",
       [](const std::string& v, SimulatorOptions& o) { o.firmwareVersion = v; return true; }},
      {"--database", "TEXT", "camera database version in the device banner (default 2026.12)",
       [](const std::string& v, SimulatorOptions& o) { o.databaseVersion = v; return true; }},
      {"--eflash-size", "BYTES", "size of the simulated e-flash, K/M suffixes allowed (default 64K)",
       [](const std::string& v, SimulatorOptions& o) { return FlashSize(v, o.flashSizes.eflash); }},
      {"--serial-flash-size", "BYTES", "size of the simulated Serial flash (default 16M)",
       [](const std::string& v, SimulatorOptions& o) { return FlashSize(v, o.flashSizes.serial); }},
      {"--nand-size", "BYTES", "size of the simulated NAND flash (default 128M)",
       [](const std::string& v, SimulatorOptions& o) { return FlashSize(v, o.flashSizes.nand); }},
      {"--refuse-after", "K", "after K payload bytes of a download the device takes no more blocks "
       "(0: not even the command block)",
       [](const std::string& v, SimulatorOptions& o) { return After(o.faults.refuse, v); }},
      {"--refuse-for", "MS", "... for MS milliseconds, then takes blocks again (default 0 = for good)",
       [](const std::string& v, SimulatorOptions& o) { return ParseMs(v, o.faults.refuse.forMs); }},
      {"--vanish-after", "K", "after K payload bytes the device disappears: pipes break, "
       "open_dev answers -1",
       [](const std::string& v, SimulatorOptions& o) { return After(o.faults.vanish, v); }},
      {"--vanish-for", "MS", "... and comes back after MS milliseconds (default 0 = for good)",
       [](const std::string& v, SimulatorOptions& o) { return ParseMs(v, o.faults.vanish.forMs); }},
      {"--stall-after", "K", "after K payload bytes the device hangs: takes no blocks, answers no "
       "opens (open_dev gives -1 within its 50 ms)",
       [](const std::string& v, SimulatorOptions& o) { return After(o.faults.stall, v); }},
      {"--stall-for", "MS", "... for MS milliseconds (default 0 = for good)",
       [](const std::string& v, SimulatorOptions& o) { return ParseMs(v, o.faults.stall.forMs); }},
      {"--no-serial", nullptr, "no serial line",
       [](const std::string&, SimulatorOptions& o) { o.serial.enabled = false; return true; }},
      {"--serial-baud", "RATE", "pace of the serial line in baud, 10 bits a byte (default 115200; "
       "0 = as fast as the host writes)",
       [](const std::string& v, SimulatorOptions& o) { return ParseMs(v, o.serial.baud); }},
      {"--answer-latency", "TIME", "the serial loader's answers wait for the next tick of a timer "
       "of this period, as a USB serial adapter's latency timer holds them (e.g. 16ms; 500us; "
       "default 0 = at once)",
       [](const std::string& v, SimulatorOptions& o) { return ParseDurationUs(v, o.serial.answerLatencyUs); }},
      {"--serial-console", "MS", "period of the serial console lines while idle (default 1000)",
       [](const std::string& v, SimulatorOptions& o) {
         return ParseMs(v, o.serial.consoleIntervalMs) && o.serial.consoleIntervalMs > 0;
       }},
      {"--serial-nak-first", nullptr, "the serial loader refuses the first block once",
       [](const std::string&, SimulatorOptions& o) { o.serial.faults.nakFirst = true; return true; }},
      {"--serial-nak-every", "N", "the serial loader refuses every Nth block it receives",
       [](const std::string& v, SimulatorOptions& o) { return ParseMs(v, o.serial.faults.nakEvery); }},
      {"--serial-corrupt", "K", "block K (counted from 0) reaches the serial loader damaged",
       [](const std::string& v, SimulatorOptions& o) { return BlockIndex(v, o.serial.faults.corruptBlock); }},
      {"--serial-silent-after", "K", "after K blocks the serial loader answers nothing more",
       [](const std::string& v, SimulatorOptions& o) { return BlockIndex(v, o.serial.faults.silentAfter); }},
      {"--serial-noise", "N", "N bytes of line noise (never a \"C\") ahead of the serial loader's \"C\"",
       [](const std::string& v, SimulatorOptions& o) { return ParseMs(v, o.serial.faults.noiseBeforeStart); }},
      {"--serial-hang-up-after", "K", "after K blocks the serial line goes dead (both ends close)",
       [](const std::string& v, SimulatorOptions& o) { return BlockIndex(v, o.serial.faults.hangUpAfter); }},
  };
  return table;
}

}  // namespace

std::string SimulatorHelp(const std::string& program) {
  std::string s = "Usage: " + program + " [OPTIONS]\n\n"
      "Plays the GPS speed-camera warning device for the update tool. The stand-in USB\n"
      "device library (libHaldenUSB) reaches it over a local socket, so \"device attached\"\n"
      "means \"simulator running\". On PIPE00 it takes a 20-byte command block and then the\n"
      "payload into the flash memory the block names (sparse files, of the sizes below; NAND\n"
      "start addresses count 512-byte blocks); bytes past a memory's end fail the job. One\n"
      "byte 0x40 asks for device text, sent on PIPE01 in blocks of at most 64 bytes. Every\n"
      "finished or broken job is appended to STATE/journal.jsonl and echoed to standard output.\n"
      "On a pseudo-terminal (its path printed at start and kept in STATE/serial-line) it plays\n"
      "the serial loader: console text while idle; \"upgrade\" CR gets \"C\", then 1029-byte\n"
      "blocks are checked and answered with ACK or NAK, and EOT writes the image into flash\n"
      "as its header block says.\n"
      "Stops cleanly on SIGINT, SIGTERM or SIGHUP.\n\nOptions:\n";
  for (const auto& o : OptionTable()) {
    std::string head = std::string("  ") + o.name + (o.metavar ? std::string(" ") + o.metavar : "");
    if (head.size() < 22) head.resize(22, ' ');
    else head += "\n" + std::string(22, ' ');
    s += head + o.help + "\n";
  }
  s += "  -h, --help            this text\n"
       "  -V, --version         the version\n\n"
       "Faults count payload bytes of each download job; refuse strikes on every download,\n"
       "vanish and stall once per run. A refused block fails at once once the device's small\n"
       "buffer is full, as with the real driver.\n";
  return s;
}

int ParseSimulatorArgs(int argc, char** argv, const std::string& program, SimulatorOptions& options) {
  // Where the tools and the stand-in library look for a running simulator.
  if (options.stateDir.empty()) options.stateDir = DefaultSimulatorStateDir();
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(SimulatorHelp(program).c_str(), stdout);
      return 0;
    }
    if (arg == "-V" || arg == "--version") {
      std::printf("%s %s\n", program.c_str(), edog::kVersion);
      return 0;
    }
    std::string value;
    bool inlineValue = false;
    if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      inlineValue = true;
    }
    const OptionDef* def = nullptr;
    for (const auto& o : OptionTable()) {
      if (arg == o.name) def = &o;
    }
    if (!def) {
      std::fprintf(stderr, "%s: unknown option '%s' (see --help)\n", program.c_str(), argv[i]);
      return 2;
    }
    if (!def->metavar) {  // a flag
      if (inlineValue) {
        std::fprintf(stderr, "%s: %s takes no value\n", program.c_str(), def->name);
        return 2;
      }
    } else if (!inlineValue) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "%s: %s needs a value %s\n", program.c_str(), def->name, def->metavar);
        return 2;
      }
      value = argv[++i];
    }
    OutOfRange().clear();
    if (!def->set(value, options)) {
      const std::string why = OutOfRange().empty() ? "" : ": " + OutOfRange();
      std::fprintf(stderr, "%s: bad value '%s' for %s%s\n", program.c_str(), value.c_str(),
                   def->name, why.c_str());
      return 2;
    }
  }
  return -1;
}

int RunSimulatorProgram(int argc, char** argv, const std::string& program) {
  SimulatorOptions options;
  if (const int status = ParseSimulatorArgs(argc, argv, program, options); status >= 0) return status;

  // The signals are taken by sigwait below; every thread started from here inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);  // a closed terminal: the socket must go too
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  Simulator sim(options);
  sim.JournalFile().SetListener([](const std::string& line) {
    std::printf("%s\n", line.c_str());
    FlushStandardOutput();
  });
  std::string error;
  if (!sim.Start(&error)) {
    std::fprintf(stderr, "%s: %s\n", program.c_str(), error.c_str());
    return 1;
  }
  std::unique_ptr<TcpBridge> bridge;
  std::string tokenPath;
  if (options.tcpPort != 0) {
    // Only who may read the state folder's private files learns the token.
    const std::string token = TcpBridge::NewToken();
    tokenPath = JoinPath(options.stateDir, kDeviceTcpTokenFile);
    bridge = std::make_unique<TcpBridge>(options.tcpPort, sim.SocketPath(), token);
    if (!WriteStateFile(tokenPath, token + "\n", &error) || !bridge->Start(&error)) {
      std::fprintf(stderr, "%s: %s\n", program.c_str(), error.c_str());
      sim.Stop();
      return 1;
    }
  }
  std::printf("%s: device ready on %s (state %s)\n", program.c_str(), sim.SocketPath().c_str(),
              options.stateDir.c_str());
  if (bridge)
    std::printf("%s: TCP bridge on 127.0.0.1:%u (token in %s)\n", program.c_str(),
                unsigned(options.tcpPort), tokenPath.c_str());
  if (!sim.SerialLinePath().empty())
    std::printf("%s: serial line on %s\n", program.c_str(), sim.SerialLinePath().c_str());
  else if (!sim.SerialLineError().empty())
    std::printf("%s: no serial line: %s\n", program.c_str(), sim.SerialLineError().c_str());
  // Nobody reads what it says (a full disk, a closed descriptor): the caller's
  // FinishStandardOutput names the reason.
  if (!FlushStandardOutput()) {
    if (bridge) {
      bridge->Stop();
      RemoveFile(tokenPath);
    }
    sim.Stop();
    return 1;
  }
  int sig = 0;
  sigwait(&stopSignals, &sig);
  if (bridge) {
    bridge->Stop();
    RemoveFile(tokenPath);
  }
  sim.Stop();
  std::printf("%s: stopped\n", program.c_str());
  return 0;
}

}  // namespace edog::sim
