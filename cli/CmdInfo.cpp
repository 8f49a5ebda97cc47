// edogtool info: the header lines of a headered image, as the update job lists them.
#include <cstdio>

#include "cli/Args.h"
#include "cli/Command.h"
#include "update/HeaderedImage.h"

namespace edog::cli {
namespace {

int Info(int argc, char** argv) {
  std::vector<std::string> files;
  Args args("edogtool info FILE",
            "Reads the first 15 bytes of a headered image as the update job does and prints\n"
            "the five progress-list lines, or why the file is refused (exit status 1).");
  args.Positionals(&files, "FILE", 1, 1, "a headered image (.hdr)");
  if (auto r = args.Parse(argc, argv); r != Args::kOk) return Args::ExitCode(r);

  const HeaderRead h = ReadHeaderFields(files[0]);
  switch (h.status) {
    case HeaderStatus::kCannotOpen:
      std::fprintf(stderr, h.notRegular ? "%s: refused: not a regular file (a device, pipe or "
                                          "folder is no headered image)\n"
                                        : "%s: cannot open the file\n",
                   files[0].c_str());
      return kExitFailed;
    case HeaderStatus::kTooShort:
      std::fprintf(stderr, "%s: refused: fewer than 15 bytes\n", files[0].c_str());
      return kExitFailed;
    case HeaderStatus::kBadMagic:
      std::fprintf(stderr, "%s: refused: the first byte is not '$'\n", files[0].c_str());
      return kExitFailed;
    case HeaderStatus::kOk:
      break;
  }
  for (const auto& line : HeaderProgressLines(h.fields)) std::printf("%s\n", line.c_str());
  return kExitOk;
}

}  // namespace

EDOG_COMMAND("info", "show the header fields of a headered image", Info);

}  // namespace edog::cli
