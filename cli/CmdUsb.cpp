// edogtool send-usb / read-usb / sim: the USB transfer, the device text reader and the
// device simulator from the command line.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "cli/Args.h"
#include "cli/SharedOptions.h"
#include "cli/Command.h"
#include "common/StandardOutput.h"
#include "cli/Terminal.h"
#include "cli/UsbSend.h"
#include "common/DynamicLibrary.h"
#include "common/Format.h"
#include "device/DeviceLibraryChoice.h"
#include "device/UsbConfig.h"
#include "device/UsbSetup.h"
#include "device/DeviceSocket.h"
#include "device/DeviceSocketTrust.h"
#include "device/DeviceTextReader.h"
#include "device/UsbTransfer.h"
#include "tools/PathFunctions.h"
#include "update/HeaderedImage.h"

#ifdef EDOG_HAVE_SIMLIB
#include "sim/SimProgram.h"
#endif

namespace edog::cli {
namespace {

using SteadyClock = std::chrono::steady_clock;

// The window's texts end in CR LF; a terminal wants LF.
std::string TerminalLine(std::string text) {
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) text.erase(text.size() - 2, 1);
  return text;
}

// The rest at the pace so far, in whole seconds rounded up: "0:00" only once nothing is left.
std::string TimeLeft(SteadyClock::duration elapsed, uint64_t sent, uint64_t total) {
  if (sent == 0 || sent >= total) return {};
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
  const long long leftMs = static_cast<long long>(ms * (total - sent) / sent);
  const long long left = (leftMs + 999) / 1000;
  return Format(" %lld:%02lld left", left / 60, left % 60);
}

// The terminal's side of the status window: a bar (or plain lines) and, with --trace,
// one line per pipe write on standard error.
class TerminalTransferObserver final : public UsbTransferObserver {
 public:
  TerminalTransferObserver(const std::string& label, uint32_t payloadSize, bool trace)
      : display_("send " + label), trace_(trace), payloadSize_(payloadSize) {}

  void OnCountText(const std::string& text) override {
    count_ = text;
    // The first count comes once the command block is through: the payload's clock starts.
    if (!started_) {
      started_ = true;
      start_ = SteadyClock::now();
    }
    std::string detail = count_;
    if (!speed_.empty()) detail += " " + speed_ + "/s";
    display_.Update(percent_, detail + TimeLeft(SteadyClock::now() - start_, sent_, payloadSize_));
  }
  void OnSpeedText(const std::string& text) override { speed_ = text; }
  void OnPercent(uint32_t percent) override { percent_ = percent; }
  void OnInfoText(const std::string& text) override { infos_.push_back(text); }
  void OnDeviceRefusing(const std::string& text) override { Notice(text); }
  void OnPresenceProbeMissed(const std::string& text) override { Notice(text); }
  void OnWrite(UsbWriteKind kind, uint32_t offset, uint32_t size, uint32_t attempt,
               bool accepted) override {
    if (kind == UsbWriteKind::kPayload && accepted) sent_ = uint64_t(offset) + size;
    if (!trace_) return;
    std::fprintf(stderr, "%s %s offset %u size %u attempt %u %s\n", TraceStamp().c_str(),
                 kind == UsbWriteKind::kCommandBlock ? "PIPE00 command" : "PIPE00 payload",
                 offset, size, attempt, accepted ? "accepted" : "refused");
  }
  void Finish() { display_.Finish(); }
  void Notice(const std::string& text) {
    display_.Finish();  // a line of its own; the bar goes on below it
    std::printf("%s", TerminalLine(text).c_str());
    std::fflush(stdout);
  }
  const std::vector<std::string>& Infos() const { return infos_; }

 private:
  ProgressDisplay display_;
  bool trace_;
  uint32_t payloadSize_;
  bool started_ = false;
  SteadyClock::time_point start_;
  uint64_t sent_ = 0;
  uint32_t percent_ = 0;
  std::string count_, speed_;
  std::vector<std::string> infos_;
};

}  // namespace

namespace {

UsbSendOutcome SendPrepared(UsbTransferTurns& turns, const Result<UsbSetupStatus>& setup,
                            UsbTransferJob job, const std::string& label, bool trace) {
  UsbSendOutcome outcome;
  outcome.setup = setup.status;
  if (!setup.Ok()) {
    outcome.setupMessage = setup.message;
    return outcome;
  }
  uint8_t command[kCommandBlockSize] = {};
  if (ReadCommandBlock(job, command)) {
    if (const std::string info = UsbInfoLine(command); !info.empty()) std::printf("%s\n", info.c_str());
  }
  auto observer = std::make_shared<TerminalTransferObserver>(
      label, static_cast<uint32_t>(job.size - kHeaderBlockSize), trace);
  UsbTransferWorker worker(turns, std::move(job), observer);
  if (!worker.Start()) {
    outcome.result = worker.Wait();
    outcome.started = false;
    std::fprintf(stderr, "%s\n", worker.StartError().c_str());
    return outcome;
  }
  while (!worker.Finished()) {
    if (Interrupted()) worker.Cancel();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  outcome.result = worker.Wait();
  observer->Finish();
  if (!observer->Infos().empty()) {
    // The window's line rates the whole payload also when the transfer ended early; the
    // terminal says beside it what the device confirmed, and at what rate.
    std::string line = observer->Infos().back();
    const UsbTransferResult& r = outcome.result;
    if (r.sent < r.payloadSize)
      line += Format(" (the device took %u of %u bytes, %uKB/s)", r.sent, r.payloadSize,
                     UsbSummaryRate(r.sent, r.elapsedMs));
    std::printf("%s\n", line.c_str());
  }
  return outcome;
}

}  // namespace

UsbSendOutcome SendOverUsb(UsbTransferTurns& turns, const std::string& path,
                           const std::string& label, bool trace, const std::string& library) {
  UsbTransferJob job;
  const Result<UsbSetupStatus> setup = PrepareUsbTransfer(path, label, job, library);
  return SendPrepared(turns, setup, std::move(job), label, trace);
}

UsbSendOutcome SendOverUsb(UsbTransferTurns& turns, const KeptFile& file,
                           const std::string& label, bool trace, const std::string& library) {
  UsbTransferJob job;
  const Result<UsbSetupStatus> setup = PrepareUsbTransfer(file, label, job, library);
  return SendPrepared(turns, setup, std::move(job), label, trace);
}

std::string AbortedText(const UsbTransferResult& r) {
  if (r.fileReadFailed)
    return Format("the file could not be read on after %u of %u bytes", r.sent, r.payloadSize);
  if (r.partBlock)
    return Format("the device %s after %u of %u bytes", kPartBlockText, r.sent, r.payloadSize);
  return Format(r.deviceGone ? "the device has gone or stopped answering after %u of %u bytes"
                             : "the device stopped taking data after %u of %u bytes",
                r.sent, r.payloadSize);
}

bool ExplainDeviceRefusal(const char* command, const UsbLibrary* library) {
  if (const std::string problem = library ? library->Problem() : std::string(); !problem.empty()) {
    std::fprintf(stderr, "edogtool %s: %s\n", command, problem.c_str());
    return true;
  }
  const std::string why = DeviceSocketRefusal(DefaultDeviceSocketPath());
  if (why.empty()) return false;
  std::fprintf(stderr, "edogtool %s: refusing the device socket: %s; %s\n", command, why.c_str(),
               kDeviceSocketFix);
  return true;
}

void ExplainCantOpen(const char* command, const UsbLibrary* library, const std::string& why) {
  if (!ExplainDeviceRefusal(command, library) && !why.empty())
    std::fprintf(stderr, "edogtool %s: %s\n", command, why.c_str());
}

std::string UsbLibraryHelpText() {
#ifdef _WIN32
  // The vendor's DLL takes the place of both Linux libraries there.
  return "The device is reached through the device library (" +
         DynamicLibrary::PlatformFileName(USB_LIBRARY_NAME) +
         " beside the\nprogram, else in the system's library folder), which talks to the device;\n"
         "the stand-in library of the developer build talks to edog-sim on its TCP port.";
#else
  return kDeviceLibraryEpilog;
#endif
}

namespace {

int SendUsb(int argc, char** argv) {
  std::vector<std::string> files;
  bool trace = false;
  std::string label;
  DeviceOptions device;
  Args args("edogtool send-usb [--trace] [--label TEXT] [--device usb|sim] [--detach-driver] FILE",
            "Sends a headered image to the device over USB as the download status window does:\n"
            "the 20-byte command block on PIPE00, then the payload (everything after the\n"
            "1024-byte header block) in blocks of at most 2048 bytes, read from the file as they\n"
            "go. A refused block is tried 3002 times and for at least 47 s. On a terminal a\n"
            "bar shows percent, KB sent, speed and time left; otherwise one line per 10 %.\n"
            "Ctrl-C cancels after the current block (exit 130).\n"
            "Exit 0 only when the device took the command block and the whole payload and\n"
            "confirmed at the end that it stored them. The header's fields are the device's\n"
            "to judge: only a file shorter than its header block is refused.");
  args.Flag("--trace", &trace, "log every pipe write and its result, time-stamped, to stderr");
  args.Option("--label", &label, "TEXT", "name shown for the file (default: the file's name)");
  AddDeviceOption(args, &device);
  args.Positionals(&files, "FILE", 1, 1, "a headered image (.hdr)");
  args.Epilog(UsbLibraryHelpText());
  if (auto r = args.Parse(argc, argv); r != Args::kOk) return Args::ExitCode(r);
  const std::string& path = files[0];
  if (label.empty()) label = ExtractFileName(path);
  std::string libraryName;
  // Stop requests are ours before anything of the device's is opened or waited for.
  InstallInterruptHandler();
  if (!ReadDeviceOption(args, device, libraryName)) return kExitUsage;
  // Held for the whole command, so the library's word on a missing device is still there.
  std::string why;
  const auto library = UsbLibrary::Load(libraryName, &why);
  UsbTransferTurns turns;
  const UsbSendOutcome sent = SendOverUsb(turns, path, label, trace, libraryName);
  if (sent.setup != UsbSetupStatus::kReady) {
    std::fprintf(stderr, "edogtool send-usb: %s", sent.setupMessage.c_str());
    if (sent.setup == UsbSetupStatus::kNoDevice) ExplainCantOpen("send-usb", library.get(), why);
    return kExitFailed;
  }
  if (!sent.started) return kExitFailed;
  const UsbTransferResult& r = sent.result;
  switch (r.outcome) {
    case UsbTransferResult::kCancelled:
      std::fprintf(stderr, "edogtool send-usb: cancelled after %u of %u bytes\n", r.sent, r.payloadSize);
      return InterruptExitCode();
    case UsbTransferResult::kAborted:
      std::fprintf(stderr, "edogtool send-usb: %s\n", AbortedText(r).c_str());
      if (r.deviceGone) ExplainDeviceRefusal("send-usb", library.get());
      return kExitFailed;
    case UsbTransferResult::kCompleted:
      break;
  }
  if (!r.commandBlockAccepted) {
    std::fprintf(stderr, "edogtool send-usb: the device refused the command block; the payload "
                         "went without it\n");
    return kExitFailed;
  }
  if (!r.stored) {
    std::fprintf(stderr, "edogtool send-usb: all %u bytes went, but the device did not confirm "
                         "that it stored them\n", r.sent);
    return kExitFailed;
  }
  if (Interrupted()) return InterruptExitCode();  // Ctrl-C during the last block: all sent anyway
  std::printf("sent %u bytes\n", r.sent);
  return kExitOk;
}

int ReadUsb(int argc, char** argv) {
  std::string seconds;
  DeviceOptions device;
  Args args("edogtool read-usb [--seconds N] [--device usb|sim] [--detach-driver]",
            "Asks the device for its text (one byte 0x40 on PIPE00) and copies what it sends on\n"
            "PIPE01 to standard output, until the device goes away, N seconds have passed, or\n"
            "Ctrl-C (exit 130).");
  args.Option("--seconds", &seconds, "N", "stop after N seconds (default: until the device goes)");
  AddDeviceOption(args, &device);
  args.Epilog(UsbLibraryHelpText());
  if (auto r = args.Parse(argc, argv); r != Args::kOk) return Args::ExitCode(r);
  uint32_t limit = 0;
  if (args.Given("--seconds") && !ParseUnsigned(seconds, limit)) return args.UsageError("--seconds needs a whole number");
  std::string libraryName;
  // Stop requests are ours before anything of the device's is opened or waited for.
  InstallInterruptHandler();
  if (!ReadDeviceOption(args, device, libraryName)) return kExitUsage;
  // Why a library that is there is unusable comes after "Can't open USB device.", as in
  // send-usb.
  std::string why;
  const auto library = UsbLibrary::Load(libraryName, &why);
  const auto start = SteadyClock::now();
  std::atomic<bool> present{true};
  // The connected flag: kept by a presence probe about once a second, as the main window
  // does (on the reader's thread, between its reads).
  auto lastPoll = start;
  const auto connected = [&] {
    const auto now = SteadyClock::now();
    if (StandardOutputFailed()) return false;  // nowhere to copy to
    if (now - lastPoll >= std::chrono::seconds(1)) {
      lastPoll = now;
      present = library->DevicePresent();
    }
    return present.load();
  };
  // The reader runs on its own thread, so that a read waiting for the device can be
  // broken when the time is up or on Ctrl-C.
  DeviceTextReader reader(library);
  if (!library || !reader.Start(connected, [](const std::string& text) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
      })) {
    if (library && !reader.StartError().empty()) {
      std::fprintf(stderr, "edogtool read-usb: %s\n", reader.StartError().c_str());
      return kExitFailed;
    }
    std::fprintf(stderr, "edogtool read-usb: %s", kCantOpenUsbDevice);
    ExplainCantOpen("read-usb", library.get(), why);
    return kExitFailed;
  }
  while (reader.Reading() && !Interrupted() && !StandardOutputFailed() &&
         !(limit && SteadyClock::now() - start >= std::chrono::seconds(limit)))
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  reader.Stop();
  if (Interrupted()) return InterruptExitCode();
  if (!present) std::fprintf(stderr, "edogtool read-usb: the device has gone\n");
  return kExitOk;
}

int UsbList(int argc, char** argv) {
  Args args("edogtool usb-list",
            "Lists the attached USB devices with their interfaces and bulk endpoints, so that\n"
            "you can name yours for --device usb: a line such as\n"
            "  EDOG_USB_ID=1d6b:0f17:0:0x02:0x81\n"
            "under a device is what to set (vid:pid[:interface[:out-ep:in-ep]]), either in the\n"
            "environment or as one line, without 'EDOG_USB_ID=', in the configuration file.\n"
            "Such a line is offered only for a vendor-specific interface: one of a standard\n"
            "class (mass storage, HID, ...) is marked 'not usable' and is never written to.\n"
            "Lists nothing the user may not see: no device is opened.");
  args.Epilog(std::string("Configuration file: ") + UsbConfigPath());
  if (auto r = args.Parse(argc, argv); r != Args::kOk) return Args::ExitCode(r);
  const auto library = UsbLibrary::Load(kUsbDeviceLibraryName);
  std::string text;
  if (!library || !library->ListDevices(text)) {
    std::fprintf(stderr, "edogtool usb-list: the USB device library %s cannot be loaded\n",
                 DynamicLibrary::PlatformFileName(kUsbDeviceLibraryName).c_str());
    return kExitFailed;
  }
  std::printf("%s", text.c_str());
  const UsbConfig config = LoadUsbConfig();
  for (const UsbDeviceEntry& e : config.devices)
    std::printf("configured: %04x:%04x (%s)\n", e.vendor, e.product, e.origin.c_str());
  for (const std::string& p : config.problems) std::fprintf(stderr, "edogtool usb-list: %s\n", p.c_str());
  if (!config.Configured()) std::printf("%s\n", UsbConfigHint().c_str());
  return kExitOk;
}

int UsbSetup(int argc, char** argv) {
  std::vector<std::string> choice;
  Args args("edogtool usb-setup [N|VID:PID]",
            "Sets up a real device for --device usb. Without an argument it lists the attached\n"
            "USB devices that have a vendor-specific interface with a bulk OUT and a bulk IN\n"
            "endpoint (what usb-list offers a line for; a device of a standard class, such as\n"
            "a memory stick or a keyboard, is never offered), numbered from 1. With the\n"
            "device's number or its vid:pid it writes the device into the configuration file\n"
            "(a line for the same vid:pid is replaced, others stay), saves the udev rule that\n"
            "lets users open it beside that file, and prints the rule and the one command that\n"
            "installs it (pkexec where it is installed, else sudo). The programs find the\n"
            "device from then on, a running window too, without a restart.\n"
            "Exit 1 when no device can be offered or the choice names none.");
  args.Positionals(&choice, "N|VID:PID", 0, 1, "the device to set up: its number in the list or its ids");
  args.Epilog(std::string("Configuration file: ") + UsbConfigPath());
  if (auto r = args.Parse(argc, argv); r != Args::kOk) return Args::ExitCode(r);
  std::vector<UsbSetupCandidate> candidates;
  std::string why;
  if (!ListUsbSetupCandidates(candidates, &why)) {
    std::fprintf(stderr, "edogtool usb-setup: %s\n", why.c_str());
    return kExitFailed;
  }
  if (candidates.empty()) {
    std::fprintf(stderr, "edogtool usb-setup: no attached USB device has a vendor-specific "
                         "interface with bulk endpoints; attach the device ('edogtool usb-list' "
                         "shows every device)\n");
    return kExitFailed;
  }
  if (choice.empty()) {
    for (size_t i = 0; i < candidates.size(); ++i)
      std::printf("%zu  %s  %s\n", i + 1, candidates[i].Id().c_str(), candidates[i].place.c_str());
    std::printf("set one up with 'edogtool usb-setup N' or 'edogtool usb-setup VID:PID'\n");
    return kExitOk;
  }
  const int at = ChooseUsbSetupCandidate(candidates, choice[0], &why);
  if (at < 0) {
    std::fprintf(stderr, "edogtool usb-setup: %s\n", why.c_str());
    return kExitFailed;
  }
  UsbSetupResult result;
  if (!SetUpUsbDevice(candidates[static_cast<size_t>(at)], result, &why)) {
    std::fprintf(stderr, "edogtool usb-setup: %s\n", why.c_str());
    return kExitFailed;
  }
  std::printf("%s", result.Report().c_str());
  return kExitOk;
}

}  // namespace

EDOG_COMMAND("usb-setup", "set up a real USB device: usb.conf and its udev rule", UsbSetup);
EDOG_COMMAND("usb-list", "list attached USB devices and their bulk endpoints", UsbList);
EDOG_COMMAND("send-usb", "send a headered image to the device over USB", SendUsb);
EDOG_COMMAND("read-usb", "copy the device's text to standard output", ReadUsb);

#ifdef EDOG_HAVE_SIMLIB
namespace {
int Sim(int argc, char** argv) { return sim::RunSimulatorProgram(argc, argv, "edogtool sim"); }
}  // namespace
EDOG_COMMAND("sim", "run the device simulator (same as edog-sim)", Sim);
#endif

}  // namespace edog::cli
