// The voice position table has three bytes per address and size, and the device stores
// the data in one flash memory: a run whose positions would leave 24 bits, or whose data
// would not fit the chosen flash, is refused before anything is written (the encoded
// sizes come from a test encoder that writes holes, so no test writes 150 MiB).
#include <gtest/gtest.h>

#include "robust/RobustFiles.h"
#include "support/TestSupport.h"
#include "tools/VoiceGeneration.h"

namespace edog::test {
namespace {

struct QuietObserver : VoiceGenerationObserver {
  void OnBusyChanged(bool) override {}
  void OnProgress(long) override {}
  void OnCompleted(long) override {}
};

TEST(VoiceRange, PositionsPast24BitsAndDataPastTheFlashAreRefused) {
  constexpr long long kMiB = 1 << 20;
  const struct {
    std::vector<long long> sizes;
    bool nand;
    uint32_t start;
    const char* message;
  } rows[] = {
      // 39 MB for a 16 MiB Serial flash: the third entry would have wrapped (0x900014).
      {{13 * kMiB, 13 * kMiB, 13 * kMiB}, false, 0, "would start at address 0x1a00014"},
      {{6 * kMiB, 6 * kMiB, 6 * kMiB}, false, 0, "past the end of the Serial flash (16777216 bytes)"},
      {{17 * kMiB}, false, 0, "more than the Serial flash holds (16777216 bytes)"},
      {{16}, false, 0x1000000, "would start at address 0x1000008"},
      {{50 * kMiB, 50 * kMiB, 50 * kMiB}, true, 0, "past the end of the NAND flash (134217728 bytes)"},
      {{4 * kMiB}, true, 0xFFFFFFFF, "past the end of the NAND flash"},
  };
  for (const auto& row : rows) {
    TempDir dir;
    VoiceGeneration gen;
    gen.flashSelection = row.nand ? kSelectNand : kSelectSerial;
    for (size_t i = 0; i < row.sizes.size(); ++i) {
      gen.AddFile(dir / ("w" + std::to_string(i) + ".wav"), "8000", "4");
      WriteFile(gen.paths.back(), "SPARSE=" + std::to_string(row.sizes[i]));
    }
    QuietObserver obs;
    const auto run = RunVoiceGeneration(gen, row.start, obs, KOVA_TEST_ENCODER);
    EXPECT_EQ(run.status, VoiceRunStatus::kFailed) << row.message;
    EXPECT_NE(run.message.find(row.message), std::string::npos) << run.message;
    // Nothing is left: no data or header file, no encoded file.
    for (const auto& [name, size] : Listing(dir.Path()))
      EXPECT_TRUE(name.rfind(".wav") == name.size() - 4 || name == "encoder-calls.txt") << name;
  }
}

}  // namespace
}  // namespace edog::test
