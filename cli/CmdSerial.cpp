// edogtool ports / send-serial / monitor: the serial link from the command line.
#include <chrono>
#include <cstdio>
#include <thread>

#include "cli/Args.h"
#include "cli/Command.h"
#include "common/StandardOutput.h"
#include "cli/SerialSend.h"
#include "cli/SharedOptions.h"
#include "cli/Terminal.h"
#include "common/Files.h"
#include "common/Format.h"
#include "device/Comm.h"
#include "device/SerialDownload.h"
#include "device/SerialPorts.h"

namespace edog::cli {
namespace {

constexpr int kPollMs = 50;  // how often the main thread looks at Ctrl-C

// Logs every byte that crosses the line, with a time stamp, to standard error.
class TracingLink final : public SerialLink {
 public:
  explicit TracingLink(SerialLink& inner) : inner_(inner) {}
  int Write(const void* data, size_t length) override {
    const int ok = inner_.Write(data, length);
    Log("TX", data, length, ok ? "" : " (failed)");
    return ok;
  }
  int Read(void* buffer, int maxCount) override {
    const int n = inner_.Read(buffer, maxCount);
    if (n > 0) Log("RX", buffer, static_cast<size_t>(n), "");
    return n;
  }
  bool WaitReadable(uint32_t ms) override { return inner_.WaitReadable(ms); }
  uint32_t LineBaud() const override { return inner_.LineBaud(); }
  std::string LineName() const override { return inner_.LineName(); }
  void HoldLowLatency(bool on) override { inner_.HoldLowLatency(on); }

 private:
  static void Log(const char* dir, const void* data, size_t n, const char* note) {
    std::string hex;
    hex.reserve(n * 3);
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < n; ++i) hex += Format(" %02X", p[i]);
    std::fprintf(stderr, "%s %s %zu:%s%s\n", TraceStamp().c_str(), dir, n, hex.c_str(), note);
  }
  SerialLink& inner_;
};

int Ports(int argc, char** argv) {
  std::string state = DefaultSimulatorStateDir();
  Args args("edogtool ports [--state DIR]",
            "Lists the serial ports as the COM port box shows them (sorted by name), with\n"
            "the device simulator's serial line when one is running.");
  args.Option("--state", &state, "DIR",
              "the simulator's state folder (default $EDOG_SIM_STATE, else ./edog-sim-state)");
  if (auto r = args.Parse(argc, argv); r != Args::kOk) return Args::ExitCode(r);
  for (const auto& name : ComPortBoxEntries(state)) std::printf("%s\n", name.c_str());
  return kExitOk;
}

int SendSerial(int argc, char** argv) {
  std::string port, baudText = "115200";
  bool trace = false;
  std::vector<std::string> files;
  Args args("edogtool send-serial --port PATH [--baud 115200|57600] [--trace] FILE",
            "Sends FILE whole to the device's loader over a serial line: \"upgrade\", then\n"
            "1024-byte blocks with CRC-16, each answered by the device, then the end.\n"
            "Prints the progress-list lines and the message-box texts, then where the\n"
            "blocks' time went (the line, the pause, the device's answer, this program) and,\n"
            "when the answers come late, what would speed them up. Exit status 0 only\n"
            "after \"Code Download End...\"; Ctrl-C stops between blocks (status 130).");
  args.Option("-p,--port", &port, "PATH", "the serial port (a device path such as /dev/ttyUSB0)");
  AddBaudOption(args, &baudText);
  args.Flag("--trace", &trace, "log every byte sent and received, time-stamped, to stderr");
  args.Positionals(&files, "FILE", 1, 1, "the file to send (usually a headered image)");
  if (auto r = args.Parse(argc, argv); r != Args::kOk) return Args::ExitCode(r);
  uint32_t baud = 0;
  if (!ReadBaudOption(args, baudText, baud)) return kExitUsage;
  if (port.empty()) return args.UsageError("--port PATH is required");

  CComm comm;
  if (!ConnectSerial(comm, port, baud, "send-serial")) return kExitFailed;
  InstallInterruptHandler();
  // The download reads the port itself; the reader stays out of its way.
  comm.SuspendReader();
  TracingLink traced(comm);
  SerialLink& link = trace ? static_cast<SerialLink&>(traced) : comm;
  TerminalSerialObserver observer(FileSize(files[0]).value_or(0));
  SerialDownload download(link, observer);
  download.Start(true, files[0]);
  while (!download.Finished()) {
    if (Interrupted()) download.Cancel();
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
  const SerialDownloadResult result = download.Wait();
  comm.ResumeReader();
  comm.Close();
  if (result == SerialDownloadResult::kCancelled || Interrupted()) {
    std::fprintf(stderr, "edogtool send-serial: interrupted\n");
    return InterruptExitCode();
  }
  return result == SerialDownloadResult::kDone && observer.LastLine() == kDownloadEndLine
             ? kExitOk
             : kExitFailed;
}

// Writes the reader's text (LF already turned into CR LF) to standard output.
class StdoutSink final : public CommNotifySink {
 public:
  void OnSerialText(const CComm& comm) override {
    std::fwrite(comm.Text(), 1, static_cast<size_t>(comm.TextLength() - 1), stdout);
    std::fflush(stdout);
  }
};

int Monitor(int argc, char** argv) {
  std::string port, baudText = "115200", secondsText;
  Args args("edogtool monitor --port PATH [--baud 115200|57600] [--seconds N]",
            "Opens the serial port as the Connect button does and copies the text the\n"
            "device sends to standard output, as the status monitor shows it (line feeds\n"
            "as CR LF), until Ctrl-C or the given time has passed.");
  args.Option("-p,--port", &port, "PATH", "the serial port");
  AddBaudOption(args, &baudText);
  args.Option("--seconds", &secondsText, "N", "stop after N seconds (default: until Ctrl-C)");
  if (auto r = args.Parse(argc, argv); r != Args::kOk) return Args::ExitCode(r);
  uint32_t baud = 0, seconds = 0;
  if (!ReadBaudOption(args, baudText, baud)) return kExitUsage;
  if (port.empty()) return args.UsageError("--port PATH is required");
  const bool timed = args.Given("--seconds");
  if (timed && !ParseUnsigned(secondsText, seconds))
    return args.UsageError("--seconds takes a whole number");

  CComm comm;
  StdoutSink sink;
  comm.SetNotifyWnd(&sink);
  if (!ConnectSerial(comm, port, baud, "monitor")) return kExitFailed;
  InstallInterruptHandler();
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!Interrupted() && !StandardOutputFailed() &&
         (!timed || std::chrono::steady_clock::now() < end))
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  comm.Close();
  return Interrupted() ? InterruptExitCode() : kExitOk;
}

}  // namespace

EDOG_COMMAND("ports", "list the serial ports (and the simulator's serial line)", Ports);
EDOG_COMMAND("send-serial", "send a file to the device's loader over a serial line", SendSerial);
EDOG_COMMAND("monitor", "copy the text a serial port receives to standard output", Monitor);

}  // namespace edog::cli
