// The block format of the serial code download: the CRC and the 1029 bytes of a block.
#include <gtest/gtest.h>

#include <cstring>

#include "device/SerialDownload.h"
#include "device/SerialTestSupport.h"
#include "support/TestSupport.h"

namespace edog {
namespace {

TEST(Crc16Xmodem, CheckValueAndEmptyInput) {
  const char* check = "123456789";
  EXPECT_EQ(Crc16Xmodem(reinterpret_cast<const uint8_t*>(check), 9), 0x31C3);
  EXPECT_EQ(Crc16Xmodem(nullptr, 0), 0);
  // Continuing from a running value equals one pass over the whole.
  const auto* b = reinterpret_cast<const uint8_t*>(check);
  EXPECT_EQ(Crc16Xmodem(b + 4, 5, Crc16Xmodem(b, 4)), 0x31C3);
}

TEST(Crc16Xmodem, MatchesPythonCrcHqxOnRandomData) {
#ifdef _WIN32
  GTEST_SKIP() << "python3 is a program of the Linux host; this check runs in the Linux build";
#endif
  std::vector<std::vector<uint8_t>> records;
  for (uint32_t seed = 1; seed <= 40; ++seed) records.push_back(test::RandomBytes(seed * 53 % 1500, seed));
  records.push_back(std::vector<uint8_t>(1024, 0));
  records.push_back(std::vector<uint8_t>(1024, 0xFF));
  const auto expected = test::PythonCrcs(records);
  ASSERT_EQ(expected.size(), records.size()) << "python3 with binascii is needed";
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(Crc16Xmodem(records[i].data(), records[i].size()), expected[i]) << "record " << i;
    EXPECT_EQ(test::BitwiseCrc16(records[i].data(), records[i].size()), expected[i]);
  }
}

TEST(SerialBlock, LayoutOfFullShortAndEmptyBlocks) {
  const auto data = test::RandomBytes(1024, 7);
  for (size_t n : {size_t(1024), size_t(452), size_t(1), size_t(0)}) {
    for (unsigned number : {0u, 1u, 0x7Fu, 0xFFu}) {
      const SerialBlock block = BuildSerialBlock(static_cast<uint8_t>(number), data.data(), n);
      const auto expected = test::ExpectedBlock(number, data.data(), n);
      ASSERT_EQ(std::vector<uint8_t>(block.begin(), block.end()), expected)
          << n << " bytes, block " << number;
    }
  }
  // The check value's block: its data field holds 123456789 and 1015 zero bytes.
  const SerialBlock b = BuildSerialBlock(1, reinterpret_cast<const uint8_t*>("123456789"), 9);
  EXPECT_EQ(b[0], 0x02);
  EXPECT_EQ(b[1], 0x01);
  EXPECT_EQ(b[2], 0xFE);
  EXPECT_EQ(b[3 + 9], 0);
}

TEST(SerialBlock, LengthBeyondOneBlockIsCut) {
  const auto data = test::RandomBytes(2000, 3);
  const SerialBlock block = BuildSerialBlock(5, data.data(), data.size());
  EXPECT_EQ(std::vector<uint8_t>(block.begin(), block.end()), test::ExpectedBlock(5, data.data(), 1024));
}

}  // namespace
}  // namespace edog
