// Standard output that cannot be written: a full disk (/dev/full) or a closed descriptor.
// Every command ends with "write error: <reason>" and exit status 1; a reader that goes
// away (a closed pipe) still ends the command quietly.
#include <gtest/gtest.h>

#include <filesystem>

#include "robust/RobustFiles.h"
#include "support/TestSupport.h"

namespace edog::test {
namespace {

// edogtool with its standard output redirected by the shell as `redirect` says.
ProgramResult RunRedirected(const std::string& redirect, const std::vector<std::string>& args,
                            const std::string& cwd) {
  std::vector<std::string> sh = {"-c", "exec \"$0\" \"$@\" " + redirect, BinDir() + "/edogtool"};
  sh.insert(sh.end(), args.begin(), args.end());
  return RunProgram("/bin/sh", sh, cwd);
}

// Standard output on a full disk and closed, with the report each must give.
const struct {
  const char* redirect;
  const char* reason;
} kFailedOutputs[] = {{">/dev/full", "write error: No space left on device\n"},
                      {">&-", "write error: Bad file descriptor\n"}};

TEST(FullOutput, EveryCommandReportsAFailedWrite) {
  TempDir dir;
  WriteFile(dir / "w.wav", MonoWave(8000, 16));
  WriteFile(dir / "a.bin", std::vector<uint8_t>(2048, 7));
  ASSERT_EQ(RunTool({"hex2hdr", "-S", "a.bin"}, dir.Path()).status, 0);
  const std::vector<std::vector<std::string>> commands = {
      {"info", "a.hdr"}, {"wavinfo", "w.wav"}, {"ports"}, {"--help"}, {"info", "--help"},
      {"unpack", "--help"}, {"--version"}};
  for (const auto& out : kFailedOutputs) {
    for (const auto& args : commands) {
      const ProgramResult r = RunRedirected(out.redirect, args, dir.Path());
      EXPECT_EQ(r.status, 1) << out.redirect << " " << args[0];
      EXPECT_NE(r.err.find(out.reason), std::string::npos) << out.redirect << " " << args[0] << r.err;
    }
  }
}

TEST(FullOutput, AClosedDescriptorIsNotTakenByAFileTheCommandWrites) {
  TempDir dir;
  WriteFile(dir / "a.bin", std::vector<uint8_t>(2048, 7));
  const ProgramResult r = RunRedirected(">&-", {"hex2hdr", "-S", "a.bin"}, dir.Path());
  EXPECT_EQ(r.status, 1);
  // The headered image holds its header and payload, not the report lines.
  EXPECT_EQ(ReadFile(dir / "a.hdr").size(), 1024u + 2048u);
  EXPECT_EQ(ReadFile(dir / "a.hdr")[0], '$');
}

TEST(FullOutput, AClosedPipeEndsQuietly) {
  TempDir dir;
  const ProgramResult r = RunProgram(
      "/bin/sh", {"-c", "\"$0\" --help | head -c1 >/dev/null; \"$0\" pack --help | true",
                  BinDir() + "/edogtool"},
      dir.Path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
}

// edog-sim says so too: after its help, and at its start (rather than playing the device
// for nobody, with no word of where its socket is).
TEST(FullOutput, TheSimulatorReportsAFailedWrite) {
  TempDir dir;
  // A simulator that goes on regardless is stopped (cleanly, status 0) after 20 s.
  const std::string start = "export EDOG_DEVICE_SOCKET=" + (dir / "dev.sock") +
                            "; exec timeout 20 \"$0\" --state " + (dir / "state") +
                            " --no-serial ";
  for (const auto& out : kFailedOutputs) {
    for (const std::string& command : {std::string("exec \"$0\" --help "),
                                       std::string("exec \"$0\" --version "), start}) {
      const ProgramResult r =
          RunProgram("/bin/sh", {"-c", command + out.redirect, BinDir() + "/edog-sim"}, dir.Path());
      EXPECT_EQ(r.status, 1) << command << out.redirect << r.err;
      EXPECT_NE(r.err.find(out.reason), std::string::npos) << command << out.redirect << r.err;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "dev.sock"));  // stopped cleanly, socket gone
}

}  // namespace
}  // namespace edog::test
