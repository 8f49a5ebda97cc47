#include "update/Package.h"

#include <cerrno>
#include <cstring>

#include "common/Bytes.h"
#include "common/AtomicFile.h"
#include "common/FileChecks.h"
#include "common/Files.h"
#include "common/Format.h"
#include "common/TempFolder.h"

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
  const FreshTempFolder fresh = MakeFreshTempFolder();
  note_ = fresh.note;
  directory_ = fresh.path;
  createdDirectory_ = !directory_.empty();
  if (!fresh.refusal.empty()) return Fail(fresh.refusal, Failure::kUnsafeFolder);
  if (!createdDirectory_) return WriteFailed("the extraction directory", fresh.error);
  // Marked as ours, so that a run after a kill of this one clears it.
  marked_ = MarkTempFolder(directory_);
  return true;
}

void PackageExtraction::Keep() {
  if (marked_) UnmarkTempFolder(directory_);
  marked_ = false;
  createdDirectory_ = false;
}

bool PackageExtraction::UseDirectory(const std::string& dir) {
  directory_ = dir;
  createdDirectory_ = !DirectoryExists(dir);
  errno = 0;
  if (!edog::MakeDirectory(dir)) return WriteFailed(dir, errno);
  return true;
}

bool PackageExtraction::Fail(std::string why, Failure kind) {
  error_ = std::move(why);
  failure_ = kind;
  return false;
}

bool PackageExtraction::WriteFailed(const std::string& path, int error) {
  if (IsNoSpaceError(error))
    return Fail("the disk is full: no room to write " + path, Failure::kNoSpace);
  return Fail("cannot write " + path + (error ? std::string(": ") + std::strerror(error) : ""),
              Failure::kCannotWrite);
}

bool PackageExtraction::Extract(const std::string& packagePath, const PackageKey& key) {
  files_.clear();
  kept_.clear();
  error_.clear();
  failure_ = Failure::kNone;
  StdFile package;
  const RegularOpen open = OpenRegularFile(packagePath, package);
  if (open.status == RegularOpen::kNotRegular)
    return Fail("the package " + RegularOpenMessage(open, packagePath), Failure::kCannotOpen);
  if (open.status != RegularOpen::kOk)
    return Fail("cannot open the package " + packagePath, Failure::kCannotOpen);

  // The whole table first: a package that ends inside it fails before anything is written.
  uint8_t table[kPackageTableSize];
  if (package.Read(table, sizeof table) != sizeof table) {
    return Fail("the package ends inside its entry table");
  }

  // Every name is checked before anything is written: an entry named like another would
  // replace it, one named like the package (extracted beside it) would destroy it.
  std::string names[kPackageEntries], outPaths[kPackageEntries];
  for (int i = 0; i < kPackageEntries; ++i) {
    char nameField[kEntryNameSize + 1] = {};
    std::memcpy(nameField, table + i * kEntryRecordSize, kEntryNameSize);
    names[i] = nameField;
    if (!IsSafeEntryName(names[i])) {
      return Fail("entry " + std::to_string(i) + " has a name that is not a plain file name");
    }
    outPaths[i] = JoinPath(directory_, names[i]);
    for (int j = 0; j < i; ++j)
      if (names[j] == names[i])
        return Fail(Format("entries %d and %d are both named %s: %s would be written twice", j,
                           i, names[i].c_str(), outPaths[i].c_str()));
    if (SameFile(outPaths[i], packagePath))
      return Fail(Format("entry %d (%s) would overwrite the package itself: %s is %s", i,
                         names[i].c_str(), outPaths[i].c_str(), packagePath.c_str()));
  }

  std::vector<uint8_t> buf(kCopyChunk);
  AtomicFileWriter outs[kPackageEntries];
  for (int i = 0; i < kPackageEntries; ++i) {
    const uint8_t* record = table + i * kEntryRecordSize;
    const std::string& name = names[i];
    const std::string& outPath = outPaths[i];
    AtomicFileWriter& out = outs[i];
    if (!out.Open(outPath)) {
      // Only a regular file (or a link, which the rename replaces without following it)
      // may stand at an entry's name; a pipe would block the writer, a folder cannot be
      // replaced.
      if (out.Error() == EISDIR || out.Error() == EINVAL)
        return Fail(out.OpenFailureText() +
                        ": left as it is and nothing extracted; remove it or extract into "
                        "another folder",
                    Failure::kCannotWrite);
      return WriteFailed(outPath, out.Error());
    }

    const uint32_t size = GetLE32(record + kEntryNameSize);
    // Entries follow one another, and every earlier entry was read whole, so the
    // package position already is 96 plus the earlier sizes.
    uint64_t copied = 0;
    while (copied < size) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(kCopyChunk, size - copied));
      const size_t got = package.Read(buf.data(), want);
      if (got == 0) return Fail("the package ends inside the data of " + name);
      Scramble(buf.data(), got, copied, key);
      if (!out.Write(buf.data(), got)) return WriteFailed(outPath, out.Error());
      copied += got;
    }
    if (!out.Flush()) return WriteFailed(outPath, out.Error());
  }
  for (int i = 0; i < kPackageEntries; ++i) {
    KeptFile kept;
    if (!outs[i].Commit(kept)) {
      const int error = outs[i].Error();
      kept_.clear();
      for (const auto& f : files_) RemoveFile(f);
      files_.clear();
      return WriteFailed(outPaths[i], error);
    }
    files_.push_back(outPaths[i]);
    kept_.push_back(std::move(kept));
  }
  return true;
}

const KeptFile* PackageExtraction::Extracted(const std::string& path) const {
  for (size_t i = 0; i < files_.size() && i < kept_.size(); ++i)
    if (files_[i] == path) return &kept_[i];
  return nullptr;
}

void PackageExtraction::CleanUp() {
  kept_.clear();  // open files could not be removed on Windows
  for (const auto& f : files_) RemoveFile(f);
  files_.clear();
  if (marked_) UnmarkTempFolder(directory_);
  marked_ = false;
  if (createdDirectory_ && !directory_.empty()) RemoveDirectory(directory_);
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
    if (e.data.size() > kMaxEntryBytes) return "entry larger than 4 GiB: " + e.name;
    std::memcpy(table + i * kEntryRecordSize, e.name.data(), e.name.size());
    PutLE32(table + i * kEntryRecordSize + kEntryNameSize, static_cast<uint32_t>(e.data.size()));
  }
  for (size_t i = 0; i < entries.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      if (entries[i].name == entries[j].name)
        return Format("entries %zu and %zu are both named %s", j, i, entries[i].name.c_str());
  AtomicFileWriter out(path);
  if (!out.IsOpen()) return "cannot create " + path + ": " + std::strerror(out.Error());
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
  if (!ok || !out.Commit()) {
    if (IsNoSpaceError(out.Error())) return "the disk is full: no room to write " + path;
    return "cannot write " + path + ": " + std::strerror(out.Error());
  }
  return {};
}

}  // namespace edog
