// The simulator's serial loader over any byte stream from the host: the command line, the
// blocks, EOT and "q", with the first byte choosing the loader's faults.
#include "fuzz/FuzzSimDevice.h"
#include "sim/SerialLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace edog::sim;
  auto& device = edog::fuzz::SimDevice::ForInput();
  if (size < 1) return 0;
  SerialLoaderOptions options;
  options.faults.nakFirst = (data[0] & 1) != 0;
  options.faults.nakEvery = (data[0] >> 1) & 3;
  options.faults.corruptBlock = (data[0] & 8) ? (data[0] >> 4) & 3 : -1;
  options.faults.silentAfter = (data[0] & 0x80) ? 2 : -1;
  SerialLoader loader(options, "1.00", "2026.12", device.flash, device.journal);
  loader.Feed(data + 1, size - 1);
  for (const auto& r : device.journal.ReadAll()) {
    FUZZ_CHECK(r.Has("outcome"));
    if (r.Text("outcome") == "complete") FUZZ_CHECK(r.Number("received") >= 1024 + r.Number("size"));
  }
  return 0;
}
