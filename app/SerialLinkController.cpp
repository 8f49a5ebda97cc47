#include "app/SerialLinkController.h"

#include <utility>

#include "widgets/UiCall.h"

using namespace edog;

// The reader's reports, handed to the window's thread through a target of this
// connection's own: Close joins the reader, so a reader waiting there is let go first.
class SerialLinkController::Sink final : public CommNotifySink {
 public:
  explicit Sink(const Handlers& handlers)
      : handlers_(handlers), ui_(UiCallTarget::Create()) {}
  void OnSerialText(const CComm& comm) override {
    ui_->Send([&] { handlers_.onText(comm.Text(), static_cast<size_t>(comm.TextLength())); });
  }
  void OnReaderFailed(const char* text, const char* caption) override {
    ui_->Post([onFailed = handlers_.onReaderFailed, text, caption] { onFailed(text, caption); });
  }
  void Detach() { ui_->Detach(); }

 private:
  const Handlers& handlers_;
  std::shared_ptr<UiCallTarget> ui_;
};

// A download's reports go to the owner's observer; the reader resumes here first.
struct SerialLinkController::Download final : SerialDownloadObserver {
  Download(CComm& comm, std::unique_ptr<SerialDownloadObserver> reports)
      : comm(comm), reports(std::move(reports)) {}
  void AppendLine(const std::string& line) override { reports->AppendLine(line); }
  void DeleteLastLine() override { reports->DeleteLastLine(); }
  void SetProgress(unsigned percent) override { reports->SetProgress(percent); }
  void OnFileUnreadable() override { reports->OnFileUnreadable(); }
  void OnTransferCompleted() override { reports->OnTransferCompleted(); }
  void ResumeReader() override {
    comm.ResumeReader();
    reports->ResumeReader();
  }
  void OnEnded() override { reports->OnEnded(); }
  void OnDeviceRefusing(const std::string& text) override { reports->OnDeviceRefusing(text); }
  void OnLineTiming(const SerialLineTiming& timing) override { reports->OnLineTiming(timing); }

  CComm& comm;
  std::unique_ptr<SerialDownloadObserver> reports;
  std::unique_ptr<SerialDownload> download;  // last: it ends before its reports go
};

SerialLinkController::SerialLinkController(Handlers handlers) : handlers_(std::move(handlers)) {}

SerialLinkController::~SerialLinkController() { Stop(); }

SerialLinkController::ConnectResult SerialLinkController::Connect(const std::string& portName,
                                                                  int portNumber, uint32_t speed) {
  if (portName.rfind("COM", 0) == 0 && portNumber > 0) {
    comm_.SetParams(static_cast<uint8_t>(portNumber), speed, 8, kOneStopBit, kNoParity);
  } else {
    comm_.SetParams(portName, speed, 8, kOneStopBit, kNoParity);
  }
  if (!comm_.CreateEvents()) return ConnectResult::kNoEvents;
  // The sink is in place before the reader starts, so no first text is lost.
  sink_ = std::make_shared<Sink>(handlers_);
  comm_.SetNotifyWnd(sink_.get());
  if (!comm_.Open()) {
    comm_.SetNotifyWnd(nullptr);
    sink_.reset();
    return ConnectResult::kOpenFailed;
  }
  connected_ = true;
  return ConnectResult::kConnected;
}

void SerialLinkController::Disconnect() {
  if (sink_) sink_->Detach();  // a reader waiting on the window lets go
  comm_.Close();
  comm_.SetNotifyWnd(nullptr);
  sink_.reset();
  connected_ = false;
}

void SerialLinkController::StartDownload(const std::string& path,
                                         std::unique_ptr<SerialDownloadObserver> reports,
                                         const KeptFile* file) {
  // Downloads that have ended are let go; one still running keeps its turn on the link.
  for (auto it = downloads_.begin(); it != downloads_.end();) {
    it = (*it)->download->Finished() ? downloads_.erase(it) : it + 1;
  }
  comm_.SuspendReader();
  auto d = std::make_shared<Download>(comm_, std::move(reports));
  d->download = std::make_unique<SerialDownload>(comm_, *d);
  if (file) d->download->Start(connected_, *file);
  else d->download->Start(connected_, path);
  downloads_.push_back(std::move(d));
}

bool SerialLinkController::DownloadsFinished() const {
  for (const auto& d : downloads_) {
    if (!d->download->Finished()) return false;
  }
  return true;
}

void SerialLinkController::Stop() {
  // The owner has detached its own target first, so no download waits on the window.
  if (sink_) sink_->Detach();
  for (auto& d : downloads_) d->download->Cancel();
  downloads_.clear();
  if (comm_.IsOpen()) comm_.Close();
  comm_.SetNotifyWnd(nullptr);
  sink_.reset();
}
