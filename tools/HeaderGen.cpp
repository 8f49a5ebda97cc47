#include "tools/HeaderGen.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/AtomicFile.h"
#include "common/Files.h"
#include "common/Format.h"
#include "common/Paths.h"
#include "common/FsPath.h"

namespace edog {
namespace {

const OptionLayout kLayouts[] = {
    {"-C", true, "0x1000", "Step 3. Offset", true, false},
    {"-I", true, "0x0", "Step 3. Download Address", false, false},
    {"-N", false, "0x0", "Step 3. Download Address", true, false},
    {"-S", false, "0x0", "Step 3. Download Address", true, true},
    {"-M", false, "0x1000", "Step 3. Offset", true, false},
};

// The flat image is the data rounded up to whole KB, plus a whole further KB when the data
// already end on a KB boundary; the image keeps room for that last KB after 0x1FFFF.
constexpr uint32_t kFlatPad = 1024;

bool IsAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

unsigned Nibble(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= '0' && u <= '9') ? u - '0' : (u & 0x0Fu) + 9u;
}

// Nibble() of every character, looked up: a HEX file is two characters per byte.
struct NibbleTable {
  uint8_t value[256];
  constexpr NibbleTable() : value() {
    for (unsigned u = 0; u < 256; ++u)
      value[u] = static_cast<uint8_t>((u >= '0' && u <= '9') ? u - '0' : (u & 0x0Fu) + 9u);
  }
};
constexpr NibbleTable kNibbles;

inline uint8_t PairValue(const char* p) {
  return static_cast<uint8_t>((kNibbles.value[static_cast<unsigned char>(p[0])] << 4) +
                              kNibbles.value[static_cast<unsigned char>(p[1])]);
}

std::string ReadErrorLine(const std::string& path) {
  return Format(" >> Read Error! [%s]\r\n", path.c_str());
}

// Lines of a HEX file without their line ends ("\n", or "\r\n" as text mode reads it),
// read in large chunks. Keeps at most kMaxHexLineLength + 1 characters of a line, enough
// for the builder to see that a longer line is too long, and consumes the rest.
class HexLineReader {
 public:
  explicit HexLineReader(FILE* f) : f_(f), buffer_(1 << 16) {}
  // False at the end of the file (a last line without a line end still counts).
  bool Next(std::string& line) {
    constexpr size_t kKeep = kMaxHexLineLength + 1;
    line.clear();
    bool any = false, truncated = false;
    char last = 0;
    for (;;) {
      if (pos_ == end_ && !Fill()) break;
      any = true;
      const char* start = buffer_.data() + pos_;
      const size_t available = end_ - pos_;
      const void* nl = std::memchr(start, '\n', available);
      const size_t n = nl ? static_cast<size_t>(static_cast<const char*>(nl) - start) : available;
      if (n) {
        last = start[n - 1];
        const size_t take = std::min(n, kKeep + 1 - std::min(line.size(), kKeep + 1));
        line.append(start, take);
        truncated = truncated || take < n;
      }
      pos_ += nl ? n + 1 : n;
      if (nl) break;
    }
    if (last == '\r' && !truncated && !line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kKeep) line.resize(kKeep);
    return any;
  }

 private:
  bool Fill() {
    pos_ = 0;
    end_ = std::fread(buffer_.data(), 1, buffer_.size(), f_);
    return end_ > 0;
  }
  FILE* f_;
  std::vector<char> buffer_;
  size_t pos_ = 0, end_ = 0;
};

bool SameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  std::error_code ec;
  return std::filesystem::equivalent(FsPath(a), FsPath(b), ec);
}

// Reports and stops: the texts of the report pane, in one place.
class Report {
 public:
  explicit Report(HeaderGenObserver& o) : o_(o) {}
  void operator()(const std::string& text) { o_.OnReport(text); }
  HeaderGenStatus Fail(HeaderGenStatus status, const std::string& text) {
    o_.OnReport(text);
    return status;
  }
  bool Cancelled() { return o_.CancelRequested(); }

 private:
  HeaderGenObserver& o_;
};

// Intel HEX input to the flat image file; on success `flatSize` holds its length.
// The flat image appears only whole: a HEX file that fails half-way leaves none.
HeaderGenStatus WriteFlatImage(const std::string& hexPath, const std::string& flatPath,
                               Report& report, uint32_t& flatSize) {
  StdFile in;
  if (!FileExists(hexPath) || !in.Open(hexPath, "rb"))
    return report.Fail(HeaderGenStatus::kCannotOpenHex, " >> Cannot open input(1) file.\r\n");
  AtomicFileWriter out;
  if (!out.Open(flatPath))
    return report.Fail(HeaderGenStatus::kCannotCreateFlat, " >> Cannot open output file.\r\n");

  FlatImageBuilder builder;
  std::string line;
  HexLineReader reader(in.Get());
  while (reader.Next(line)) {
    if (report.Cancelled()) return HeaderGenStatus::kCancelled;
    switch (builder.AddLine(line)) {
      case FlatImageBuilder::kOk:
        continue;
      case FlatImageBuilder::kAddressCheck:
        return report.Fail(HeaderGenStatus::kAddressCheck, " >> Address Check Error!\r\n");
      case FlatImageBuilder::kLineTooLong:
        return report.Fail(HeaderGenStatus::kHexLineTooLong,
                           Format(" >> Line %zu is longer than %zu characters!\r\n",
                                  builder.LineNumber(), kMaxHexLineLength));
      case FlatImageBuilder::kShortRecord:
        return report.Fail(HeaderGenStatus::kHexShortRecord,
                           Format(" >> Record in line %zu is shorter than its byte count!\r\n",
                                  builder.LineNumber()));
    }
  }
  if (std::ferror(in.Get()))
    return report.Fail(HeaderGenStatus::kReadFailed, ReadErrorLine(hexPath));

  flatSize = builder.FlatSize();
  if (!out.Write(builder.Data(), flatSize) || !out.Commit())
    return report.Fail(HeaderGenStatus::kWriteFailed,
                       Format(" >> Write Error! [%s]\r\n", flatPath.c_str()));
  report(Format(" >> Temp Bin Hex File\t\t[%s][0x%x]\r\n", flatPath.c_str(), flatSize));
  return HeaderGenStatus::kDone;
}

struct OpenFiles {
  StdFile in;
  AtomicFileWriter out;
  std::string inPath, outPath;
};

// The header block, then `size` bytes of the positioned input padded with zero bytes to
// whole packets of the port.
HeaderGenStatus WriteHeaderedImage(OpenFiles& f, uint64_t size, uint32_t address, uint8_t flash,
                                   Port port, Report& report, HeaderGenObserver& observer) {
  const uint32_t packet = PacketSize(port);
  if (size > UINT32_MAX - (packet - 1))
    return report.Fail(HeaderGenStatus::kInputTooLarge,
                       " >> Input file is too large for the header!\r\n");
  const SizeAndPackets rounded = PacketRoundedSize(port, static_cast<uint32_t>(size));
  const HeaderBlock header =
      BuildHeaderBlock(port, flash, address, rounded.fileSize, rounded.packetCount);
  bool ok = f.out.Write(header.data(), header.size());

  // Whole packets at a time; the short last one is completed with zero bytes.
  constexpr uint64_t kProgressStep = 1u << 20;
  std::vector<uint8_t> buffer(64 * 1024);
  uint64_t copied = 0, nextProgress = kProgressStep;
  while (ok && copied < size) {
    if (report.Cancelled()) return HeaderGenStatus::kCancelled;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - copied));
    if (f.in.Read(buffer.data(), want) != want)
      return report.Fail(HeaderGenStatus::kReadFailed, ReadErrorLine(f.inPath));
    ok = f.out.Write(buffer.data(), want);
    copied += want;
    if (copied >= nextProgress || copied == size) {
      observer.OnProgress(copied, size);
      nextProgress = copied + kProgressStep;
    }
  }
  const uint32_t padding = rounded.fileSize - static_cast<uint32_t>(size);
  if (ok && padding) {
    const std::vector<uint8_t> zeros(padding, 0);
    ok = f.out.Write(zeros.data(), zeros.size());
  }
  if (!ok || !f.out.Flush())
    return report.Fail(HeaderGenStatus::kWriteFailed,
                       Format(" >> Write Error! [%s]\r\n", f.outPath.c_str()));
  return HeaderGenStatus::kDone;
}

}  // namespace

const OptionLayout& LayoutOf(ConvertOption option) {
  return kLayouts[static_cast<size_t>(option)];
}

std::optional<ConvertOption> ParseConvertFlag(const std::string& flag) {
  for (size_t i = 0; i < std::size(kLayouts); ++i)
    if (flag == kLayouts[i].flag) return static_cast<ConvertOption>(i);
  return std::nullopt;
}

std::string OptionReportLine(ConvertOption option) {
  switch (option) {
    case ConvertOption::kC:
      return Format(" >> IHX 2 BIN Conversion\t[Enable] With Offset 0x%X\r\n", kDefaultOffset);
    case ConvertOption::kI:
      return " >> IHX 2 BIN Conversion\t[Enable] Without Offset\r\n";
    case ConvertOption::kN:
    case ConvertOption::kS:
      return " >> IHX 2 BIN Conversion\t[Disable]\r\n";
    case ConvertOption::kM:
      // The address text the option has just set, read back as hexadecimal.
      return Format(" >> IHX 2 BIN Conversion\t[Disable] With Offset 0x%X\r\n",
                    HexTextValue(LayoutOf(option).addressText));
  }
  return {};
}

std::string FileSelectedReportLine(const std::string& path) { return path + " Selected ...\r\n"; }

uint32_t HexTextValue(const std::string& text) {
  uint32_t value = 0;
  for (size_t i = 2; i < text.size() && IsHexDigit(text[i]); ++i)
    value = (value << 4) + Nibble(text[i]);
  return value;
}

std::string HeaderGenOutputName(const std::string& inputPath, const char* extension) {
  // Step back three characters; a UTF-8 character counts once.
  const size_t nameStart = FileNameStart(inputPath);
  size_t cut = inputPath.size();
  for (int chars = 0; chars < 3; ++chars) {
    if (cut <= nameStart) return inputPath + "." + extension;
    do {
      --cut;
    } while (cut > nameStart && (static_cast<unsigned char>(inputPath[cut]) & 0xC0) == 0x80);
  }
  return inputPath.substr(0, cut) + extension;
}

FlatImageBuilder::FlatImageBuilder() : image_(kFlatImageCapacity + kFlatPad, 0) {}

uint32_t FlatImageBuilder::FlatSize() const { return end_ + (kFlatPad - end_ % kFlatPad); }

FlatImageBuilder::Result FlatImageBuilder::AddLine(std::string_view line) {
  ++lineNumber_;
  if (line.size() > kMaxHexLineLength) return kLineTooLong;
  if (line.size() < 3 || line[0] != ':' || !IsAsciiAlnum(line[1]) || !IsAsciiAlnum(line[2]))
    return kOk;  // not a record
  if (line.size() < 9) return kShortRecord;
  auto byteAt = [&](size_t i) -> uint32_t { return PairValue(line.data() + i); };
  const uint32_t count = byteAt(1);
  const uint32_t address = byteAt(3) * 256 + byteAt(5) + extension_;
  if (address > kFlatImageCapacity) return kAddressCheck;
  switch (byteAt(7)) {
    case 0x00:
      if (line.size() < 9 + 2 * size_t(count)) return kShortRecord;
      if (address + count > kFlatImageCapacity) return kAddressCheck;
      for (uint32_t k = 0; k < count; ++k) image_[address + k] = PairValue(line.data() + 9 + 2 * k);
      if (count) end_ = std::max(end_, address + count);
      break;
    case 0x02:
      if (line.size() < 13) return kShortRecord;
      extension_ = (byteAt(9) * 256 + byteAt(11)) * 16;
      break;
    case 0x04:
      // Counted in units of 0x8000 (not 0x10000); images made so far depend on it.
      if (line.size() < 13) return kShortRecord;
      extension_ = (byteAt(9) * 256 + byteAt(11)) << 15;
      break;
    default:
      break;  // end of file (01) and start addresses: reading goes on
  }
  return kOk;
}

HeaderGenStatus ConvertToHeaderedImage(const HeaderGenSettings& s, HeaderGenObserver& observer) {
  Report report(observer);
  if (s.inputPath.empty())
    return report.Fail(HeaderGenStatus::kNoInput, " >> Cannot open file!\r\n");

  const OptionLayout& layout = LayoutOf(s.option);
  const std::string flatPath = HeaderGenOutputName(s.inputPath, "bin");
  const std::string outPath = HeaderGenOutputName(s.inputPath, "hdr");
  report(" >> Checking Parameters :\r\n");
  report(Format(" >> Convert flag\t\t\t[%s]\r\n", layout.flag));
  report(Format(" >> Input Intel Hex/Bin File\t\t[%s]\r\n", s.inputPath.c_str()));
  report(Format(" >> Output Bin File with Header\t[%s]\r\n", outPath.c_str()));
  report(Format(" >> Target/Offset Address\t\t[%s]\r\n", s.addressText.c_str()));
  if (s.addressText.compare(0, 2, "0x") != 0)
    return report.Fail(HeaderGenStatus::kBadAddressText,
                       " >> Enter the Hexdecimal String As Parameter....\r\n");
  const uint32_t address = HexTextValue(s.addressText);

  // Creating an output over the input would destroy it before it is read.
  for (const std::string* name : {&flatPath, &outPath}) {
    if ((name == &flatPath && !layout.hexConversion) || !SameFile(s.inputPath, *name)) continue;
    return report.Fail(HeaderGenStatus::kOutputIsInput,
                       Format(" >> Output File is the Input File! [%s]\r\n", name->c_str()));
  }

  OpenFiles f;
  f.inPath = s.inputPath;
  f.outPath = outPath;
  if (layout.hexConversion) {
    uint32_t flatSize = 0;
    const HeaderGenStatus st = WriteFlatImage(s.inputPath, flatPath, report, flatSize);
    if (st != HeaderGenStatus::kDone) return st;
    f.inPath = flatPath;
  }
  // From here on the flat image is this run's: a cancel takes it away again. The headered
  // image is not there before its commit.
  const auto cancelled = [&] {
    if (layout.hexConversion) {
      f.in.Close();
      RemoveFile(flatPath);
    }
    return HeaderGenStatus::kCancelled;
  };
  if (report.Cancelled()) return cancelled();
  const std::optional<uint64_t> length = FileSize(f.inPath);
  if (!FileExists(f.inPath) || !length || !f.in.Open(f.inPath, "rb"))
    return report.Fail(HeaderGenStatus::kCannotOpenInput, "Error opening input file.\n");
  if (!f.out.Open(outPath))
    return report.Fail(HeaderGenStatus::kCannotCreateOutput, "Error opening output file.\n");

  HeaderGenStatus st;
  switch (s.option) {
    case ConvertOption::kN:
      st = WriteHeaderedImage(f, *length, address, kFlashE, s.port, report, observer);
      break;
    case ConvertOption::kS:
      st = WriteHeaderedImage(f, *length, address, s.nand ? kFlashNand : kFlashSerial, s.port,
                              report, observer);
      break;
    default: {
      const uint32_t offset = s.option == ConvertOption::kI ? 0 : address;
      if (address % kAddressAlignment != 0)
        return report.Fail(HeaderGenStatus::kAlignment,
                           " >> Download_Target_Address Check Error ..Exit.\r\n");
      if (*length < offset)
        return report.Fail(HeaderGenStatus::kInputTooShort,
                           " >> Input file size check error ..Exit.\r\n");
      const uint64_t size = *length - offset;
      if (uint64_t(address) + size > kCodeAreaEnd)
        return report.Fail(HeaderGenStatus::kMaxAddress, "Max_Address_Chips Error ..Exit.\n");
      if (std::fseek(f.in.Get(), static_cast<long>(offset), SEEK_SET) != 0)
        return report.Fail(HeaderGenStatus::kReadFailed, ReadErrorLine(f.inPath));
      st = WriteHeaderedImage(f, size, address, kFlashE, s.port, report, observer);
      break;
    }
  }
  if (st == HeaderGenStatus::kCancelled || (st == HeaderGenStatus::kDone && report.Cancelled()))
    return cancelled();
  if (st != HeaderGenStatus::kDone) return st;
  // The headered image appears only whole, and only now.
  if (!f.out.Commit())
    return report.Fail(HeaderGenStatus::kWriteFailed,
                       Format(" >> Write Error! [%s]\r\n", outPath.c_str()));
  report(" >> All Process is Done !!!!\r\n");
  return HeaderGenStatus::kDone;
}

}  // namespace edog
