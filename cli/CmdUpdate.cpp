// edogtool update: the update job of the 更新 button, against the attached device.
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "cli/Args.h"
#include "cli/Command.h"
#include "cli/SerialSend.h"
#include "cli/SharedOptions.h"
#include "cli/Terminal.h"
#include "cli/UsbSend.h"
#include "common/Files.h"
#include "device/NoDeviceHint.h"
#include "device/UsbLibrary.h"
#include "update/PackageLookup.h"
#include "update/UpdateJob.h"

namespace edog::cli {
namespace {

// The window's texts use CR LF; a terminal wants LF.
std::string TerminalText(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

// The main window's side of the job, on a terminal.
class TerminalUpdateHost final : public UpdateHost {
 public:
  TerminalUpdateHost(std::shared_ptr<UsbLibrary> usb, std::string library, CComm* comm,
                     bool trace, std::string libraryProblem)
      : usb_(std::move(usb)), library_(std::move(library)), comm_(comm), trace_(trace),
        libraryProblem_(std::move(libraryProblem)) {}

  // No timer polls here: each check probes the device afresh. A probe answers within
  // 50 ms; a device that misses one answer on a busy machine gets two more chances, as
  // the window's poll would try again a second later.
  bool Connected() override {
    for (int attempt = 0; usb_ && attempt < 3; ++attempt) {
      if (usb_->DevicePresent()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!explained_) explained_ = ExplainDeviceRefusal("update", usb_.get());
    return false;
  }
  void AppendLog(const std::string& text) override {
    std::printf("%s", TerminalText(text).c_str());
    if (!text.empty() && text.back() != '\n') std::printf("\n");
    std::fflush(stdout);
  }
  void AddProgressLine(const std::string& line) override {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
  // The window's message boxes: their texts go to standard error, with what a terminal
  // user needs beyond them. The summary is printed once, by the command, on stdout.
  void OnFailure(const std::string& text) override {
    ToStandardError(text);
    if (text == kNotConnectedText) {
      std::fprintf(stderr, "%s\n", NoDeviceHint().c_str());
    } else if (text == kNothingSelectedText) {
      std::fprintf(stderr, "choose what to renew: --voice, --map, --software (see --help)\n");
    }
  }
  void OnSummary(const std::string&) override {}
  void PumpWait(uint32_t ms) override {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end && !Interrupted())
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  void OnBusyChanged(bool) override {}
  void SetPath(ContentKind kind, const std::string& path) override {
    if (kind == ContentKind::kSoftware) softwarePath_ = path;
  }
  void Reset() override { softwarePath_.clear(); }
  TransferOutcome RunUsbTransfer(const KeptFile& file, const std::string& label) override {
    if (Interrupted()) return TransferOutcome::kFailed;
    const UsbSendOutcome sent = SendOverUsb(usbTurns_, file, label, trace_, library_);
    if (sent.setup != UsbSetupStatus::kReady) {
      std::fprintf(stderr, "%s", sent.setupMessage.c_str());
      if (sent.setup == UsbSetupStatus::kNoDevice && !explained_)
        explained_ = ExplainDeviceRefusal("update", usb_.get());
      return TransferOutcome::kFailed;
    }
    if (sent.result.outcome == UsbTransferResult::kAborted) {
      std::fprintf(stderr, "%s\n", AbortedText(sent.result).c_str());
      if (sent.result.deviceGone) ExplainDeviceRefusal("update", usb_.get());
    }
    if (DeviceTookWholeFile(sent.result)) return TransferOutcome::kCompleted;
    if (sent.result.deviceGone) return TransferOutcome::kDeviceLost;
    return sent.result.outcome == UsbTransferResult::kCancelled ? TransferOutcome::kCancelled
                                                                : TransferOutcome::kFailed;
  }
  bool SerialOpen() override { return comm_ != nullptr; }
  void StartSerialDownload(const KeptFile* software) override {
    // The download reads the port itself until it resumes the reader at its end. It sends
    // the extracted software, or the software path as it stands now (empty then).
    comm_->SuspendReader();
    auto d = std::make_unique<Download>();
    const uint64_t size = software ? software->Size().value_or(0) : FileSize(softwarePath_).value_or(0);
    d->observer = std::make_unique<TerminalSerialObserver>(
        size, [comm = comm_] { comm->ResumeReader(); });
    d->download = std::make_unique<SerialDownload>(*comm_, *d->observer);
    if (software) d->download->Start(true, *software);
    else d->download->Start(true, softwarePath_);
    downloads_.push_back(std::move(d));
  }

  // Waits for the serial downloads the job started; true when each one completed.
  bool WaitForSerialDownloads() {
    bool ok = true;
    for (auto& d : downloads_) {
      while (!d->download->Finished()) {
        if (Interrupted()) d->download->Cancel();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      ok = d->download->Wait() == SerialDownloadResult::kDone && ok;
    }
    return ok;
  }

 private:
  struct Download {
    std::unique_ptr<TerminalSerialObserver> observer;
    std::unique_ptr<SerialDownload> download;
  };
  // Which device library answered nothing, and who plays the device here.
  std::string NoDeviceHint() const {
    // A library that is there but unusable is the reason: the user needs its words.
    if (!libraryProblem_.empty()) return libraryProblem_;
    return edog::NoDeviceHint(NoDeviceFactsOf(usb_.get(), library_));
  }
  std::shared_ptr<UsbLibrary> usb_;
  std::string library_;
  static void ToStandardError(const std::string& text) {
    std::fprintf(stderr, "%s\n", TerminalText(text).c_str());
  }

  CComm* comm_;
  bool trace_;
  std::string softwarePath_;
  bool explained_ = false;  // the socket's refusal is said once per run
  std::string libraryProblem_;  // why the device library cannot be used, if it is there
  std::vector<std::unique_ptr<Download>> downloads_;
  UsbTransferTurns usbTurns_;
};

int Update(int argc, char** argv) {
  bool voice = false, map = false, software = false, trace = false;
  std::string package;
  std::string methodText = std::to_string(kDefaultEncryptionMethod), port, baudText = "115200";
  DeviceOptions device;
  Args args("edogtool update [--voice] [--map] [--software] [--package PATH] [--method N] "
            "[--port PATH] [--baud N] [--device usb|sim] [--detach-driver]",
            "Runs the update job of the window's 更新 button: extracts the update package,\n"
            "checks and lists each selected content's header and sends it to the device over\n"
            "USB, or starts a serial code download when its header names the serial port.\n"
            "Prints the update log, the progress-list lines, each transfer's progress and the\n"
            "result summary (once, on standard output); the other message-box texts go to\n"
            "standard error. Ctrl-C cancels the transfer after its current block. Exit status 0\n"
            "only when every selected content reached the device whole.");
  args.Flag("--voice", &voice, "renew the voice prompts (语音)");
  args.Flag("--map", &map, "renew the camera database (数据)");
  args.Flag("--software", &software, "renew the device software (软件)");
  args.Option("--package", &package, "PATH", "the update package (default: the first qzkt.dll found, see below)");
  AddMethodOption(args, &methodText);
  args.Option("-p,--port", &port, "PATH", "open this serial port first, for contents sent over UART");
  AddBaudOption(args, &baudText);
  args.Flag("--trace", &trace, "log every USB pipe write to stderr");
  AddDeviceOption(args, &device);
  args.Epilog("Without --package, qzkt.dll is looked for beside the program, then in\n"
              "$XDG_DATA_HOME/edog/ (default ~/.local/share/edog/), then in the installed\n"
              "share/edog/; the first found is used and named before the job starts.\n" +
              UsbLibraryHelpText() + "\nWithout a device the job stops with the not-connected message.");
  if (auto r = args.Parse(argc, argv); r != Args::kOk) return Args::ExitCode(r);
  int method = 0;
  uint32_t baud = 0;
  if (!ReadMethodOption(args, methodText, method)) return kExitUsage;
  if (!ReadBaudOption(args, baudText, baud)) return kExitUsage;
  std::string libraryName;
  // Stop requests are ours before anything of the device's is opened or waited for.
  InstallInterruptHandler();
  if (!ReadDeviceOption(args, device, libraryName)) return kExitUsage;
  std::unique_ptr<CComm> comm;
  if (!port.empty()) {
    comm = std::make_unique<CComm>();
    if (!ConnectSerial(*comm, port, baud, "update")) return kExitFailed;
  }
  std::string why;
  auto usb = UsbLibrary::Load(libraryName, &why);
  TerminalUpdateHost host(std::move(usb), libraryName, comm.get(), trace, why);
  UpdateJob job(host);
  UpdateSettings settings;
  const PackageLookup lookup = FindPackage(PackagePlacesHere(package));
  std::printf("%s", TerminalText(PackageLookupText(lookup)).c_str());
  settings.packagePath = lookup.path;
  settings.packageRefusal = lookup.refusal;
  settings.encryptionMethod = method;
  const UpdateResult result = job.Run({voice, map, software}, settings);
  const bool serialOk = host.WaitForSerialDownloads();
  if (comm) comm->Close();

  // A job ended by a lost device still says what the device holds.
  if (result.started && result.extracted && (!result.aborted || result.usbLost)) {
    std::printf("Result:\n%s", TerminalText(result.summary).c_str());
    if (!result.summary.empty() && result.summary.back() != '\n') std::printf("\n");
  }
  if (Interrupted()) return InterruptExitCode();
  const bool ok = result.started && result.extracted && !result.aborted && result.failed == 0 &&
                  serialOk;
  return ok ? kExitOk : kExitFailed;
}

}  // namespace

EDOG_COMMAND("update", "run the update job against the attached device", Update);

}  // namespace edog::cli
