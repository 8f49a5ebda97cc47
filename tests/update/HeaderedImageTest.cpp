#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "update/HeaderedImage.h"

namespace edog {
namespace {

TEST(HeaderBlock, FieldsLittleEndianAndRestZero) {
  const HeaderBlock b = BuildHeaderBlock(Port::Usb, kFlashNand, 0x200, 0x12345678, 0x9ABCDEF0);
  const uint8_t expected[15] = {0x24, 1, 3, 0x00, 0x02, 0, 0, 0x78, 0x56, 0x34, 0x12,
                                0xF0, 0xDE, 0xBC, 0x9A};
  for (int i = 0; i < 15; ++i) EXPECT_EQ(b[i], expected[i]) << "byte " << i;
  for (size_t i = 15; i < b.size(); ++i) ASSERT_EQ(b[i], 0) << "byte " << i;
  const HeaderFields f = ParseHeaderFields(b.data());
  EXPECT_EQ(f.startAddress, 0x200u);
  EXPECT_EQ(f.fileSize, 0x12345678u);
  EXPECT_EQ(f.packetCount, 0x9ABCDEF0u);
}

TEST(HeaderSizes, HeaderGeneratorRoundsToPackets) {
  struct Case { Port port; uint32_t len, size, packets; };
  const Case cases[] = {
      {Port::Uart, 0, 0, 0},       {Port::Uart, 1024, 1024, 1}, {Port::Uart, 1025, 2048, 2},
      {Port::Usb, 100, 128, 2},    {Port::Usb, 64, 64, 1},      {Port::Usb, 0, 0, 0},
  };
  for (const auto& c : cases) {
    const auto s = PacketRoundedSize(c.port, c.len);
    EXPECT_EQ(s.fileSize, c.size) << c.len;
    EXPECT_EQ(s.packetCount, c.packets) << c.len;
  }
}

TEST(HeaderSizes, TableWritersSerialAndNand) {
  // Serial/USB, start 0x40000, end byte address 0x40000 + 3015 -> 3072, 48 packets.
  auto s = TableImageSize(Port::Usb, kFlashSerial, 0x40000, 0x40000 + 3015);
  EXPECT_EQ(s.fileSize, 3072u);
  EXPECT_EQ(s.packetCount, 48u);
  EXPECT_EQ(TableImageEndPadding(Port::Usb, kFlashSerial, 4039), 57u);
  // NAND, start 0x40000 (block 0x200), end block 0x205: 2560 bytes; USB leaves it.
  EXPECT_EQ(StoredStartAddress(kFlashNand, 0x40000), 0x200u);
  EXPECT_EQ(StoredStartAddress(kFlashSerial, 0x40000), 0x40000u);
  s = TableImageSize(Port::Usb, kFlashNand, 0x40000, 0x205);
  EXPECT_EQ(s.fileSize, 2560u);
  EXPECT_EQ(s.packetCount, 40u);
  EXPECT_EQ(TableImageEndPadding(Port::Usb, kFlashNand, 2560 + 13), 0u);
  // The same on UART: rounded to 1024, packet count rounded up.
  s = TableImageSize(Port::Uart, kFlashNand, 0x40000, 0x205);
  EXPECT_EQ(s.fileSize, 3072u);
  EXPECT_EQ(s.packetCount, 3u);
  EXPECT_EQ(TableImageEndPadding(Port::Uart, kFlashNand, 2560), 512u);
  EXPECT_EQ(TableImageEndPadding(Port::Uart, kFlashSerial, 2048), 0u);
}

TEST(HeaderRead, RefusesShortAndBadMagic) {
  test::TempDir dir;
  test::WriteFile(dir / "short", std::vector<uint8_t>(14, 0x24));
  test::WriteFile(dir / "hash", std::vector<uint8_t>{'#', 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  const HeaderBlock block = BuildHeaderBlock(Port::Uart, kFlashE, 0x1000, 2048, 2);
  const std::vector<uint8_t> good(block.begin(), block.begin() + 15);
  test::WriteFile(dir / "good", good);
  EXPECT_EQ(ReadHeaderFields(dir / "missing").status, HeaderStatus::kCannotOpen);
  EXPECT_EQ(ReadHeaderFields(dir / "short").status, HeaderStatus::kTooShort);
  EXPECT_EQ(ReadHeaderFields(dir / "hash").status, HeaderStatus::kBadMagic);
  const auto h = ReadHeaderFields(dir / "good");
  ASSERT_EQ(h.status, HeaderStatus::kOk);
  EXPECT_EQ(h.fields.startAddress, 0x1000u);
}

TEST(HeaderLines, NandAddressShownTimes512AndUnknownFlash) {
  HeaderFields f;
  f.port = 1;
  f.flash = kFlashNand;
  f.startAddress = 0x200;
  f.fileSize = 2560;
  f.packetCount = 40;
  const std::vector<std::string> nand = {"-> port: USB", "-> flash memory: NAND",
                                         "-> start address: 0x00040000", "-> file size: 2560",
                                         "-> packet count: 40"};
  EXPECT_EQ(HeaderProgressLines(f), nand);
  f.flash = kFlashE;
  f.port = 0;
  EXPECT_EQ(HeaderProgressLines(f)[0], "-> port: UART");
  EXPECT_EQ(HeaderProgressLines(f)[1], "-> flash memory: e-flash");
  EXPECT_EQ(HeaderProgressLines(f)[2], "-> start address: 0x00000200");
  f.flash = kFlashSerial;
  EXPECT_EQ(HeaderProgressLines(f)[1], "-> flash memory: Serial");
  f.flash = 7;
  EXPECT_EQ(HeaderProgressLines(f)[1], "-> flash memory: unknown (7)");
  // The NAND shift happens in 32 bits.
  f.flash = kFlashNand;
  f.startAddress = 0x00800001;
  EXPECT_EQ(HeaderProgressLines(f)[2], "-> start address: 0x00000200");
}

}  // namespace
}  // namespace edog
