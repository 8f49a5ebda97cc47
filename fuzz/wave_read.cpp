// The wave file reader and the voice data generator's add routine over any file: a sample
// rate or a format/file error, and a list row or a refusal that names the file.
#include "fuzz/FuzzSupport.h"
#include "tools/WaveInfo.h"
#include "tools/WaveListRow.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace edog;
  const std::string path = fuzz::WriteScratch("prompt.wav", data, size);
  bool readable = true;
  try {
    const int rate = ReadSampleRate(path);
    if (size == 0) FUZZ_CHECK(rate == -1);
  } catch (const WaveFormatError&) {
    readable = false;
  }
  CWaveInfo working;
  const WaveListEntry e = MakeWaveListEntry(working, path);
  if (!readable) FUZZ_CHECK(e.kind == WaveListEntry::kUnreadable);
  if (e.kind == WaveListEntry::kAdded) {
    FUZZ_CHECK(e.row.name == "prompt.wav" && e.row.dir == path);
    FUZZ_CHECK(e.row.size == std::to_string(size));
  } else {
    FUZZ_CHECK(e.message.find("prompt.wav") != std::string::npos);
    FUZZ_CHECK(e.row.name.empty());
  }
  return 0;
}
