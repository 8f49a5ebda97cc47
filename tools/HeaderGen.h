#pragma once
// HEX/BIN header generator: turns an Intel HEX file or a raw binary into a headered image
// beside it. The dialog and edogtool share this engine; every report line reaches the
// front end through HeaderGenObserver, in the order and wording the report pane shows.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "update/HeaderedImage.h"

namespace edog {

// The five conversion options of the dialog.
enum class ConvertOption { kC, kI, kN, kS, kM };

// What choosing an option does to the dialog.
struct OptionLayout {
  const char* flag;          // "-C" ...
  bool hexConversion;        // the input is Intel HEX to be converted to the flat image
  const char* addressText;   // written into the address field
  const char* step3Label;    // label of the address field's group box
  bool addressEditable;
  bool flashSelectable;      // the Serial / NAND radios
};
const OptionLayout& LayoutOf(ConvertOption option);
// "-C" ... "-M" (exactly); nullopt for anything else.
std::optional<ConvertOption> ParseConvertFlag(const std::string& flag);
// The line the report receives when the option is chosen (the -C line also opens the report).
std::string OptionReportLine(ConvertOption option);
// The line the report receives when an input file has been chosen.
std::string FileSelectedReportLine(const std::string& path);

constexpr uint32_t kDefaultOffset = 0x1000;
constexpr uint32_t kFlatImageCapacity = 0x20000;  // 128 KB: HEX data must lie in 0..0x1FFFF
constexpr uint32_t kCodeAreaEnd = 0x10000;        // -C, -I, -M: address + payload stay below
constexpr uint32_t kAddressAlignment = 512;
constexpr size_t kMaxHexLineLength = 253;         // characters, line end not counted

// "0x1A2b" -> 0x1A2B: the digits after the first two characters up to the first
// non-hexadecimal one; more than eight digits keep the last eight; none gives 0.
uint32_t HexTextValue(const std::string& text);

// Names of the outputs: the input path with its last three characters replaced ("x.hex"
// -> "x.bin"). A file name shorter than three characters keeps its name and gains
// "." + extension, so the output never lands outside the input's folder.
std::string HeaderGenOutputName(const std::string& inputPath, const char* extension);

// Intel HEX lines to the flat image: data records (type 00) placed in a 128 KB image,
// extended segment (02, value x 16) and extended linear (04, value x 0x8000) addresses;
// other types and checksums are ignored, as are lines that are not records.
class FlatImageBuilder {
 public:
  enum Result { kOk, kAddressCheck, kLineTooLong, kShortRecord };
  FlatImageBuilder();
  // One line without its line end. Refuses lines over kMaxHexLineLength characters, records
  // too short for their byte count, and data that would reach past 0x1FFFF.
  Result AddLine(std::string_view line);
  size_t LineNumber() const { return lineNumber_; }  // of the last line added
  uint32_t End() const { return end_; }              // one past the highest byte written
  // end rounded up to the next multiple of 1024; a whole multiple gains 1024 more.
  uint32_t FlatSize() const;
  const uint8_t* Data() const { return image_.data(); }  // FlatSize() bytes

 private:
  std::vector<uint8_t> image_;
  uint32_t extension_ = 0;
  uint32_t end_ = 0;
  size_t lineNumber_ = 0;
};

struct HeaderGenSettings {
  std::string inputPath;
  ConvertOption option = ConvertOption::kC;
  std::string addressText = "0x1000";  // as typed: must start with "0x"
  bool nand = false;                   // -S: NAND checked (else Serial)
  Port port = Port::Usb;
};

enum class HeaderGenStatus {
  kDone,
  kNoInput,
  kBadAddressText,
  kOutputIsInput,
  kCannotOpenHex,
  kCannotCreateFlat,
  kHexLineTooLong,
  kHexShortRecord,
  kAddressCheck,
  kCannotOpenInput,
  kCannotCreateOutput,
  kAlignment,
  kInputTooShort,
  kMaxAddress,
  kInputTooLarge,
  kReadFailed,
  kWriteFailed,
  kCancelled,
};

class HeaderGenObserver {
 public:
  virtual ~HeaderGenObserver() = default;
  // One report text exactly as the pane appends it (usually ending in "\r\n").
  virtual void OnReport(const std::string& text) = 0;
  // Payload bytes copied so far; called now and then while a large input is copied.
  virtual void OnProgress(uint64_t done, uint64_t total) { (void)done, (void)total; }
  // Polled between steps (HEX lines, copied chunks); true stops the run, which then
  // removes what it wrote and reports nothing more.
  virtual bool CancelRequested() { return false; }
};

// The Convert button: checks the settings, writes the flat image (HEX inputs) and the
// headered image beside the input, reporting every step. The run succeeded exactly when
// the status is kDone, whose last report is " >> All Process is Done !!!!\r\n". A cancelled
// run (kCancelled) leaves neither a headered image nor a flat image of its own.
HeaderGenStatus ConvertToHeaderedImage(const HeaderGenSettings& settings,
                                       HeaderGenObserver& observer);

}  // namespace edog
