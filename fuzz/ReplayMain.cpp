// Runs a fuzz target over saved inputs without the fuzzing engine, so any compiler and the
// normal test run check the corpus: every file named, and every file inside named folders.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"

namespace fs = std::filesystem;

namespace {

bool RunOne(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
    return false;
  }
  const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(data.data(), data.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::string(argv[1]) == "--help") {
    std::printf("Usage: %s FILE_OR_FOLDER...\n"
                "Runs the fuzz target once over each file (folders: every file inside, sorted).\n",
                argv[0]);
    return argc < 2 ? 2 : 0;
  }
  size_t count = 0;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg(argv[i]);
    std::error_code ec;
    if (fs::is_directory(arg, ec)) {
      std::vector<fs::path> files;
      for (const auto& e : fs::recursive_directory_iterator(arg, ec))
        if (e.is_regular_file()) files.push_back(e.path());
      std::sort(files.begin(), files.end());
      for (const auto& f : files) {
        ok = RunOne(f) && ok;
        ++count;
      }
    } else {
      ok = RunOne(arg) && ok;
      ++count;
    }
  }
  std::printf("%zu inputs replayed\n", count);
  return ok && count > 0 ? 0 : 1;
}
