// An output named like one of the run's inputs (or like another output) is refused before
// anything is written, with both paths in the message: nothing the user handed in is lost.
#include <gtest/gtest.h>

#include <filesystem>

#include "robust/RobustFiles.h"
#include "support/TestSupport.h"

namespace edog::test {
namespace {

// A package with three entries named as given (sizes 1), scrambled with any key.
std::vector<uint8_t> RawPackage(const std::vector<std::string>& names) {
  std::vector<uint8_t> p(96 + names.size(), 0x24);
  for (size_t i = 0; i < names.size(); ++i) {
    std::fill(p.begin() + 32 * i, p.begin() + 32 * i + 28, 0);
    std::copy(names[i].begin(), names[i].end(), p.begin() + 32 * i);
    PutLE(p, 32 * i + 28, 1, 4);
  }
  return p;
}

TEST(SameFile, OutputsNamingAnInputAreRefusedBeforeWriting) {
  TempDir dir;
  for (const char* d : {"d1", "d2", "d3", "pkg"}) std::filesystem::create_directory(dir / d);
  WriteFile(dir / "pic.bmp", SmallBmp());
  for (const char* f : {"a", "b", "c", "d1/x", "d2/x", "d3/x"}) WriteFile(dir / f, std::string(f));
  WriteFile(dir / "a.enc", MonoWave(8000, 16));  // a wave file that happens to end in .enc
  // A package extracted beside itself whose first entry carries the package's own name.
  WriteFile(dir / "pkg/p.hdr", RawPackage({"p.hdr", "b", "c"}));
  WriteFile(dir / "dup.dll", RawPackage({"x", "y", "x"}));

  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> mention;  // both paths (or the clashing name) in the message
  };
  const Case cases[] = {
      {{"images", "-o", "x.h", "pic.bmp"}, {"\"x.h\" and its C header \"x.h\""}},
      {{"images", "-o", "h", "pic.bmp"}, {"\"h\" and its C header \"h\""}},
      {{"images", "-o", "pic.bmp", "pic.bmp"}, {"\"pic.bmp\" would overwrite the picture \"pic.bmp\""}},
      {{"images", "-o", "pic.bin", "pic.bmp"}, {"\"pic.bin\" would overwrite the run-length image"}},
      {{"pack", "-o", "a", "a", "b", "c"}, {"package a would overwrite its input a"}},
      {{"pack", "-o", "new.dll", "d1/x", "d2/x", "d3/x"}, {"both named x"}},
      {{"unpack", "-d", "pkg", "pkg/p.hdr"}, {"would overwrite the package", "pkg/p.hdr"}},
      {{"unpack", "-d", "out", "dup.dll"}, {"entries 0 and 2 are both named x", "out/x"}},
      {{"voice", "a.enc"}, {"a.enc would overwrite the wave file a.enc"}},
  };
  const auto before = Listing(dir.Path());
  std::map<std::string, std::vector<uint8_t>> contents;
  for (const auto& [name, size] : before)
    if (size >= 0) contents[name] = ReadFile(dir / name);
  for (const Case& c : cases) {
    const auto r = RunTool(c.args, dir.Path());
    EXPECT_EQ(r.status, 1) << c.args[0] << " " << c.args[2] << ": " << r.err;
    for (const std::string& m : c.mention)
      EXPECT_NE(r.err.find(m), std::string::npos) << m << " not in: " << r.err;
    // Nothing written, nothing changed.
    EXPECT_EQ(Listing(dir.Path()), before) << r.err;
    for (const auto& [name, data] : contents) EXPECT_EQ(ReadFile(dir / name), data) << name;
  }
}

}  // namespace
}  // namespace edog::test
