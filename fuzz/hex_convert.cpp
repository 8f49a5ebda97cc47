// The HEX/BIN header generator over any input file: the first byte picks the option, the
// port, the flash and the address text; the rest is the file. A run that reports done has
// written a headered image whose header is sound and whose length matches it.
#include "common/Files.h"
#include "fuzz/FuzzSupport.h"
#include "tools/HeaderGen.h"

namespace {
class Quiet final : public edog::HeaderGenObserver {
 public:
  void OnReport(const std::string& text) { last = text; }
  std::string last;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace edog;
  if (size < 1) return 0;
  static const char* const kAddresses[] = {"0x1000", "0x0", "0x1FE00", "0xFFFFFFFF"};
  static const ConvertOption kOptions[] = {ConvertOption::kC, ConvertOption::kI, ConvertOption::kN,
                                           ConvertOption::kS, ConvertOption::kM};
  const uint8_t pick = data[0];
  HeaderGenSettings settings;
  settings.option = kOptions[(pick & 7) % 5];
  settings.port = (pick & 8) ? Port::Uart : Port::Usb;
  settings.nand = (pick & 16) != 0;
  settings.addressText = kAddresses[(pick >> 5) & 3];
  settings.inputPath = fuzz::WriteScratch("in.hex", data + 1, size - 1);
  const std::string hdr = HeaderGenOutputName(settings.inputPath, "hdr");
  RemoveFile(hdr);
  Quiet observer;
  const HeaderGenStatus status = ConvertToHeaderedImage(settings, observer);
  if (status == HeaderGenStatus::kDone) {
    FUZZ_CHECK(observer.last == " >> All Process is Done !!!!\r\n");
    const HeaderRead read = ReadHeaderFields(hdr);
    FUZZ_CHECK(read.status == HeaderStatus::kOk);
    const auto length = FileSize(hdr);
    FUZZ_CHECK(length && *length == kHeaderBlockSize + read.fields.fileSize);
  }

  // The line parser alone, line by line.
  FlatImageBuilder builder;
  size_t start = 1;
  for (size_t i = 1; i <= size; ++i) {
    if (i == size || data[i] == '\n') {
      std::string_view line(reinterpret_cast<const char*>(data + start), i - start);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (builder.AddLine(line) != FlatImageBuilder::kOk) break;
      start = i + 1;
    }
  }
  FUZZ_CHECK(builder.End() <= kFlatImageCapacity);
  FUZZ_CHECK(builder.FlatSize() > builder.End());
  return 0;
}
