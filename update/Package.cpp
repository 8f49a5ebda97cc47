#include "update/Package.h"

#include <cstring>

#include "common/Bytes.h"
#include "common/Files.h"

namespace edog {
namespace {

const char* const kKeyStrings[8] = {
    "QH-PW-MV63Tu#38", "QH-PW-MV63Tu#56", "QH-PW-MV63Tu#74", "QH-PW-5K7390#38",
    "QH-PW-MV63Tu#38", "QH-PW-MV63Tu#38", "QH-PW-MV63Tu#38", "QH-PW-MV63Tu#38",
};

// Large enough that a 64 MiB package takes few reads and writes; a multiple of 16, so
// chunks keep the key phase.
constexpr size_t kCopyChunk = 1 << 20;

// XOR `n` bytes with the key, `phase` being the data offset of the first byte. Whole
// 16-byte groups are XORed as two 64-bit words (memcpy keeps the byte order, so this is
// the same byte-for-byte XOR, only without a dependency on the key's byte per step).
void Scramble(uint8_t* data, size_t n, uint64_t phase, const PackageKey& key) {
  size_t k = static_cast<size_t>(phase % 16);
  size_t i = 0;
  for (; i < n && k != 0; ++i, k = (k + 1) & 15) data[i] ^= key[k];
  uint64_t low, high;
  std::memcpy(&low, key.data(), 8);
  std::memcpy(&high, key.data() + 8, 8);
  for (; i + 16 <= n; i += 16) {
    uint64_t a, b;
    std::memcpy(&a, data + i, 8);
    std::memcpy(&b, data + i + 8, 8);
    a ^= low;
    b ^= high;
    std::memcpy(data + i, &a, 8);
    std::memcpy(data + i + 8, &b, 8);
  }
  for (size_t j = 0; i < n; ++i, ++j) data[i] ^= key[j];
}

}  // namespace

const char* KeyString(int method) {
  return method >= 0 && method < 8 ? kKeyStrings[method] : nullptr;
}

void SelectKey(int method, PackageKey& key) {
  const char* s = KeyString(method);
  if (!s) return;
  key.fill(0);
  std::memcpy(key.data(), s, 15);
}

PackageKey KeyForMethod(int method) {
  PackageKey key{};
  SelectKey(method, key);
  return key;
}

bool IsSafeEntryName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':') return false;
  }
  return true;
}

bool PackageExtraction::MakeDirectory() {
  directory_ = MakeUniqueTempDirectory();
  return !directory_.empty();
}

bool PackageExtraction::UseDirectory(const std::string& dir) {
  directory_ = dir;
  return edog::MakeDirectory(dir);
}

bool PackageExtraction::Fail(std::string why) {
  error_ = std::move(why);
  return false;
}

bool PackageExtraction::Extract(const std::string& packagePath, const PackageKey& key) {
  files_.clear();
  error_.clear();
  StdFile package(packagePath, "rb");
  if (!package.IsOpen()) return Fail("cannot open the package " + packagePath);

  // The whole table first: a package that ends inside it fails before anything is written.
  uint8_t table[kPackageTableSize];
  if (package.Read(table, sizeof table) != sizeof table) {
    return Fail("the package ends inside its entry table");
  }

  std::vector<uint8_t> buf(kCopyChunk);
  for (int i = 0; i < kPackageEntries; ++i) {
    const uint8_t* record = table + i * kEntryRecordSize;
    char nameField[kEntryNameSize + 1] = {};
    std::memcpy(nameField, record, kEntryNameSize);
    const std::string name(nameField);
    if (!IsSafeEntryName(name)) {
      return Fail("entry " + std::to_string(i) + " has a name that is not a plain file name");
    }
    const std::string outPath = JoinPath(directory_, name);
    StdFile out(outPath, "wb");
    if (!out.IsOpen()) return Fail("cannot create " + outPath);
    files_.push_back(outPath);

    const uint32_t size = GetLE32(record + kEntryNameSize);
    // Entries follow one another, and every earlier entry was read whole, so the
    // package position already is 96 plus the earlier sizes.
    uint64_t copied = 0;
    while (copied < size) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(kCopyChunk, size - copied));
      const size_t got = package.Read(buf.data(), want);
      if (got == 0) return Fail("the package ends inside the data of " + name);
      Scramble(buf.data(), got, copied, key);
      if (!out.Write(buf.data(), got)) return Fail("cannot write " + outPath);
      copied += got;
    }
    if (!out.Close()) return Fail("cannot write " + outPath);
  }
  return true;
}

void PackageExtraction::CleanUp() {
  for (const auto& f : files_) RemoveFile(f);
  files_.clear();
  if (!directory_.empty()) RemoveDirectory(directory_);
}

std::string WritePackage(const std::string& path, const std::vector<PackageEntry>& entries,
                         const PackageKey& key) {
  if (entries.size() != kPackageEntries) return "a package holds exactly three entries";
  uint8_t table[kPackageTableSize] = {};
  for (size_t i = 0; i < entries.size(); ++i) {
    const auto& e = entries[i];
    if (!IsSafeEntryName(e.name)) return "not a plain file name: " + e.name;
    if (e.name.size() > kEntryNameSize) {
      return "entry name longer than 28 characters: " + e.name;
    }
    if (e.data.size() > 0xFFFFFFFFu) return "entry larger than 4 GiB: " + e.name;
    std::memcpy(table + i * kEntryRecordSize, e.name.data(), e.name.size());
    PutLE32(table + i * kEntryRecordSize + kEntryNameSize, static_cast<uint32_t>(e.data.size()));
  }
  StdFile out(path, "wb");
  if (!out.IsOpen()) return "cannot create " + path;
  bool ok = out.Write(table, sizeof table);
  std::vector<uint8_t> buf;
  for (const auto& e : entries) {
    for (size_t pos = 0; ok && pos < e.data.size(); pos += kCopyChunk) {
      const size_t n = std::min(kCopyChunk, e.data.size() - pos);
      buf.assign(e.data.begin() + pos, e.data.begin() + pos + n);
      Scramble(buf.data(), n, pos, key);
      ok = out.Write(buf.data(), n);
    }
  }
  if (!out.Close() || !ok) return "cannot write " + path;
  return {};
}

}  // namespace edog
