#pragma once
// The main window's serial link: the port behind its COM port and baud rate boxes, the
// port's reader, and the serial code downloads over it. Free of controls: what the link
// receives and reports reaches the window through the handlers, on the window's thread.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/Comm.h"
#include "device/SerialDownload.h"

class UiCallTarget;

class SerialLinkController {
 public:
  struct Handlers {
    // The reader's bytes; the reader waits until the call has returned, as its buffer is
    // reused for the next block.
    std::function<void(const char* bytes, size_t count)> onText;
    // The reader could not start its wait (text and caption of the warning).
    std::function<void(const char* text, const char* caption)> onReaderFailed;
  };
  enum class ConnectResult { kConnected, kNoEvents, kOpenFailed };

  explicit SerialLinkController(Handlers handlers);
  ~SerialLinkController();  // Stop()
  SerialLinkController(const SerialLinkController&) = delete;
  SerialLinkController& operator=(const SerialLinkController&) = delete;

  // Opens the port: "COMn" names with a port number > 0 by number (the Windows device
  // names), others as device paths; 8 data bits, one stop bit, no parity.
  ConnectResult Connect(const std::string& portName, int portNumber, uint32_t speed);
  void Disconnect();
  // The connected flag (set by a successful Connect until Disconnect).
  bool Connected() const { return connected_; }
  // Connected and the port still open.
  bool Open() const { return connected_ && comm_.IsOpen(); }
  // Why the last Connect could not open the port; empty when the reason has no words.
  const std::string& OpenFailure() const { return comm_.OpenFailure(); }

  // Starts a download of `path` on its own thread; the reader pauses until the download
  // lets it go. `reports` get every report of it (ResumeReader after the link has resumed).
  // With `file` (the update job's extracted software at `path`), that is read instead.
  void StartDownload(const std::string& path, std::unique_ptr<edog::SerialDownloadObserver> reports,
                     const edog::KeptFile* file = nullptr);
  // True once every download started here has ended.
  bool DownloadsFinished() const;

  // Ends the downloads and the reader and closes the port; no handler runs afterwards.
  void Stop();

 private:
  class Sink;
  struct Download;
  Handlers handlers_;
  edog::CComm comm_;
  bool connected_ = false;
  std::shared_ptr<Sink> sink_;  // shared: complete only where it is made
  std::vector<std::shared_ptr<Download>> downloads_;
};
