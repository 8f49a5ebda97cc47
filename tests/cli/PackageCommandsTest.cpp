#include <gtest/gtest.h>

#include <filesystem>

#include "support/TestSupport.h"
#include "update/HeaderedImage.h"

namespace edog {
namespace {

using test::RunTool;
using test::TempDir;

std::vector<uint8_t> Headered(Port port, uint8_t flash, uint32_t address, uint32_t payload) {
  const auto size = PacketRoundedSize(port, payload);
  const HeaderBlock h = BuildHeaderBlock(port, flash, address, size.fileSize, size.packetCount);
  std::vector<uint8_t> file(h.begin(), h.end());
  file.resize(file.size() + size.fileSize, 0xA5);
  return file;
}

TEST(CliPackage, PackUnpackRoundTripWithMethod) {
  TempDir dir;
  test::WriteFile(dir / "edogvoice.hdr", Headered(Port::Usb, kFlashNand, 0x200, 100));
  test::WriteFile(dir / "edogmap.hdr", Headered(Port::Usb, kFlashSerial, 0, 3000));
  test::WriteFile(dir / "edogsoftware.hdr", Headered(Port::Uart, kFlashE, 0x1000, 5));
  auto r = RunTool({"pack", "--method", "1", "-o", "pkg.dll", "edogvoice.hdr", "edogmap.hdr",
                    "edogsoftware.hdr"},
                   dir.Path());
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunTool({"unpack", "--method", "1", "-d", "x/y", "pkg.dll"}, dir.Path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ForwardSlashes(r.out), "x/y/edogvoice.hdr\nx/y/edogmap.hdr\nx/y/edogsoftware.hdr\n");
  for (const char* f : {"edogvoice.hdr", "edogmap.hdr", "edogsoftware.hdr"})
    EXPECT_EQ(test::ReadFile(dir / ("x/y/" + std::string(f))), test::ReadFile(dir / f)) << f;
}

TEST(CliPackage, UnpackWithoutDirectoryMakesFreshTmpDirectory) {
  TempDir dir;
  for (const char* f : {"a", "b", "c"}) test::WriteFile(dir / f, std::string("AAAA"));
  ASSERT_EQ(RunTool({"pack", "-o", dir / "p", dir / "a", dir / "b", dir / "c"}).status, 0);
  test::SetEnv("TMP", dir.Path().c_str());
  const auto r = RunTool({"unpack", dir / "p"});
  test::UnsetEnv("TMP");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ForwardSlashes(r.out).rfind(dir.Path() + "/tmp", 0), 0u) << r.out;
}

TEST(CliPackage, FailuresAndUsage) {
  TempDir dir;
  test::WriteFile(dir / "short", std::string(50, 'x'));
  auto r = RunTool({"unpack", "-d", dir / "o", dir / "short"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("entry table"), std::string::npos) << r.err;
  EXPECT_EQ(RunTool({"pack", "-o", dir / "p", dir / "short"}).status, 2);
  EXPECT_EQ(RunTool({"unpack", "--method", "8", dir / "short"}).status, 2);
  EXPECT_EQ(RunTool({"pack", "-o", dir / "p", dir / "no", dir / "no", dir / "no"}).status, 1);
  EXPECT_EQ(RunTool({"frobnicate"}).status, 2);
  for (const char* cmd : {"pack", "unpack", "info"}) {
    r = RunTool({cmd, "--help"});
    EXPECT_EQ(r.status, 0) << cmd;
    EXPECT_NE(r.out.find("Usage: edogtool"), std::string::npos) << cmd;
  }
}

TEST(CliInfo, GoldenLinesAndRefusals) {
  TempDir dir;
  test::WriteFile(dir / "nand.hdr", Headered(Port::Usb, kFlashNand, 0x200, 100));
  test::WriteFile(dir / "uart.hdr", Headered(Port::Uart, kFlashE, 0x1000, 1025));
  auto r = RunTool({"info", dir / "nand.hdr"});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, test::ReadText(test::GoldenDir() + "/info-nand.txt"));
  r = RunTool({"info", dir / "uart.hdr"});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, test::ReadText(test::GoldenDir() + "/info-uart.txt"));

  test::WriteFile(dir / "hash.hdr", std::string("#") + std::string(20, '\0'));
  test::WriteFile(dir / "tiny.hdr", std::string("$abc"));
  r = RunTool({"info", dir / "hash.hdr"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("not '$'"), std::string::npos);
  r = RunTool({"info", dir / "tiny.hdr"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("fewer than 15 bytes"), std::string::npos);
  EXPECT_EQ(RunTool({"info", dir / "none.hdr"}).status, 1);
}

}  // namespace
}  // namespace edog
