// Wave files the voice encoder cannot take: the run still ends with "Internal Error; N"
// (the window's box), and the command line adds the file and what the answer means;
// wavinfo names such files when it lists them.
#include <gtest/gtest.h>

#include "robust/RobustFiles.h"
#include "support/TestSupport.h"

namespace edog::test {
namespace {

TEST(EncoderReason, TheCommandLineSaysWhyTheEncoderFailed) {
  const struct {
    const char* name;
    uint16_t tag, bits;
    uint32_t rate;
    const char* reason;
  } rows[] = {
      {"deep.wav", 1, 24, 8000, "24-bit samples: the encoder takes 8- or 16-bit integer PCM"},
      {"float.wav", 3, 32, 8000, "floating-point samples"},
      {"still.wav", 1, 16, 0, "sample rate 0"},
      {"alaw.wav", 6, 8, 8000, "compressed samples (format 6)"},
  };
  for (const auto& row : rows) {
    TempDir dir;
    std::vector<uint8_t> wave = MonoWave(row.rate, 48);
    PutLE(wave, 20, row.tag, 2);
    PutLE(wave, 34, row.bits, 2);
    WriteFile(dir / row.name, wave);

    const ProgramResult info = RunTool({"wavinfo", row.name}, dir.Path());
    EXPECT_EQ(info.status, 0) << info.err;  // listed, as the dialog lists it
    EXPECT_NE(info.err.find(std::string(row.name) + ": the voice encoder cannot take it: " +
                            row.reason),
              std::string::npos)
        << info.err;

    const ProgramResult voice = RunTool({"voice", row.name}, dir.Path());
    EXPECT_EQ(voice.status, 1);
    EXPECT_NE(voice.err.find("edogtool voice: Internal Error; 5\n"), std::string::npos) << voice.err;
    EXPECT_NE(voice.err.find(std::string(row.name) + ": the encoder takes 8- or 16-bit integer "
                             "PCM with a sample rate and a channel: " + row.reason),
              std::string::npos)
        << voice.err;
  }
}

TEST(EncoderReason, AFileTheEncoderTakesGetsNoNote) {
  TempDir dir;
  WriteFile(dir / "ok.wav", MonoWave(8000, 48));
  const ProgramResult info = RunTool({"wavinfo", "ok.wav"}, dir.Path());
  EXPECT_EQ(info.status, 0);
  EXPECT_EQ(info.err, "");
}

}  // namespace
}  // namespace edog::test
