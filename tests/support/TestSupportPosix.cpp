// The test helpers that need the operating system: scratch folders, child programs, a full disk.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "support/TestSupport.h"

namespace edog::test {

TempDir::TempDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "edogtestXXXXXX").string();
  if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}

std::string HostPath(const std::string& buildPath) { return buildPath; }

void SetEnv(const std::string& name, const std::string& value) {
  setenv(name.c_str(), value.c_str(), 1);
}
void UnsetEnv(const std::string& name) { unsetenv(name.c_str()); }

namespace {
std::string Slurp(const std::string& path) {
  std::string s = ReadText(path);
  std::remove(path.c_str());
  return s;
}
}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& cwd, const std::string& input) {
  TempDir io;
  const std::string outPath = io / "out", errPath = io / "err", inPath = io / "in";
  WriteFile(inPath, input);
  const std::string exe = program.find('/') == std::string::npos ? BinDir() + "/" + program : program;
  std::fflush(stdout);  // the child's freopen would flush our pending output a second time
  std::fflush(stderr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
    if (!freopen(inPath.c_str(), "rb", stdin) || !freopen(outPath.c_str(), "wb", stdout) ||
        !freopen(errPath.c_str(), "wb", stderr))
      _exit(127);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(exe.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ProgramResult r;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = Slurp(outPath);
  r.err = Slurp(errPath);
  return r;
}

FileSizeLimit::FileSizeLimit(uint64_t bytes) {
  oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  oldCur_ = old.rlim_cur;
  oldMax_ = old.rlim_max;
  rlimit lim{static_cast<rlim_t>(bytes), old.rlim_max};
  if (setrlimit(RLIMIT_FSIZE, &lim) != 0) throw std::runtime_error("setrlimit failed");
}

FileSizeLimit::~FileSizeLimit() {
  rlimit lim{static_cast<rlim_t>(oldCur_), static_cast<rlim_t>(oldMax_)};
  setrlimit(RLIMIT_FSIZE, &lim);
  std::signal(SIGXFSZ, oldHandler_);
}

}  // namespace edog::test
