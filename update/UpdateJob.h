#pragma once
// The update job behind the 更新 button: extract the package, then for voice, database and
// software (in that order, as selected) check the header, list it and send the file over
// USB or start a serial code download. It talks to its surroundings only through
// UpdateHost, which the main window, edogtool and the tests each implement.
#include <cstdint>
#include <string>

#include "update/Package.h"

namespace edog {

enum class ContentKind { kVoice = 0, kDatabase = 1, kSoftware = 2 };

// What became of one USB transfer run by the host.
enum class TransferOutcome {
  kCompleted,   // the device accepted the whole payload
  kCancelled,   // the user stopped it (Esc, Ctrl-C) after part of the payload
  kFailed,      // refused, aborted or never started
  kDeviceLost,  // the device went away (unplugged, silent for good) during the transfer
};

class UpdateHost {
 public:
  virtual ~UpdateHost() = default;
  // The connected flag as the last presence check left it.
  virtual bool Connected() = 0;
  // Appends to the update log and refreshes the window.
  virtual void AppendLog(const std::string& text) = 0;
  // Adds a line at the end of the progress list (and makes it the anchor).
  virtual void AddProgressLine(const std::string& line) = 0;
  // The job cannot go on (not connected, nothing selected, package refused, link lost):
  // `text` tells the user why; the job waits until it is acknowledged (the window's
  // message box with its OK button).
  virtual void OnFailure(const std::string& text) = 0;
  // The job's closing summary, shown the same way.
  virtual void OnSummary(const std::string& text) = 0;
  // Waits at least `ms` while the window keeps handling its messages.
  virtual void PumpWait(uint32_t ms) = 0;
  // Busy: the job must not be started again (the window disables its update button);
  // false again when it may.
  virtual void OnBusyChanged(bool busy) = 0;
  // The voice / database / software path fields.
  virtual void SetPath(ContentKind kind, const std::string& path) = 0;
  // Empties the progress list, the three paths, the progress bar and the status monitor.
  virtual void Reset() = 0;
  // Runs one download status window modally (returns when it has closed) for an extracted
  // file: it is read through `file`, never reopened by its name (file.Path()), so that
  // what the job checked is what is sent.
  virtual TransferOutcome RunUsbTransfer(const KeptFile& file, const std::string& label) = 0;
  // Whether the serial link is open.
  virtual bool SerialOpen() = 0;
  // Pauses the serial reader and starts the serial code download of the software path
  // (the download resumes the reader and frees the update button when it ends). For the
  // software kind the path names the extracted file, handed over as `software` to be read
  // through; for the other kinds `software` is null and the path is sent as it stands.
  virtual void StartSerialDownload(const KeptFile* software) = 0;
};

struct UpdateSelection {
  bool voice = false;
  bool database = false;
  bool software = false;
};

struct UpdateSettings {
  std::string packagePath;                     // program folder + "qzkt.dll"
  std::string packageRefusal;  // why the package may not be used (PackageLookup): not opened
  int encryptionMethod = kDefaultEncryptionMethod;
};

// How the job ended (for edogtool's exit status and the tests).
struct UpdateResult {
  bool started = false;     // got past the connection and selection checks
  bool extracted = false;
  bool aborted = false;     // ended early (disconnect)
  bool usbLost = false;     // ... at the USB disconnect box, which the summary follows
  bool usbTransferStarted = false;  // a USB transfer of this job has begun
  int usbCompleted = 0;     // contents the device accepted whole over USB
  int failed = 0;           // contents refused by the checks or not taken whole
  int serialDownloadsStarted = 0;  // their outcome is known only when they end
  std::string summary;      // the result summary as shown
};

class UpdateJob {
 public:
  explicit UpdateJob(UpdateHost& host) : host_(host) {}
  // Runs the whole job. A call while a job runs (a press from inside one of its waits)
  // returns at once with started == false.
  UpdateResult Run(const UpdateSelection& selection, const UpdateSettings& settings);
  bool Running() const { return running_; }

  static const char* HeaderFileName(ContentKind kind);

 private:
  // kUsbLost: the job ends at the USB disconnect box, the summary follows it.
  enum class KindEnd { kCompleted, kFailed, kSerialStarted, kEndJob, kUsbLost };
  KindEnd HandleKind(ContentKind kind, const PackageExtraction& extraction, UpdateResult& result);
  UpdateHost& host_;
  bool running_ = false;
};

// The texts of the update job, shared with the window and the CLI.
extern const char* const kNotConnectedText;
extern const char* const kNothingSelectedText;
extern const char* const kUsbDisconnectText;
extern const char* const kComDisconnectText;
extern const char* const kPackageMismatchText;
// The package could not be extracted for want of room in the temp folder, or the temp
// folder cannot be written at all: the package itself may be fine.
extern const char* const kExtractDiskFullText;
extern const char* const kExtractWriteFailedText;
// The package could not be opened at all (absent, unreadable, refused): the mismatch text,
// then why, with "%s" its path.
extern const char* const kPackageCannotOpenFormat;

}  // namespace edog
