#include "support/TestSupport.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

namespace edog::test {
namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string templ = (fs::temp_directory_path() / "edogtestXXXXXX").string();
  if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

std::string ReadText(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::string BinDir() { return EDOG_BIN_DIR; }
std::string CorpusDir() { return EDOG_CORPUS_DIR; }
std::string SourceDir() { return EDOG_SOURCE_DIR; }
std::string GoldenDir() { return std::string(EDOG_SOURCE_DIR) + "/tests/golden"; }

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

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

}  // namespace edog::test
