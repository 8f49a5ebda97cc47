// Every numeric option of every command goes through one parser: a value above 32 bits,
// a sign, a space, trailing junk or nothing at all is a usage error (exit 2) before any
// file is written, never a number that wrapped or was read half.
#include <gtest/gtest.h>

#include <filesystem>

#include "robust/RobustFiles.h"
#include "support/TestSupport.h"
#include "update/HeaderedImage.h"

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
  // The parser takes the largest 32-bit address whole and stores it as given; which
  // addresses a flash memory has is the device's to say.
  const ProgramResult r = RunTool({"hex2hdr", "-S", "--address", "0xFFFFFFFF", "a.bin"}, dir.Path());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(ParseHeaderFields(ReadFile(dir / "a.hdr").data()).startAddress, 0xFFFFFFFFu);
}

}  // namespace
}  // namespace edog::test
