#include <gtest/gtest.h>

#include <filesystem>

#include "common/Files.h"
#include "support/TestSupport.h"
#include "tools/TestBitmaps.h"

namespace edog {
namespace {

using test::RunTool;
using test::TempDir;

// white.bmp: 2 x 1 white; flag.bmp: 3 x 2, top row red, red, blue, bottom row green.
void WritePictures(const TempDir& dir) {
  test::WriteFile(dir / "white.bmp", test::SolidBmp(2, 1, 0xFFFFFF));
  test::WriteFile(dir / "flag.bmp", test::TrueColourBmp(3, 2, [](int x, int y) {
                    if (y == 1) return 0x00FF00u;
                    return x < 2 ? 0xFF0000u : 0x0000FFu;
                  }));
}

std::string Golden(const std::string& name) { return test::GoldenDir() + "/" + name; }

TEST(CliImages, DefaultsGiveTheGoldenSerialUsbTable) {
  TempDir dir;
  WritePictures(dir);
  const auto r = RunTool({"images", "white.bmp", "flag.bmp"}, dir.Path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadFile(dir / "Image.hdr"), test::ReadFile(Golden("images-serial-usb.hdr")));
  EXPECT_EQ(test::ReadFile(dir / "Image.h"), test::ReadFile(Golden("images-serial-usb.h")));
  EXPECT_FALSE(FileExists(dir / "white.bin"));
  EXPECT_FALSE(FileExists(dir / "flag.bin"));
  // Not a terminal: plain progress lines, then the final message.
  EXPECT_EQ(r.out.rfind("images 0%\n", 0), 0u) << r.out;
  const std::string finish =
      "images 100%\nFinish up converting!!\n\n2 file(s) has been converted to \"Image.hdr\"\n";
  ASSERT_GE(r.out.size(), finish.size());
  EXPECT_EQ(r.out.substr(r.out.size() - finish.size()), finish);
  EXPECT_EQ(r.err, "");
}

TEST(CliImages, NandUartWithAddressAndKeptTempFiles) {
  TempDir dir;
  WritePictures(dir);
  const auto r = RunTool({"images", "-o", "Table.hdr", "--address", "40000", "--flash", "nand",
                          "--port", "uart", "--keep-temp", "white.bmp", "flag.bmp"},
                         dir.Path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadFile(dir / "Table.hdr"), test::ReadFile(Golden("images-nand-uart.hdr")));
  EXPECT_EQ(test::ReadFile(dir / "Table.h"), test::ReadFile(Golden("images-nand-uart.h")));
  EXPECT_EQ(test::ReadFile(dir / "white.bin"),
            (std::vector<uint8_t>{2, 1, 0, 1, 2, 0xFF, 0xFF}));
  EXPECT_TRUE(FileExists(dir / "flag.bin"));
}

TEST(CliImages, RefusalsAndUsageErrors) {
  TempDir dir;
  WritePictures(dir);
  test::WriteFile(dir / "big.bmp", test::SolidBmp(300, 1, 0));
  auto r = RunTool({"images", "white.bmp", "big.bmp"}, dir.Path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("\"big.bmp\" is 300 x 1 pixels"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("Finish"), std::string::npos);
  EXPECT_FALSE(FileExists(dir / "Image.hdr"));
  EXPECT_FALSE(FileExists(dir / "white.bin"));

  r = RunTool({"images", "-o", "no/such/dir/x.hdr", "white.bmp"}, dir.Path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "edogtool images: Tmp File could not be opened !\n"
                   "cannot create no/such/dir/x.hdr: No such file or directory\n");

  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"images"}, {"images", "--flash", "emmc", "white.bmp"},
        {"images", "--port", "wifi", "white.bmp"}, {"images", "--address", "12g", "white.bmp"},
        {"images", "--address", "100000000", "white.bmp"}, {"images", "-o", "", "white.bmp"}}) {
    r = RunTool(bad, dir.Path());
    EXPECT_EQ(r.status, 2) << bad.back() << r.err;
  }
  r = RunTool({"images", "--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Usage: edogtool images"), std::string::npos);
}

}  // namespace
}  // namespace edog
