#pragma once
// The voice data generation run: every wave file of the generation lists is compressed by
// the voice encoder library, then the run writes, into the folder of the last wave file,
// the voice data file (a headered image whose payload is the voice position table and the
// encoded files) and the voice header file (C text: enum, FileInfo, FilePos).
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "common/Result.h"

namespace edog {

// Base name of the voice encoder library ("libKova100.so" / "Kova100.dll").
constexpr const char* kVoiceEncoderLibrary = "Kova100";
constexpr const char* kVoiceEncoderExport = "Encoder";
constexpr const char* kDefaultVoiceOutputName = "KOVA_DATA.HDR";

// The encoder's export: argument count (4), argument vector ("Encode", "-4"/"-3", input
// path, output path), a variable of the caller's, three zero ints. 0 is success.
extern "C" {
typedef int (*VoiceEncoderFn)(int argc, char** argv, int32_t* variable, int zero1, int zero2,
                              int zero3);
}

// Failure texts of the run (the window shows them in plain OK message boxes).
constexpr const char* kNoWavFilesText = "No Wav Files";
constexpr const char* kEncoderMissingText = "KOVA Encoder does not exist!";
constexpr const char* kInternalErrorFormat = "Internal Error; %d";
// A read or write on an open output or encoded file failed (%s: the file).
constexpr const char* kVoiceIoErrorFormat = "File read/write error: %s\n";

enum FlashSelection : int { kSelectSerial = 0, kSelectNand = 1 };
enum PortSelection : int { kSelectUsb = 0, kSelectUart = 1 };

// The generation lists and settings: the dialog fills them, the run only reads them.
struct VoiceGeneration {
  // Parallel lists, in list order: full path, the "Freq" text, the "N bit Comp" text.
  std::vector<std::string> paths, rates, bits;
  bool tempFileClean = true;
  bool rateAndBits = false;
  std::string outputName = kDefaultVoiceOutputName;
  // The radio buttons write these at once, also while a run reads the rest.
  std::atomic<int> flashSelection{kSelectSerial};
  std::atomic<int> portSelection{kSelectUsb};

  VoiceGeneration() = default;
  VoiceGeneration(const VoiceGeneration& o) { *this = o; }
  VoiceGeneration& operator=(const VoiceGeneration& o);

  void ClearFiles();
  void AddFile(const std::string& path, const std::string& rateText, const std::string& bitsText);
  size_t FileCount() const { return paths.size(); }
};

// What the run reports, in order: OnBusyChanged(true) when its work starts, OnProgress as
// it goes, then OnCompleted and OnBusyChanged(false) on success. A run that fails or stops
// reports no end of its busy state; its result says how it ended and why.
class VoiceGenerationObserver {
 public:
  virtual ~VoiceGenerationObserver() = default;
  virtual void OnBusyChanged(bool busy) = 0;
  virtual void OnProgress(long percent) = 0;  // 0..100
  // Both outputs are written; `files`: the number of wave files in them.
  virtual void OnCompleted(long files) = 0;
  // Polled between files and chunks; true ends the run without completion.
  virtual bool StopRequested() { return false; }
  // The encoder answered `code` (not 0) for the wave file `path`, just before the run
  // fails with "Internal Error; <code>"; a front end may explain it.
  virtual void OnEncoderFailed(const std::string& /*path*/, int /*code*/) {}
};

// What an answer of the stand-in voice encoder means, in words ("the encoded file could
// not be written: ..."); a generic text for codes it does not give.
std::string VoiceEncoderCodeText(int code);

enum class VoiceRunStatus { kCompleted, kFailed, kStopped };

// One run; a failed one has its failure text (one of the texts above, or a refusal naming
// the file) as its message. `encoderLibrary` is a base name (program folder first, then the system's search
// path) or a path. The flash and port selections are read once, at the start.
Result<VoiceRunStatus> RunVoiceGeneration(const VoiceGeneration& generation,
                                          uint32_t startAddress,
                                          VoiceGenerationObserver& observer,
                                          const std::string& encoderLibrary = kVoiceEncoderLibrary);

// The dialog's completion box text.
std::string VoiceCompletionText(long files, const std::string& outputName);

// Path handed to the encoder for a listed wave file: lower case where the file system
// ignores case, the path as listed where case matters.
std::string EncoderInputPath(const std::string& listedPath);
// ASCII letters to lower case; bytes of multibyte (UTF-8) characters stay as they are.
std::string LowerCasePath(const std::string& path);

// The output folder: everything up to and including the last folder separator of the
// last encoded file's path (empty: the current folder).
std::string VoiceOutputFolder(const std::string& lastEncodedPath);
// Where a run of `generation` writes its data file: the output name in the folder of the
// last wave file's encoded file.
std::string VoiceDataPath(const VoiceGeneration& generation);
// The header file beside the data file: its name's extension replaced by "h"
// ("KOVA_DATA.HDR" -> "KOVA_DATA.h"); a name without a dot gets ".h" appended.
std::string VoiceHeaderPath(const std::string& dataPath);

// Decimal reading of the rate and bits texts: leading white space, an optional sign,
// digits; no digits give 0. Wraps like a 32-bit int.
int32_t ReadDecimalText(const std::string& text);

}  // namespace edog
