// Stand-in device library for Windows: "open_dev" and "open_file", C linkage, __cdecl.
// The device is the simulator's loopback TCP bridge (device/DeviceTcp.h). The caller gets
// ordinary file handles that keep block boundaries, used with ReadFile, WriteFile and
// CloseHandle like the vendor's pipe handles:
//   PIPE01 (device to host): a mailslot; a read with no block waiting fails after 200 ms.
//   PIPE00 and the device handle: the client end of a duplex message-mode named pipe.
//   Each block written is answered on the same pipe with the device's word for it ("TOOK
//   n", or "BUSY" when it had no room), which device/HandleIoWin32.cpp waits for, so that
//   a write counts only once the device has the block, as a bulk write does.
// One relay thread per handle moves the blocks between the handle and the socket; it holds
// a reference on this library so that the caller may free the library meanwhile.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "TransportTcp.h"
#include "device/DeviceSocket.h"
#include "device/UsbLibraryApi.h"

// A vendor-style build of this library (tests) exports undecorated names through a .def
// file, with the calling convention it is given.
#ifdef EDOG_VENDOR_STYLE_CALL
#define HALDEN_EXPORT extern "C"
#define HALDEN_CALL EDOG_VENDOR_STYLE_CALL
#else
#define HALDEN_EXPORT extern "C" __declspec(dllexport)
#define HALDEN_CALL USB_LIBRARY_CALL
#endif

namespace {

constexpr int kProbeBudgetMs = 40;      // open_dev must answer within 50 ms, with room to spare
constexpr int kOpenBudgetMs = 1000;     // a pipe open may wait a little longer
constexpr DWORD kOutBufferBytes = 16384;  // room for a block in flight
constexpr DWORD kAnswerBufferBytes = 256;
constexpr DWORD kReadTimeoutMs = 200;   // a read with nothing to read fails after this
constexpr DWORD kRelayChunk = 65536;

std::string UniqueName(const char* kind) {
  static volatile LONG counter = 0;
  char name[96];
  std::snprintf(name, sizeof name, "\\\\.\\%s\\edog-halden-%lu-%ld", kind,
                static_cast<unsigned long>(GetCurrentProcessId()), InterlockedIncrement(&counter));
  return name;
}

struct Relay {
  SOCKET socket = INVALID_SOCKET;
  HANDLE handle = INVALID_HANDLE_VALUE;  // the relay's own end
  std::string name;                      // the mailslot's name (device to host)
};

void EndRelay(Relay* r) {
  ::closesocket(r->socket);
  if (r->handle != INVALID_HANDLE_VALUE) CloseHandle(r->handle);
  delete r;
}

// One block to the device and its answer, passed back to the caller's end unchanged.
// False when the device went, or gave no answer in time (the link is dropped then, so
// nothing arrives late, and the caller's wait for the answer ends with the broken pipe).
bool SendAndAnswer(const Relay& r, const std::vector<uint8_t>& block) {
  std::vector<uint8_t> answer;
  if (!halden::TcpSendMessage(r.socket, block.data(), static_cast<uint32_t>(block.size())))
    return false;
  if (halden::TcpReceiveMessage(r.socket, answer, edog::kDeviceBlockAnswerMs) != 1) return false;
  DWORD put = 0;
  return WriteFile(r.handle, answer.data(), static_cast<DWORD>(answer.size()), &put, nullptr) &&
         put == answer.size();
}

// Host to device: each message the caller writes becomes one block on the socket, until
// the caller closes its end or the device goes away.
DWORD WINAPI RelayToDevice(void* arg) {
  auto* r = static_cast<Relay*>(arg);
  std::vector<uint8_t> chunk(kRelayChunk);
  std::vector<uint8_t> block;
  for (;;) {
    block.clear();
    DWORD got = 0;
    BOOL ok = FALSE;
    do {
      ok = ReadFile(r->handle, chunk.data(), kRelayChunk, &got, nullptr);
      block.insert(block.end(), chunk.data(), chunk.data() + got);
    } while (!ok && GetLastError() == ERROR_MORE_DATA);
    if (!ok) break;
    if (!SendAndAnswer(*r, block)) break;
  }
  EndRelay(r);
  return 0;
}

// Device to host: each block from the socket becomes one mailslot message, until the
// device goes away or the caller has closed the mailslot.
DWORD WINAPI RelayFromDevice(void* arg) {
  auto* r = static_cast<Relay*>(arg);
  std::vector<uint8_t> block;
  for (;;) {
    const int got = halden::TcpReceiveMessage(r->socket, block, kReadTimeoutMs);
    if (got < 0) break;
    if (got == 0) {
      // The mailslot exists while the caller holds it: opening it again tells.
      HANDLE probe = CreateFileA(r->name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (probe == INVALID_HANDLE_VALUE) break;
      CloseHandle(probe);
      continue;
    }
    DWORD put = 0;
    if (!WriteFile(r->handle, block.data(), static_cast<DWORD>(block.size()), &put, nullptr))
      break;
  }
  EndRelay(r);
  return 0;
}

struct RelayStart {
  LPTHREAD_START_ROUTINE fn;
  Relay* relay;
  HMODULE self;
};

// A thread routine must be WINAPI (__stdcall in a 32-bit build), so no lambda.
DWORD WINAPI RunRelay(void* p) {
  const RelayStart s = *static_cast<RelayStart*>(p);
  delete static_cast<RelayStart*>(p);
  s.fn(s.relay);
  FreeLibraryAndExitThread(s.self, 0);
}

// Starts `fn` on a thread that keeps this library loaded until it ends.
bool StartRelay(LPTHREAD_START_ROUTINE fn, Relay* r) {
  HMODULE self = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCSTR>(&StartRelay), &self))
    return false;
  auto* start = new RelayStart{fn, r, self};
  HANDLE thread = CreateThread(nullptr, 0, RunRelay, start, 0, nullptr);
  if (!thread) {
    delete start;
    FreeLibrary(self);
    return false;
  }
  CloseHandle(thread);
  return true;
}

UsbHandle OpenToDevice(SOCKET s) {
  const std::string name = UniqueName("pipe");
  HANDLE server = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                   kAnswerBufferBytes, kOutBufferBytes, 0, nullptr);
  if (server == INVALID_HANDLE_VALUE) return USB_INVALID_HANDLE;
  HANDLE client = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (client == INVALID_HANDLE_VALUE) {
    CloseHandle(server);
    return USB_INVALID_HANDLE;
  }
  // One answer a message: a read of it gets the answer whole.
  DWORD mode = PIPE_READMODE_MESSAGE | PIPE_WAIT;
  SetNamedPipeHandleState(client, &mode, nullptr, nullptr);
  auto* r = new Relay{s, server, {}};
  if (!StartRelay(RelayToDevice, r)) {
    delete r;
    CloseHandle(server);
    CloseHandle(client);
    return USB_INVALID_HANDLE;
  }
  return client;
}

UsbHandle OpenFromDevice(SOCKET s) {
  const std::string name = UniqueName("mailslot");
  HANDLE slot = CreateMailslotA(name.c_str(), 0, kReadTimeoutMs, nullptr);
  if (slot == INVALID_HANDLE_VALUE) return USB_INVALID_HANDLE;
  HANDLE writer = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (writer == INVALID_HANDLE_VALUE) {
    CloseHandle(slot);
    return USB_INVALID_HANDLE;
  }
  auto* r = new Relay{s, writer, name};
  if (!StartRelay(RelayFromDevice, r)) {
    delete r;
    CloseHandle(writer);
    CloseHandle(slot);
    return USB_INVALID_HANDLE;
  }
  return slot;
}

UsbHandle Open(const char* name, int budgetMs, bool fromDevice) {
  const SOCKET s = halden::TcpOpenNamed(name, budgetMs);
  if (s == INVALID_SOCKET) return USB_INVALID_HANDLE;
  const UsbHandle h = fromDevice ? OpenFromDevice(s) : OpenToDevice(s);
  if (h == USB_INVALID_HANDLE) ::closesocket(s);
  return h;
}

}  // namespace

// An emulated host (the tests' 32-bit guest runs everything 10 to 20 times slower) may
// give the simulator more time to answer the probe: EDOG_SIM_PROBE_MS.
static int ProbeBudgetMs() {
  const char* v = std::getenv("EDOG_SIM_PROBE_MS");
  const int ms = v ? std::atoi(v) : 0;
  return ms > 0 && ms <= 60000 ? ms : kProbeBudgetMs;
}

// Tells the programs that edog-sim plays the device behind this library. A vendor-style
// build leaves it out of its .def file: it plays the device maker's library.
HALDEN_EXPORT int USB_LIBRARY_CALL edog_stand_in(void) { return 1; }

HALDEN_EXPORT UsbHandle HALDEN_CALL open_dev(void) {
  return Open(edog::kDeviceProbeName, ProbeBudgetMs(), false);
}

HALDEN_EXPORT UsbHandle HALDEN_CALL open_file(const char* pipeName) {
  if (!pipeName || !*pipeName) return USB_INVALID_HANDLE;
  return Open(pipeName, kOpenBudgetMs, std::strcmp(pipeName, USB_PIPE_IN) == 0);
}
