// A FIFO (or device) named as an input: refused at once as no regular file, never a wait
// in open() for a writer that does not come.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/TestSupport.h"
#include "update/HeaderedImage.h"
#include "update/Package.h"

namespace edog::test {
namespace {

TEST(FifoInput, CommandsRefuseAPipeAtOnce) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  const struct {
    std::vector<std::string> args;
    const char* message;
  } rows[] = {
      {{"info", "pipe"}, "pipe: refused: not a regular file"},
      {{"info", "/dev/zero"}, "/dev/zero: refused: not a regular file"},
      {{"unpack", "-d", "out", "pipe"}, "the package pipe is not a regular file"},
      {{"unpack", "/dev/zero"}, "the package /dev/zero is not a regular file"},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args = {"10", BinDir() + "/edogtool"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const ProgramResult r = RunProgram("/usr/bin/timeout", args, dir.Path());
    EXPECT_EQ(r.status, 1) << row.args[0] << " " << row.args.back();  // 124: it blocked
    EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
  }
}

// The update job (window and command line) extracts through the same open.
TEST(FifoInput, TheUpdateJobsExtractionRefusesAPipe) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "qzkt.dll").c_str(), 0600), 0);
  PackageExtraction extraction;
  ASSERT_TRUE(extraction.UseDirectory(dir / "out"));
  EXPECT_FALSE(extraction.Extract(dir / "qzkt.dll", KeyForMethod(3)));
  EXPECT_NE(extraction.Error().find("is not a regular file"), std::string::npos);
  extraction.CleanUp();
  const HeaderRead h = ReadHeaderFields(dir / "qzkt.dll");
  EXPECT_EQ(h.status, HeaderStatus::kCannotOpen);
  EXPECT_TRUE(h.notRegular);
}

}  // namespace
}  // namespace edog::test
