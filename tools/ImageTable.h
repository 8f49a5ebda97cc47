#pragma once
// Image table generator: turns a list of bitmap pictures into one headered image (a table of
// picture addresses, then each picture as a run-length image) and a C header text naming
// the pictures, their paths and their flash addresses. The dialog runs it on a worker
// thread; edogtool runs it directly. It reports through ImageTableObserver (called on the
// thread that runs it) and never sleeps: pauses for the preview are the observer's.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/Result.h"
#include "tools/BmpDecoder.h"
#include "tools/ToolTexts.h"
#include "update/HeaderedImage.h"

namespace edog {

// Texts the user sees.
extern const char kNoImageFilesText[];      // "No Image Files"
// printf format with the picture count and the output name.
extern const char kImageTableFinishedFormat[];

struct ImageTableSettings {
  std::vector<std::string> pictures;  // paths in list order, written into the C header as given
  std::string outputName = "Image.hdr";
  uint32_t address = 0;               // flash byte address of the payload
  uint8_t flash = kFlashSerial;       // kFlashSerial or kFlashNand
  Port port = Port::Usb;
  bool cleanTemp = true;              // delete the per-picture files after use
};

class ImageTableObserver {
 public:
  virtual ~ImageTableObserver() = default;
  virtual void OnProgress(int /*percent*/) {}
  // A picture as decoded, before it is encoded (the preview; the observer may pause).
  virtual void OnPictureDecoded(size_t /*index*/, const Picture& /*picture*/) {}
  virtual void OnPreviewCleared() {}
  // A picture read back from its run-length image just before it goes into the data file.
  virtual void OnPictureReplayed(size_t /*index*/, const Picture& /*picture*/) {}
  // Polled between pictures; true stops the run (outputs removed as after a failure).
  virtual bool CancelRequested() { return false; }
};

enum class ImageTableStatus {
  kFinished,
  kNoImages,     // empty list
  kRefused,      // a picture that cannot be read or does not fit the format; addresses too high
  kFileError,    // a file that could not be created, read or written
  kCancelled,
};

// On any outcome but kFinished the incomplete data file and C header are removed, and so
// are the per-picture files this run wrote when cleanTemp is set. The message is the
// completion text (kImageTableFinishedFormat) or the failure's; none for kCancelled.
Result<ImageTableStatus> RunImageTable(const ImageTableSettings& settings,
                                       ImageTableObserver& observer);

// "pics/Logo.bmp" -> "pics/Logo.bin": every trailing 'b', 'm' and 'p' removed, then "bin".
std::string PerPictureFileName(const std::string& picturePath);
// The enum name: the per-picture file's title in upper case ("LOGO").
std::string PictureSymbol(const std::string& picturePath);
// The output name up to and including its last '.', then "h" ("Image.hdr" -> "Image.h");
// a name without a dot gives "h" in the output's folder.
std::string CHeaderFileName(const std::string& outputName);

}  // namespace edog
