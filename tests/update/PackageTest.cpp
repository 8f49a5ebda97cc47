#include <gtest/gtest.h>

#include <filesystem>

#include "common/Bytes.h"
#include "support/TestSupport.h"
#include "update/Package.h"

namespace edog {
namespace {

using test::TempDir;

// Builds package bytes by hand, independently of WritePackage.
std::vector<uint8_t> HandPackage(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& e,
                                 const char* keyString) {
  std::vector<uint8_t> pkg(96, 0);
  for (size_t i = 0; i < e.size(); ++i) {
    std::copy(e[i].first.begin(), e[i].first.end(), pkg.begin() + 32 * i);
    PutLE32(&pkg[32 * i + 28], static_cast<uint32_t>(e[i].second.size()));
  }
  for (const auto& entry : e)
    for (size_t k = 0; k < entry.second.size(); ++k)
      pkg.push_back(entry.second[k] ^ (k % 16 == 15 ? 0 : uint8_t(keyString[k % 16])));
  return pkg;
}

TEST(PackageKeys, MethodsFourToSevenUseMethodZerosKey) {
  for (int m = 4; m < 8; ++m) EXPECT_EQ(KeyForMethod(m), KeyForMethod(0));
  EXPECT_NE(KeyForMethod(3), KeyForMethod(0));
  PackageKey key = KeyForMethod(2);
  SelectKey(8, key);
  EXPECT_EQ(key, KeyForMethod(2)) << "an out-of-range method keeps the previous key";
  EXPECT_EQ(key[15], 0);
}

TEST(PackageExtract, SizesOffsetsAndKeyBytesFromKeyStrings) {
  TempDir dir;
  std::vector<uint8_t> a = test::RandomBytes(0x10, 1), b = test::RandomBytes(0x21, 2),
                       c = test::RandomBytes(0x0F, 3);
  a[0] = 0x24;
  const auto pkg = HandPackage({{"edogvoice.hdr", a}, {"edogmap.hdr", b}, {"edogsoftware.hdr", c}},
                               "QH-PW-5K7390#38");
  EXPECT_EQ(pkg[96], 0x24 ^ 'Q');     // entry 0 data at 96, first key character
  EXPECT_EQ(pkg[96 + 15], a[15]);      // the 16th key byte is zero
  test::WriteFile(dir / "qzkt.dll", pkg);

  PackageExtraction x;
  ASSERT_TRUE(x.UseDirectory(dir / "out"));
  ASSERT_TRUE(x.Extract(dir / "qzkt.dll", KeyForMethod(3))) << x.Error();
  ASSERT_EQ(x.Files().size(), 3u);
  EXPECT_EQ(test::ReadFile(dir / "out/edogvoice.hdr"), a);
  EXPECT_EQ(test::ReadFile(dir / "out/edogmap.hdr"), b);
  EXPECT_EQ(test::ReadFile(dir / "out/edogsoftware.hdr"), c);
}

TEST(PackageExtract, EveryMethodKeyStringDecodes) {
  const char* strings[8] = {"QH-PW-MV63Tu#38", "QH-PW-MV63Tu#56", "QH-PW-MV63Tu#74",
                            "QH-PW-5K7390#38", "QH-PW-MV63Tu#38", "QH-PW-MV63Tu#38",
                            "QH-PW-MV63Tu#38", "QH-PW-MV63Tu#38"};
  TempDir dir;
  const auto data = test::RandomBytes(100, 9);
  for (int m = 0; m < 8; ++m) {
    test::WriteFile(dir / "p", HandPackage({{"a", data}, {"b", {}}, {"c", {1}}}, strings[m]));
    PackageExtraction x;
    ASSERT_TRUE(x.UseDirectory(dir / ("m" + std::to_string(m))));
    ASSERT_TRUE(x.Extract(dir / "p", KeyForMethod(m)));
    EXPECT_EQ(test::ReadFile(x.Files()[0]), data) << "method " << m;
  }
}

TEST(PackageRoundTrip, AllMethodsLargeAndEmptyEntries) {
  TempDir dir;
  const auto big = test::RandomBytes(200001, 4);  // crosses the copy chunk, odd length
  for (int m = 0; m < 8; ++m) {
    const std::vector<PackageEntry> entries = {
        {"edogvoice.hdr", big}, {"edogmap.hdr", {}}, {std::string(28, 'n'), {7, 8, 9}}};
    const std::string pkg = dir / ("p" + std::to_string(m));
    ASSERT_EQ(WritePackage(pkg, entries, KeyForMethod(m)), "");
    PackageExtraction x;
    ASSERT_TRUE(x.UseDirectory(dir / ("d" + std::to_string(m))));
    ASSERT_TRUE(x.Extract(pkg, KeyForMethod(m))) << x.Error();
    for (size_t i = 0; i < 3; ++i)
      EXPECT_EQ(test::ReadFile(x.Files()[i]), entries[i].data) << "method " << m << " entry " << i;
    EXPECT_EQ(std::filesystem::path(x.Files()[2]).filename().string(), std::string(28, 'n'));
  }
}

// Entries larger than the copy chunk, with odd sizes so that later entries start at every
// phase of the package: extraction and the writer both match the hand-made bytes.
TEST(PackageExtract, EntriesAcrossCopyChunksMatchHandMadeScrambling) {
  TempDir dir;
  const auto a = test::RandomBytes((1 << 20) + 17, 11), b = test::RandomBytes(3, 12),
             c = test::RandomBytes((2 << 20) - 5, 13);
  const auto pkg = HandPackage({{"edogvoice.hdr", a}, {"edogmap.hdr", b}, {"edogsoft.hdr", c}},
                               "QH-PW-5K7390#38");
  test::WriteFile(dir / "hand.dll", pkg);
  PackageExtraction x;
  ASSERT_TRUE(x.UseDirectory(dir / "out"));
  ASSERT_TRUE(x.Extract(dir / "hand.dll", KeyForMethod(3))) << x.Error();
  EXPECT_EQ(test::ReadFile(dir / "out/edogvoice.hdr"), a);
  EXPECT_EQ(test::ReadFile(dir / "out/edogmap.hdr"), b);
  EXPECT_EQ(test::ReadFile(dir / "out/edogsoft.hdr"), c);

  ASSERT_EQ(WritePackage(dir / "written.dll",
                         {{"edogvoice.hdr", a}, {"edogmap.hdr", b}, {"edogsoft.hdr", c}},
                         KeyForMethod(3)),
            "");
  EXPECT_EQ(test::ReadFile(dir / "written.dll"), pkg);
}

TEST(PackageExtract, WrongKeyExtractsGarbageWithoutNoticing) {
  TempDir dir;
  std::vector<uint8_t> hdr(1024, 0);
  hdr[0] = '$';
  ASSERT_EQ(WritePackage(dir / "p", {{"a", hdr}, {"b", hdr}, {"c", hdr}}, KeyForMethod(0)), "");
  PackageExtraction x;
  ASSERT_TRUE(x.UseDirectory(dir / "o"));
  ASSERT_TRUE(x.Extract(dir / "p", KeyForMethod(3)));
  // The keys share "QH-PW-", so byte 0 still reads '$'; the address and size bytes do not.
  const auto out = test::ReadFile(dir / "o/a");
  EXPECT_EQ(out[0], '$');
  EXPECT_NE(out[6], 0);
  EXPECT_NE(out[7], 0);
}

TEST(PackageExtract, RefusesNamesThatLeaveTheDirectory) {
  const char* bad[] = {"../evil", "..", ".", "", "/etc/passwd", "a/b", "a\\b", "c:x", "x\ny"};
  for (const char* name : bad) {
    TempDir dir;
    auto pkg = HandPackage({{"ok", {1}}, {name, {2}}, {"c", {3}}}, "QH-PW-5K7390#38");
    test::WriteFile(dir / "p", pkg);
    PackageExtraction x;
    ASSERT_TRUE(x.UseDirectory(dir / "sub/out"));
    EXPECT_FALSE(x.Extract(dir / "p", KeyForMethod(3))) << name;
    EXPECT_FALSE(std::filesystem::exists(dir / "sub/evil"));
    // Every name is checked first: not even the safe entry was written.
    EXPECT_TRUE(x.Files().empty()) << name;
    EXPECT_FALSE(std::filesystem::exists(dir / "sub/out/ok")) << name;
    x.CleanUp();
    EXPECT_FALSE(std::filesystem::exists(dir / "sub/out"));
  }
  EXPECT_NE(WritePackage("/tmp/never", {{"../x", {}}, {"b", {}}, {"c", {}}}, KeyForMethod(3)), "");
}

TEST(PackageExtract, TruncatedPackagesFailCleanly) {
  TempDir dir;
  const auto full = HandPackage({{"a", test::RandomBytes(50, 5)}, {"b", test::RandomBytes(40, 6)},
                                 {"c", test::RandomBytes(30, 7)}},
                                "QH-PW-5K7390#38");
  for (size_t cut : {size_t(0), size_t(10), size_t(95), size_t(96 + 49), full.size() - 1}) {
    std::vector<uint8_t> part(full.begin(), full.begin() + static_cast<long>(cut));
    test::WriteFile(dir / "p", part);
    PackageExtraction x;
    ASSERT_TRUE(x.UseDirectory(dir / ("o" + std::to_string(cut))));
    EXPECT_FALSE(x.Extract(dir / "p", KeyForMethod(3))) << "cut at " << cut;
    EXPECT_FALSE(x.Error().empty());
  }
  PackageExtraction x;
  EXPECT_FALSE(x.Extract(dir / "missing", KeyForMethod(3)));
}

TEST(PackageExtraction, FreshDirectoriesDifferAndCleanUpRemovesAll) {
  TempDir tmp;
  test::SetEnv("TMP", tmp.Path().c_str());
  PackageExtraction a, b;
  ASSERT_TRUE(a.MakeDirectory());
  ASSERT_TRUE(b.MakeDirectory());
  test::UnsetEnv("TMP");
  EXPECT_NE(a.Directory(), b.Directory());
  EXPECT_EQ(test::ForwardSlashes(a.Directory()).rfind(tmp.Path() + "/tmp", 0), 0u) << a.Directory();
  ASSERT_EQ(WritePackage(tmp / "p", {{"a", {1}}, {"b", {2}}, {"c", {3}}}, KeyForMethod(3)), "");
  ASSERT_TRUE(a.Extract(tmp / "p", KeyForMethod(3)));
  a.CleanUp();
  b.CleanUp();
  EXPECT_FALSE(std::filesystem::exists(a.Directory()));
  EXPECT_FALSE(std::filesystem::exists(b.Directory()));
}

}  // namespace
}  // namespace edog
