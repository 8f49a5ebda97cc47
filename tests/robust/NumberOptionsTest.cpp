// Every numeric option of every command goes through one parser: a value above 32 bits,
// a sign, a space, trailing junk or nothing at all is a usage error (exit 2) before any
// file is written, never a number that wrapped or was read half.
#include <gtest/gtest.h>

#include <filesystem>

#include "robust/RobustFiles.h"
#include "support/TestSupport.h"

namespace edog::test {
namespace {

TEST(NumberOptions, BadValuesAreRefusedByEveryCommand) {
  TempDir dir;
  WriteFile(dir / "a.bin", std::vector<uint8_t>(2048, 7));
  WriteFile(dir / "w.wav", MonoWave(8000, 16));
  WriteFile(dir / "p.bmp", SmallBmp());
  // Each command with the option in front of the rest of its arguments.
  const struct {
    std::vector<std::string> command;
    std::string option;
    std::vector<std::string> rest;
  } options[] = {
      {{"hex2hdr", "-S"}, "--address", {"a.bin"}},
      {{"images"}, "--address", {"p.bmp"}},
      {{"voice"}, "--address", {"w.wav"}},
      {{"pack", "-o", "q.dll"}, "--method", {"a.bin", "a.bin", "a.bin"}},
      {{"unpack", "-d", "out"}, "--method", {"q.dll"}},
      {{"update"}, "--method", {}},
      {{"update"}, "--baud", {}},
      {{"monitor", "--port", "/dev/null"}, "--seconds", {}},
      {{"read-usb"}, "--seconds", {}},
      {{"send-serial", "--port", "/dev/null"}, "--baud", {"a.bin"}},
  };
  const std::vector<std::string> bad = {"0x100000000", "4294967296", "99999999999999999999",
                                        "-1", "+1", " 1", "1 ", "1x", "0x0x10", "", "0x"};
  for (const auto& o : options) {
    for (const std::string& value : bad) {
      std::vector<std::string> args = o.command;
      args.push_back(o.option);
      args.push_back(value);
      args.insert(args.end(), o.rest.begin(), o.rest.end());
      const ProgramResult r = RunTool(args, dir.Path());
      // hex2hdr's address is the dialog's text: one without "0x" gets the generator's
      // own answer (exit 1, nothing written).
      if (o.command[0] == "hex2hdr" && !value.empty() && value.compare(0, 2, "0x") != 0) {
        EXPECT_EQ(r.status, 1) << value;
        EXPECT_NE(r.out.find(" >> Enter the Hexdecimal String As Parameter...."), std::string::npos);
        continue;
      }
      EXPECT_EQ(r.status, 2) << o.command[0] << " " << o.option << " '" << value << "'\n"
                             << r.out << r.err;
      EXPECT_NE(r.err.find("Usage: edogtool"), std::string::npos) << o.command[0];
    }
  }
  // Nothing was written by a refused command.
  EXPECT_FALSE(std::filesystem::exists(dir / "a.hdr"));
  EXPECT_FALSE(std::filesystem::exists(dir / "q.dll"));
  EXPECT_FALSE(std::filesystem::exists(dir / "KOVA_DATA.HDR"));
  EXPECT_FALSE(std::filesystem::exists(dir / "out"));
}

TEST(NumberOptions, TheLargestValuesThatFitAreTaken) {
  TempDir dir;
  WriteFile(dir / "a.bin", std::vector<uint8_t>(2048, 7));
  // The parser takes the largest 32-bit address whole; no flash memory reaches it, so the
  // image is then refused for its flash (exit 1), not for its number (exit 2).
  const ProgramResult r = RunTool({"hex2hdr", "-S", "--address", "0xFFFFFFFF", "a.bin"}, dir.Path());
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find(" >> Flash Size Check Error: 2048 bytes at 0xFFFFFFFF run past the end"),
            std::string::npos)
      << r.out;
  // The largest address a flash memory has room for is taken and stored as given.
  EXPECT_EQ(RunTool({"hex2hdr", "-S", "--flash", "nand", "--address", "0x3FFFC", "a.bin"},
                    dir.Path())
                .status,
            0);
  EXPECT_NE(RunTool({"info", "a.hdr"}, dir.Path()).out.find("start address: 0x07fff800"),
            std::string::npos);
}

}  // namespace
}  // namespace edog::test
