#include "tools/ImageTable.h"

#include <algorithm>
#include <map>

#include "common/AtomicFile.h"
#include "common/Bytes.h"
#include "common/FileChecks.h"
#include "common/Files.h"
#include "common/Format.h"
#include "common/Paths.h"
#include "tools/CHeaderText.h"
#include "tools/PathFunctions.h"
#include "tools/RunLengthImage.h"

namespace edog {

const char kNoImageFilesText[] = "No Image Files";
const char kImageTableFinishedFormat[] =
    "Finish up converting!!\n\n%d file(s) has been converted to \"%s\"";

namespace {

constexpr uint64_t kMaxTableAddress = 0xFFFFFF;  // three bytes per table entry
constexpr size_t kMaxPictures = 0xFFFF;          // two bytes of picture count
constexpr uint64_t kEnumUnit = 0xFFFF;

// Progress after picture i of n: offset + i / n * span, cut to an integer.
int StepProgress(size_t i, size_t n, int span, int offset) {
  return offset + static_cast<int>(static_cast<double>(i) * span / static_cast<double>(n));
}

struct Item {
  std::string picture;
  std::string binPath;
  std::string symbol;
  uint64_t length = 0;
  uint32_t address = 0;  // byte address (Serial) or block number (NAND)
  size_t lastUse = 0;    // the last list index using the same per-picture file
};

class Run {
 public:
  Run(const ImageTableSettings& s, ImageTableObserver& o) : s_(s), o_(o) {}
  ImageTableStatus Execute();
  const std::string& Message() const { return message_; }

 private:
  ImageTableStatus Fail(ImageTableStatus status, const std::string& message);
  ImageTableStatus CheckOutputNames();
  ImageTableStatus EncodePictures();
  ImageTableStatus PlanAddresses();
  ImageTableStatus WriteOutputs();
  bool Write(const void* data, size_t size) { return written_ &= data_.Write(data, size); }
  bool WriteZeros(uint64_t count);

  const ImageTableSettings& s_;
  ImageTableObserver& o_;
  std::string message_;  // the text of how the run ended
  std::vector<Item> items_;
  std::vector<std::string> createdBins_;
  bool nand_ = false;
  uint64_t tableSize_ = 0;
  uint64_t end_ = 0;
  // Both outputs appear only when the run succeeds.
  AtomicFileWriter data_;
  AtomicFileWriter text_;
  std::string headerName_;
  bool written_ = true;
  bool textWritten_ = true;
};

ImageTableStatus Run::Fail(ImageTableStatus status, const std::string& message) {
  message_ = message;
  data_.Discard();
  text_.Discard();
  if (s_.cleanTemp) {
    for (const std::string& bin : createdBins_) RemoveFile(bin);
  }
  return status;
}

bool Run::WriteZeros(uint64_t count) {
  static const uint8_t kZeros[1024] = {};
  while (count > 0) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(count, sizeof kZeros));
    if (!Write(kZeros, chunk)) return false;
    count -= chunk;
  }
  return true;
}

// The data file, its C header and the per-picture files must all be different files, and
// none of them a picture: writing one over another would lose it.
ImageTableStatus Run::CheckOutputNames() {
  headerName_ = CHeaderFileName(s_.outputName);
  if (SameFile(s_.outputName, headerName_))
    return Fail(ImageTableStatus::kRefused,
                Format("The data file \"%s\" and its C header \"%s\" would be the same file",
                       s_.outputName.c_str(), headerName_.c_str()));
  for (const std::string& out : {s_.outputName, headerName_}) {
    for (const std::string& picture : s_.pictures) {
      const std::string bin = PerPictureFileName(picture);
      const std::string* clash = SameFile(out, picture) ? &picture
                                 : SameFile(out, bin)   ? &bin
                                                        : nullptr;
      if (clash)
        return Fail(ImageTableStatus::kRefused,
                    Format("\"%s\" would overwrite the %s \"%s\"", out.c_str(),
                           clash == &picture ? "picture" : "run-length image", clash->c_str()));
    }
  }
  return ImageTableStatus::kFinished;
}

ImageTableStatus Run::EncodePictures() {
  const size_t n = s_.pictures.size();
  std::map<std::string, size_t> lastUse;
  for (size_t i = 0; i < n; ++i) {
    if (o_.CancelRequested()) return Fail(ImageTableStatus::kCancelled, {});
    const std::string& path = s_.pictures[i];
    const BmpDecode decoded = DecodeBmpFile(path, kMaxPictureSide);
    if (decoded.status == BmpDecode::kTooLarge) {
      return Fail(ImageTableStatus::kRefused,
                  Format("\"%s\" is %d x %d pixels: pictures wider or higher than %d pixels do "
                         "not fit the image format",
                         path.c_str(), decoded.width, decoded.height, kMaxPictureSide));
    }
    if (decoded.status != BmpDecode::kOk) {
      return Fail(ImageTableStatus::kRefused,
                  Format("\"%s\" cannot be used as a picture: %s", path.c_str(),
                         decoded.reason.c_str()));
    }
    o_.OnPictureDecoded(i, decoded.picture);
    const auto image = BuildRunLengthImage(decoded.picture);
    if (!image) {
      const size_t runBytes = EncodeRuns(decoded.picture).size() * 3;
      return Fail(ImageTableStatus::kRefused,
                  Format("\"%s\" (%d x %d pixels) needs %zu bytes of runs: at most %zu fit the "
                         "image format",
                         path.c_str(), decoded.width, decoded.height, runBytes, kMaxRunBytes));
    }
    Item item;
    item.picture = path;
    item.binPath = PerPictureFileName(path);
    item.symbol = PictureSymbol(path);
    if (!WriteWholeFile(item.binPath, *image)) {
      RemoveFile(item.binPath);
      return Fail(ImageTableStatus::kFileError, kTmpFileErrorText);
    }
    createdBins_.push_back(item.binPath);
    lastUse[item.binPath] = i;
    item.length = image->size();
    items_.push_back(std::move(item));
    o_.OnProgress(StepProgress(i, n, 45, 0));
  }
  for (Item& item : items_) item.lastUse = lastUse[item.binPath];
  return ImageTableStatus::kFinished;
}

// Start addresses from the lengths of step one, checked against the three address bytes of
// the table and the 32-bit size field before any output is created.
ImageTableStatus Run::PlanAddresses() {
  const size_t n = items_.size();
  tableSize_ = 3 * uint64_t(n) + 3;
  if (nand_) tableSize_ = RoundUp(tableSize_, kNandBlockSize);
  uint64_t current = uint64_t(s_.address) + tableSize_;
  if (nand_) current /= kNandBlockSize;
  for (Item& item : items_) {
    if (current > kMaxTableAddress) {
      return Fail(ImageTableStatus::kRefused,
                  Format("\"%s\" would start at %s 0x%llx: the image table holds addresses up to "
                         "0xffffff",
                         item.picture.c_str(), nand_ ? "block" : "address",
                         (unsigned long long)current));
    }
    item.address = static_cast<uint32_t>(current);
    current += nand_ ? (item.length + kNandBlockSize - 1) / kNandBlockSize : item.length;
  }
  end_ = current;
  const uint64_t size = nand_ ? end_ * kNandBlockSize - s_.address : end_ - s_.address;
  if (size + kUartPacketSize > 0xFFFFFFFFull) {
    return Fail(ImageTableStatus::kRefused,
                "The pictures do not fit the 32-bit size field of the data file");
  }
  return ImageTableStatus::kFinished;
}

ImageTableStatus Run::WriteOutputs() {
  const size_t n = items_.size();
  if (!data_.Open(s_.outputName)) return Fail(ImageTableStatus::kFileError, TmpFileErrorText(data_));
  if (!text_.Open(headerName_)) return Fail(ImageTableStatus::kFileError, TmpFileErrorText(text_));

  // A picture longer than 0xFFFF bytes takes further enum values ahead of its own. The
  // names come from the file system: made valid, unique C identifiers.
  std::vector<std::string> names;
  std::vector<size_t> namesPerItem;
  for (const Item& item : items_) {
    const uint64_t extra = (item.length + kEnumUnit - 1) / kEnumUnit - 1;
    for (uint64_t k = 0; k < extra; ++k)
      names.push_back(item.symbol + "_" + std::to_string(k));
    names.push_back(item.symbol);
    namesPerItem.push_back(static_cast<size_t>(extra) + 1);
  }
  const std::vector<std::string> ids = UniqueCIdentifiers(names);
  std::string text = "enum {\n";
  size_t at = 0;
  for (size_t i = 0; i < n; ++i) {
    Item& item = items_[i];
    const auto length = FileSize(item.binPath);
    if (!length || *length != item.length)
      return Fail(ImageTableStatus::kFileError, kTmpFileErrorText);
    for (size_t k = 0; k + 1 < namesPerItem[i]; ++k) text += "\t" + ids[at++] + ",\n";
    text += "\t" + ids[at++] + (i + 1 < n ? ",\n" : "\n");
    o_.OnProgress(StepProgress(i, n, 5, 45));
  }
  text += "};\n\n";
  text += "const struct _FileInfo {\n";
  text += "\tchar *FileName;\n";
  text += "} FileInfo[] = {\n";
  for (size_t i = 0; i < n; ++i) {
    text += Format("\t/*%3d*/ { ", static_cast<int>(i));
    text += "\"" + CStringLiteralBody(items_[i].picture) + "\"";
    text += i + 1 < n ? " },\n" : " }\n";
    o_.OnProgress(StepProgress(i, n, 5, 50));
  }
  text += "};\n\n";
  text += "const unsigned char FilePos[] = {\n";
  text += "\t      //addrh addrm addrl\n";
  textWritten_ &= text_.WriteText(text);

  for (size_t i = 0; i < n; ++i) o_.OnProgress(StepProgress(i, n, 5, 55));

  const SizeAndPackets size =
      TableImageSize(s_.port, s_.flash, s_.address, static_cast<uint32_t>(end_));
  const HeaderBlock header = BuildHeaderBlock(s_.port, s_.flash,
                                              StoredStartAddress(s_.flash, s_.address),
                                              size.fileSize, size.packetCount);
  Write(header.data(), header.size());
  std::vector<uint8_t> table(static_cast<size_t>(tableSize_), 0);
  PutBE16(&table[0], static_cast<uint16_t>(n));
  for (size_t i = 0; i < n; ++i) PutBE24(&table[2 + 3 * i], items_[i].address);
  Write(table.data(), table.size());
  uint64_t payload = table.size();

  for (size_t i = 0; i < n; ++i) {
    if (o_.CancelRequested()) return Fail(ImageTableStatus::kCancelled, {});
    const Item& item = items_[i];
    const auto image = ReadWholeFile(item.binPath);
    if (!image || image->size() != item.length)
      return Fail(ImageTableStatus::kFileError, kTmpFileErrorText);
    if (const auto replay = DecodeRunLengthImage(image->data(), image->size()))
      o_.OnPictureReplayed(i, *replay);
    const uint32_t a = item.address;
    textWritten_ &= text_.WriteText(Format("\t/*%3d*/ 0x%02x, 0x%02x, 0x%02x%s", static_cast<int>(i),
                       (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF, i + 1 < n ? ",\n" : "\n"));
    Write(image->data(), image->size());
    payload += image->size();
    if (nand_) {
      const uint64_t pad = RoundUp(image->size(), kNandBlockSize) - image->size();
      WriteZeros(pad);
      payload += pad;
    }
    // A picture listed twice shares its per-picture file: delete it after its last use.
    if (s_.cleanTemp && item.lastUse == i) RemoveFile(item.binPath);
    o_.OnProgress(StepProgress(i, n, 35, 60));
  }
  WriteZeros(TableImageEndPadding(s_.port, s_.flash, payload));
  textWritten_ &= text_.WriteText("};\n");
  // A cancel during the last picture's preview: nothing appears.
  if (o_.CancelRequested()) return Fail(ImageTableStatus::kCancelled, {});
  if (!written_ || !data_.Flush())
    return Fail(ImageTableStatus::kFileError,
                Format("\"%s\" could not be written", s_.outputName.c_str()));
  if (!textWritten_ || !text_.Commit())
    return Fail(ImageTableStatus::kFileError,
                Format("\"%s\" could not be written", headerName_.c_str()));
  if (!data_.Commit()) {
    RemoveFile(headerName_);
    return Fail(ImageTableStatus::kFileError,
                Format("\"%s\" could not be written", s_.outputName.c_str()));
  }
  return ImageTableStatus::kFinished;
}

ImageTableStatus Run::Execute() {
  const size_t n = s_.pictures.size();
  if (n == 0) return Fail(ImageTableStatus::kNoImages, kNoImageFilesText);
  if (n > kMaxPictures)
    return Fail(ImageTableStatus::kRefused,
                Format("%zu pictures: the image table holds at most %zu", n, kMaxPictures));
  nand_ = s_.flash == kFlashNand;
  if (auto st = CheckOutputNames(); st != ImageTableStatus::kFinished) return st;
  if (auto st = EncodePictures(); st != ImageTableStatus::kFinished) return st;
  o_.OnPreviewCleared();
  if (auto st = PlanAddresses(); st != ImageTableStatus::kFinished) return st;
  if (auto st = WriteOutputs(); st != ImageTableStatus::kFinished) return st;
  o_.OnProgress(100);
  message_ = Format(kImageTableFinishedFormat, static_cast<int>(n), s_.outputName.c_str());
  return ImageTableStatus::kFinished;
}

}  // namespace

Result<ImageTableStatus> RunImageTable(const ImageTableSettings& settings,
                                       ImageTableObserver& observer) {
  Run run(settings, observer);
  const ImageTableStatus status = run.Execute();
  return {status, run.Message()};
}

std::string PerPictureFileName(const std::string& picturePath) {
  size_t end = picturePath.size();
  while (end > 0 && (picturePath[end - 1] == 'b' || picturePath[end - 1] == 'm' ||
                     picturePath[end - 1] == 'p'))
    --end;
  return picturePath.substr(0, end) + "bin";
}

std::string PictureSymbol(const std::string& picturePath) {
  return ExtractFileTitle(PerPictureFileName(picturePath), true);
}

std::string CHeaderFileName(const std::string& outputName) {
  const size_t dot = ExtensionDot(outputName);
  if (dot == std::string::npos) return FolderPart(outputName) + "h";
  return outputName.substr(0, dot + 1) + "h";
}

}  // namespace edog
