#include "tools/VoiceGeneration.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "common/AtomicFile.h"
#include "common/Bytes.h"
#include "common/DynamicLibrary.h"
#include "common/FileChecks.h"
#include "common/Files.h"
#include "common/Format.h"
#include "common/Paths.h"
#include "common/VendorCall.h"
#include "common/VendorPath.h"
#include "tools/CHeaderText.h"
#include "tools/PathFunctions.h"
#include "tools/ToolTexts.h"
#include "update/HeaderedImage.h"

namespace edog {

VoiceGeneration& VoiceGeneration::operator=(const VoiceGeneration& o) {
  if (this == &o) return *this;
  paths = o.paths;
  rates = o.rates;
  bits = o.bits;
  tempFileClean = o.tempFileClean;
  rateAndBits = o.rateAndBits;
  outputName = o.outputName;
  flashSelection = o.flashSelection.load();
  portSelection = o.portSelection.load();
  return *this;
}

void VoiceGeneration::ClearFiles() {
  paths.clear();
  rates.clear();
  bits.clear();
}

void VoiceGeneration::AddFile(const std::string& path, const std::string& rateText,
                              const std::string& bitsText) {
  paths.push_back(path);
  rates.push_back(rateText);
  bits.push_back(bitsText);
}

std::string VoiceCompletionText(long files, const std::string& outputName) {
  return Format("Finish up converting!!\n\n %ld file(s) has been converted to \"%s\"", files,
                outputName.c_str());
}

std::string VoiceEncoderCodeText(int code) {
  // The stand-in encoder's answers (its EncoderError).
  switch (code) {
    case 1: return "the encoder was called with wrong arguments (bits other than 4 or 3)";
    case 2: return "the encoder cannot open or read the wave file";
    case 3: return "the encoder found no RIFF/WAVE file with a format and a data chunk";
    case 4: return "the encoder takes mono files only";
    case 5:
      return "the encoder takes 8- or 16-bit integer PCM with a sample rate and a channel";
    case 6:
      return "the encoded file could not be written (a full disk, or a folder you may not "
             "write to)";
    case 7: return "the encoder could not set itself up (out of memory)";
    default: return "the encoder gives no meaning for this answer";
  }
}

std::string LowerCasePath(const std::string& path) {
  std::string out = path;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string EncoderInputPath(const std::string& listedPath) {
  return FileNamesIgnoreCase() ? LowerCasePath(listedPath) : listedPath;
}

std::string VoiceOutputFolder(const std::string& lastEncodedPath) {
  return FolderPart(lastEncodedPath);
}

std::string VoiceDataPath(const VoiceGeneration& generation) {
  if (generation.paths.empty()) return {};
  const std::string lastEncoded = ReplaceExtension(EncoderInputPath(generation.paths.back()), "enc");
  return VoiceOutputFolder(lastEncoded) + generation.outputName;
}

std::string VoiceHeaderPath(const std::string& dataPath) {
  // Only a dot of the file name counts: a dot in a folder name must not send the header
  // file elsewhere.
  const auto dot = ExtensionDot(dataPath);
  if (dot == std::string::npos) return dataPath + ".h";
  return dataPath.substr(0, dot + 1) + "h";
}

int32_t ReadDecimalText(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint32_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = value * 10u + static_cast<uint32_t>(text[i] - '0');
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

namespace {

constexpr size_t kCopyChunk = 1024;

// Where one encoded file lands. Serial flash: byte address and length − 1 in both the
// position entry and the FilePos line. NAND flash: the entry counts blocks from one and
// gives the block count − 1; the line gives the block itself and the block count.
struct Placement {
  uint32_t entryAddress, entrySize, lineAddress, lineSize;
};

Placement Place(bool nand, uint64_t& running, uint32_t length) {
  Placement p{};
  const auto at = static_cast<uint32_t>(running);
  if (!nand) {
    p.entryAddress = p.lineAddress = at;
    p.entrySize = p.lineSize = length - 1;
    running += length;
  } else {
    const uint32_t blocks = length / kNandBlockSize + (length % kNandBlockSize ? 1 : 0);
    p.entryAddress = at + 1;
    p.entrySize = blocks - 1;
    p.lineAddress = at;
    p.lineSize = blocks;
    running += blocks;
  }
  return p;
}

// The position table stores three bytes per address and size.
constexpr uint64_t kMaxTableValue = 0xFFFFFF;

class VoiceRun {
 public:
  VoiceRun(const VoiceGeneration& g, uint32_t start, VoiceGenerationObserver& o,
           const std::string& library)
      : gen_(g),
        start_(start),
        obs_(o),
        library_(library),
        n_(g.paths.size()),
        // One consistent pair for the whole run, whatever the radio buttons do meanwhile.
        nand_(g.flashSelection.load() == kSelectNand),
        port_(g.portSelection.load() == kSelectUart ? Port::Uart : Port::Usb) {}

  VoiceRunStatus Run();
  const std::string& Failure() const { return failure_; }

 private:
  std::string NameClash() const;
  void RemoveWhatRunMade();
  bool Encode();
  bool OpenOutputs();
  bool WriteEnum();
  bool WriteFileInfo();
  bool BuildTable();
  bool WriteData();
  bool Fail(const std::string& text) {
    failure_ = text;
    return false;
  }
  bool IoError(const std::string& path) { return Fail(Format(kVoiceIoErrorFormat, path.c_str())); }
  bool Stopped() {
    if (!obs_.StopRequested()) return false;
    stopped_ = true;
    return true;
  }
  void Progress(long p) { obs_.OnProgress(p); }
  // The file the encoder wrote for wave file i (its name may be the short one: Encode).
  std::string EncodedPath(size_t i) const { return encoded_[i]; }
  // The encoded file's length; false (after the message) when it cannot be opened.
  bool EncodedLength(size_t i, uint64_t& length);
  // Where the first encoded file goes: a byte address, or a block on NAND flash.
  uint64_t RunningStart() const {
    const uint64_t first = uint64_t(start_) + tableSize_;
    return nand_ ? first >> 9 : first;
  }
  // False (after the message) when file i at `running` leaves the table's 24 bits.
  bool FitsTable(size_t i, uint64_t running, uint64_t length);
  bool Text(const std::string& s) { return header_.WriteText(s) || IoError(headerPath_); }
  // A number text as a C number: the decimal value the table stores, whatever the text.
  static std::string NumberText(const std::string& text) {
    return std::to_string(ReadDecimalText(text));
  }

  const VoiceGeneration& gen_;
  const uint32_t start_;
  VoiceGenerationObserver& obs_;
  const std::string library_;
  const size_t n_;
  const bool nand_;
  const Port port_;
  bool stopped_ = false;
  std::string failure_;  // why the run failed, for the user

  std::unique_ptr<DynamicLibrary> encoder_;  // unloaded on every way out of the run
  size_t tableSize_ = 0;
  std::string lastEncodedPath_, dataPath_, headerPath_;
  // Both outputs appear only when the run completes.
  AtomicFileWriter data_;
  AtomicFileWriter header_;
  std::vector<std::string> encoded_;      // per wave file: its encoded file
  std::vector<std::string> encodedMade_;  // the encoder's outputs of this run
  std::vector<std::string> enumNames_;
  std::vector<uint8_t> table_;
  uint64_t end_ = 0;
};

VoiceRunStatus VoiceRun::Run() {
  if (n_ < 1) {
    failure_ = kNoWavFilesText;
    return VoiceRunStatus::kFailed;
  }
  if (const std::string clash = NameClash(); !clash.empty()) {
    failure_ = clash;
    return VoiceRunStatus::kFailed;
  }
  obs_.OnBusyChanged(true);
  tableSize_ = (gen_.rateAndBits ? 9 : 6) * n_ + 2;

  const bool ok = Encode() && OpenOutputs() && WriteEnum() && WriteFileInfo() && BuildTable() &&
                  WriteData();
  if (!ok) {
    RemoveWhatRunMade();
    return stopped_ ? VoiceRunStatus::kStopped : VoiceRunStatus::kFailed;
  }
  encoder_.reset();
  obs_.OnCompleted(static_cast<long>(n_));
  obs_.OnBusyChanged(false);
  return VoiceRunStatus::kCompleted;
}

// Every file the run writes (encoded files, data file, header file) must be none of the
// wave files and none of the others: the encoder would truncate a ".enc" input before
// reading it, and an output over an encoded file would be read while written.
std::string VoiceRun::NameClash() const {
  std::vector<std::string> encoded;
  for (size_t i = 0; i < n_; ++i) {
    encoded.push_back(ReplaceExtension(EncoderInputPath(gen_.paths[i]), "enc"));
    if (const std::string in = InputOverwrittenBy(encoded.back(), gen_.paths); !in.empty())
      return Format("The encoded file %s would overwrite the wave file %s",
                    encoded.back().c_str(), in.c_str());
  }
  const std::string data = VoiceDataPath(gen_);
  const std::string header = VoiceHeaderPath(data);
  if (SameFile(data, header))
    return "the voice data file and its header file would be the same file: " + data;
  for (const std::string& out : {data, header}) {
    if (const std::string in = InputOverwrittenBy(out, gen_.paths); !in.empty())
      return Format("%s would overwrite the wave file %s", out.c_str(), in.c_str());
    if (const std::string enc = InputOverwrittenBy(out, encoded); !enc.empty())
      return Format("%s would overwrite the encoded file %s", out.c_str(), enc.c_str());
  }
  return {};
}

// A failed or stopped run leaves no output behind, nor (unless they are to be kept)
// the encoded files it made.
void VoiceRun::RemoveWhatRunMade() {
  data_.Discard();
  header_.Discard();
  if (!gen_.tempFileClean) return;
  for (const std::string& path : encodedMade_) RemoveFile(path);
}

bool VoiceRun::Encode() {
  std::string why;
  encoder_ = DynamicLibrary::Load(library_, &why);
  VoiceEncoderFn encode =
      encoder_ ? encoder_->Function<VoiceEncoderFn>(kVoiceEncoderExport) : nullptr;
  // A library that is there but cannot be loaded says why, after the usual words.
  if (!encode) return Fail(why.empty() ? kEncoderMissingText : std::string(kEncoderMissingText) + "\n" + why);

  const NarrowPathSystem system = SystemNarrowPaths();
  for (size_t i = 0; i < n_; ++i) {
    if (Stopped()) return false;
    // The encoder opens both files with the narrow calls: lower-cased as characters first
    // (EncoderInputPath), then made narrow (VendorPath.h).
    const std::string lowered = EncoderInputPath(gen_.paths[i]);
    const NarrowPath in = NarrowInputPath(lowered, system);
    if (!in.ok) return Fail(in.why);
    const NarrowPath out = NarrowOutputPath(ReplaceExtension(lowered, "enc"), lowered, system);
    if (!out.ok) return Fail(out.why);
    std::string arg0 = "Encode";
    std::string arg1 = "-" + gen_.bits[i];
    std::string input = in.narrow;
    std::string outputArg = out.narrow;
    const std::string& output = out.actual;
    encoded_.push_back(output);
    char* argv[] = {arg0.data(), arg1.data(), input.data(), outputArg.data(), nullptr};
    int32_t variable;  // the encoder's own; neither set nor read here
    const bool existed = FileExists(output);
    const int r = CallVendor(encode, 4, argv, &variable, 0, 0, 0);
    if (!existed || r == 0) encodedMade_.push_back(output);
    if (r != 0) {
      // What a failing encoder left is no encoded file, whatever the keep option says.
      if (!existed) RemoveFile(output);
      obs_.OnEncoderFailed(gen_.paths[i], r);
      return Fail(Format(kInternalErrorFormat, r));
    }
    lastEncodedPath_ = output;
    Progress(static_cast<long>(static_cast<double>(i) / static_cast<double>(n_) * 80.0));
  }
  return true;
}

bool VoiceRun::OpenOutputs() {
  dataPath_ = VoiceOutputFolder(lastEncodedPath_) + gen_.outputName;
  headerPath_ = VoiceHeaderPath(dataPath_);
  if (!data_.Open(dataPath_)) return Fail(TmpFileErrorText(data_));
  if (!header_.Open(headerPath_)) return Fail(TmpFileErrorText(header_));
  return true;
}

bool VoiceRun::EncodedLength(size_t i, uint64_t& length) {
  const std::string path = EncodedPath(i);
  StdFile f(path, "rb");
  if (!f.IsOpen()) return Fail(kTmpFileErrorText);
  length = FileSize(path).value_or(0);
  return true;
}

bool VoiceRun::FitsTable(size_t i, uint64_t running, uint64_t length) {
  const char* unit = nand_ ? "block" : "address";
  const uint64_t address = nand_ ? running + 1 : running;
  const uint64_t size = nand_ ? (length + kNandBlockSize - 1) / kNandBlockSize - 1 : length - 1;
  if (length > UINT32_MAX)
    return Fail(Format("\"%s\" is encoded to %llu bytes: more than the header's 32-bit size "
                       "field holds",
                       gen_.paths[i].c_str(), (unsigned long long)length));
  if (address > kMaxTableValue || size > kMaxTableValue)
    return Fail(Format("\"%s\" would start at %s 0x%llx: the voice position table holds "
                       "addresses and sizes up to 0xffffff",
                       gen_.paths[i].c_str(), unit, (unsigned long long)address));
  return true;
}

bool VoiceRun::WriteEnum() {
  // File titles come from the file system: made valid, unique C identifiers.
  std::vector<std::string> titles;
  for (const std::string& path : gen_.paths) titles.push_back(ExtractFileTitle(path, true));
  enumNames_ = UniqueCIdentifiers(titles);
  if (!Text("enum {\n")) return false;
  for (size_t i = 0; i < n_; ++i) {
    if (!StdFile(EncodedPath(i), "rb").IsOpen()) return Fail(kTmpFileErrorText);
    if (!Text("\t" + enumNames_[i] + (i + 1 < n_ ? ",\n" : "\n"))) return false;
    Progress(80);
  }
  return true;
}

bool VoiceRun::WriteFileInfo() {
  if (!Text("};\n\n"
            "const struct _FileInfo {\n"
            "\tchar         *FileName;\n"
            "\tunsigned int  Fs;\n"
            "\tunsigned char Nbit;\n"
            "} FileInfo[] = {\n"))
    return false;
  for (size_t l = 0; l < n_; ++l) {
    const std::string line =
        Format("\t/*%3d*/ { \"", static_cast<int>(l)) +
        CStringLiteralBody(ExtractFileTitle(gen_.paths[l], true) + ".wav") + "\", " +
        NumberText(gen_.rates[l]) + ", " + NumberText(gen_.bits[l]) +
        (l + 1 < n_ ? " },\n" : " }\n");
    if (!Text(line)) return false;
    Progress(85);
  }
  return Text("};\n\n"
              "const unsigned char FilePos[] = {\n"
              "\t      //addrh addrm addrl sizeh sizem sizel\n");
}

bool VoiceRun::BuildTable() {
  if (nand_) tableSize_ = static_cast<size_t>(RoundUp(tableSize_, kNandBlockSize));
  table_.assign(std::max<size_t>(tableSize_, kCopyChunk), 0);
  uint64_t running = RunningStart();
  table_[0] = static_cast<uint8_t>(n_);
  size_t at = 1;
  for (size_t s = 0; s < n_; ++s) {
    if (Stopped()) return false;
    uint64_t length = 0;
    if (!EncodedLength(s, length)) return false;
    if (length > 0) {
      if (!FitsTable(s, running, length)) return false;
      const Placement p = Place(nand_, running, static_cast<uint32_t>(length));
      PutBE24(&table_[at], p.entryAddress);
      PutBE24(&table_[at + 3], p.entrySize);
      at += 6;
    }
    if (gen_.rateAndBits) {
      const uint32_t rate = static_cast<uint32_t>(ReadDecimalText(gen_.rates[s]));
      PutLE16(&table_[at], static_cast<uint16_t>(rate));
      at += 2;
      table_[at++] = static_cast<uint8_t>(ReadDecimalText(gen_.bits[s]));
    }
    Progress(90);
  }
  end_ = running;
  // The header's size field has 32 bits; which sizes the device takes is the device's own.
  const uint64_t endByte = nand_ ? end_ * kNandBlockSize : end_;
  const uint64_t size = endByte - start_;
  const uint64_t packet = port_ == Port::Uart ? kUartPacketSize
                          : nand_             ? 1
                                              : kUsbPacketSize;
  if ((size + packet - 1) / packet * packet > UINT32_MAX)
    return Fail(Format("the voice data would be %llu bytes: more than the header's 32-bit size "
                       "field holds; choose fewer or shorter wave files",
                       (unsigned long long)size));
  return true;
}

bool VoiceRun::WriteData() {
  const uint8_t flash = nand_ ? kFlashNand : kFlashSerial;
  const SizeAndPackets size = TableImageSize(port_, flash, start_, static_cast<uint32_t>(end_));
  const HeaderBlock block = BuildHeaderBlock(port_, flash, StoredStartAddress(flash, start_),
                                             size.fileSize, size.packetCount);
  if (!data_.Write(block.data(), block.size()) || !data_.Write(table_.data(), tableSize_))
    return IoError(dataPath_);
  uint64_t written = kHeaderBlockSize + tableSize_;
  // From here on the table buffer is the source of zero padding.
  std::fill(table_.begin(), table_.end(), 0);

  const size_t chunk = nand_ ? kNandBlockSize : kCopyChunk;
  uint8_t buffer[kCopyChunk];
  uint64_t running = RunningStart();
  for (size_t i = 0; i < n_; ++i) {
    if (Stopped()) return false;
    const std::string path = EncodedPath(i);
    StdFile in(path, "rb");
    if (!in.IsOpen()) return Fail(kTmpFileErrorText);
    const uint32_t length = static_cast<uint32_t>(FileSize(path).value_or(0));
    if (length > 0) {
      const Placement p = Place(nand_, running, length);
      std::string line = Format("\t/*%3d*/ 0x%02x", static_cast<int>(i), (p.lineAddress >> 16) & 0xFF);
      for (uint32_t byte : {(p.lineAddress >> 8) & 0xFF, p.lineAddress & 0xFF,
                            (p.lineSize >> 16) & 0xFF, (p.lineSize >> 8) & 0xFF, p.lineSize & 0xFF})
        line += Format(", 0x%02x", byte);
      line += i + 1 < n_ ? ",\n" : "\n";
      if (!Text(line)) return false;
    }
    size_t got;
    while ((got = in.Read(buffer, chunk)) > 0) {
      if (!data_.Write(buffer, got)) return IoError(dataPath_);
      written += got;
      if (Stopped()) return false;
    }
    if (std::ferror(in.Get())) return IoError(path);
    if (nand_ && written % kNandBlockSize) {
      const size_t pad = kNandBlockSize - written % kNandBlockSize;
      if (!data_.Write(table_.data(), pad)) return IoError(dataPath_);
      written += pad;
    }
    in.Close();
    if (gen_.tempFileClean) RemoveFile(path);
    Progress(100);
  }

  const uint32_t endPad = TableImageEndPadding(port_, flash, written);
  if (!data_.Write(table_.data(), endPad)) return IoError(dataPath_);
  if (!Text("};\n")) return false;
  if (Stopped()) return false;  // nothing appears after a stop, however late
  if (!data_.Flush()) return IoError(dataPath_);
  if (!header_.Commit()) return IoError(headerPath_);
  if (!data_.Commit()) {
    RemoveFile(headerPath_);
    return IoError(dataPath_);
  }
  return true;
}

}  // namespace

Result<VoiceRunStatus> RunVoiceGeneration(const VoiceGeneration& generation,
                                          uint32_t startAddress,
                                          VoiceGenerationObserver& observer,
                                          const std::string& encoderLibrary) {
  VoiceRun run(generation, startAddress, observer, encoderLibrary);
  const VoiceRunStatus status = run.Run();
  return {status, run.Failure()};
}

}  // namespace edog
