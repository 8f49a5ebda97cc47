// edogtool wavinfo: the rows the voice data generator would list for wave files.
#include <cstdio>

#include "cli/Args.h"
#include "cli/Command.h"
#include "tools/WaveInfo.h"
#include "tools/WaveListRow.h"

namespace edog::cli {
namespace {

int WavInfo(int argc, char** argv) {
  std::vector<std::string> files;
  Args args("edogtool wavinfo FILE...",
            "Prints, tab-separated under a heading line, the row the voice data generator adds\n"
            "for each wave file: Name, Freq, N bit Comp, Size, Dir. Stereo files and files that\n"
            "are not readable RIFF/WAVE are refused on the error stream (exit status 1). A\n"
            "listed file the voice encoder cannot take (24-bit or float samples, rate 0) is\n"
            "named on the error stream with the reason.");
  args.Positionals(&files, "FILE", 1, SIZE_MAX, "wave files, in list order");
  if (auto r = args.Parse(argc, argv); r != Args::kOk) return Args::ExitCode(r);

  std::printf("Name\tFreq\tN bit Comp\tSize\tDir\n");
  CWaveInfo working;
  int status = kExitOk;
  for (const auto& path : files) {
    const WaveListEntry e = MakeWaveListEntry(working, path);
    if (e.kind == WaveListEntry::kAdded) {
      std::printf("%s\t%s\t%s\t%s\t%s\n", e.row.name.c_str(), e.row.freq.c_str(),
                  e.row.bits.c_str(), e.row.size.c_str(), e.row.dir.c_str());
      // Listed as the dialog lists it, but the voice run would fail on it: say why now.
      if (const std::string why = EncoderObjection(path); !why.empty()) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: the voice encoder cannot take it: %s\n", path.c_str(),
                     why.c_str());
        std::fflush(stderr);
      }
    } else {
      std::fflush(stdout);
      std::fprintf(stderr, "%s\n", e.message.c_str());
      std::fflush(stderr);
      status = kExitFailed;
    }
  }
  return status;
}

}  // namespace

EDOG_COMMAND("wavinfo", "list wave files as the voice data generator would", WavInfo);

}  // namespace edog::cli
