// The voice position table has three bytes per address and size, and the header a 32-bit
// size field: a run whose positions would leave 24 bits, or whose data would not fit the
// size field, is refused before anything is written. The flash memory's size is the
// device's, not the tool's. (The encoded sizes come from a test encoder that writes
// holes, so no test writes gigabytes.)
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

TEST(VoiceRange, OnlyTheTableAndTheSizeFieldLimitTheData) {
  constexpr long long kMiB = 1 << 20;
  const struct {
    std::vector<long long> sizes;
    bool nand;
    uint32_t start;
    const char* message;  // null: the run completes
  } rows[] = {
      // The third entry would have wrapped (0x900014).
      {{13 * kMiB, 13 * kMiB, 13 * kMiB}, false, 0, "would start at address 0x1a00014"},
      {{16}, false, 0x1000000, "would start at address 0x1000008"},
      {{5 * 1024 * kMiB}, true, 0, "is encoded to 5368709120 bytes: more than the header's 32-bit"},
      {{3 * 1024 * kMiB, 3 * 1024 * kMiB}, true, 0,
       "would be 6442451456 bytes: more than the header's 32-bit size field holds"},
      // Past the 128 MiB some NAND flash has: the device will say whether it takes it.
      {{4 * kMiB}, true, 0xFFFFFFFF, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.message ? row.message : "completes");
    TempDir dir;
    VoiceGeneration gen;
    gen.flashSelection = row.nand ? kSelectNand : kSelectSerial;
    for (size_t i = 0; i < row.sizes.size(); ++i) {
      gen.AddFile(dir / ("w" + std::to_string(i) + ".wav"), "8000", "4");
      WriteFile(gen.paths.back(), "SPARSE=" + std::to_string(row.sizes[i]));
    }
    QuietObserver obs;
    const auto run = RunVoiceGeneration(gen, row.start, obs, KOVA_TEST_ENCODER);
    if (!row.message) {
      EXPECT_EQ(run.status, VoiceRunStatus::kCompleted) << run.message;
      continue;
    }
    EXPECT_EQ(run.status, VoiceRunStatus::kFailed);
    EXPECT_NE(run.message.find(row.message), std::string::npos) << run.message;
    // Nothing is left: no data or header file, no encoded file.
    for (const auto& [name, size] : Listing(dir.Path()))
      EXPECT_TRUE(name.rfind(".wav") == name.size() - 4 || name == "encoder-calls.txt") << name;
  }
}

}  // namespace
}  // namespace edog::test
