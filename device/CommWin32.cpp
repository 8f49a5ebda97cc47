// CComm over the Win32 communications API: an overlapped COM handle, WaitCommEvent for
// the reader, ClearCommError for the count waiting.
#include <windows.h>

#include "common/Clock.h"
#include "device/Comm.h"

namespace edog {

struct CComm::Os {
  HANDLE port = INVALID_HANDLE_VALUE;
  OVERLAPPED readOv{};
  OVERLAPPED writeOv{};
  OVERLAPPED waitOv{};  // WaitReadable's receive-event wait
  ~Os() {
    if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
    if (readOv.hEvent) CloseHandle(readOv.hEvent);
    if (writeOv.hEvent) CloseHandle(writeOv.hEvent);
    if (waitOv.hEvent) CloseHandle(waitOv.hEvent);
  }
};

namespace {

// Waits up to `ms` for the port's receive event, so the caller wakes when a byte arrives
// rather than on its next poll. False when no wait could be started (no event, or a wait
// of the reader's is still pending on the port): the caller then polls.
bool WaitForReceiveEvent(HANDLE port, OVERLAPPED& ov, DWORD ms) {
  if (!ov.hEvent) ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!ov.hEvent) return false;
  DWORD mask = 0;
  ResetEvent(ov.hEvent);
  if (WaitCommEvent(port, &mask, &ov)) return true;  // an event already happened
  if (GetLastError() != ERROR_IO_PENDING) return false;
  if (WaitForSingleObject(ov.hEvent, ms) != WAIT_OBJECT_0) {
    // Setting the mask ends the pending wait, which must be over before `ov` is reused.
    SetCommMask(port, EV_RXCHAR);
  }
  DWORD unused = 0;
  GetOverlappedResult(port, &ov, &unused, TRUE);
  return true;
}

}  // namespace

CComm::CComm() : os_(std::make_unique<Os>()) {}

CComm::~CComm() {
  if (IsOpen()) Close();
}

int CComm::CreateEvents() {
  os_->readOv.Offset = os_->readOv.OffsetHigh = 0;
  os_->writeOv.Offset = os_->writeOv.OffsetHigh = 0;
  if (!os_->readOv.hEvent) os_->readOv.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!os_->readOv.hEvent) return 0;
  if (!os_->writeOv.hEvent) os_->writeOv.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!os_->writeOv.hEvent) {
    CloseHandle(os_->readOv.hEvent);
    os_->readOv.hEvent = nullptr;
    return 0;
  }
  return 1;
}

bool CComm::OpenPort() {
  if (!os_->readOv.hEvent || !os_->writeOv.hEvent || portName_.empty()) return false;
  HANDLE h = CreateFileA(portName_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  SetCommMask(h, EV_RXCHAR);
  SetupComm(h, kQueueSize, kQueueSize);
  PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = MAXDWORD;
  t.ReadTotalTimeoutMultiplier = 0;
  t.ReadTotalTimeoutConstant = 1000;
  t.WriteTotalTimeoutMultiplier = 0;
  t.WriteTotalTimeoutConstant = kWriteTimeoutMs;
  SetCommTimeouts(h, &t);
  os_->port = h;
  return true;
}

int CComm::Configure() {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (os_->port == INVALID_HANDLE_VALUE || !GetCommState(os_->port, &dcb)) return 0;
  dcb.BaudRate = baudRate_;
  dcb.ByteSize = byteSize_;
  dcb.Parity = parity_;
  dcb.StopBits = stopBits_;
  dcb.fBinary = TRUE;
  dcb.fParity = TRUE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fInX = dcb.fOutX = FALSE;
  dcb.XonLim = 100;
  dcb.XoffLim = 100;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  return SetCommState(os_->port, &dcb) ? 1 : 0;
}

int CComm::Read(void* buffer, int maxCount) {
  if (os_->port == INVALID_HANDLE_VALUE || maxCount <= 0) return 0;
  DWORD errors = 0;
  COMSTAT stat{};
  ClearCommError(os_->port, &errors, &stat);
  const DWORD n = stat.cbInQue < DWORD(maxCount) ? stat.cbInQue : DWORD(maxCount);
  if (n == 0) return 0;
  DWORD got = 0;
  ResetEvent(os_->readOv.hEvent);
  if (!ReadFile(os_->port, buffer, n, &got, &os_->readOv)) {
    if (GetLastError() != ERROR_IO_PENDING ||
        !GetOverlappedResult(os_->port, &os_->readOv, &got, TRUE))
      return 0;
  }
  bytesRead_ = static_cast<int>(got);
  return bytesRead_;
}

int CComm::Write(const void* data, size_t length) {
  if (os_->port == INVALID_HANDLE_VALUE) return 0;
  // Waits for completion, so the caller may change its buffer as soon as this returns.
  DWORD done = 0;
  ResetEvent(os_->writeOv.hEvent);
  if (!WriteFile(os_->port, data, static_cast<DWORD>(length), &done, &os_->writeOv)) {
    if (GetLastError() != ERROR_IO_PENDING ||
        !GetOverlappedResult(os_->port, &os_->writeOv, &done, TRUE))
      return 0;
  }
  return done == length ? 1 : 0;
}

// The COM API has no such setting: an adapter's latency timer lives in its driver's
// advanced port settings, which the download's advice names.
void CComm::HoldLowLatency(bool) {}

bool CComm::WaitReadable(uint32_t ms) {
  if (os_->port == INVALID_HANDLE_VALUE) return false;
  // The steady clock, not GetTickCount: that one moves in whole scheduler ticks.
  const int64_t start = NowMs();
  for (;;) {
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(os_->port, &errors, &stat)) return false;
    if (stat.cbInQue > 0) return true;
    const int64_t elapsed = NowMs() - start;
    if (elapsed >= int64_t{ms}) return false;
    // The event may also report a byte already taken or another event: look again.
    if (!WaitForReceiveEvent(os_->port, os_->waitOv, static_cast<DWORD>(ms - elapsed))) Sleep(1);
  }
}

void CComm::WakeReader() {
  // A new mask ends a pending WaitCommEvent; the reader then looks at its flags.
  if (os_->port != INVALID_HANDLE_VALUE) SetCommMask(os_->port, open_ ? EV_RXCHAR : 0);
}

void CComm::ReaderThread() {
  OVERLAPPED ov{};
  ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!ov.hEvent) {
    if (sink_) sink_->OnReaderFailed("Failed to create event for thread!", "comm Error!");
    return;
  }
  if (!SetCommMask(os_->port, EV_RXCHAR)) {
    CloseHandle(ov.hEvent);
    return;
  }
  while (open_) {
    if (!WaitWhileSuspended()) break;
    DWORD mask = 0, got = 0;
    ResetEvent(ov.hEvent);
    if (!WaitCommEvent(os_->port, &mask, &ov)) {
      if (GetLastError() != ERROR_IO_PENDING) {
        Sleep(100);  // port gone: do not spin
        continue;
      }
      GetOverlappedResult(os_->port, &ov, &got, TRUE);
    }
    if (mask & EV_RXCHAR) {
      for (;;) {
        const int n = ReaderRead();
        if (n <= 0) break;
        PutText(readBuf_, n);
      }
    }
  }
  CloseHandle(ov.hEvent);
}

void CComm::ClosePort() {
  if (os_->port == INVALID_HANDLE_VALUE) return;
  SetCommMask(os_->port, 0);
  EscapeCommFunction(os_->port, CLRDTR);
  PurgeComm(os_->port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  CloseHandle(os_->port);
  os_->port = INVALID_HANDLE_VALUE;
}

}  // namespace edog
