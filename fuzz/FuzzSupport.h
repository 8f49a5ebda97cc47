#pragma once
// Helpers the fuzz targets share: a scratch folder for parsers that read files, and a
// check that ends the run loudly (a fuzzer counts an abort as a finding).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace edog::fuzz {

// A folder of this process, made on first use and removed at exit.
const std::string& ScratchDir();
// Writes the bytes to ScratchDir()/name and returns the path.
std::string WriteScratch(const std::string& name, const uint8_t* data, size_t size);

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
  std::abort();
}

}  // namespace edog::fuzz

#define FUZZ_CHECK(cond) \
  ((cond) ? (void)0 : ::edog::fuzz::Fail(#cond, __FILE__, __LINE__))

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
