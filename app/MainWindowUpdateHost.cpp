#include "app/MainWindowUpdateHost.h"

#include <wx/button.h>

#include <optional>
#include <utility>

#include "app/RS232TestDlg.h"
#include "device/ui/UsbDwn.h"
#include "widgets/EventLoop.h"
#include "widgets/UiCall.h"

using namespace edog;

bool MainWindowUpdateHost::Connected() { return dlg_.Connected(); }

void MainWindowUpdateHost::AppendLog(const std::string& text) {
  dlg_.updateLog_ += text;
  dlg_.UpdateData(false);
}

void MainWindowUpdateHost::AddProgressLine(const std::string& line) { dlg_.AddProgressLine(line); }

void MainWindowUpdateHost::OnFailure(const std::string& text) {
  dlg_.ShowMessage(text);
  // No device because the library that is there cannot be used, or the real device's
  // library says why it found none: the user is told after the not-connected box, and the
  // log keeps it.
  if (const std::string why = dlg_.DeviceProblem(); text == kNotConnectedText && !why.empty()) {
    // Nothing configured: the setup dialog says so readably and sets the device up, once
    // until the device is found; later presses leave it to the log and the right-click menu.
    if (dlg_.NeedsUsbSetup()) {
      if (!dlg_.UsbSetupShown()) dlg_.RunUsbSetup();
    } else {
      dlg_.ShowMessage(why);
    }
    AppendLog(why + "\r\n");
  }
}

void MainWindowUpdateHost::OnSummary(const std::string& text) { dlg_.ShowMessage(text); }

void MainWindowUpdateHost::PumpWait(uint32_t ms) {
  // The window keeps handling its messages (the presence poll goes on) until the time
  // has passed; at least one round of them is dispatched.
  Clock& clock = dlg_.WindowClock();
  const uint32_t start = clock.TickMs();
  bool first = true;
  DispatchEventsUntil([&] {
    if (first) {
      first = false;
      return false;
    }
    return clock.TickMs() - start >= ms;
  });
}

void MainWindowUpdateHost::OnBusyChanged(bool busy) { dlg_.updateButton_->Enable(!busy); }

void MainWindowUpdateHost::SetPath(ContentKind kind, const std::string& path) {
  switch (kind) {
    case ContentKind::kVoice: dlg_.voicePath_ = path; break;
    case ContentKind::kDatabase: dlg_.databasePath_ = path; break;
    case ContentKind::kSoftware: dlg_.softwarePath_ = path; break;
  }
}

void MainWindowUpdateHost::Reset() { dlg_.Reset(); }

TransferOutcome MainWindowUpdateHost::RunUsbTransfer(const KeptFile& file,
                                                     const std::string& label) {
  UsbDwnOptions options;
  options.usbLibrary = dlg_.options_.usbLibrary;
  // The end notification: WM_USER+2 (0, 1) to the window, which may be gone by then.
  options.onTransferEnded = [ui = dlg_.ui_, dlg = &dlg_] {
    ui->Post([dlg] { dlg->OnWindowUpdate(true); });
  };
  options.onDeviceRefusing = [ui = dlg_.ui_, dlg = &dlg_](const std::string& text) {
    ui->Post([dlg, text] {
      dlg->updateLog_ += text;
      dlg->UpdateData(false);
    });
  };
  CUsbDwn status(nullptr, dlg_.usbTurns_, std::move(options));
  status.SetTransfer(file, label);
  status.ShowModal();
  const std::optional<UsbTransferResult> r = status.Result();
  if (r && DeviceTookWholeFile(*r)) return TransferOutcome::kCompleted;
  if (r && r->deviceGone) return TransferOutcome::kDeviceLost;
  // Closed by Esc or Enter while the worker ran (it stops after its block), or it had
  // stopped on the cancel flag already.
  if ((!r && status.TransferStarted()) || (r && r->outcome == UsbTransferResult::kCancelled))
    return TransferOutcome::kCancelled;
  return TransferOutcome::kFailed;
}

bool MainWindowUpdateHost::SerialOpen() { return dlg_.serialLink_.Open(); }

void MainWindowUpdateHost::StartSerialDownload(const KeptFile* software) {
  dlg_.StartSerialDownload(software);
}
