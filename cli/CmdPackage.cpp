// edogtool pack / unpack: write and extract update packages.
#include <cstdio>

#include "cli/Args.h"
#include "cli/Command.h"
#include "cli/Interrupt.h"
#include "cli/SharedOptions.h"
#include "common/FileChecks.h"
#include "common/Files.h"
#include "update/Package.h"
#include "tools/PathFunctions.h"

namespace edog::cli {
namespace {

int Pack(int argc, char** argv) {
  std::string output, methodText = "3";
  std::vector<std::string> files;
  Args args("edogtool pack [--method N] -o PACKAGE FILE FILE FILE",
            "Writes an update package from three files, scrambled with the key of an\n"
            "encryption method. Entry names are the files' names, in the order given.");
  args.Option("-o,--output", &output, "PACKAGE", "package to write (required)");
  AddMethodOption(args, &methodText);
  args.Positionals(&files, "FILE", 3, 3, "the three entries (voice, database, software)");
  if (auto r = args.Parse(argc, argv); r != Args::kOk) return Args::ExitCode(r);
  int method = 0;
  if (!ReadMethodOption(args, methodText, method)) return kExitUsage;
  if (output.empty()) return args.UsageError("-o PACKAGE is required");
  // A stop request lets the package appear whole or not at all (no stray temporary file).
  InstallInterruptHandler();

  if (const std::string in = InputOverwrittenBy(output, files); !in.empty()) {
    std::fprintf(stderr, "edogtool pack: the package %s would overwrite its input %s\n",
                 output.c_str(), in.c_str());
    return kExitFailed;
  }
  // An entry's size field has 32 bits; the entries are read whole before the package is written.
  std::vector<PackageEntry> entries;
  for (const auto& f : files) {
    BoundedRead read = ReadRegularFile(f, kMaxEntryBytes);
    if (read.status != BoundedRead::kOk) {
      std::fprintf(stderr, "edogtool pack: %s\n",
                   BoundedReadMessage(read, f, kMaxEntryBytes).c_str());
      return kExitFailed;
    }
    entries.push_back({ExtractFileName(f), std::move(read.data)});
  }
  const std::string error = WritePackage(output, entries, KeyForMethod(method));
  if (!error.empty()) {
    std::fprintf(stderr, "edogtool pack: %s\n", error.c_str());
    return kExitFailed;
  }
  for (const auto& e : entries)
    std::printf("%s: %zu bytes\n", e.name.c_str(), e.data.size());
  std::printf("wrote %s (method %d)\n", output.c_str(), method);
  return Interrupted() ? InterruptExitCode() : kExitOk;
}

int Unpack(int argc, char** argv) {
  std::string dir, methodText = "3";
  std::vector<std::string> package;
  Args args("edogtool unpack [--method N] [-d DIR] PACKAGE",
            "Extracts the three entries of an update package. Without -d they go into a\n"
            "fresh extraction directory, as the update job makes one; the paths written are\n"
            "printed one per line.");
  args.Option("-d,--directory", &dir, "DIR", "extract into DIR (created if absent)");
  AddMethodOption(args, &methodText);
  args.Positionals(&package, "PACKAGE", 1, 1, "the update package (e.g. qzkt.dll)");
  if (auto r = args.Parse(argc, argv); r != Args::kOk) return Args::ExitCode(r);
  int method = 0;
  if (!ReadMethodOption(args, methodText, method)) return kExitUsage;

  InstallInterruptHandler();
  PackageExtraction extraction;
  const bool made = dir.empty() ? extraction.MakeDirectory() : extraction.UseDirectory(dir);
  if (!extraction.Note().empty())
    std::fprintf(stderr, "edogtool unpack: %s\n", extraction.Note().c_str());
  if (!made) {
    std::fprintf(stderr, "edogtool unpack: cannot create the extraction directory: %s\n",
                 extraction.Error().c_str());
    return kExitFailed;
  }
  if (!extraction.Extract(package[0], KeyForMethod(method))) {
    // Nothing of a failed extraction stays, nor a directory made for it.
    extraction.CleanUp();
    std::fprintf(stderr, "edogtool unpack: %s\n", extraction.Error().c_str());
    return kExitFailed;
  }
  if (Interrupted()) {
    // Unscrambled images are not left in a fresh folder nobody asked for; files in the
    // user's own folder have replaced the old ones already and stay.
    if (dir.empty()) extraction.CleanUp();
    std::fprintf(stderr, "edogtool unpack: stopped%s\n",
                 dir.empty() ? "; the extraction folder is removed" : "");
    return InterruptExitCode();
  }
  extraction.Keep();
  for (const auto& f : extraction.Files()) std::printf("%s\n", f.c_str());
  return kExitOk;
}

}  // namespace

EDOG_COMMAND("pack", "write an update package from three files", Pack);
EDOG_COMMAND("unpack", "extract an update package", Unpack);

}  // namespace edog::cli
