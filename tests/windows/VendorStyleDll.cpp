// A vendor-style DLL for the tests: open_dev, open_file and Encoder exported undecorated
// through VendorStyleDll.def, built once __cdecl and once __stdcall (VENDOR_CALL). It
// behaves as the hard cases of a real vendor DLL do:
//   * PIPE00 writes into the file named by EDOG_TEST_VENDOR_SINK;
//   * PIPE01 is a pipe nobody writes: a read on it waits for ever;
//   * every handle it gave out is closed when it is unloaded;
//   * Encoder opens its paths with narrow fopen (the ANSI code page) and copies the input.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#ifndef VENDOR_CALL
#define VENDOR_CALL __cdecl
#endif

namespace {
std::vector<HANDLE> g_given;
HANDLE g_silentWriter = nullptr;

HANDLE Give(HANDLE h) {
  if (h != INVALID_HANDLE_VALUE) g_given.push_back(h);
  return h;
}
}  // namespace

extern "C" HANDLE VENDOR_CALL open_dev(void) {
  return Give(CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
}

extern "C" HANDLE VENDOR_CALL open_file(const char* pipe) {
  if (pipe && std::strcmp(pipe, "PIPE00") == 0) {
    char sink[MAX_PATH];
    if (!GetEnvironmentVariableA("EDOG_TEST_VENDOR_SINK", sink, MAX_PATH)) return INVALID_HANDLE_VALUE;
    return Give(CreateFileA(sink, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr));
  }
  if (pipe && std::strcmp(pipe, "PIPE01") == 0) {
    HANDLE r = nullptr, w = nullptr;
    if (!CreatePipe(&r, &w, nullptr, 0)) return INVALID_HANDLE_VALUE;
    if (g_silentWriter) CloseHandle(g_silentWriter);
    g_silentWriter = w;  // kept open and never written: reads block
    return Give(r);
  }
  return INVALID_HANDLE_VALUE;
}

extern "C" int VENDOR_CALL Encoder(int argc, char** argv, int32_t* samples, int, int, int) {
  if (argc != 4 || !argv[2] || !argv[3]) return 1;
  FILE* in = std::fopen(argv[2], "rb");
  if (!in) return 2;
  FILE* out = std::fopen(argv[3], "wb");
  if (!out) {
    std::fclose(in);
    return 3;
  }
  char buf[4096];
  size_t n, total = 0;
  while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) total += std::fwrite(buf, 1, n, out);
  std::fclose(in);
  std::fclose(out);
  if (samples) *samples = static_cast<int32_t>(total);
  return 0;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_DETACH) {
    for (HANDLE h : g_given) CloseHandle(h);
    if (g_silentWriter) CloseHandle(g_silentWriter);
  }
  return TRUE;
}
