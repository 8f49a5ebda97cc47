// Pictures and waves named like a C keyword or a name of the standard headers (eof.bmp ->
// EOF, int.wav -> int): the generated headers still compile after <stdio.h> and
// <stdlib.h>, and every enum entry keeps a name of its own.
#include <gtest/gtest.h>

#include <set>

#include "robust/RobustFiles.h"
#include "support/TestSupport.h"
#include "tools/CHeaderText.h"
#include "tools/ImageTable.h"
#include "tools/VoiceGeneration.h"

namespace edog::test {
namespace {

// `eof_` becomes what `EOF` is renamed to, so the two must still differ.
const std::vector<std::string> kTaken = {"eof", "null", "FILE", "int", "stdin", "__file__",
                                         "eof_", "printf", "exit_success", "plain"};

struct QuietVoiceObserver : VoiceGenerationObserver {
  void OnBusyChanged(bool) override {}
  void OnProgress(long) override {}
  void OnCompleted(long) override {}
};

// The enum entries of a generated header, in order (its lines end in CR LF).
std::vector<std::string> EnumEntries(const std::string& header) {
  std::vector<std::string> out;
  const size_t open = header.find("enum {");
  if (open == std::string::npos) return out;
  for (size_t at = header.find('\n', open) + 1; at != 0 && at < header.size();) {
    const size_t end = header.find('\n', at);
    std::string line = header.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (line.rfind("}", 0) == 0) break;
    for (const char* junk : {"\t", " "})
      while (line.rfind(junk, 0) == 0) line.erase(0, 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ',')) line.pop_back();
    if (!line.empty()) out.push_back(line);
    at = end + 1;
  }
  return out;
}

// Compiles a use of the header after the standard headers, with warnings as errors.
void ExpectCompiles(const TempDir& dir, const std::string& header) {
  WriteFile(dir / "use.c", "#include <stdio.h>\n#include <stdlib.h>\n#include <string.h>\n"
                           "#include \"" + header + "\"\n"
                           "int main(void) { printf(\"%u\\n\", (unsigned)sizeof FileInfo); "
                           "return EXIT_SUCCESS; }\n");
  const auto cc = RunProgram("/usr/bin/cc", {"-std=c99", "-Wall", "-Werror", "-o", dir / "use",
                                             dir / "use.c"});
  EXPECT_EQ(cc.status, 0) << header << ":\n" << cc.err;
}

void ExpectDistinct(const std::vector<std::string>& entries, size_t count) {
  ASSERT_EQ(entries.size(), count);
  EXPECT_EQ(std::set<std::string>(entries.begin(), entries.end()).size(), count);
}

TEST(TakenNames, ImageTableHeaderCompilesAfterTheStandardHeaders) {
  TempDir dir;
  ImageTableSettings s;
  for (const std::string& name : kTaken) {
    s.pictures.push_back(dir / (name + ".bmp"));
    WriteFile(s.pictures.back(), SmallBmp());
  }
  s.outputName = dir / "Image.hdr";
  ImageTableObserver quiet;
  ASSERT_EQ(RunImageTable(s, quiet).status, ImageTableStatus::kFinished);
  ExpectCompiles(dir, "Image.h");
  const auto entries = EnumEntries(ReadText(dir / "Image.h"));
  ExpectDistinct(entries, kTaken.size());
  EXPECT_EQ(entries.back(), "PLAIN");  // a name that needs no change keeps its spelling
}

TEST(TakenNames, VoiceHeaderCompilesAfterTheStandardHeaders) {
  TempDir dir;
  VoiceGeneration gen;
  for (const std::string& name : kTaken) {
    gen.AddFile(dir / (name + ".wav"), "8000", "4");
    WriteFile(gen.paths.back(), MonoWave(8000, 32));
  }
  QuietVoiceObserver obs;
  const auto run = RunVoiceGeneration(gen, 0, obs, BinDir() + "/libKova100.so");
  ASSERT_EQ(run.status, VoiceRunStatus::kCompleted) << run.message;
  ExpectCompiles(dir, "KOVA_DATA.h");
  const auto entries = EnumEntries(ReadText(dir / "KOVA_DATA.h"));
  ExpectDistinct(entries, kTaken.size());
  EXPECT_EQ(entries.back(), "PLAIN");
}

TEST(TakenNames, OnlyTakenNamesChange) {
  const struct {
    const char* name;
    const char* id;
  } cases[] = {{"EOF", "EOF_"},     {"int", "int_"},       {"__FILE__", "__FILE___"},
               {"_Bool", "_Bool_"}, {"EOFX", "EOFX"},      {"Int", "Int"},
               {"_x", "_x"},        {"1st", "N1st"},       {"eof", "eof"}};
  for (const auto& c : cases) EXPECT_EQ(CIdentifier(c.name), c.id) << c.name;
}

}  // namespace
}  // namespace edog::test
