// The extraction folder swapped under a running `edogtool update`: as soon as the three
// images are extracted, a second thread renames the fresh tmpXXXXXX folder away and puts a
// folder of the same name in its place, holding images whose headers match but whose
// payloads are another's. The job reads the files it wrote through the handles it wrote
// them with, so the device stores the package's payload, over USB and over the serial line.
#include <gtest/gtest.h>

#include "device/DeviceSocket.h"
#include "sim/Simulator.h"
#include "support/FolderSwap.h"
#include "support/HeaderedContent.h"
#include "support/TestSupport.h"
#include "update/Package.h"

namespace edog {
namespace {

using test::HeaderedContent;
using test::MakeHeaderedContent;
using test::kPackageEntryNames;

TEST(SwappedExtraction, TheDeviceStoresWhatThePackageHolds) {
  const struct {
    const char* what;
    Port port;  // of the content sent
    const char* flag;
  } cases[] = {{"voice over USB", Port::Usb, "--voice"},
               {"software over the serial line", Port::Uart, "--software"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir, tmp;
    setenv(kDeviceSocketEnv, (dir / "dev.sock").c_str(), 1);
    setenv("TMP", tmp.Path().c_str(), 1);
    sim::SimulatorOptions o;
    o.stateDir = dir / "state";
    o.serial.baud = 0;
    sim::Simulator sim(o);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;

    // The same headers (port, flash, address, size) in both; only the payloads differ.
    const uint32_t address = 0x20000;
    HeaderedContent ours[3], theirs[3];
    for (int i = 0; i < 3; ++i) {
      const Port port = i == 0 ? Port::Usb : c.port;
      ours[i] = MakeHeaderedContent(port, kFlashSerial, address, 5000, 10 + i);
      theirs[i] = MakeHeaderedContent(port, kFlashSerial, address, 5000, 20 + i);
    }
    const std::string package = dir / kPackageFileName;
    ASSERT_EQ(WritePackage(package,
                           {{kPackageEntryNames[0], ours[0].file},
                            {kPackageEntryNames[1], ours[1].file},
                            {kPackageEntryNames[2], ours[2].file}},
                           KeyForMethod(kDefaultEncryptionMethod)),
              "");
    std::vector<std::string> args = {"update", c.flag, "--package", package};
    if (c.port == Port::Uart) args.insert(args.end(), {"--port", sim.SerialLinePath()});

    test::ProgramResult r;
    bool swapped = false;
    {
      test::ExtractionSwapper swapper(tmp.Path(),
                                      {theirs[0].file, theirs[1].file, theirs[2].file});
      r = test::RunTool(args);
      swapped = swapper.Swapped();
    }
    EXPECT_TRUE(swapped) << "the folder was never swapped";
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const size_t sent = c.port == Port::Usb ? 0 : 2;
    ASSERT_TRUE(sim.WaitForJournal(1, 10000));
    EXPECT_EQ(sim.JournalRecords().back().Text("outcome"), "complete");
    const auto stored = sim.ReadFlash(kFlashSerial, address, ours[sent].payload.size());
    EXPECT_TRUE(stored == ours[sent].payload)
        << "the device holds "
        << (stored == theirs[sent].payload ? "the planted payload" : "neither payload");
    unsetenv("TMP");
  }
}

}  // namespace
}  // namespace edog
