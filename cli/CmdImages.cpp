// edogtool images: the image table generator (pictures -> data file + C header).
#include <cstdio>

#include "cli/Args.h"
#include "cli/Command.h"
#include "cli/TargetOptions.h"
#include "cli/Terminal.h"
#include "tools/ImageTable.h"

namespace edog::cli {
namespace {

class TerminalObserver : public ImageTableObserver {
 public:
  void OnProgress(int percent) override { progress_.Update(static_cast<unsigned>(percent)); }
  bool CancelRequested() override { return Interrupted(); }
  void Finish() { progress_.Finish(); }

 private:
  ProgressDisplay progress_{"images"};
};

std::string WithNewline(std::string text) {
  if (text.empty() || text.back() != '\n') text += '\n';
  return text;
}

int Images(int argc, char** argv) {
  ImageTableSettings settings;
  TargetOptions target;
  bool keepTemp = false;
  Args args("edogtool images [-o NAME] [--address HEX] [--flash serial|nand] [--port usb|uart] "
            "[--keep-temp] PICTURE...",
            "Turns BMP pictures into one headered image for the device's flash: a table of\n"
            "picture addresses, then each picture as a run-length image of RGB565 colours.\n"
            "Also writes the C header text (NAME up to its last dot, then \"h\") and, beside\n"
            "each picture, its run-length image (\".bin\"), deleted after use unless\n"
            "--keep-temp is given. Picture paths go into the C header as given.");
  args.Option("-o,--output", &settings.outputName, "NAME",
              "data file to write (default Image.hdr, relative to the current folder)");
  target.AddTo(args);
  args.Flag("--keep-temp", &keepTemp, "keep the per-picture .bin files");
  args.Positionals(&settings.pictures, "PICTURE", 1, SIZE_MAX, "BMP pictures, in table order");
  args.Epilog("Pictures may be at most 255 x 255 pixels and need at most 65535 bytes of runs.");
  if (auto r = args.Parse(argc, argv); r != Args::kOk) return Args::ExitCode(r);

  if (const std::string error = target.Parse(); !error.empty()) return args.UsageError(error);
  settings.address = target.address;
  settings.flash = target.flash;
  settings.port = target.port;
  if (settings.outputName.empty()) return args.UsageError("-o takes a file name");
  settings.cleanTemp = !keepTemp;

  InstallInterruptHandler();
  TerminalObserver observer;
  const Result<ImageTableStatus> result = RunImageTable(settings, observer);
  observer.Finish();
  if (!result.message.empty()) {
    if (result.Ok()) {
      std::fputs(WithNewline(result.message).c_str(), stdout);
    } else {
      std::fprintf(stderr, "edogtool images: %s", WithNewline(result.message).c_str());
    }
  }
  switch (result.status) {
    case ImageTableStatus::kFinished: return kExitOk;
    case ImageTableStatus::kCancelled:
      std::fprintf(stderr, "edogtool images: interrupted\n");
      return InterruptExitCode();
    default: return kExitFailed;
  }
}

}  // namespace

EDOG_COMMAND("images", "make the image table data file and C header from BMP pictures", Images);

}  // namespace edog::cli
