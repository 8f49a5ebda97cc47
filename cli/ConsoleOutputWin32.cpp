#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/ConsoleOutput.h"

namespace edog::cli {
namespace {

// A stream whose descriptor now writes into a pipe; a thread takes the bytes from the pipe
// and writes them to the console as UTF-16.
struct Relay {
  FILE* stream = nullptr;
  HANDLE console = nullptr;
  HANDLE pipe = nullptr;  // the reading end
  HANDLE thread = nullptr;
};
Relay g_relays[2];

// Whole UTF-8 characters only: a character split across two reads waits for its rest.
size_t CompletePrefix(const std::string& bytes) {
  size_t end = bytes.size();
  for (size_t back = 1; back <= 3 && back <= bytes.size(); ++back) {
    const unsigned char c = static_cast<unsigned char>(bytes[bytes.size() - back]);
    if ((c & 0xC0) != 0x80) {  // the last character's first byte
      const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
      if (length > back) end = bytes.size() - back;
      break;
    }
  }
  return end;
}

void WriteWide(HANDLE console, const std::string& utf8) {
  if (utf8.empty()) return;
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (n <= 0) return;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  DWORD written = 0;
  WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

DWORD WINAPI Pump(void* arg) {
  auto* r = static_cast<Relay*>(arg);
  std::string pending;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(r->pipe, buf, sizeof buf, &got, nullptr) && got > 0) {
    pending.append(buf, got);
    const size_t whole = CompletePrefix(pending);
    WriteWide(r->console, pending.substr(0, whole));
    pending.erase(0, whole);
  }
  WriteWide(r->console, pending);  // whatever is left, replaced where it is not UTF-8
  return 0;
}

void Start(Relay& r, FILE* stream, DWORD which) {
  HANDLE console = GetStdHandle(which);
  DWORD mode = 0;
  if (console == nullptr || console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode))
    return;  // redirected: the UTF-8 bytes go as they are
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, nullptr, 0)) return;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(writeEnd), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(readEnd);
    CloseHandle(writeEnd);
    return;
  }
  std::fflush(stream);
  const bool moved = _dup2(fd, _fileno(stream)) == 0;
  _close(fd);
  if (!moved) {
    CloseHandle(readEnd);
    return;
  }
  _setmode(_fileno(stream), _O_BINARY);
  std::setvbuf(stream, nullptr, _IONBF, 0);  // a console shows every write at once
  r = {stream, console, readEnd, CreateThread(nullptr, 0, Pump, &r, 0, nullptr)};
}

// At exit: the last bytes reach the console before the process ends.
void Finish() {
  for (Relay& r : g_relays) {
    if (!r.thread) continue;
    std::fflush(r.stream);
    _close(_fileno(r.stream));  // the pipe's only writer: the pump sees the end
    WaitForSingleObject(r.thread, 2000);
  }
}

}  // namespace

void RouteUtf8ToConsole() {
  Start(g_relays[0], stdout, STD_OUTPUT_HANDLE);
  Start(g_relays[1], stderr, STD_ERROR_HANDLE);
  if (g_relays[0].thread || g_relays[1].thread) std::atexit(Finish);
}

bool OutputIsConsole() { return g_relays[0].thread != nullptr || _isatty(_fileno(stdout)) != 0; }

}  // namespace edog::cli
