// The generation run driven through its real path (library loaded by path, Encoder called,
// files written), with the test encoder making encoded files of chosen lengths.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "VoiceTestSupport.h"
#include "common/Bytes.h"
#include "common/Files.h"
#include "support/TestSupport.h"
#include "update/HeaderedImage.h"

namespace edog::test {
namespace {

using Events = std::vector<std::string>;

bool ReportedCompletion(const RecordingObserver& obs) {
  return std::any_of(obs.events.begin(), obs.events.end(),
                     [](const std::string& e) { return e.find(" files") != std::string::npos; });
}

// Wave files carrying test encoder directives, listed with their rate and bits texts.
struct Fixture {
  TempDir dir;
  VoiceGeneration gen;

  std::string Add(const std::string& name, const std::string& directive,
                  const std::string& rate = "8000", const std::string& bits = "4") {
    const std::string path = dir / name;
    WriteFile(path, DirectiveWave(directive));
    gen.AddFile(path, rate, bits);
    return path;
  }
  VoiceRunStatus Run(uint32_t start, RecordingObserver& obs) {
    return RunRecorded(gen, start, obs, TestEncoderPath());
  }
};

bool EncoderStillLoaded() {
  void* h = dlopen(TestEncoderPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (h) dlclose(h);
  return h != nullptr;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& b, size_t at, size_t n) {
  return {b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + n)};
}

TEST(VoiceGenerationRun, SerialUsbTwoFilesByteExact) {
  Fixture f;
  f.Add("one.wav", "LEN=1000");
  f.Add("two.wav", "LEN=2001");
  RecordingObserver obs;
  ASSERT_EQ(f.Run(0x40000, obs), VoiceRunStatus::kCompleted);
  EXPECT_TRUE(obs.failures.empty());
  EXPECT_EQ(obs.events, (Events{"busy", "0%", "40%", "80%", "80%", "85%", "85%", "90%", "90%",
                                "100%", "100%", "2 files", "idle"}));

  const auto data = ReadFile(f.dir / "KOVA_DATA.HDR");
  ASSERT_EQ(data.size(), 4096u);
  const HeaderFields h = ParseHeaderFields(data.data());
  EXPECT_EQ(h.magic, 0x24);
  EXPECT_EQ(h.port, 1);
  EXPECT_EQ(h.flash, kFlashSerial);
  EXPECT_EQ(h.startAddress, 0x40000u);
  EXPECT_EQ(h.fileSize, 3072u);
  EXPECT_EQ(h.packetCount, 48u);
  for (size_t i = 15; i < 1024; ++i) ASSERT_EQ(data[i], 0) << i;
  EXPECT_EQ(Slice(data, 1024, 14),
            (std::vector<uint8_t>{0x02, 0x04, 0x00, 0x0E, 0x00, 0x03, 0xE7, 0x04, 0x03, 0xF6,
                                  0x00, 0x07, 0xD0, 0x00}));
  EXPECT_EQ(Slice(data, 1038, 1000), TestEncoded(1000));
  EXPECT_EQ(Slice(data, 2038, 2001), TestEncoded(2001));
  EXPECT_EQ(Slice(data, 4039, 57), std::vector<uint8_t>(57, 0));

  EXPECT_EQ(ReadText(f.dir / "KOVA_DATA.h"),
            "enum {\r\n\tONE,\r\n\tTWO\r\n};\r\n\r\n"
            "const struct _FileInfo {\r\n\tchar         *FileName;\r\n\tunsigned int  Fs;\r\n"
            "\tunsigned char Nbit;\r\n} FileInfo[] = {\r\n"
            "\t/*  0*/ { \"ONE.wav\", 8000, 4 },\r\n"
            "\t/*  1*/ { \"TWO.wav\", 8000, 4 }\r\n};\r\n\r\n"
            "const unsigned char FilePos[] = {\r\n"
            "\t      //addrh addrm addrl sizeh sizem sizel\r\n"
            "\t/*  0*/ 0x04, 0x00, 0x0e, 0x00, 0x03, 0xe7,\r\n"
            "\t/*  1*/ 0x04, 0x03, 0xf6, 0x00, 0x07, 0xd0\r\n};\r\n");
  // Temp file clean is on by default: the encoded files are gone.
  EXPECT_FALSE(FileExists(f.dir / "one.enc"));
  EXPECT_FALSE(FileExists(f.dir / "two.enc"));
  EXPECT_FALSE(EncoderStillLoaded());
}

TEST(VoiceGenerationRun, NandWithRateAndBitsOnUsbAndUart) {
  for (const int port : {kSelectUsb, kSelectUart}) {
    SCOPED_TRACE(port);
    Fixture f;
    f.Add("a.wav", "LEN=1000");
    f.Add("b.wav", "LEN=513");
    f.gen.rateAndBits = true;
    f.gen.flashSelection = kSelectNand;
    f.gen.portSelection = port;
    RecordingObserver obs;
    ASSERT_EQ(f.Run(0x40000, obs), VoiceRunStatus::kCompleted);

    const auto data = ReadFile(f.dir / "KOVA_DATA.HDR");
    const HeaderFields h = ParseHeaderFields(data.data());
    EXPECT_EQ(h.flash, kFlashNand);
    EXPECT_EQ(h.startAddress, 0x200u);
    EXPECT_EQ(h.port, port == kSelectUsb ? 1 : 0);
    EXPECT_EQ(h.fileSize, port == kSelectUsb ? 2560u : 3072u);
    EXPECT_EQ(h.packetCount, port == kSelectUsb ? 40u : 3u);
    // Header, table block, two blocks each file; UART pads to 1024.
    ASSERT_EQ(data.size(), port == kSelectUsb ? 3584u : 4096u);
    std::vector<uint8_t> table(512, 0);
    const uint8_t start[] = {0x02, 0x00, 0x02, 0x02, 0x00, 0x00, 0x01, 0x40, 0x1F, 0x04,
                             0x00, 0x02, 0x04, 0x00, 0x00, 0x01, 0x40, 0x1F, 0x04};
    std::copy(std::begin(start), std::end(start), table.begin());
    EXPECT_EQ(Slice(data, 1024, 512), table);
    EXPECT_EQ(Slice(data, 1536, 1000), TestEncoded(1000));
    EXPECT_EQ(Slice(data, 2536, 24), std::vector<uint8_t>(24, 0));
    EXPECT_EQ(Slice(data, 2560, 513), TestEncoded(513));
    EXPECT_EQ(Slice(data, 3073, data.size() - 3073), std::vector<uint8_t>(data.size() - 3073, 0));

    const std::string text = ReadText(f.dir / "KOVA_DATA.h");
    EXPECT_NE(text.find("\t/*  0*/ 0x00, 0x02, 0x01, 0x00, 0x00, 0x02,\r\n"), std::string::npos);
    EXPECT_NE(text.find("\t/*  1*/ 0x00, 0x02, 0x03, 0x00, 0x00, 0x02\r\n};\r\n"),
              std::string::npos);
  }
}

TEST(VoiceGenerationRun, ZeroLengthFileKeepsRateAndBitsButNoPosition) {
  Fixture f;
  f.Add("a.wav", "LEN=10");
  f.Add("empty.wav", "LEN=0", "16000", "3");
  f.Add("c.wav", "LEN=20", "11025", "4");
  f.gen.rateAndBits = true;
  RecordingObserver obs;
  ASSERT_EQ(f.Run(0, obs), VoiceRunStatus::kCompleted);
  const auto data = ReadFile(f.dir / "KOVA_DATA.HDR");
  // T = 2 + 27; entries: a (6+3), empty (3 only), c (6+3).
  const std::vector<uint8_t> table{0x03, 0x00, 0x00, 0x1D, 0x00, 0x00, 0x09, 0x40, 0x1F, 0x04,
                                   0x80, 0x3E, 0x03,
                                   0x00, 0x00, 0x27, 0x00, 0x00, 0x13, 0x11, 0x2B, 0x04,
                                   0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Slice(data, 1024, 29), table);
  EXPECT_EQ(Slice(data, 1053, 10), TestEncoded(10));
  EXPECT_EQ(Slice(data, 1063, 20), TestEncoded(20));
  const HeaderFields h = ParseHeaderFields(data.data());
  EXPECT_EQ(h.fileSize, 64u);  // 29 + 30 = 59 rounded to 64
  const std::string text = ReadText(f.dir / "KOVA_DATA.h");
  EXPECT_NE(text.find("\t/*  0*/ 0x00, 0x00, 0x1d, 0x00, 0x00, 0x09,\r\n"
                      "\t/*  2*/ 0x00, 0x00, 0x27, 0x00, 0x00, 0x13\r\n};"),
            std::string::npos);
  EXPECT_NE(text.find("{ \"EMPTY.wav\", 16000, 3 },"), std::string::npos);
}

TEST(VoiceGenerationRun, TwoHundredFiftySixFilesStoreCountZero) {
  Fixture f;
  for (int i = 0; i < 256; ++i) f.Add("f" + std::to_string(i) + ".wav", "LEN=1");
  RecordingObserver obs;
  ASSERT_EQ(f.Run(0, obs), VoiceRunStatus::kCompleted);
  const auto data = ReadFile(f.dir / "KOVA_DATA.HDR");
  EXPECT_EQ(data[1024], 0);
  // T = 2 + 6 * 256 = 0x602; the last file starts at 0x602 + 255, size 1 - 1.
  EXPECT_EQ(Slice(data, 1024 + 1 + 6 * 255, 7), (std::vector<uint8_t>{0x00, 0x07, 0x01, 0, 0, 0, 0}));
  const std::string text = ReadText(f.dir / "KOVA_DATA.h");
  EXPECT_NE(text.find("\tF255\r\n};"), std::string::npos);
  EXPECT_NE(text.find("\t/*255*/ { \"F255.wav\", 8000, 4 }\r\n"), std::string::npos);
  EXPECT_NE(text.find("\t/*255*/ 0x00, 0x07, 0x01, 0x00, 0x00, 0x00\r\n};"), std::string::npos);
  EXPECT_EQ(obs.events.back(), "idle");
  EXPECT_EQ(obs.events[obs.events.size() - 2], "256 files");
}

TEST(VoiceGenerationRun, EncoderErrorStopsAtThatFile) {
  Fixture f;
  f.Add("a.wav", "LEN=5");
  f.Add("b.wav", "FAIL=3");
  f.Add("c.wav", "LEN=5");
  RecordingObserver obs;
  EXPECT_EQ(f.Run(0, obs), VoiceRunStatus::kFailed);
  EXPECT_EQ(obs.failures, std::vector<std::string>{"Internal Error; 3"});
  EXPECT_EQ(obs.events, (Events{"busy", "0%"}));
  // The encoded files of a failed run go with it (they would have been removed after use).
  EXPECT_FALSE(FileExists(f.dir / "a.enc"));
  EXPECT_FALSE(FileExists(f.dir / "c.enc"));
  EXPECT_FALSE(FileExists(f.dir / "KOVA_DATA.HDR"));
  EXPECT_FALSE(FileExists(f.dir / "KOVA_DATA.h"));
  EXPECT_FALSE(EncoderStillLoaded());
}

TEST(VoiceGenerationRun, CallContractAndPathAsListed) {
  Fixture f;
  const std::string path = f.Add("Hello.WAV", "LEN=3", "8000", "3");
  RecordingObserver obs;
  ASSERT_EQ(f.Run(0, obs), VoiceRunStatus::kCompleted);
  // Mixed case reaches the encoder unchanged: a lower-cased path would name no file here.
  EXPECT_EQ(ReadText(f.dir / "encoder-calls.txt"),
            "4|Encode|-3|" + path + "|" + f.dir.Path() + "/Hello.enc|000|var\n");
  EXPECT_NE(ReadText(f.dir / "KOVA_DATA.h").find("enum {\r\n\tHELLO\r\n};"), std::string::npos);
  EXPECT_NE(ReadText(f.dir / "KOVA_DATA.h").find("\t/*  0*/ { \"HELLO.wav\", 8000, 3 }\r\n"),
            std::string::npos);
}

TEST(VoiceGenerationRun, OutputsGoIntoTheLastFilesFolder) {
  Fixture f;
  std::filesystem::create_directory(f.dir / "first");
  std::filesystem::create_directory(f.dir / "second");
  f.Add("first/a.wav", "LEN=4");
  f.Add("second/b.wav", "LEN=4");
  f.gen.outputName = "VOICE.bin";
  f.gen.tempFileClean = false;
  RecordingObserver obs;
  ASSERT_EQ(f.Run(0, obs), VoiceRunStatus::kCompleted);
  EXPECT_TRUE(FileExists(f.dir / "second/VOICE.bin"));
  EXPECT_TRUE(FileExists(f.dir / "second/VOICE.h"));
  EXPECT_FALSE(FileExists(f.dir / "first/VOICE.bin"));
  // Temp file clean off: the encoded files stay beside their wave files.
  EXPECT_EQ(ReadFile(f.dir / "first/a.enc"), TestEncoded(4));
  EXPECT_EQ(ReadFile(f.dir / "second/b.enc"), TestEncoded(4));
}

TEST(VoiceGenerationRun, SelectionsAreTakenOnceAtTheStart) {
  Fixture f;
  f.Add("a.wav", "LEN=1000");
  f.Add("b.wav", "LEN=2001");
  RecordingObserver obs;
  // The radio buttons change while the run works.
  obs.onEvent = [&](const std::string& event) {
    if (event.back() == '%') {
      f.gen.flashSelection = kSelectNand;
      f.gen.portSelection = kSelectUart;
    }
  };
  ASSERT_EQ(f.Run(0x40000, obs), VoiceRunStatus::kCompleted);
  const auto data = ReadFile(f.dir / "KOVA_DATA.HDR");
  const HeaderFields h = ParseHeaderFields(data.data());
  EXPECT_EQ(h.flash, kFlashSerial);
  EXPECT_EQ(h.port, 1);
  EXPECT_EQ(h.fileSize, 3072u);
  EXPECT_EQ(data.size(), 4096u);
  EXPECT_EQ(data[1025], 0x04);
}

TEST(VoiceGenerationRun, FailuresShowTheirMessagesAndReleaseTheLibrary) {
  {
    RecordingObserver obs;
    VoiceGeneration empty;
    EXPECT_EQ(RunRecorded(empty, 0, obs, TestEncoderPath()), VoiceRunStatus::kFailed);
    EXPECT_EQ(obs.failures, std::vector<std::string>{"No Wav Files"});
    EXPECT_TRUE(obs.events.empty());
  }
  {
    Fixture f;
    f.Add("a.wav", "LEN=1");
    RecordingObserver obs;
    EXPECT_EQ(RunRecorded(f.gen, 0, obs, f.dir / "libNoSuchEncoder.so"),
              VoiceRunStatus::kFailed);
    EXPECT_EQ(obs.failures, std::vector<std::string>{"KOVA Encoder does not exist!"});
    EXPECT_EQ(obs.events, (Events{"busy"}));
    // A library without the export.
    RecordingObserver obs2;
    EXPECT_EQ(RunRecorded(f.gen, 0, obs2, "libm.so.6"), VoiceRunStatus::kFailed);
    EXPECT_EQ(obs2.failures, std::vector<std::string>{"KOVA Encoder does not exist!"});
  }
  {
    Fixture f;  // Encoder reports success but leaves no file.
    f.Add("a.wav", "NOFILE");
    RecordingObserver obs;
    EXPECT_EQ(f.Run(0, obs), VoiceRunStatus::kFailed);
    EXPECT_EQ(obs.failures, std::vector<std::string>{"Tmp File could not be opened !\n"});
    EXPECT_FALSE(EncoderStillLoaded());
  }
  {
    Fixture f;  // The header file cannot be created: no data file is left either.
    f.Add("a.wav", "LEN=1");
    std::filesystem::create_directory(f.dir / "KOVA_DATA.h");
    RecordingObserver obs;
    EXPECT_EQ(f.Run(0, obs), VoiceRunStatus::kFailed);
    ASSERT_EQ(obs.failures.size(), 1u);
    EXPECT_EQ(obs.failures[0].rfind("Tmp File could not be opened !\n/", 0), 0u) << obs.failures[0];
    const std::string why = "/KOVA_DATA.h is a folder, not a regular file";
    EXPECT_NE(obs.failures[0].find(why), std::string::npos) << obs.failures[0];
    EXPECT_FALSE(FileExists(f.dir / "KOVA_DATA.HDR"));
    EXPECT_EQ(obs.events.front(), "busy");
    EXPECT_FALSE(ReportedCompletion(obs));
  }
  {
    Fixture f;  // A full disk: the failed writes are reported, not taken for success.
    f.Add("a.wav", "LEN=5000");
    RecordingObserver obs;
    {
      FileSizeLimit full(6000);  // room for the encoded file, not for the data file
      EXPECT_EQ(f.Run(0, obs), VoiceRunStatus::kFailed);
    }
    EXPECT_FALSE(FileExists(f.dir / "KOVA_DATA.HDR"));
    ASSERT_EQ(obs.failures.size(), 1u);
    EXPECT_EQ(obs.failures[0], "File read/write error: " + f.dir / "KOVA_DATA.HDR" + "\n");
    EXPECT_FALSE(ReportedCompletion(obs));
  }
  {
    Fixture f;  // Stopped between files.
    f.Add("a.wav", "LEN=1");
    f.Add("b.wav", "LEN=1");
    RecordingObserver obs;
    obs.onEvent = [&](const std::string& event) { obs.stop = event.back() == '%'; };
    EXPECT_EQ(f.Run(0, obs), VoiceRunStatus::kStopped);
    EXPECT_FALSE(FileExists(f.dir / "b.enc"));
    EXPECT_FALSE(EncoderStillLoaded());
  }
}

TEST(VoiceGenerationPaths, NamesAndTexts) {
  EXPECT_EQ(VoiceHeaderPath("/v/KOVA_DATA.HDR"), "/v/KOVA_DATA.h");
  EXPECT_EQ(VoiceHeaderPath("KOVA_DATA.HDR"), "KOVA_DATA.h");
  EXPECT_EQ(VoiceHeaderPath("C:\\v\\a.b.c"), "C:\\v\\a.b.h");
  // A dot in a folder name does not count; a name without a dot gets ".h".
  EXPECT_EQ(VoiceHeaderPath("/my.voice/DATA"), "/my.voice/DATA.h");
  EXPECT_EQ(VoiceHeaderPath("DATA"), "DATA.h");

  EXPECT_EQ(VoiceOutputFolder("c:\\voice\\hello.enc"), "c:\\voice\\");
  EXPECT_EQ(VoiceOutputFolder("/a/b/hello.enc"), "/a/b/");
  EXPECT_EQ(VoiceOutputFolder("hello.enc"), "");

  EXPECT_EQ(LowerCasePath("C:\\Voice\\Hello.WAV"), "c:\\voice\\hello.wav");
  EXPECT_EQ(LowerCasePath("/Ü/提示.WAV"), "/Ü/提示.wav");
  EXPECT_EQ(EncoderInputPath("/Voice/Hello.WAV"), "/Voice/Hello.WAV");

  EXPECT_EQ(ReadDecimalText(" 8000"), 8000);
  EXPECT_EQ(ReadDecimalText("-3"), -3);
  EXPECT_EQ(ReadDecimalText("+4x"), 4);
  EXPECT_EQ(ReadDecimalText("abc"), 0);
  EXPECT_EQ(ReadDecimalText(""), 0);
  EXPECT_EQ(static_cast<uint16_t>(ReadDecimalText("70000")), 70000 & 0xFFFF);

  EXPECT_EQ(VoiceCompletionText(2, "KOVA_DATA.HDR"),
            "Finish up converting!!\n\n 2 file(s) has been converted to \"KOVA_DATA.HDR\"");
}

}  // namespace
}  // namespace edog::test
