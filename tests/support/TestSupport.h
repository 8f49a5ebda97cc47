#pragma once
// Helpers shared by every test program: scratch folders, files, running edogtool.
#include <cstdint>
#include <string>
#include <vector>

#include "common/KeptFile.h"

namespace edog::test {

// A fresh folder removed with everything in it at the end of the scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::vector<uint8_t>& data);
void WriteFile(const std::string& path, const std::string& text);
std::vector<uint8_t> ReadFile(const std::string& path);
std::string ReadText(const std::string& path);

struct ProgramResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};
// Runs a program of the build's bin folder (e.g. "edogtool") with arguments, optional
// standard input text, in `cwd` when given.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& cwd = {}, const std::string& input = {});
inline ProgramResult RunTool(const std::vector<std::string>& args, const std::string& cwd = {}) {
  return RunProgram("edogtool", args, cwd);
}

// A path the product joined, with Windows' backslashes made forward slashes (elsewhere as
// it is), to compare with the paths the tests build.
std::string ForwardSlashes(std::string path);

// True when a program of the Linux host (srec_cat, soxi) is there to compare with. Never
// from Windows: under wine it would get paths it cannot read.
bool HaveHostTool(const std::string& path);

// The process environment, as child programs inherit it.
void SetEnv(const std::string& name, const std::string& value);
void UnsetEnv(const std::string& name);

std::string BinDir();      // build/bin
// A build-time path as this process names it (on Windows with its drive: under wine the
// build machine's root is a drive of its own).
std::string HostPath(const std::string& buildPath);
// A plug-in the build made, by base name: "Kova100" -> build/bin/libKova100.so.
std::string PluginPath(const std::string& baseName);
std::string StandInLibrary();  // the stand-in device library
std::string SourceDir();   // the repository
std::string CorpusDir();   // tests/corpus: real-world files, with their sources and licences
std::string GoldenDir();   // tests/golden

// A presence probe answers within its 40 ms budget; on a loaded machine a present device
// can miss one. True when any of `tries` probes succeeds.
template <typename Probe>
bool ProbeWithRetries(Probe probe, int tries = 3) {
  for (int i = 0; i < tries; ++i)
    if (probe()) return true;
  return false;
}

#ifndef _WIN32
// A full disk for this process while in scope: files cannot grow past `bytes` (writes
// beyond fail with EFBIG; SIGXFSZ is ignored, as programs run from here inherit).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(uint64_t bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  uint64_t oldCur_ = 0, oldMax_ = 0;
  void (*oldHandler_)(int) = nullptr;
};
#endif

// Deterministic pseudo-random bytes.
std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed);

// `data` in a scratch file, open for reading; its name is removed where the system allows,
// so only the handle reaches it.
KeptFile KeptBytes(const std::vector<uint8_t>& data);

}  // namespace edog::test
