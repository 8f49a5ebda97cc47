// A run that fails half-way (here: a disk with room for 64 KiB per file) reports the
// failure and leaves the folders as they were: no truncated output, no temporary file, no
// tmpXXXXXX folder, and an older output of the same name untouched.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "robust/RobustFiles.h"
#include "support/TestSupport.h"

namespace edog::test {
namespace {

constexpr uint64_t kRoom = 64 * 1024;

TEST(HalfWritten, FailedRunsLeaveNothingBehind) {
  TempDir dir;
  std::filesystem::create_directory(dir / "tmp");
  for (const char* f : {"e1", "e2", "e3"}) WriteFile(dir / f, RandomBytes(70 * 1024, 3));
  WriteFile(dir / "big.raw", RandomBytes(200 * 1024, 1));
  WriteFile(dir / "big.hdr", std::string("an older output"));
  ASSERT_EQ(RunTool({"pack", "-o", "p.dll", "e1", "e2", "e3"}, dir.Path()).status, 0);
  // 130000 samples encode to 65000 bytes at 4 bits: they fit, the voice data file does not.
  WriteFile(dir / "v.wav", MonoWave(8000, 130000));

  const std::pair<std::vector<std::string>, std::string> runs[] = {
      {{"hex2hdr", "-S", "big.raw"}, " >> Write Error! [big.hdr]"},
      {{"unpack", "-d", "out", "p.dll"}, "the disk is full: no room to write out/e1"},
      // into a fresh tmpXXXXXX folder under $TMP
      {{"unpack", "p.dll"}, "the disk is full: no room to write " + dir / "tmp/tmp"},
      {{"pack", "-o", "q.dll", "e1", "e2", "e3"}, "the disk is full: no room to write q.dll"},
      {{"voice", "v.wav"}, "File read/write error: KOVA_DATA.HDR"},
  };
  setenv("TMP", (dir / "tmp").c_str(), 1);
  const auto before = Listing(dir.Path());
  for (const auto& [args, said] : runs) {
    ProgramResult r;
    {
      FileSizeLimit full(kRoom);
      r = RunTool(args, dir.Path());
    }
    EXPECT_EQ(r.status, 1) << args[0] << ": " << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(said), std::string::npos) << said << " not in: " << r.out << r.err;
    EXPECT_EQ(Listing(dir.Path()), before) << args[0] << ": " << r.err;
  }
  unsetenv("TMP");
  EXPECT_EQ(ReadText(dir / "big.hdr"), "an older output");
  // With room the same runs succeed (so the failures above were the disk's).
  EXPECT_EQ(RunTool({"hex2hdr", "-S", "big.raw"}, dir.Path()).status, 0);
  EXPECT_EQ(RunTool({"voice", "v.wav"}, dir.Path()).status, 0);
}

}  // namespace
}  // namespace edog::test
