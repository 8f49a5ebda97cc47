#include "tools/WaveListRow.h"

#include "common/Files.h"
#include "common/Format.h"

namespace edog {

WaveListEntry MakeWaveListEntry(CWaveInfo& working, const std::string& path) {
  WaveListEntry e;
  try {
    working.SetFile(path);
    // The channel count of the format chunk: found wherever the chunk stands.
    if (ReadChannelCount(path) == 2) {
      e.kind = WaveListEntry::kStereo;
      e.message = Format("%s : Stereo File is not supported.\nUse mono wave file.",
                         working.DisplayName().c_str());
      return e;
    }
  } catch (const WaveFormatError& err) {
    e.message = err.what();
    return e;
  } catch (const WaveFileError& err) {
    e.message = err.what();
    return e;
  }
  const auto size = FileSize(path);
  if (!size) {
    e.message = path + ": cannot open the file";
    return e;
  }
  e.kind = WaveListEntry::kAdded;
  e.row.name = working.DisplayName();
  e.row.freq = Format("%d", working.SampleRate());
  e.row.bits = Format("%d", working.CompressionBits());
  e.row.size = Format("%llu", static_cast<unsigned long long>(*size));
  e.row.dir = working.Path();
  return e;
}

}  // namespace edog
