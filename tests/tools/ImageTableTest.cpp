#include "tools/ImageTable.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/Files.h"
#include "support/TestSupport.h"
#include "tools/TestBitmaps.h"

namespace edog {
namespace {

using test::TempDir;

struct Recorder : ImageTableObserver {
  void OnProgress(int percent) override { progress.push_back(percent); }
  void OnPictureDecoded(size_t index, const Picture& p) override {
    events.push_back("decoded " + std::to_string(index));
    decoded.push_back(p);
  }
  void OnPreviewCleared() override { events.push_back("cleared"); }
  void OnPictureReplayed(size_t index, const Picture& p) override {
    events.push_back("replayed " + std::to_string(index));
    replayed.push_back(p);
  }
  bool CancelRequested() override { return ++polls > cancelAfterPolls; }

  std::vector<int> progress;
  std::vector<std::string> events, messages;
  std::vector<Picture> decoded, replayed;
  int polls = 0;
  int cancelAfterPolls = 1 << 30;
};

// The run, its closing text recorded after the reports.
ImageTableStatus RunRecorded(const ImageTableSettings& s, Recorder& r) {
  const Result<ImageTableStatus> result = RunImageTable(s, r);
  if (!result.message.empty()) r.messages.push_back(result.message);
  return result.status;
}

// Two small pictures: "a" 2 x 1 white (7-byte run-length image), "b" 3 x 1 red, red, blue
// (10 bytes).
struct TwoPictures {
  TempDir dir;
  std::string a = dir / "a.bmp", b = dir / "b.bmp";
  TwoPictures() {
    test::WriteFile(a, test::SolidBmp(2, 1, 0xFFFFFF));
    test::WriteFile(b, test::TrueColourBmp(3, 1, [](int x, int) {
                      return x < 2 ? 0xFF0000u : 0x0000FFu;
                    }));
  }
  ImageTableSettings Settings() const {
    ImageTableSettings s;
    s.pictures = {a, b};
    s.outputName = dir / "Image.hdr";
    return s;
  }
};

const std::vector<uint8_t> kImageA = {2, 1, 0, 1, 2, 0xFF, 0xFF};
const std::vector<uint8_t> kImageB = {3, 1, 0, 2, 2, 0xF8, 0x00, 1, 0x00, 0x1F};

std::vector<uint8_t> Slice(const std::vector<uint8_t>& v, size_t from, size_t count) {
  return std::vector<uint8_t>(v.begin() + long(from), v.begin() + long(from + count));
}

bool AllZero(const std::vector<uint8_t>& v, size_t from) {
  return std::all_of(v.begin() + long(from), v.end(), [](uint8_t b) { return b == 0; });
}

TEST(ImageTable, TwoPicturesSerialUsbAtBaseZero) {
  TwoPictures t;
  Recorder r;
  ASSERT_EQ(RunRecorded(t.Settings(), r), ImageTableStatus::kFinished) << r.messages[0];
  const auto data = test::ReadFile(t.dir / "Image.hdr");
  // Payload: 9-byte table + 7 + 10 = 26 bytes, padded to 64.
  ASSERT_EQ(data.size(), 1024u + 64u);
  const HeaderFields h = ParseHeaderFields(data.data());
  EXPECT_EQ(h.magic, '$');
  EXPECT_EQ(h.port, 1);
  EXPECT_EQ(h.flash, kFlashSerial);
  EXPECT_EQ(h.startAddress, 0u);
  EXPECT_EQ(h.fileSize, 64u);
  EXPECT_EQ(h.packetCount, 1u);
  EXPECT_TRUE(std::all_of(data.begin() + 15, data.begin() + 1024, [](uint8_t b) { return !b; }));
  EXPECT_EQ(Slice(data, 1024, 9), (std::vector<uint8_t>{0, 2, 0, 0, 9, 0, 0, 16, 0}));
  EXPECT_EQ(Slice(data, 1033, 7), kImageA);
  EXPECT_EQ(Slice(data, 1040, 10), kImageB);
  EXPECT_TRUE(AllZero(data, 1050));

  EXPECT_EQ(test::ReadText(t.dir / "Image.h"),
            "enum {\r\n\tA,\r\n\tB\r\n};\r\n\r\n"
            "const struct _FileInfo {\r\n\tchar *FileName;\r\n} FileInfo[] = {\r\n"
            "\t/*  0*/ { \"" + t.a + "\" },\r\n"
            "\t/*  1*/ { \"" + t.b + "\" }\r\n"
            "};\r\n\r\n"
            "const unsigned char FilePos[] = {\r\n\t      //addrh addrm addrl\r\n"
            "\t/*  0*/ 0x00, 0x00, 0x09,\r\n"
            "\t/*  1*/ 0x00, 0x00, 0x10\r\n"
            "};\r\n");
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0], "Finish up converting!!\n\n2 file(s) has been converted to \"" +
                               t.dir / "Image.hdr" + "\"");
  // Temp files cleaned by default.
  EXPECT_FALSE(FileExists(t.dir / "a.bin"));
  EXPECT_FALSE(FileExists(t.dir / "b.bin"));
}

TEST(ImageTable, NandTableAndPicturesFillWholeBlocks) {
  TwoPictures t;
  auto s = t.Settings();
  s.flash = kFlashNand;
  s.address = 0x40000;
  s.cleanTemp = false;
  Recorder r;
  ASSERT_EQ(RunRecorded(s, r), ImageTableStatus::kFinished);
  const auto data = test::ReadFile(t.dir / "Image.hdr");
  ASSERT_EQ(data.size(), 1024u + 3 * 512u);  // USB with NAND: no end padding
  const HeaderFields h = ParseHeaderFields(data.data());
  EXPECT_EQ(h.flash, kFlashNand);
  EXPECT_EQ(h.startAddress, 0x200u);
  EXPECT_EQ(h.fileSize, 3 * 512u);  // end block 0x203 * 512 - 0x40000
  EXPECT_EQ(h.packetCount, 24u);
  EXPECT_EQ(Slice(data, 1024, 9), (std::vector<uint8_t>{0, 2, 0, 2, 1, 0, 2, 2, 0}));
  EXPECT_TRUE(AllZero(Slice(data, 1024 + 9, 512 - 9), 0));
  EXPECT_EQ(Slice(data, 1024 + 512, 7), kImageA);
  EXPECT_TRUE(AllZero(Slice(data, 1024 + 512 + 7, 512 - 7), 0));
  EXPECT_EQ(Slice(data, 1024 + 1024, 10), kImageB);
  EXPECT_TRUE(AllZero(data, 1024 + 1024 + 10));
  const std::string text = test::ReadText(t.dir / "Image.h");
  EXPECT_NE(text.find("\t/*  0*/ 0x00, 0x02, 0x01,\r\n\t/*  1*/ 0x00, 0x02, 0x02\r\n};\r\n"),
            std::string::npos)
      << text;
  // Kept per-picture files hold the run-length images.
  EXPECT_EQ(test::ReadFile(t.dir / "a.bin"), kImageA);
  EXPECT_EQ(test::ReadFile(t.dir / "b.bin"), kImageB);
}

TEST(ImageTable, UartRoundsTheSizeToWholeKilobytes) {
  TwoPictures t;
  auto s = t.Settings();
  s.port = Port::Uart;
  s.address = 0x1000;
  Recorder r;
  ASSERT_EQ(RunRecorded(s, r), ImageTableStatus::kFinished);
  const auto data = test::ReadFile(t.dir / "Image.hdr");
  ASSERT_EQ(data.size(), 2048u);
  const HeaderFields h = ParseHeaderFields(data.data());
  EXPECT_EQ(h.port, 0);
  EXPECT_EQ(h.startAddress, 0x1000u);
  EXPECT_EQ(h.fileSize, 1024u);
  EXPECT_EQ(h.packetCount, 1u);
  EXPECT_EQ(Slice(data, 1024, 9), (std::vector<uint8_t>{0, 2, 0, 0x10, 9, 0, 0x10, 16, 0}));
}

TEST(ImageTable, ProgressAndPreviewFollowTheSteps) {
  TwoPictures t;
  auto s = t.Settings();
  s.pictures.push_back(t.a);  // the same picture twice: one per-picture file, used twice
  Recorder r;
  ASSERT_EQ(RunRecorded(s, r), ImageTableStatus::kFinished) << r.messages[0];
  // i / 3 of each step's span after picture i: 45, 5, 5, 5, 35, then 100.
  EXPECT_EQ(r.progress, (std::vector<int>{0, 15, 30, 45, 46, 48, 50, 51, 53, 55, 56, 58, 60, 71,
                                          83, 100}));
  EXPECT_EQ(r.events, (std::vector<std::string>{"decoded 0", "decoded 1", "decoded 2", "cleared",
                                                "replayed 0", "replayed 1", "replayed 2"}));
  // The preview of step one shows the picture's own colours, the replay those of RGB565.
  EXPECT_EQ(r.decoded[1].rgb, (std::vector<uint8_t>{255, 0, 0, 255, 0, 0, 0, 0, 255}));
  EXPECT_EQ(r.replayed[1].rgb, (std::vector<uint8_t>{248, 0, 0, 248, 0, 0, 0, 0, 248}));
  const auto data = test::ReadFile(t.dir / "Image.hdr");
  // Table: 3 pictures at 12, 19 and 29; the first and third share a.bin's bytes.
  EXPECT_EQ(Slice(data, 1024, 12), (std::vector<uint8_t>{0, 3, 0, 0, 12, 0, 0, 19, 0, 0, 29, 0}));
  EXPECT_EQ(Slice(data, 1024 + 29, 7), kImageA);
  EXPECT_FALSE(FileExists(t.dir / "a.bin"));
}

TEST(ImageTable, OutputNamesAndSymbols) {
  EXPECT_EQ(CHeaderFileName("Image.hdr"), "Image.h");
  EXPECT_EQ(CHeaderFileName("a.b.hdr"), "a.b.h");
  EXPECT_EQ(CHeaderFileName("Image"), "h");
  EXPECT_EQ(CHeaderFileName("out.d/Image"), "out.d/h");
  EXPECT_EQ(CHeaderFileName("C:\\x\\KOVA.HDR"), "C:\\x\\KOVA.h");
  EXPECT_EQ(PerPictureFileName("C:\\pics\\logo.bmp"), "C:\\pics\\logo.bin");
  EXPECT_EQ(PerPictureFileName("pics/lamp"), "pics/labin");
  EXPECT_EQ(PerPictureFileName("LOGO.BMP"), "LOGO.BMPbin");
  EXPECT_EQ(PictureSymbol("C:\\pics\\logo.bmp"), "LOGO");
  EXPECT_EQ(PictureSymbol("pics/Arrow_Left.bmp"), "ARROW_LEFT");

  TwoPictures t;
  auto s = t.Settings();
  s.outputName = t.dir / "Table";
  s.pictures = {t.a};
  Recorder r;
  ASSERT_EQ(RunRecorded(s, r), ImageTableStatus::kFinished);
  EXPECT_TRUE(FileExists(t.dir / "Table"));
  // One picture: its lines are the last ones, without a comma.
  EXPECT_EQ(test::ReadText(t.dir / "h").substr(0, 14), "enum {\r\n\tA\r\n};");
}

TEST(ImageTable, LongPicturesTakeExtraEnumValuesWithUniqueNames) {
  TempDir dir;
  // 255 x 86 pixels alternating in colour for 21845 runs: a 65539-byte run-length image.
  const auto striped = test::TrueColourBmp(255, 86, [](int x, int y) {
    const int i = std::min(y * 255 + x, 21844);
    return i % 2 ? 0xFFFFFFu : 0u;
  });
  test::WriteFile(dir / "big.bmp", striped);
  test::WriteFile(dir / "last.bmp", striped);
  ImageTableSettings s;
  s.pictures = {dir / "big.bmp", dir / "last.bmp"};
  s.outputName = dir / "Image.hdr";
  Recorder r;
  ASSERT_EQ(RunRecorded(s, r), ImageTableStatus::kFinished) << r.messages[0];
  const std::string text = test::ReadText(dir / "Image.h");
  EXPECT_EQ(text.substr(0, text.find("};")), "enum {\r\n\tBIG_0,\r\n\tBIG,\r\n\tLAST_0,\r\n\tLAST\r\n");
  EXPECT_NE(text.find("0x00, 0x00, 0x09,\r\n\t/*  1*/ 0x01, 0x00, 0x0c\r\n"), std::string::npos);
}

TEST(ImageTable, RefusalsNameTheFileAndLeaveNoOutput) {
  TempDir dir;
  test::WriteFile(dir / "ok.bmp", test::SolidBmp(4, 4, 0x123456));
  test::WriteFile(dir / "wide.bmp", test::SolidBmp(256, 2, 0));
  test::WriteFile(dir / "busy.bmp", test::TrueColourBmp(255, 86, [](int x, int y) {
                    return (y * 255 + x) % 2 ? 0xFFFFFFu : 0u;
                  }));
  test::WriteFile(dir / "junk.bmp", std::string("not a picture"));
  struct Case {
    std::string picture;
    std::string message;
  };
  const std::vector<Case> cases = {
      {dir / "wide.bmp", "\"" + dir / "wide.bmp" + "\" is 256 x 2 pixels"},
      {dir / "busy.bmp", "\"" + dir / "busy.bmp" + "\" (255 x 86 pixels) needs 65790 bytes of runs"},
      {dir / "junk.bmp", "\"" + dir / "junk.bmp" + "\" cannot be used as a picture: "},
      {dir / "none.bmp", "\"" + dir / "none.bmp" + "\" cannot be used as a picture: cannot be opened"},
  };
  for (bool clean : {true, false}) {
    for (const Case& c : cases) {
      ImageTableSettings s;
      s.pictures = {dir / "ok.bmp", c.picture};
      s.outputName = dir / "Image.hdr";
      s.cleanTemp = clean;
      Recorder r;
      EXPECT_EQ(RunRecorded(s, r), ImageTableStatus::kRefused) << c.picture;
      ASSERT_EQ(r.messages.size(), 1u);
      EXPECT_EQ(r.messages[0].rfind(c.message, 0), 0u) << r.messages[0];
      EXPECT_FALSE(FileExists(dir / "Image.hdr"));
      EXPECT_FALSE(FileExists(dir / "Image.h"));
      EXPECT_EQ(FileExists(dir / "ok.bin"), !clean) << c.picture;
      EXPECT_FALSE(FileExists(PerPictureFileName(c.picture)));
      RemoveFile(dir / "ok.bin");
    }
  }
}

TEST(ImageTable, EmptyListAndFileFailures) {
  TwoPictures t;
  Recorder empty;
  ImageTableSettings none;
  none.outputName = t.dir / "Image.hdr";
  EXPECT_EQ(RunRecorded(none, empty), ImageTableStatus::kNoImages);
  EXPECT_EQ(empty.messages, std::vector<std::string>{"No Image Files"});
  EXPECT_FALSE(FileExists(t.dir / "Image.hdr"));

  // The per-picture file cannot be created: a folder stands in its place.
  ASSERT_TRUE(MakeDirectory(t.dir / "b.bin"));
  Recorder r;
  EXPECT_EQ(RunRecorded(t.Settings(), r), ImageTableStatus::kFileError);
  EXPECT_EQ(r.messages, std::vector<std::string>{"Tmp File could not be opened !\n"});
  EXPECT_FALSE(FileExists(t.dir / "a.bin"));
  RemoveDirectory(t.dir / "b.bin");

  // The data file cannot be created.
  auto s = t.Settings();
  s.outputName = t.dir / "missing/Image.hdr";
  Recorder r2;
  EXPECT_EQ(RunRecorded(s, r2), ImageTableStatus::kFileError);
  EXPECT_EQ(r2.messages, std::vector<std::string>{"Tmp File could not be opened !\ncannot create " +
                                                  s.outputName + ": No such file or directory"});
  EXPECT_FALSE(FileExists(t.dir / "a.bin"));
  EXPECT_FALSE(FileExists(t.dir / "missing/Image.h"));

  // The C header cannot be created: the data file is not left behind half written.
  s.outputName = t.dir / "Image.hdr";
  ASSERT_TRUE(MakeDirectory(t.dir / "Image.h"));
  Recorder r3;
  EXPECT_EQ(RunRecorded(s, r3), ImageTableStatus::kFileError);
  EXPECT_FALSE(FileExists(t.dir / "Image.hdr"));
  EXPECT_TRUE(DirectoryExists(t.dir / "Image.h"));
}

TEST(ImageTable, AddressesBeyondThreeBytesAndCancelLeaveNoOutput) {
  TwoPictures t;
  auto s = t.Settings();
  s.address = 0xFFFFF0;  // the second picture would start at 0x1000000
  Recorder r;
  EXPECT_EQ(RunRecorded(s, r), ImageTableStatus::kRefused);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_NE(r.messages[0].find(t.b), std::string::npos) << r.messages[0];
  EXPECT_FALSE(FileExists(t.dir / "Image.hdr"));

  s.address = 0xFFFFF0 - 7;  // the last start address that fits: 0xFFFFFF
  Recorder fits;
  EXPECT_EQ(RunRecorded(s, fits), ImageTableStatus::kFinished);
  RemoveFile(t.dir / "Image.hdr");
  RemoveFile(t.dir / "Image.h");

  for (int polls : {1, 3}) {  // during the encoding, then while copying
    Recorder c;
    c.cancelAfterPolls = polls;
    EXPECT_EQ(RunRecorded(t.Settings(), c), ImageTableStatus::kCancelled);
    EXPECT_TRUE(c.messages.empty());
    EXPECT_FALSE(FileExists(t.dir / "Image.hdr"));
    EXPECT_FALSE(FileExists(t.dir / "Image.h"));
    EXPECT_FALSE(FileExists(t.dir / "a.bin"));
  }
}

// Every picture of the bmpsuite either goes into a table or is refused with a message that
// names it; the good ones all go into one table.
TEST(ImageTableCorpus, EveryBmpIsEncodedOrRefusedCleanly) {
  namespace fs = std::filesystem;
  TempDir dir;
  const std::string suite = test::CorpusDir() + "/bmp/bmpsuite";
  ImageTableSettings good;
  good.outputName = dir / "Good.hdr";
  for (const char* folder : {"g", "b", "q", "x"}) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(suite + "/" + folder)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
      const std::string copy = dir / (std::string(folder) + "-" + f.filename().string());
      fs::copy_file(f, copy);
      if (std::string(folder) == "g") good.pictures.push_back(copy);
      ImageTableSettings s;
      s.pictures = {copy};
      s.outputName = dir / "One.hdr";
      Recorder r;
      const ImageTableStatus status = RunRecorded(s, r);
      ASSERT_EQ(r.messages.size(), 1u) << copy;
      if (std::string(folder) == "g" || std::string(folder) == "b") {
        EXPECT_EQ(status, std::string(folder) == "g" ? ImageTableStatus::kFinished
                                                     : ImageTableStatus::kRefused)
            << copy << ": " << r.messages[0];
      }
      if (status != ImageTableStatus::kFinished) {
        EXPECT_EQ(r.messages[0].rfind("\"" + copy + "\"", 0), 0u) << r.messages[0];
      }
    }
  }
  ASSERT_EQ(good.pictures.size(), 27u);
  Recorder r;
  ASSERT_EQ(RunRecorded(good, r), ImageTableStatus::kFinished) << r.messages[0];
  const auto data = test::ReadFile(dir / "Good.hdr");
  EXPECT_EQ(data[1024], 0);
  EXPECT_EQ(data[1025], 27);
  EXPECT_EQ(data.size() % 64, 0u);
}

}  // namespace
}  // namespace edog
