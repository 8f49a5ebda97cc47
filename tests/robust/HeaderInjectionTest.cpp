// Names from the file system go into the generated C headers (Image.h, KOVA_DATA.h) as
// data, never as code: the headers are compiled with the system's C compiler and every
// string is read back byte for byte.
#include <gtest/gtest.h>

#include <filesystem>

#include "robust/RobustFiles.h"
#include "support/TestSupport.h"
#include "tools/ImageTable.h"
#include "tools/PathFunctions.h"
#include "tools/VoiceGeneration.h"

namespace edog::test {
namespace {

// A name that, pasted raw, closes the literal and adds a constructor running a command.
const std::string kCrafted =
    "x\" }, }; __attribute__((constructor)) static void f(void) { system(\"touch pwned\"); } "
    "static const struct { char *a; } y[] = { { \"z";
// Quotes, backslashes, control characters, UTF-8, a trigraph, a leading digit and '-',
// and names that differ only in case (one enum name).
const std::vector<std::string> kHostile = {kCrafted,     "back\\slash", "tab\there", "new\nline",
                                           "图片",        "what?\?=",    "1st",       "-x",
                                           "dup",         "DUP",         "plain"};

struct QuietVoiceObserver : VoiceGenerationObserver {
  void OnBusyChanged(bool) override {}
  void OnProgress(long) override {}
  void OnCompleted(long) override {}
};

std::string Hex(const std::string& s) {
  std::string out;
  char buf[3];
  for (unsigned char c : s) {
    std::snprintf(buf, sizeof buf, "%02x", c);
    out += buf;
  }
  return out;
}

// Compiles `body` (inside main) against `header` with warnings as errors, runs it in
// `dir` and returns its output.
std::string CompileAndRun(const TempDir& dir, const std::string& header, const std::string& body) {
  WriteFile(dir / "main.c", "#include <stdio.h>\n#include \"" + header +
                                "\"\nint main(void) {\n" + body + "\nreturn 0;\n}\n");
  const auto cc = RunProgram("/usr/bin/cc", {"-std=c99", "-Wall", "-Werror", "-o", dir / "prog",
                                             dir / "main.c"});
  EXPECT_EQ(cc.status, 0) << cc.err;
  if (cc.status != 0) return {};
  const auto run = RunProgram(dir / "prog", {}, dir.Path());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "pwned"));
  return run.out;
}

const char kPrintNames[] =
    "for (unsigned i = 0; i < sizeof FileInfo / sizeof FileInfo[0]; ++i) {\n"
    "  for (const char *p = FileInfo[i].FileName; *p; ++p) printf(\"%02x\", (unsigned char)*p);\n";

TEST(HeaderInjection, PictureNamesCompileBackToThemselves) {
  TempDir dir;
  const std::string folder = dir / (kCrafted + "\\ \x01");  // the paths are in the header
  std::filesystem::create_directory(folder);
  ImageTableSettings s;
  for (const std::string& name : kHostile) {
    s.pictures.push_back(folder + "/" + name + ".bmp");
    WriteFile(s.pictures.back(), SmallBmp());
  }
  s.pictures.push_back(s.pictures.back());  // one picture listed twice
  s.outputName = dir / "Image.hdr";
  ImageTableObserver quiet;
  ASSERT_EQ(RunImageTable(s, quiet).status, ImageTableStatus::kFinished);

  std::string expected;
  for (const auto& p : s.pictures) expected += Hex(p) + "\n";
  EXPECT_EQ(CompileAndRun(dir, "Image.h", std::string(kPrintNames) + "printf(\"\\n\");\n}"),
            expected);
}

TEST(HeaderInjection, WaveNamesAndNumberTextsCompileBackToThemselves) {
  TempDir dir;
  VoiceGeneration gen;
  for (size_t i = 0; i < kHostile.size(); ++i) {
    // '\\' ends a folder in a wave name's title; keep the whole name in the file name.
    const std::string path = dir / (kHostile[i] + ".wav");
    WriteFile(path, MonoWave(8000, 64));
    gen.AddFile(path, i == 0 ? "8000 }, { 0" : "11025", i % 2 ? "3" : "4");
  }
  QuietVoiceObserver obs;
  const Result<VoiceRunStatus> run = RunVoiceGeneration(gen, 0, obs, BinDir() + "/libKova100.so");
  ASSERT_EQ(run.status, VoiceRunStatus::kCompleted) << run.message;

  std::string expected;
  for (size_t i = 0; i < kHostile.size(); ++i)
    expected += Hex(ExtractFileTitle(gen.paths[i], true) + ".wav") + " " +
                (i == 0 ? "8000" : "11025") + " " + (i % 2 ? "3" : "4") + "\n";
  EXPECT_EQ(CompileAndRun(dir, "KOVA_DATA.h",
                          std::string(kPrintNames) +
                              "printf(\" %u %u\\n\", FileInfo[i].Fs, FileInfo[i].Nbit);\n}"),
            expected);
}

}  // namespace
}  // namespace edog::test
