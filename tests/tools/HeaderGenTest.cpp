#include "tools/HeaderGen.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "common/Bytes.h"
#include "common/Format.h"
#include "support/TestSupport.h"

namespace edog {
namespace {

using test::TempDir;
using Lines = std::vector<std::string>;

class Recorder : public HeaderGenObserver {
 public:
  void OnReport(const std::string& text) override { lines.push_back(text); }
  Lines lines;
};

// One Intel HEX record with a correct checksum.
std::string Record(uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
  std::string s = Format(":%02X%04X%02X", unsigned(data.size()), address, type);
  unsigned sum = unsigned(data.size()) + (address >> 8) + (address & 0xFF) + type;
  for (uint8_t b : data) {
    s += Format("%02X", b);
    sum += b;
  }
  return s + Format("%02X", (0x100 - (sum & 0xFF)) & 0xFF);
}
std::string Data(uint16_t address, const std::vector<uint8_t>& data) {
  return Record(0, address, data);
}
std::string Upper16(uint8_t type, uint16_t value) {
  return Record(type, 0, {uint8_t(value >> 8), uint8_t(value)});
}
const std::string kEof = ":00000001FF";

std::string Join(const Lines& lines, const char* end = "\n") {
  std::string s;
  for (const auto& l : lines) s += l + end;
  return s;
}

struct Outcome {
  HeaderGenStatus status;
  Lines report;
};

// Without an address the option's own address text is used, as the dialog sets it.
Outcome Convert(const std::string& input, ConvertOption option, const char* address = nullptr,
                Port port = Port::Usb, bool nand = false) {
  HeaderGenSettings s;
  s.inputPath = input;
  s.option = option;
  s.addressText = address ? address : LayoutOf(option).addressText;
  s.port = port;
  s.nand = nand;
  Recorder r;
  const HeaderGenStatus st = ConvertToHeaderedImage(s, r);
  return {st, r.lines};
}

HeaderFields HeaderOf(const std::vector<uint8_t>& file) {
  EXPECT_GE(file.size(), kHeaderBlockSize);
  if (file.size() < kHeaderBlockSize) return {};
  for (size_t i = kHeaderFieldBytes; i < kHeaderBlockSize; ++i)
    if (file[i] != 0) ADD_FAILURE() << "header byte " << i << " is not zero";
  return ParseHeaderFields(file.data());
}

std::vector<uint8_t> PayloadOf(const std::vector<uint8_t>& file) {
  return {file.begin() + std::min(file.size(), kHeaderBlockSize), file.end()};
}

TEST(HeaderGenHelpers, HexTextValue) {
  EXPECT_EQ(HexTextValue("0x1000"), 0x1000u);
  EXPECT_EQ(HexTextValue("0xaBcD"), 0xABCDu);
  EXPECT_EQ(HexTextValue("0x"), 0u);
  EXPECT_EQ(HexTextValue("0x12G4"), 0x12u);      // stops at the first non-digit
  EXPECT_EQ(HexTextValue("0x123456789A"), 0x3456789Au);  // the last eight digits stay
  EXPECT_EQ(HexTextValue("0x" + std::string(300, '0') + "1F"), 0x1Fu);
}

TEST(HeaderGenHelpers, OutputNamesReplaceTheLastThreeCharacters) {
  EXPECT_EQ(HeaderGenOutputName("C:\\fw\\app.hex", "hdr"), "C:\\fw\\app.hdr");
  EXPECT_EQ(HeaderGenOutputName("/fw/app.ihx", "bin"), "/fw/app.bin");
  EXPECT_EQ(HeaderGenOutputName("/fw/app.h", "hdr"), "/fw/aphdr");
  EXPECT_EQ(HeaderGenOutputName("/fw/firmware", "hdr"), "/fw/firmwhdr");
  // Never across the folder: short names gain an extension instead.
  EXPECT_EQ(HeaderGenOutputName("/fw/ab", "hdr"), "/fw/ab.hdr");
  EXPECT_EQ(HeaderGenOutputName("ab", "bin"), "ab.bin");
  EXPECT_EQ(HeaderGenOutputName("C:\\fw\\", "bin"), "C:\\fw\\.bin");
  // UTF-8 characters count once and are never cut.
  EXPECT_EQ(HeaderGenOutputName("/fw/固件.十六进", "hdr"), "/fw/固件.hdr");
  EXPECT_EQ(HeaderGenOutputName("/fw/a.€x", "bin"), "/fw/abin");
}

TEST(HeaderGenOptions, LayoutsAndReportLines) {
  EXPECT_EQ(OptionReportLine(ConvertOption::kC),
            " >> IHX 2 BIN Conversion\t[Enable] With Offset 0x1000\r\n");
  EXPECT_EQ(OptionReportLine(ConvertOption::kI),
            " >> IHX 2 BIN Conversion\t[Enable] Without Offset\r\n");
  EXPECT_EQ(OptionReportLine(ConvertOption::kN), " >> IHX 2 BIN Conversion\t[Disable]\r\n");
  EXPECT_EQ(OptionReportLine(ConvertOption::kS), " >> IHX 2 BIN Conversion\t[Disable]\r\n");
  EXPECT_EQ(OptionReportLine(ConvertOption::kM),
            " >> IHX 2 BIN Conversion\t[Disable] With Offset 0x1000\r\n");
  struct Want {
    const char* flag;
    bool hex;
    const char* address;
    const char* label;
    bool editable, flash;
  };
  const Want want[] = {{"-C", true, "0x1000", "Step 3. Offset", true, false},
                       {"-I", true, "0x0", "Step 3. Download Address", false, false},
                       {"-N", false, "0x0", "Step 3. Download Address", true, false},
                       {"-S", false, "0x0", "Step 3. Download Address", true, true},
                       {"-M", false, "0x1000", "Step 3. Offset", true, false}};
  for (const Want& w : want) {
    const auto option = ParseConvertFlag(w.flag);
    ASSERT_TRUE(option) << w.flag;
    const OptionLayout& l = LayoutOf(*option);
    EXPECT_STREQ(l.flag, w.flag);
    EXPECT_EQ(l.hexConversion, w.hex) << w.flag;
    EXPECT_STREQ(l.addressText, w.address);
    EXPECT_STREQ(l.step3Label, w.label);
    EXPECT_EQ(l.addressEditable, w.editable) << w.flag;
    EXPECT_EQ(l.flashSelectable, w.flash) << w.flag;
  }
  EXPECT_EQ(FileSelectedReportLine("C:\\fw\\a.hex"), "C:\\fw\\a.hex Selected ...\r\n");
  EXPECT_FALSE(ParseConvertFlag("-c"));
  EXPECT_FALSE(ParseConvertFlag("C"));
}

// --- Intel HEX to the flat image -----------------------------------------------------

std::vector<uint8_t> Flat(const Lines& lines, FlatImageBuilder::Result want = FlatImageBuilder::kOk) {
  FlatImageBuilder b;
  for (const auto& l : lines) {
    const auto r = b.AddLine(l);
    if (r != FlatImageBuilder::kOk) {
      EXPECT_EQ(r, want) << l;
      return {};
    }
  }
  EXPECT_EQ(want, FlatImageBuilder::kOk);
  return {b.Data(), b.Data() + b.FlatSize()};
}

TEST(FlatImage, SizeRule) {
  EXPECT_EQ(Flat({kEof}), std::vector<uint8_t>(1024, 0));  // no data records
  EXPECT_EQ(Flat({}).size(), 1024u);
  EXPECT_EQ(Flat({Data(0xEFFF, {1}), kEof}).size(), 0xF400u);  // end 0xF000 gains a KB
  EXPECT_EQ(Flat({Data(0xEFFE, {1}), kEof}).size(), 0xF000u);
  EXPECT_EQ(Flat({Data(0, {1})}).size(), 1024u);
  EXPECT_EQ(Flat({Data(0x3FF, {1})}).size(), 2048u);
  EXPECT_EQ(Flat({Data(0x10, {})}).size(), 1024u);  // an empty data record writes nothing
}

TEST(FlatImage, DataAndExtendedAddresses) {
  const auto flat = Flat({Data(0x0010, {0xDE, 0xAD}), Upper16(2, 0x1000), Data(0x0002, {0x77}),
                          Upper16(4, 0x0002), Data(0x8000, {0x55, 0x66}), Upper16(4, 0x0001),
                          Data(0x0001, {0x99}), kEof});
  ASSERT_EQ(flat.size(), 0x18400u);
  EXPECT_EQ(flat[0x10], 0xDE);
  EXPECT_EQ(flat[0x11], 0xAD);
  EXPECT_EQ(flat[0x10002], 0x77);               // segment 0x1000 x 16
  EXPECT_EQ(flat[0x18000], 0x55);               // linear 2 x 0x8000 + 0x8000
  EXPECT_EQ(flat[0x18001], 0x66);
  EXPECT_EQ(flat[0x8001], 0x99);                // linear 1 x 0x8000
  size_t nonZero = 0;
  for (uint8_t b : flat) nonZero += b != 0;
  EXPECT_EQ(nonZero, 6u);
}

TEST(FlatImage, LinesThatAreNotRecordsAndOtherTypesAreIgnored) {
  const auto flat = Flat({"", "; comment", ":", ":-1", "x:0100000041BE", Record(3, 0, {0, 0, 0x12, 0x34}),
                          Record(5, 0, {0, 0, 0, 0}), kEof, Data(0x20, {0x41})});
  ASSERT_EQ(flat.size(), 1024u);
  EXPECT_EQ(flat[0x20], 0x41);  // reading goes on after the end-of-file record
  // The checksum is not examined, lower-case digits are fine.
  EXPECT_EQ(Flat({":0200300012340000"})[0x30], 0x12);
  EXPECT_EQ(Flat({":01004000ab00"})[0x40], 0xAB);
  // Data without its checksum is still whole.
  EXPECT_EQ(Flat({":0100500042"})[0x50], 0x42);
}

TEST(FlatImage, DataReachingTheLastByteKeepsTheSizeRuleWithoutOverrun) {
  const auto flat = Flat({Upper16(2, 0x1000), Data(0xFFF0, std::vector<uint8_t>(16, 0xEE))});
  ASSERT_EQ(flat.size(), 0x20400u);
  EXPECT_EQ(flat[0x1FFFF], 0xEE);
  EXPECT_EQ(std::count(flat.begin() + 0x20000, flat.end(), 0), 1024);
}

TEST(FlatImage, RefusesDataOutsideTheImage) {
  // A record starting above 0x20000, whatever its type.
  Flat({Upper16(2, 0x2000), Data(0x0001, {1})}, FlatImageBuilder::kAddressCheck);
  Flat({Upper16(4, 0x0005), kEof}, FlatImageBuilder::kAddressCheck);
  // A record that starts inside but would run past 0x1FFFF.
  Flat({Upper16(2, 0x1000), Data(0xFFF8, std::vector<uint8_t>(9, 1))},
       FlatImageBuilder::kAddressCheck);
  Flat({Upper16(4, 0x0004), Data(0x0000, {1})}, FlatImageBuilder::kAddressCheck);
  // Exactly at 0x20000 with nothing to write is no overrun.
  EXPECT_EQ(Flat({Upper16(4, 0x0004), Data(0x0000, {}), kEof}).size(), 1024u);
}

TEST(FlatImage, RefusesOverlongLinesAndShortRecords) {
  const std::string longest = Data(0x100, std::vector<uint8_t>(121, 0x5A));
  ASSERT_EQ(longest.size(), kMaxHexLineLength);
  EXPECT_EQ(Flat({longest})[0x100 + 120], 0x5A);
  Flat({Data(0x100, std::vector<uint8_t>(122, 0x5A))}, FlatImageBuilder::kLineTooLong);
  Flat({"; " + std::string(300, 'x')}, FlatImageBuilder::kLineTooLong);
  Flat({":10000000" + std::string(30, '1')}, FlatImageBuilder::kShortRecord);
  Flat({":0200000410"}, FlatImageBuilder::kShortRecord);
  Flat({":0A0000"}, FlatImageBuilder::kShortRecord);

  FlatImageBuilder b;
  EXPECT_EQ(b.AddLine(kEof), FlatImageBuilder::kOk);
  EXPECT_EQ(b.AddLine(std::string(254, ':')), FlatImageBuilder::kLineTooLong);
  EXPECT_EQ(b.LineNumber(), 2u);
}

// --- Whole conversions ---------------------------------------------------------------

Lines ParameterLines(const char* flag, const std::string& in, const std::string& out,
                     const std::string& address) {
  return {" >> Checking Parameters :\r\n", Format(" >> Convert flag\t\t\t[%s]\r\n", flag),
          Format(" >> Input Intel Hex/Bin File\t\t[%s]\r\n", in.c_str()),
          Format(" >> Output Bin File with Header\t[%s]\r\n", out.c_str()),
          Format(" >> Target/Offset Address\t\t[%s]\r\n", address.c_str())};
}

Lines Plus(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(HeaderGenConvert, OptionCSkipsTheOffsetOfTheFlatImage) {
  TempDir dir;
  const std::vector<uint8_t> code = test::RandomBytes(100, 7);
  test::WriteFile(dir / "app.hex", Join({Data(0x0000, {0xAA}), Data(0x1000, code), kEof}));
  const Outcome r = Convert(dir / "app.hex", ConvertOption::kC);
  ASSERT_EQ(r.status, HeaderGenStatus::kDone) << Join(r.report);
  EXPECT_EQ(r.report,
            Plus(ParameterLines("-C", dir / "app.hex", dir / "app.hdr", "0x1000"),
                 {Format(" >> Temp Bin Hex File\t\t[%s][0x1400]\r\n", (dir / "app.bin").c_str()),
                  " >> All Process is Done !!!!\r\n"}));
  const auto flat = test::ReadFile(dir / "app.bin");
  ASSERT_EQ(flat.size(), 0x1400u);  // the flat image stays
  EXPECT_EQ(flat[0], 0xAA);
  const auto out = test::ReadFile(dir / "app.hdr");
  const HeaderFields h = HeaderOf(out);
  EXPECT_EQ(h.magic, '$');
  EXPECT_EQ(h.port, 1);
  EXPECT_EQ(h.flash, kFlashE);
  EXPECT_EQ(h.startAddress, 0x1000u);
  EXPECT_EQ(h.fileSize, 0x400u);
  EXPECT_EQ(h.packetCount, 0x400u / 64);
  EXPECT_EQ(PayloadOf(out), std::vector<uint8_t>(flat.begin() + 0x1000, flat.end()));
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 1024, out.begin() + 1124), code);
}

TEST(HeaderGenConvert, OptionIKeepsTheWholeFlatImageAndUartPackets) {
  TempDir dir;
  test::WriteFile(dir / "a.hex", Join({Data(0x0005, {1, 2, 3})}, "\r\n"));
  const Outcome r = Convert(dir / "a.hex", ConvertOption::kI, {}, Port::Uart);
  ASSERT_EQ(r.status, HeaderGenStatus::kDone) << Join(r.report);
  const auto out = test::ReadFile(dir / "a.hdr");
  const HeaderFields h = HeaderOf(out);
  EXPECT_EQ(h.port, 0);
  EXPECT_EQ(h.startAddress, 0u);
  EXPECT_EQ(h.fileSize, 1024u);
  EXPECT_EQ(h.packetCount, 1u);
  EXPECT_EQ(PayloadOf(out), test::ReadFile(dir / "a.bin"));
  EXPECT_EQ(out[1024 + 7], 3);
}

TEST(HeaderGenConvert, RawBinaryOptions) {
  TempDir dir;
  const auto bin = test::RandomBytes(100, 3);
  test::WriteFile(dir / "fw.raw", bin);
  // -N over USB: 1024 header bytes, the 100 input bytes, 28 zero bytes.
  Outcome r = Convert(dir / "fw.raw", ConvertOption::kN, "0x1100");
  ASSERT_EQ(r.status, HeaderGenStatus::kDone) << Join(r.report);
  EXPECT_EQ(r.report.back(), " >> All Process is Done !!!!\r\n");
  auto out = test::ReadFile(dir / "fw.hdr");
  ASSERT_EQ(out.size(), 1024u + 128u);
  HeaderFields h = HeaderOf(out);
  EXPECT_EQ(h.flash, kFlashE);
  EXPECT_EQ(h.startAddress, 0x1100u);  // not checked, stored unchanged
  EXPECT_EQ(h.fileSize, 128u);
  EXPECT_EQ(h.packetCount, 2u);
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 1024, out.begin() + 1124), bin);
  EXPECT_EQ(std::count(out.begin() + 1124, out.end(), 0), 28);
  EXPECT_FALSE(test::ReadFile(dir / "fw.bin").size());  // no flat image for binaries

  // -S: Serial or NAND flash, address unchanged.
  r = Convert(dir / "fw.raw", ConvertOption::kS, "0x1100", Port::Usb, true);
  ASSERT_EQ(r.status, HeaderGenStatus::kDone);
  h = HeaderOf(test::ReadFile(dir / "fw.hdr"));
  EXPECT_EQ(h.flash, kFlashNand);
  EXPECT_EQ(h.startAddress, 0x1100u);
  r = Convert(dir / "fw.raw", ConvertOption::kS, "0x40000", Port::Uart, false);
  ASSERT_EQ(r.status, HeaderGenStatus::kDone);
  out = test::ReadFile(dir / "fw.hdr");
  h = HeaderOf(out);
  EXPECT_EQ(h.flash, kFlashSerial);
  EXPECT_EQ(h.startAddress, 0x40000u);
  EXPECT_EQ(h.fileSize, 1024u);
  EXPECT_EQ(out.size(), 2048u);

  // -M: the binary from the offset on.
  const auto big = test::RandomBytes(0x1000 + 64, 9);
  test::WriteFile(dir / "m.raw", big);
  r = Convert(dir / "m.raw", ConvertOption::kM);
  ASSERT_EQ(r.status, HeaderGenStatus::kDone) << Join(r.report);
  out = test::ReadFile(dir / "m.hdr");
  h = HeaderOf(out);
  EXPECT_EQ(h.startAddress, 0x1000u);
  EXPECT_EQ(h.fileSize, 64u);
  EXPECT_EQ(PayloadOf(out), std::vector<uint8_t>(big.begin() + 0x1000, big.end()));
}

TEST(HeaderGenConvert, EmptyBinaryGivesAHeaderOnly) {
  TempDir dir;
  test::WriteFile(dir / "e.raw", std::vector<uint8_t>{});
  ASSERT_EQ(Convert(dir / "e.raw", ConvertOption::kN).status, HeaderGenStatus::kDone);
  const auto out = test::ReadFile(dir / "e.hdr");
  ASSERT_EQ(out.size(), 1024u);
  EXPECT_EQ(HeaderOf(out).fileSize, 0u);
  EXPECT_EQ(HeaderOf(out).packetCount, 0u);
}

TEST(HeaderGenConvert, CodeAreaChecks) {
  TempDir dir;
  // Data up to 0xFFFF: flat image 0x10400, 0x1000 + 0xF400 > 0x10000.
  test::WriteFile(dir / "full.hex", Join({Data(0xFFFF, {1})}));
  Outcome r = Convert(dir / "full.hex", ConvertOption::kC);
  EXPECT_EQ(r.status, HeaderGenStatus::kMaxAddress);
  EXPECT_EQ(r.report.back(), "Max_Address_Chips Error ..Exit.\n");
  EXPECT_EQ(test::ReadFile(dir / "full.bin").size(), 0x10400u);
  EXPECT_FALSE(std::filesystem::exists(dir / "full.hdr"));  // no empty file left

  test::WriteFile(dir / "ok.hex", Join({Data(0x1000, {1})}));
  for (ConvertOption o : {ConvertOption::kC, ConvertOption::kI}) {
    r = Convert(dir / "ok.hex", o, "0x1100");
    EXPECT_EQ(r.status, HeaderGenStatus::kAlignment);
    EXPECT_EQ(r.report.back(), " >> Download_Target_Address Check Error ..Exit.\r\n");
  }
  test::WriteFile(dir / "m.raw", test::RandomBytes(0x2000, 1));
  r = Convert(dir / "m.raw", ConvertOption::kM, "0x1100");
  EXPECT_EQ(r.status, HeaderGenStatus::kAlignment);
  // Offset beyond the input.
  r = Convert(dir / "m.raw", ConvertOption::kM, "0x2200");
  EXPECT_EQ(r.status, HeaderGenStatus::kInputTooShort);
  EXPECT_EQ(r.report.back(), " >> Input file size check error ..Exit.\r\n");
  // Payload ending exactly at 0x10000 is accepted, one byte more is not.
  test::WriteFile(dir / "edge.raw", test::RandomBytes(0x10000, 1));
  EXPECT_EQ(Convert(dir / "edge.raw", ConvertOption::kM).status, HeaderGenStatus::kDone);
  test::WriteFile(dir / "edge.raw", test::RandomBytes(0x10001, 1));
  EXPECT_EQ(Convert(dir / "edge.raw", ConvertOption::kM).status, HeaderGenStatus::kMaxAddress);
  // A huge address does not wrap around the check.
  EXPECT_EQ(Convert(dir / "edge.raw", ConvertOption::kM, "0xFFFFFE00").status,
            HeaderGenStatus::kInputTooShort);
  test::WriteFile(dir / "small.raw", test::RandomBytes(16, 1));
  EXPECT_EQ(Convert(dir / "small.raw", ConvertOption::kI, "0xFFFFFE00").status,
            HeaderGenStatus::kMaxAddress);
}

TEST(HeaderGenConvert, AddressTextMustStartWithLowerCase0x) {
  TempDir dir;
  test::WriteFile(dir / "a.raw", std::string("abc"));
  for (const char* text : {"0X1000", "1000", "", "x1000", " 0x1000"}) {
    const Outcome r = Convert(dir / "a.raw", ConvertOption::kN, text);
    EXPECT_EQ(r.status, HeaderGenStatus::kBadAddressText) << text;
    EXPECT_EQ(r.report.back(), " >> Enter the Hexdecimal String As Parameter....\r\n");
    EXPECT_EQ(r.report.size(), 6u);
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "a.hdr"));
  // "0x" alone is address 0; a long text keeps its last eight digits.
  EXPECT_EQ(Convert(dir / "a.raw", ConvertOption::kN, "0x").status, HeaderGenStatus::kDone);
  EXPECT_EQ(HeaderOf(test::ReadFile(dir / "a.hdr")).startAddress, 0u);
  const std::string longText = "0x" + std::string(400, 'F') + "0000F000";
  const Outcome r = Convert(dir / "a.raw", ConvertOption::kN, longText.c_str());
  ASSERT_EQ(r.status, HeaderGenStatus::kDone);
  EXPECT_EQ(r.report[4], " >> Target/Offset Address\t\t[" + longText + "]\r\n");
  EXPECT_EQ(HeaderOf(test::ReadFile(dir / "a.hdr")).startAddress, 0xF000u);
}

TEST(HeaderGenConvert, FailuresAreReportedNotFatal) {
  TempDir dir;
  Outcome r = Convert("", ConvertOption::kC);
  EXPECT_EQ(r.status, HeaderGenStatus::kNoInput);
  EXPECT_EQ(r.report, Lines{" >> Cannot open file!\r\n"});

  r = Convert(dir / "missing.hex", ConvertOption::kC);
  EXPECT_EQ(r.status, HeaderGenStatus::kCannotOpenHex);
  EXPECT_EQ(r.report.back(), " >> Cannot open input(1) file.\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "missing.bin"));

  // The ones that used to end the whole process.
  r = Convert(dir / "missing.raw", ConvertOption::kN);
  EXPECT_EQ(r.status, HeaderGenStatus::kCannotOpenInput);
  EXPECT_EQ(r.report.back(), "Error opening input file.\n");
  std::filesystem::create_directory(dir / "d.raw");
  EXPECT_EQ(Convert(dir / "d.raw", ConvertOption::kS).status, HeaderGenStatus::kCannotOpenInput);
  test::WriteFile(dir / "x.raw", std::string("abc"));
  std::filesystem::create_directory(dir / "x.hdr");
  r = Convert(dir / "x.raw", ConvertOption::kN);
  EXPECT_EQ(r.status, HeaderGenStatus::kCannotCreateOutput);
  EXPECT_EQ(r.report.back(), "Error opening output file.\n");

  test::WriteFile(dir / "y.hex", Join({Data(0, {1})}));
  std::filesystem::create_directory(dir / "y.bin");
  r = Convert(dir / "y.hex", ConvertOption::kI);
  EXPECT_EQ(r.status, HeaderGenStatus::kCannotCreateFlat);
  EXPECT_EQ(r.report.back(), " >> Cannot open output file.\r\n");
}

TEST(HeaderGenConvert, BadHexStopsWithoutAFlatImage) {
  TempDir dir;
  test::WriteFile(dir / "far.hex", Join({Data(0, {1}), Upper16(2, 0x1000),
                                         Data(0xFFF0, std::vector<uint8_t>(32, 1)), kEof}));
  Outcome r = Convert(dir / "far.hex", ConvertOption::kI);
  EXPECT_EQ(r.status, HeaderGenStatus::kAddressCheck);
  EXPECT_EQ(r.report.back(), " >> Address Check Error!\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "far.bin"));
  EXPECT_FALSE(std::filesystem::exists(dir / "far.hdr"));

  test::WriteFile(dir / "long.hex",
                  Join({Data(0, {1}), Data(0x10, std::vector<uint8_t>(122, 2)), kEof}));
  r = Convert(dir / "long.hex", ConvertOption::kI);
  EXPECT_EQ(r.status, HeaderGenStatus::kHexLineTooLong);
  EXPECT_EQ(r.report.back(), " >> Line 2 is longer than 253 characters!\r\n");

  test::WriteFile(dir / "cut.hex", Join({kEof, kEof, ":04001000AABB"}, "\r\n"));
  r = Convert(dir / "cut.hex", ConvertOption::kI);
  EXPECT_EQ(r.status, HeaderGenStatus::kHexShortRecord);
  EXPECT_EQ(r.report.back(), " >> Record in line 3 is shorter than its byte count!\r\n");

  // A 253-character record with CR LF is whole.
  test::WriteFile(dir / "max.hex", Join({Data(0, std::vector<uint8_t>(121, 3))}, "\r\n"));
  EXPECT_EQ(Convert(dir / "max.hex", ConvertOption::kI).status, HeaderGenStatus::kDone);
}

// The file is read in large chunks: lines that straddle a chunk boundary, mixed line ends,
// blank lines and a last line without a line end read as the same lines as a line at a time.
TEST(HeaderGenConvert, ChunkedReadingKeepsEveryLineWhole) {
  TempDir dir;
  const auto data = test::RandomBytes(0xF000, 21);
  std::string text;
  for (size_t at = 0; at < data.size(); at += 16) {
    const std::vector<uint8_t> chunk(data.begin() + at, data.begin() + at + 16);
    // Alternate CR LF, LF and an extra blank line so that boundaries fall everywhere.
    text += Data(static_cast<uint16_t>(at), chunk) + (at % 48 == 0 ? "\r\n" : at % 48 == 16 ? "\n" : "\n\r\n");
  }
  ASSERT_GT(text.size(), 2u * 65536u);
  text += kEof;  // no line end at all
  test::WriteFile(dir / "big.hex", std::vector<uint8_t>(text.begin(), text.end()));
  const Outcome r = Convert(dir / "big.hex", ConvertOption::kI);
  ASSERT_EQ(r.status, HeaderGenStatus::kDone) << r.report.back();
  const auto flat = test::ReadFile(dir / "big.bin");
  ASSERT_EQ(flat.size(), 0xF400u);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), flat.begin()));
  EXPECT_EQ(PayloadOf(test::ReadFile(dir / "big.hdr")), flat);
}

TEST(HeaderGenConvert, OverlongLineAcrossAChunkBoundaryIsCountedOnce) {
  TempDir dir;
  // Short lines up to just before the first 64 KiB boundary, then a 400-character line
  // across it, ending in CR LF; its number is reported, not a later one.
  std::string text;
  size_t lines = 0;
  while (text.size() < 65536 - 200) {
    text += "; not a record\r\n";
    ++lines;
  }
  text += ":" + std::string(399, 'A') + "\r\n" + kEof + "\r\n";
  test::WriteFile(dir / "long.hex", std::vector<uint8_t>(text.begin(), text.end()));
  const Outcome r = Convert(dir / "long.hex", ConvertOption::kI);
  EXPECT_EQ(r.status, HeaderGenStatus::kHexLineTooLong);
  EXPECT_EQ(r.report.back(), Format(" >> Line %zu is longer than 253 characters!\r\n", lines + 1));

  // 253 characters and a CR are whole; 254 characters and a CR are one too many.
  const std::string max = Data(0, std::vector<uint8_t>(121, 3));
  ASSERT_EQ(max.size(), 253u);
  test::WriteFile(dir / "edge.hex", Join({max, max + "0"}, "\r\n"));
  const Outcome e = Convert(dir / "edge.hex", ConvertOption::kI);
  EXPECT_EQ(e.status, HeaderGenStatus::kHexLineTooLong);
  EXPECT_EQ(e.report.back(), " >> Line 2 is longer than 253 characters!\r\n");
}

TEST(HeaderGenConvert, OutputsNeverOverwriteTheInput) {
  TempDir dir;
  const auto bin = test::RandomBytes(300, 5);
  test::WriteFile(dir / "image.hdr", bin);
  Outcome r = Convert(dir / "image.hdr", ConvertOption::kN);
  EXPECT_EQ(r.status, HeaderGenStatus::kOutputIsInput);
  EXPECT_EQ(r.report.back(),
            " >> Output File is the Input File! [" + (dir / "image.hdr") + "]\r\n");
  EXPECT_EQ(test::ReadFile(dir / "image.hdr"), bin);

  const std::string hex = Join({Data(0, {1}), kEof});
  test::WriteFile(dir / "fw.bin", hex);
  EXPECT_EQ(Convert(dir / "fw.bin", ConvertOption::kC).status, HeaderGenStatus::kOutputIsInput);
  EXPECT_EQ(test::ReadText(dir / "fw.bin"), hex);
  // A binary named .bin is fine when no flat image is made.
  EXPECT_EQ(Convert(dir / "fw.bin", ConvertOption::kN).status, HeaderGenStatus::kDone);
#ifndef _WIN32  // symbolic links need a privilege on Windows
  // Also through a link of another name.
  std::filesystem::create_symlink(dir / "image.hdr", dir / "link.hdr");
  EXPECT_EQ(Convert(dir / "link.hdr", ConvertOption::kS).status, HeaderGenStatus::kOutputIsInput);
  EXPECT_EQ(test::ReadFile(dir / "image.hdr"), bin);
#endif
}

TEST(HeaderGenConvert, LongAndShortPaths) {
  TempDir dir;
  std::string folder = dir.Path();
  for (int i = 0; i < 6; ++i) {
    folder += "/" + std::string(60, char('a' + i));
    std::filesystem::create_directory(folder);
  }
  const std::string input = folder + "/固件_" + std::string(40, 'z') + ".hex";
  ASSERT_GT(input.size(), 400u);
  test::WriteFile(input, Join({Data(0, {9}), kEof}));
  Outcome r = Convert(input, ConvertOption::kI);
  ASSERT_EQ(r.status, HeaderGenStatus::kDone) << Join(r.report);
  EXPECT_EQ(r.report[2], " >> Input Intel Hex/Bin File\t\t[" + input + "]\r\n");
  const std::string stem = input.substr(0, input.size() - 3);
  EXPECT_EQ(test::ReadFile(stem + "hdr").size(), 2048u);
  EXPECT_EQ(test::ReadFile(stem + "bin").size(), 1024u);

  test::WriteFile(dir / "ab", Join({Data(0, {9})}));
  r = Convert(dir / "ab", ConvertOption::kI);
  ASSERT_EQ(r.status, HeaderGenStatus::kDone) << Join(r.report);
  EXPECT_TRUE(std::filesystem::exists(dir / "ab.hdr"));
  EXPECT_TRUE(std::filesystem::exists(dir / "ab.bin"));
}

TEST(HeaderGenConvert, LargeBinaryReportsProgressAndPadsOnce) {
  struct Progress : Recorder {
    void OnProgress(uint64_t done, uint64_t total) override { calls.push_back({done, total}); }
    std::vector<std::pair<uint64_t, uint64_t>> calls;
  } observer;
  TempDir dir;
  const auto data = test::RandomBytes((3u << 20) + 5, 11);
  test::WriteFile(dir / "nand.img", data);
  HeaderGenSettings s;
  s.inputPath = dir / "nand.img";
  s.option = ConvertOption::kS;
  s.addressText = "0x0";
  s.nand = true;
  s.port = Port::Uart;
  ASSERT_EQ(ConvertToHeaderedImage(s, observer), HeaderGenStatus::kDone);
  const auto out = test::ReadFile(dir / "nand.hdr");
  ASSERT_EQ(out.size(), 1024u + (3u << 20) + 1024u);
  EXPECT_EQ(HeaderOf(out).packetCount, 3u * 1024 + 1);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin() + 1024));
  ASSERT_GE(observer.calls.size(), 3u);
  EXPECT_EQ(observer.calls.back(), std::make_pair(uint64_t(data.size()), uint64_t(data.size())));
  for (size_t i = 1; i < observer.calls.size(); ++i)
    EXPECT_GT(observer.calls[i].first, observer.calls[i - 1].first);
}

TEST(HeaderGenConvert, CancelStopsAtTheNextStepAndLeavesOnlyTheInput) {
  // Cancelled from the moment the observer has seen `after`: a report line beginning so,
  // or (empty) the first progress of the copy.
  struct Canceller : Recorder {
    void OnReport(const std::string& text) override {
      Recorder::OnReport(text);
      cancel = cancel || (!after.empty() && text.rfind(after, 0) == 0);
    }
    void OnProgress(uint64_t, uint64_t) override { cancel = cancel || after.empty(); }
    bool CancelRequested() override { return cancel; }
    std::string after;
    bool cancel = false;
  };
  struct Case {
    const char* step;
    ConvertOption option;
    const char* after;
  };
  const Case cases[] = {
      {"HEX lines", ConvertOption::kI, " >> Target/Offset Address"},
      {"flat image written", ConvertOption::kI, " >> Temp Bin Hex File"},
      {"payload copy", ConvertOption::kS, ""},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const bool hex = LayoutOf(c.option).hexConversion;
    const std::string input = dir / (hex ? "fw.hex" : "fw.img");
    if (hex) {
      Lines lines;
      for (uint16_t a = 0; a < 0x400; a += 16) lines.push_back(Data(a, std::vector<uint8_t>(16, 0x5A)));
      lines.push_back(kEof);
      test::WriteFile(input, Join(lines));
    } else {
      test::WriteFile(input, test::RandomBytes(3u << 20, 5));
    }
    Canceller observer;
    observer.after = c.after;
    HeaderGenSettings s;
    s.inputPath = input;
    s.option = c.option;
    s.addressText = "0x0";
    EXPECT_EQ(ConvertToHeaderedImage(s, observer), HeaderGenStatus::kCancelled) << c.step;
    ASSERT_TRUE(observer.cancel) << c.step;
    EXPECT_NE(observer.lines.back().rfind(" >> All Process is Done", 0), 0u) << c.step;
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
      left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{std::filesystem::path(input).filename().string()})
        << c.step;
  }
}

// -N and -S take any address and any size the 32-bit size field holds; -C, -I and -M
// refuse only an address + input size (from the offset on, before the packet padding)
// beyond 0x10000. Refused inputs are sparse: nothing is read before the check.
TEST(HeaderGenConvert, OnlyTheCodeAreaAndTheSizeFieldLimitAnImage) {
  struct Row {
    const char* what;
    ConvertOption option;
    bool nand;
    Port port;
    const char* address;
    uint64_t size;
    HeaderGenStatus status;
    uint32_t fileSize;  // kDone: the size field (the payload is that long)
    const char* says;   // otherwise: the last report line
  };
  const Row rows[] = {
      {"-S NAND at block 0x40000", ConvertOption::kS, true, Port::Usb, "0x40000", 3000,
       HeaderGenStatus::kDone, 3008, nullptr},
      {"-S Serial, UART, at the last 512 bytes of 16 MiB", ConvertOption::kS, false, Port::Uart,
       "0xFFFE00", 512, HeaderGenStatus::kDone, 1024, nullptr},
      {"-N at the largest address, more than 64 KiB", ConvertOption::kN, false, Port::Usb,
       "0xFFFFFFFF", 0x10000 + 100, HeaderGenStatus::kDone, 0x10000 + 128, nullptr},
      {"-M, UART: 0x1200 + 0xEE00 ends at 0x10000, padded past it", ConvertOption::kM, false,
       Port::Uart, "0x1200", 0x10000, HeaderGenStatus::kDone, 0xF000, nullptr},
      {"-M, one byte more", ConvertOption::kM, false, Port::Uart, "0x1200", 0x10001,
       HeaderGenStatus::kMaxAddress, 0, "Max_Address_Chips Error ..Exit.\n"},
      {"too large for the size field", ConvertOption::kS, false, Port::Uart, "0x0",
       (uint64_t(1) << 32) - 10, HeaderGenStatus::kInputTooLarge, 0,
       " >> Input file is too large for the header!\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    const std::string path = dir / "in.img";
    test::WriteFile(path, std::string());
    std::error_code sparse;
    std::filesystem::resize_file(path, row.size, sparse);
    if (sparse) {
      // A temp folder in memory may hold no sparse file of 4 GiB (wine in the x86 guest).
      std::cerr << "row skipped: no " << row.size << "-byte file here: " << sparse.message() << "\n";
      continue;
    }
    const Outcome r = Convert(path, row.option, row.address, row.port, row.nand);
    EXPECT_EQ(r.status, row.status) << Join(r.report);
    if (row.status == HeaderGenStatus::kDone) {
      EXPECT_EQ(r.report.back(), " >> All Process is Done !!!!\r\n");
      const auto out = test::ReadFile(dir / "in.hdr");
      const HeaderFields h = HeaderOf(out);
      EXPECT_EQ(h.port, static_cast<uint8_t>(row.port));
      EXPECT_EQ(h.flash, row.option != ConvertOption::kS ? kFlashE
                         : row.nand                      ? kFlashNand
                                                         : kFlashSerial);
      EXPECT_EQ(h.startAddress, HexTextValue(row.address));  // stored as given
      EXPECT_EQ(h.fileSize, row.fileSize);
      EXPECT_EQ(h.packetCount, row.fileSize / PacketSize(row.port));
      EXPECT_EQ(out.size(), kHeaderBlockSize + row.fileSize);
      continue;
    }
    ASSERT_FALSE(r.report.empty());
    EXPECT_EQ(r.report.back(), row.says);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              1)
        << "only the input is left";
  }
}

// --- The corpus against an independent converter -------------------------------------

const std::string kSrecCat = "/usr/bin/srec_cat";

TEST(HeaderGenCorpus, FlatImagesMatchSrecCatWithoutType04) {
  if (!test::HaveHostTool(kSrecCat))
    GTEST_SKIP() << kSrecCat << " missing: install Debian's srecord (scripts/install-deps.sh)";
  const char* files[] = {
      "ATmegaBOOT_168_atmega1280.hex", "Caterina-Leonardo.hex", "bincopy_in.hex",
      "bincopy_in_blank_lines.hex", "bincopy_out.hex", "hex-with-FFs.hex",
      "optiboot_atmega1280.hex", "optiboot_atmega328.hex",
      "optiboot_flash_atmega1281_UART0_115200_16000000L_B5_BIGBOOT.hex"};
  TempDir dir;
  for (const char* name : files) {
    SCOPED_TRACE(name);
    const std::string input = dir / name;
    std::filesystem::copy_file(test::CorpusDir() + "/hex/" + name, input);
    const Outcome r = Convert(input, ConvertOption::kI);
    const std::string stem = dir / std::string(name).substr(0, strlen(name) - 3);
    const auto flat = test::ReadFile(stem + "bin");
    // Above 64 KB the code-area check stops -I after the flat image is written.
    if (flat.size() <= kCodeAreaEnd) {
      ASSERT_EQ(r.status, HeaderGenStatus::kDone) << Join(r.report);
      EXPECT_EQ(PayloadOf(test::ReadFile(stem + "hdr")), flat);
    } else {
      ASSERT_EQ(r.status, HeaderGenStatus::kMaxAddress) << Join(r.report);
    }
    const auto ref = test::RunProgram(kSrecCat, {input, "-intel", "-o", dir / "ref.bin", "-binary"});
    ASSERT_EQ(ref.status, 0) << ref.err;
    const auto expected = test::ReadFile(dir / "ref.bin");
    ASSERT_FALSE(expected.empty());
    // srec_cat stops at the last data byte; the flat image pads to the next whole KB.
    EXPECT_EQ(flat.size(), expected.size() + (1024 - expected.size() % 1024));
    ASSERT_GE(flat.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), flat.begin()));
    EXPECT_EQ(std::count(flat.begin() + expected.size(), flat.end(), 0),
              std::ptrdiff_t(flat.size() - expected.size()));
    EXPECT_EQ(r.report[5],
              Format(" >> Temp Bin Hex File\t\t[%sbin][0x%zx]\r\n", stem.c_str(), flat.size()));
  }
}

TEST(HeaderGenCorpus, Type04CountsIn0x8000Units) {
  TempDir dir;
  // PIC configuration words after linear value 1 land at 0x800E, not at 0x1000E.
  const std::string pic = dir / "b.hex";
  std::filesystem::copy_file(test::CorpusDir() + "/hex/pic16f1_config.hex", pic);
  ASSERT_EQ(Convert(pic, ConvertOption::kI).status, HeaderGenStatus::kDone);
  auto flat = test::ReadFile(dir / "b.bin");
  ASSERT_EQ(flat.size(), 0x8400u);
  EXPECT_EQ(flat[0x800E], 0xEC);
  EXPECT_EQ(flat[0x800F], 0x3F);
  if (test::HaveHostTool(kSrecCat)) {
    // The same placement from srec_cat: the upper 64 KB moved down by 0x8000.
    const auto ref = test::RunProgram(
        kSrecCat, {pic, "-intel", "-crop", "0", "0x10000", pic, "-intel", "-crop",
                   "0x10000", "0x20000", "-offset", "-0x8000", "-o", dir / "ref.bin", "-binary"});
    ASSERT_EQ(ref.status, 0) << ref.err;
    const auto expected = test::ReadFile(dir / "ref.bin");
    ASSERT_EQ(expected.size(), 0x8018u);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), flat.begin()));
  }
  // Linear value 2 then 1: 0x1000E and 0x800E.
  std::filesystem::copy_file(test::CorpusDir() + "/hex/bincopy_issue_4_in.hex", dir / "i.hex");
  EXPECT_EQ(Convert(dir / "i.hex", ConvertOption::kI).status, HeaderGenStatus::kMaxAddress);
  flat = test::ReadFile(dir / "i.bin");
  ASSERT_EQ(flat.size(), 0x10400u);
  EXPECT_EQ(std::vector<uint8_t>(flat.begin() + 0x1000E, flat.begin() + 0x10011),
            (std::vector<uint8_t>{0xA4, 0xCF, 0xFF}));
  EXPECT_EQ(std::vector<uint8_t>(flat.begin() + 0x800E, flat.begin() + 0x8012),
            (std::vector<uint8_t>{0xA4, 0xCF, 0xFF, 0xDD}));
  // PIC18 configuration at linear 0x0030 -> 0x180000: outside the image.
  std::filesystem::copy_file(test::CorpusDir() + "/hex/sdcc_blink.hex", dir / "s.hex");
  EXPECT_EQ(Convert(dir / "s.hex", ConvertOption::kI).status, HeaderGenStatus::kAddressCheck);
  // Segment 0x3000 is 0x30000: outside the image.
  std::filesystem::copy_file(test::CorpusDir() + "/hex/stk500boot_v2_mega2560.hex", dir / "k.hex");
  EXPECT_EQ(Convert(dir / "k.hex", ConvertOption::kI).status, HeaderGenStatus::kAddressCheck);
  // Only an end-of-file record, no line end.
  std::filesystem::copy_file(test::CorpusDir() + "/hex/megacore_empty.hex", dir / "e.hex");
  ASSERT_EQ(Convert(dir / "e.hex", ConvertOption::kI).status, HeaderGenStatus::kDone);
  EXPECT_EQ(test::ReadFile(dir / "e.bin"), std::vector<uint8_t>(1024, 0));
}

}  // namespace
}  // namespace edog
