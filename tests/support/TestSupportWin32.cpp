// The test helpers that need the operating system, on Windows: scratch folders and child
// programs (standard streams through files, arguments quoted for the C runtime's parser).
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "common/FsPath.h"
#include "support/TestSupport.h"

namespace edog::test {
namespace {

std::string Slashes(std::string s) {
  for (char& c : s)
    if (c == '\\') c = '/';
  return s;
}

// One argument as the C runtime splits a command line: quotes around it when needed,
// backslashes doubled only before a quote.
std::string Quote(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

HANDLE Inheritable(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  return CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                     write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string WithoutCr(std::string s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i)
    if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) out += s[i];
  return out;
}

}  // namespace

TempDir::TempDir() {
  static std::atomic<unsigned> serial{0};
  const std::string base = Slashes(std::filesystem::temp_directory_path().string());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string p = base + (base.back() == '/' ? "" : "/") + "edogtest" +
                          std::to_string(GetCurrentProcessId()) + "-" + std::to_string(serial++);
    if (CreateDirectoryA(p.c_str(), nullptr)) {
      path_ = p;
      return;
    }
  }
  throw std::runtime_error("no scratch folder");
}

std::string HostPath(const std::string& buildPath) {
  char full[MAX_PATH * 4];
  const DWORD n = GetFullPathNameA(buildPath.c_str(), sizeof full, full, nullptr);
  return n > 0 && n < sizeof full ? Slashes(full) : buildPath;
}

// The C runtime's copy and the system's block both (child programs get the latter).
void SetEnv(const std::string& name, const std::string& value) {
  _putenv_s(name.c_str(), value.c_str());
}
void UnsetEnv(const std::string& name) { _putenv_s(name.c_str(), ""); }

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& cwd, const std::string& input) {
  TempDir io;
  const std::string outPath = io / "out", errPath = io / "err", inPath = io / "in";
  WriteFile(inPath, input);
  const bool ours = program.find('/') == std::string::npos;
  const std::string exe = ours ? BinDir() + "/" + program + ".exe" : program;
  std::string line = Quote(exe);
  for (const auto& a : args) line += " " + Quote(a);

  ProgramResult r;
  HANDLE in = Inheritable(inPath, false), out = Inheritable(outPath, true),
         err = Inheritable(errPath, true);
  // Wide, so UTF-8 arguments (Chinese names) reach the child whole.
  auto wide = [](const std::string& text) { return FsPath(text).wstring(); };
  std::wstring wideLine = wide(line);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi{};
  std::fflush(stdout);
  std::fflush(stderr);
  const BOOL started = in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE &&
                       err != INVALID_HANDLE_VALUE &&
                       CreateProcessW(wide(exe).c_str(), wideLine.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, cwd.empty() ? nullptr : wide(cwd).c_str(), &si, &pi);
  for (HANDLE h : {in, out, err})
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  if (!started) {
    r.status = 127;
    return r;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  r.status = static_cast<int>(code);
  // The C runtime writes text lines with CR LF here; the tests compare lines.
  r.out = WithoutCr(ReadText(outPath));
  r.err = WithoutCr(ReadText(errPath));
  return r;
}

}  // namespace edog::test
