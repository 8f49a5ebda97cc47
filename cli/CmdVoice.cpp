// edogtool voice: the voice data generation run from the command line, with the voice
// data generator's defaults.
#include <cstdio>

#include "cli/Args.h"
#include "cli/Command.h"
#include "cli/TargetOptions.h"
#include "cli/Terminal.h"
#include "tools/VoiceGeneration.h"
#include "tools/WaveInfo.h"
#include "tools/WaveListRow.h"

namespace edog::cli {
namespace {

// Message boxes carry their own line ends; the terminal gets one.
std::string AsLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

class TerminalObserver : public VoiceGenerationObserver {
 public:
  void OnBusyChanged(bool) override {}
  void OnProgress(long percent) override { progress_.Update(static_cast<unsigned>(percent)); }
  void OnCompleted(long files) override {
    progress_.Finish();
    finished_ = files;
  }
  void OnEncoderFailed(const std::string& path, int code) override {
    // The box's words stay; the terminal names the file and what the answer means.
    detail_ = path + ": " + VoiceEncoderCodeText(code);
    if (const std::string why = EncoderObjection(path); !why.empty()) detail_ += ": " + why;
  }
  void Fail(const std::string& text) {
    progress_.Finish();
    // Each line its own prefix: the missing encoder's words are followed by the reason.
    const std::string lines = AsLine(text);
    for (size_t at = 0; at <= lines.size();) {
      size_t end = lines.find('\n', at);
      if (end == std::string::npos) end = lines.size();
      std::string line = lines.substr(at, end - at);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::fprintf(stderr, "edogtool voice: %s\n", line.c_str());
      at = end + 1;
    }
    if (!detail_.empty()) std::fprintf(stderr, "edogtool voice: %s\n", detail_.c_str());
  }
  bool StopRequested() override { return Interrupted(); }
  long Finished() const { return finished_; }

 private:
  ProgressDisplay progress_{"voice"};
  long finished_ = -1;
  std::string detail_;
};

// "hello.wav:3" -> path "hello.wav", bits "3". Only a trailing ":4" or ":3" is a switch, so
// paths with colons (drives) stay whole.
void SplitBitsSuffix(const std::string& arg, std::string& path, std::string& bits) {
  path = arg;
  bits = "4";
  if (arg.size() > 2 && arg[arg.size() - 2] == ':' && (arg.back() == '4' || arg.back() == '3')) {
    path = arg.substr(0, arg.size() - 2);
    bits = arg.substr(arg.size() - 1);
  }
}

// Reads each file's rate the way the dialog lists it; false after a message.
bool AddWaveFile(VoiceGeneration& gen, const std::string& arg) {
  std::string path, bits;
  SplitBitsSuffix(arg, path, bits);
  // The same checks and row as the dialog's wave list.
  CWaveInfo working;
  const WaveListEntry entry = MakeWaveListEntry(working, path);
  if (entry.kind != WaveListEntry::kAdded) {
    std::fprintf(stderr, "edogtool voice: %s\n", entry.message.c_str());
    return false;
  }
  gen.AddFile(path, entry.row.freq, bits);
  return true;
}

bool IsPlainFileName(const std::string& name) {
  return !name.empty() && name.find_first_of("/\\") == std::string::npos && name != "." &&
         name != "..";
}

int Voice(int argc, char** argv) {
  VoiceGeneration gen;
  TargetOptions target;
  std::string encoder = kVoiceEncoderLibrary;
  bool rateBits = false, keepTemp = false;
  std::vector<std::string> waves;
  Args args(
      "edogtool voice [-o NAME] [--address HEX] [--flash serial|nand] [--port usb|uart]\n"
      "               [--rate-bits] [--keep-temp] [--encoder LIBRARY] WAV[:4|:3]...",
      "Encodes mono wave files with the voice encoder library and writes the voice data\n"
      "file (a headered image: position table and encoded files) and the voice header\n"
      "file (NAME with the extension h) into the folder of the last wave file.");
  args.Option("-o,--output", &gen.outputName, "NAME",
              "file name of the voice data file (default KOVA_DATA.HDR)");
  target.AddTo(args);
  args.Flag("--rate-bits", &rateBits, "add sample rate and bits to every position entry");
  args.Flag("--keep-temp", &keepTemp, "keep the encoded .enc files beside the wave files");
  args.Option("--encoder", &encoder, "LIBRARY",
              "encoder library: base name or path (default Kova100)");
  args.Positionals(&waves, "WAV[:4|:3]", 1, static_cast<size_t>(-1),
                   "mono wave files in table order; :3 asks for 3 bits per sample (default 4)");
  args.Epilog("Example: edogtool voice --flash nand -o VOICE.HDR hello.wav bye.wav:3");
  if (auto r = args.Parse(argc, argv); r != Args::kOk) return Args::ExitCode(r);

  if (const std::string error = target.Parse(); !error.empty()) return args.UsageError(error);
  if (!IsPlainFileName(gen.outputName))
    return args.UsageError("-o takes a file name; the files go beside the last wave file");
  gen.flashSelection = target.flash == kFlashNand ? kSelectNand : kSelectSerial;
  gen.portSelection = target.port == Port::Uart ? kSelectUart : kSelectUsb;
  gen.rateAndBits = rateBits;
  gen.tempFileClean = !keepTemp;
  for (const auto& w : waves)
    if (!AddWaveFile(gen, w)) return kExitFailed;

  InstallInterruptHandler();
  TerminalObserver observer;
  const Result<VoiceRunStatus> result = RunVoiceGeneration(gen, target.address, observer, encoder);
  if (!result.message.empty()) observer.Fail(result.message);
  if (result.status == VoiceRunStatus::kStopped) {
    std::fprintf(stderr, "edogtool voice: interrupted\n");
    return InterruptExitCode();
  }
  if (!result.Ok()) return kExitFailed;
  std::printf("%s\n", VoiceCompletionText(observer.Finished(), gen.outputName).c_str());
  return kExitOk;
}

}  // namespace

EDOG_COMMAND("voice", "encode wave files into a voice data file and its C header", Voice);

}  // namespace edog::cli
