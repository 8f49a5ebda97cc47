// edogtool voice end to end: the real encoder found beside the program, and the test
// encoder plugged in with --encoder.
#include <gtest/gtest.h>

#include "VoiceTestSupport.h"
#include "common/Files.h"
#include "support/TestSupport.h"
#include "update/HeaderedImage.h"

namespace edog::test {
namespace {

const char* kDone2 = "Finish up converting!!\n\n 2 file(s) has been converted to \"KOVA_DATA.HDR\"\n";

TEST(VoiceCommand, SerialUsbExampleWithTestEncoder) {
  TempDir dir;
  WriteFile(dir / "one.wav", DirectiveWave("LEN=1000"));
  WriteFile(dir / "two.wav", DirectiveWave("LEN=2001"));
  const auto r = RunTool({"voice", "--address", "40000", "--encoder", TestEncoderPath(),
                          dir / "one.wav", dir / "two.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(r.out.size() - std::string(kDone2).size()), kDone2);
  EXPECT_NE(r.out.find("voice 100%"), std::string::npos);
  const auto data = ReadFile(dir / "KOVA_DATA.HDR");
  ASSERT_EQ(data.size(), 4096u);
  const HeaderFields h = ParseHeaderFields(data.data());
  EXPECT_EQ(h.fileSize, 3072u);
  EXPECT_EQ(h.packetCount, 48u);
  EXPECT_EQ(data[1025], 0x04);
  EXPECT_TRUE(FileExists(dir / "KOVA_DATA.h"));
}

TEST(VoiceCommand, NandUartRatesFromTheFilesAndBitsSuffix) {
  TempDir dir;
  WriteFile(dir / "a.wav", DirectiveWave("LEN=1000", 16000));
  WriteFile(dir / "b.wav", DirectiveWave("LEN=513", 11025));
  const auto r = RunTool({"voice", "--flash", "nand", "--port", "uart", "--rate-bits",
                          "--address", "0x40000", "-o", "VOICE.BIN", "--encoder",
                          TestEncoderPath(), dir / "a.wav", dir / "b.wav:3"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto data = ReadFile(dir / "VOICE.BIN");
  ASSERT_EQ(data.size(), 4096u);
  const HeaderFields h = ParseHeaderFields(data.data());
  EXPECT_EQ(h.port, 0);
  EXPECT_EQ(h.flash, kFlashNand);
  EXPECT_EQ(h.fileSize, 3072u);
  EXPECT_EQ(h.packetCount, 3u);
  EXPECT_EQ(std::vector<uint8_t>(data.begin() + 1024, data.begin() + 1043),
            (std::vector<uint8_t>{0x02, 0x00, 0x02, 0x02, 0x00, 0x00, 0x01, 0x80, 0x3E, 0x04,
                                  0x00, 0x02, 0x04, 0x00, 0x00, 0x01, 0x11, 0x2B, 0x03}));
  const std::string text = ReadText(dir / "VOICE.h");
  EXPECT_NE(text.find("{ \"A.wav\", 16000, 4 },"), std::string::npos);
  EXPECT_NE(text.find("{ \"B.wav\", 11025, 3 }\r\n"), std::string::npos);
}

TEST(VoiceCommand, RealEncoderWithDefaults) {
  TempDir dir;
  std::vector<int16_t> tone(8000);
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<int16_t>((i * 37 % 200) * 50 - 5000);
  WriteFile(dir / "a.wav", MakeWave16(8000, tone));
  WriteFile(dir / "b.wav", MakeWave16(16000, tone));
  auto r = RunTool({"voice", dir / "a.wav", dir / "b.wav:3"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(r.out.size() - std::string(kDone2).size()), kDone2);
  EXPECT_FALSE(FileExists(dir / "a.enc"));
  const auto data = ReadFile(dir / "KOVA_DATA.HDR");
  // Table 14 bytes, 4000 + 3000 bytes of codes, padded to 64.
  EXPECT_EQ(data.size(), 1024u + 7040u);
  EXPECT_EQ(std::vector<uint8_t>(data.begin() + 1024, data.begin() + 1038),
            (std::vector<uint8_t>{0x02, 0x00, 0x00, 0x0E, 0x00, 0x0F, 0x9F, 0x00, 0x0F, 0xAE,
                                  0x00, 0x0B, 0xB7, 0x00}));

  r = RunTool({"voice", "--keep-temp", dir / "a.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(FileSize(dir / "a.enc"), std::optional<uint64_t>(4000));
}

TEST(VoiceCommand, RefusalsAndFailures) {
  TempDir dir;
  WriteFile(dir / "ok.wav", DirectiveWave("LEN=4"));
  WriteFile(dir / "st.wav", MakeWave(8000, 2, 16, {0, 0, 0, 0}));
  WriteFile(dir / "bad.wav", DirectiveWave("FAIL=3"));
  WriteFile(dir / "junk.wav", std::string("not a wave file at all"));

  auto r = RunTool({"voice", dir / "ok.wav", dir / "st.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("st.wav : Stereo File is not supported.\nUse mono wave file."),
            std::string::npos);
  EXPECT_FALSE(FileExists(dir / "KOVA_DATA.HDR"));

  r = RunTool({"voice", "--encoder", TestEncoderPath(), dir / "ok.wav", dir / "bad.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Internal Error; 3"), std::string::npos);
  EXPECT_EQ(r.out.find("Finish up"), std::string::npos);

  r = RunTool({"voice", "--encoder", dir / "nothing.so", dir / "ok.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("KOVA Encoder does not exist!"), std::string::npos);

  r = RunTool({"voice", dir / "junk.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("junk.wav"), std::string::npos);

  // Outputs that would overwrite an input or each other.
  r = RunTool({"voice", "-o", "ok.wav", "--encoder", TestEncoderPath(), dir / "ok.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("would overwrite the wave file"), std::string::npos);
  EXPECT_EQ(ReadFile(dir / "ok.wav"), DirectiveWave("LEN=4"));
  EXPECT_EQ(RunTool({"voice", "-o", "X.h", "--encoder", TestEncoderPath(), dir / "ok.wav"}).status, 1);

  EXPECT_EQ(RunTool({"voice"}).status, 2);
  EXPECT_EQ(RunTool({"voice", "--flash", "eflash", dir / "ok.wav"}).status, 2);
  EXPECT_EQ(RunTool({"voice", "--port", "com1", dir / "ok.wav"}).status, 2);
  EXPECT_EQ(RunTool({"voice", "--address", "xyz", dir / "ok.wav"}).status, 2);
  EXPECT_EQ(RunTool({"voice", "-o", "../up.hdr", dir / "ok.wav"}).status, 2);
  r = RunTool({"voice", "--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("--rate-bits"), std::string::npos);
}

}  // namespace
}  // namespace edog::test
