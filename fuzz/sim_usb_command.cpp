// The simulator's USB side over any pipe traffic: the input is a run of blocks (two length
// bytes, low first, then the block), the first being the command block.
#include <algorithm>
#include <vector>

#include "fuzz/FuzzSimDevice.h"
#include "sim/UsbSide.h"


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace edog::sim;
  auto& device = edog::fuzz::SimDevice::ForInput();
  std::vector<std::vector<uint8_t>> blocks;
  for (size_t p = 0; p + 2 <= size;) {
    const size_t want = data[p] | static_cast<size_t>(data[p + 1]) << 8;
    p += 2;
    const size_t n = std::min(want, size - p);
    blocks.emplace_back(data + p, data + p + n);
    p += n;
  }
  SimulatorOptions options;
  options.stateDir = edog::fuzz::ScratchDir();
  UsbSide side(options, edog::JoinPath(options.stateDir, "unused.sock"), device.flash, device.journal);
  side.FeedPipeOut(blocks);
  const auto records = device.journal.ReadAll();
  for (const auto& r : records) {
    if (r.Text("kind") != "download") continue;
    const std::string outcome = r.Text("outcome");
    FUZZ_CHECK(!outcome.empty());
    // Complete: at least what the header announced arrived (more is stored as sent).
    if (outcome == "complete") FUZZ_CHECK(r.Number("received") >= r.Number("size"));
  }
  return 0;
}
