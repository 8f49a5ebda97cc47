#include <gtest/gtest.h>

#include <filesystem>

#include "support/TestSupport.h"

namespace edog {
namespace {

using test::RunTool;
using test::TempDir;

std::string Golden(const std::string& name) { return test::ReadText(test::GoldenDir() + "/" + name); }

// A small firmware: one byte at 0, 16 bytes at 0x1000, a type 03 record and the end.
const char* kFirmware =
    ":0100000055AA\r\n"
    ":10100000000102030405060708090A0B0C0D0E0F68\r\n"
    ":0400000300001000E9\r\n"
    ":00000001FF\r\n";

TEST(CliHex2Hdr, GoldenReports) {
  TempDir dir;
  test::WriteFile(dir / "fw.hex", std::string(kFirmware));
  auto r = RunTool({"hex2hdr", "fw.hex"}, dir.Path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, Golden("hex2hdr-default.txt"));
  EXPECT_EQ(r.err, "");
  // The headered image as the update job reads it.
  r = RunTool({"info", "fw.hdr"}, dir.Path());
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "-> port: USB\n-> flash memory: e-flash\n-> start address: 0x00001000\n"
            "-> file size: 1024\n-> packet count: 16\n");
  EXPECT_EQ(std::filesystem::file_size(dir / "fw.bin"), 0x1400u);

  test::WriteFile(dir / "nand.img", test::RandomBytes(3000, 4));
  // NAND addresses count 512-byte blocks: 0x200 is byte 0x40000.
  r = RunTool({"hex2hdr", "-S", "--flash", "nand", "--port", "uart", "--address", "0x200",
               "nand.img"},
              dir.Path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, Golden("hex2hdr-nand.txt"));
  r = RunTool({"info", "nand.hdr"}, dir.Path());
  EXPECT_EQ(r.out,
            "-> port: UART\n-> flash memory: NAND\n-> start address: 0x00040000\n"
            "-> file size: 3072\n-> packet count: 3\n");

  // Refusals end with exit status 1 after the report.
  test::WriteFile(dir / "top.hex", std::string(":01FFFF0011EF\n"));
  r = RunTool({"hex2hdr", "top.hex"}, dir.Path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, Golden("hex2hdr-max.txt"));
  r = RunTool({"hex2hdr", "-M", "--address", "0X1000", "nand.img"}, dir.Path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.substr(r.out.rfind(" >> ")),
            " >> Enter the Hexdecimal String As Parameter....\n");
  r = RunTool({"hex2hdr", "-N", "missing.raw"}, dir.Path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.substr(r.out.size() - 26), "Error opening input file.\n");
}

TEST(CliHex2Hdr, OptionsAndDefaults) {
  TempDir dir;
  test::WriteFile(dir / "a.bin", test::RandomBytes(0x1100, 2));
  // -M defaults to offset 0x1000; -N to address 0.
  auto r = RunTool({"hex2hdr", "-M", "a.bin"}, dir.Path());
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1),
            " >> IHX 2 BIN Conversion\t[Disable] With Offset 0x1000\n");
  EXPECT_NE(r.out.find(" >> Target/Offset Address\t\t[0x1000]\n"), std::string::npos);
  EXPECT_EQ(std::filesystem::file_size(dir / "a.hdr"), 1024u + 0x100u);
  r = RunTool({"hex2hdr", "-N", "a.bin"}, dir.Path());
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("[0x0]\n"), std::string::npos);
  EXPECT_EQ(std::filesystem::file_size(dir / "a.hdr"), 1024u + 0x1100u);
  EXPECT_NE(RunTool({"info", "a.hdr"}, dir.Path()).out.find("-> flash memory: e-flash\n"),
            std::string::npos);
  r = RunTool({"hex2hdr", "-S", "a.bin"}, dir.Path());
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(RunTool({"info", "a.hdr"}, dir.Path()).out.find("-> flash memory: Serial"),
            std::string::npos);
}

TEST(CliHex2Hdr, UsageErrors) {
  TempDir dir;
  test::WriteFile(dir / "a.hex", std::string(kFirmware));
  const std::vector<std::vector<std::string>> bad = {
      {"hex2hdr"},
      {"hex2hdr", "-C", "-N", "a.hex"},
      {"hex2hdr", "-I", "--address", "0x0", "a.hex"},
      {"hex2hdr", "--flash", "nand", "a.hex"},
      {"hex2hdr", "-S", "--flash", "emmc", "a.hex"},
      {"hex2hdr", "--port", "spi", "a.hex"},
      {"hex2hdr", "a.hex", "b.hex"},
      {"wavinfo"},
  };
  for (const auto& args : bad) {
    const auto r = RunTool(args, dir.Path());
    EXPECT_EQ(r.status, 2) << args.size() << " " << args.back();
    EXPECT_NE(r.err.find("Usage: edogtool"), std::string::npos);
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "a.hdr"));
  for (const char* cmd : {"hex2hdr", "wavinfo"}) {
    const auto r = RunTool({cmd, "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find(std::string("Usage: edogtool ") + cmd), 0u);
  }
}

std::vector<uint8_t> Wave(uint16_t channels, uint32_t rate, uint32_t dataBytes) {
  std::vector<uint8_t> w = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E',
                            'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, uint8_t(channels), 0};
  for (int i = 0; i < 4; ++i) w.push_back(uint8_t(rate >> (8 * i)));
  w.insert(w.end(), {0, 0, 0, 0, 2, 0, 16, 0, 'd', 'a', 't', 'a'});
  for (int i = 0; i < 4; ++i) w.push_back(uint8_t(dataBytes >> (8 * i)));
  w.resize(w.size() + dataBytes, 0x22);
  return w;
}

TEST(CliWavInfo, GoldenRowsAndRefusals) {
  TempDir dir;
  std::filesystem::create_directory(dir / "v");
  test::WriteFile(dir / "v/Hello.wav", Wave(1, 16000, 32000));
  test::WriteFile(dir / "v/stereo.wav", Wave(2, 8000, 40));
  test::WriteFile(dir / "v/提示音.WAV", Wave(1, 8000, 100));
  test::WriteFile(dir / "v/be.wav", std::string("RIFX\0\0\0\0WAVE", 12));
  test::WriteFile(dir / "v/empty.wav", std::string());
  auto r = RunTool({"wavinfo", "v/Hello.wav", "v/stereo.wav", "v/提示音.WAV", "v/be.wav",
                    "v/empty.wav", "v/none.wav"},
                   dir.Path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, Golden("wavinfo-out.txt"));
  EXPECT_EQ(r.err, Golden("wavinfo-err.txt"));

  r = RunTool({"wavinfo", test::CorpusDir() + "/wav/pyglet_alert_pcm_16_11025_1ch.wav"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Name\tFreq\tN bit Comp\tSize\tDir\npyglet_alert_pcm_16_11025_1ch.wav\t11025\t4\t11692\t" +
                       test::CorpusDir() + "/wav/pyglet_alert_pcm_16_11025_1ch.wav\n");
}

}  // namespace
}  // namespace edog
