// The vendor libraries' edges that every platform can check: which build a DLL of the
// wrong processor needs, the narrow paths handed to the voice encoder, and the reason a
// library that is there but unusable is not loaded.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "common/DynamicLibrary.h"
#include "common/LibraryMachine.h"
#include "common/VendorPath.h"
#include "device/UsbLibrary.h"
#include "support/TestSupport.h"

namespace edog::test {
namespace {

std::vector<uint8_t> PeHead(uint32_t peOffset, const char* signature, uint16_t machine) {
  std::vector<uint8_t> b(peOffset + 8, 0);
  b[0] = 'M';
  b[1] = 'Z';
  for (int i = 0; i < 4; ++i) b[0x3C + i] = static_cast<uint8_t>(peOffset >> (8 * i));
  for (int i = 0; i < 4; ++i) b[peOffset + i] = static_cast<uint8_t>(signature[i]);
  b[peOffset + 4] = static_cast<uint8_t>(machine);
  b[peOffset + 5] = static_cast<uint8_t>(machine >> 8);
  return b;
}

TEST(VendorLibrary, MachineOfAWrongDllNamesTheBuildToUse) {
  struct Case {
    std::vector<uint8_t> head;
    LibraryMachine machine;
    const char* advice;  // in the 32-bit program's reason
  };
  const Case cases[] = {
      {PeHead(0x80, "PE\0\0", 0x8664), LibraryMachine::kX64,
       "put the device maker's 32-bit DLL in its place"},
      {PeHead(0x100, "PE\0\0", 0x014C), LibraryMachine::kX86, "use the 32-bit build (edog-windows-x86)"},
      {PeHead(0x80, "PE\0\0", 0xAA64), LibraryMachine::kArm64, "no build of ours"},
      {PeHead(0x80, "NE\0\0", 0x8664), LibraryMachine::kUnknown, "bad image format"},
      {std::vector<uint8_t>(0x3F, 'M'), LibraryMachine::kUnknown, "bad image format"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PeMachine(c.head.data(), c.head.size()), c.machine);
    EXPECT_NE(WrongMachineReason(c.machine, false).find(c.advice), std::string::npos)
        << WrongMachineReason(c.machine, false);
  }
  // An offset that points past the bytes read is no PE image, not a read beyond them.
  auto cut = PeHead(0x80, "PE\0\0", 0x8664);
  cut.resize(0x84);
  EXPECT_EQ(PeMachine(cut.data(), cut.size()), LibraryMachine::kUnknown);
  EXPECT_NE(WrongMachineReason(LibraryMachine::kX64, false).find("this program is 32-bit"),
            std::string::npos);
}

// A code page that holds ASCII only, and the short names a volume gave some paths.
NarrowPathSystem Western(std::map<std::string, std::string> shortNames) {
  return {[](const std::string& s) -> std::optional<std::string> {
            for (unsigned char c : s)
              if (c >= 0x80) return std::nullopt;
            return s;
          },
          [shortNames](const std::string& s) -> std::optional<std::string> {
            const auto it = shortNames.find(s);
            if (it == shortNames.end()) return std::nullopt;
            return it->second;
          },
          "1252"};
}

TEST(VendorLibrary, EncoderPathsAreExactAnsiElseShortElseRefused) {
  const std::string dir = "C:\\Users\\张三\\";
  const NarrowPathSystem system = Western({{dir + "语音.wav", "C:\\Users\\5F20~1\\8BED~1.WAV"},
                                           {dir, "C:\\Users\\5F20~1\\"}});
  struct Case {
    bool output;
    std::string utf8, input;
    bool ok;
    std::string narrow, actual, why;
  };
  const Case cases[] = {
      {false, "C:\\voice\\a.wav", "", true, "C:\\voice\\a.wav", "C:\\voice\\a.wav", ""},
      {false, dir + "语音.wav", "", true, "C:\\Users\\5F20~1\\8BED~1.WAV", dir + "语音.wav", ""},
      {false, dir + "无短名.wav", "", false, "", "", "code page 1252 and has no short (8.3) name"},
      {true, dir + "a.enc", dir + "a.wav", true, "C:\\Users\\5F20~1\\a.enc", dir + "a.enc", ""},
      {true, dir + "语音.enc", dir + "语音.wav", true, "C:\\Users\\5F20~1\\8BED~1.enc",
       dir + "8BED~1.enc", ""},
      {true, "D:\\录音\\a.enc", "D:\\录音\\a.wav", false, "", "", "its folder holds characters"},
  };
  for (const Case& c : cases) {
    const NarrowPath p =
        c.output ? NarrowOutputPath(c.utf8, c.input, system) : NarrowInputPath(c.utf8, system);
    EXPECT_EQ(p.ok, c.ok) << c.utf8;
    EXPECT_EQ(p.narrow, c.narrow) << c.utf8;
    EXPECT_EQ(p.actual, c.actual) << c.utf8;
    if (!c.ok) {
      EXPECT_EQ(p.why.rfind(c.utf8 + ": ", 0), 0u) << p.why;  // names the file first
      EXPECT_NE(p.why.find(c.why), std::string::npos) << p.why;
    }
  }
}

TEST(VendorLibrary, APresentLibraryThatCannotLoadSaysWhyNamingIt) {
  TempDir dir;
  const std::string broken = dir / DynamicLibrary::PlatformFileName("HaldenUSB");
  WriteFile(broken, std::string(4096, 'x'));
  std::string why;
  EXPECT_EQ(UsbLibrary::Load(broken, &why), nullptr);
  EXPECT_EQ(why.rfind(broken + " cannot be loaded: ", 0), 0u) << why;
  // Nothing there: nothing to explain (the callers' own texts say "no device").
  why = "stale";
  EXPECT_EQ(DynamicLibrary::Load(dir / "absent.so", &why), nullptr);
  EXPECT_EQ(why, "");
}

}  // namespace
}  // namespace edog::test
