// The device text reader against a device that answers PIPE01 at once with empty blocks.
#include <gtest/gtest.h>

#include "UsbTestSupport.h"
#include "device/DeviceTextReader.h"
#include "support/TestSupport.h"

namespace edog {
namespace {

// Each empty block is followed by a short wait: asking again at once would spin a core.
TEST(DeviceTextReader, EmptyBlocksAreAskedForAgainOnlyAfterAWait) {
  const auto library = UsbLibrary::Load(test::HostPath(EMPTY_BLOCK_DEVICE));
  ASSERT_TRUE(library);
  test::FakeClock clock;
  int blocks = 0;
  RunDeviceTextReader(
      *library, [&] { return blocks < 20; },
      [&](const std::string& text) {
        EXPECT_TRUE(text.empty());
        ++blocks;
      },
      clock);
  EXPECT_EQ(blocks, 20);
  const std::vector<uint32_t> sleeps = clock.Sleeps();
  ASSERT_EQ(sleeps.size(), 20u);
  for (uint32_t ms : sleeps) EXPECT_GT(ms, 0u);
}

}  // namespace
}  // namespace edog
