// Encoder for the generation tests. The "wave" file carries directives as text:
//   LEN=n   write an encoded file of n bytes (byte k = (k * 31 + n) & 0xFF)
//   FAIL=r  return r and write nothing
//   NOFILE  return 0 but write nothing
//   SPARSE=n  write an encoded file of n bytes that holds no data (a hole), for sizes
//             beyond what a test should write
// Each call appends "argc|arg0|arg1|arg2|arg3|zeros|variable-pointer" to encoder-calls.txt
// in the folder of the output path.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string ReadAll(const char* path) {
  std::string s;
  if (FILE* f = std::fopen(path, "rb")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    std::fclose(f);
  }
  return s;
}

long Directive(const std::string& text, const char* key) {
  const auto at = text.find(key);
  return at == std::string::npos ? -1 : std::strtol(text.c_str() + at + std::strlen(key), nullptr, 10);
}

void LogCall(int argc, char** argv, int32_t* variable, int a, int b, int c) {
  std::string out = argc == 4 ? argv[3] : "";
  const auto sep = out.find_last_of("/\\");
  const std::string log = (sep == std::string::npos ? std::string() : out.substr(0, sep + 1)) +
                          "encoder-calls.txt";
  if (FILE* f = std::fopen(log.c_str(), "ab")) {
    std::fprintf(f, "%d", argc);
    for (int i = 0; i < argc; ++i) std::fprintf(f, "|%s", argv[i]);
    std::fprintf(f, "|%d%d%d|%s\n", a, b, c, variable ? "var" : "null");
    std::fclose(f);
  }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int Encoder(int argc, char** argv,
                                                              int32_t* variable, int a, int b,
                                                              int c) {
  LogCall(argc, argv, variable, a, b, c);
  if (argc != 4) return 99;
  const std::string text = ReadAll(argv[2]);
  if (const long fail = Directive(text, "FAIL="); fail >= 0) return static_cast<int>(fail);
  if (text.find("NOFILE") != std::string::npos) return 0;
  if (const long long sparse = std::strtoll(text.c_str() + (text.find("SPARSE=") + 7), nullptr, 10);
      text.find("SPARSE=") != std::string::npos) {
    FILE* f = std::fopen(argv[3], "wb");
    if (!f) return 98;
    const bool ok = sparse == 0 || (fseeko(f, sparse - 1, SEEK_SET) == 0 && std::fputc(0, f) == 0);
    return std::fclose(f) == 0 && ok ? 0 : 98;
  }
  const long length = Directive(text, "LEN=");
  FILE* f = std::fopen(argv[3], "wb");
  if (!f) return 98;
  for (long k = 0; k < length; ++k) std::fputc(static_cast<int>((k * 31 + length) & 0xFF), f);
  std::fclose(f);
  return 0;
}
