#pragma once
// The update package "qzkt.dll": three 32-byte entry records (28-byte name, 32-bit size),
// then the three entries' data, each byte k XORed with key[k mod 16].
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/KeptFile.h"

namespace edog {

constexpr const char* kPackageFileName = "qzkt.dll";
constexpr int kPackageEntries = 3;
constexpr size_t kEntryRecordSize = 32;
constexpr size_t kEntryNameSize = 28;
constexpr size_t kPackageTableSize = kPackageEntries * kEntryRecordSize;  // 96
constexpr uint64_t kMaxEntryBytes = 0xFFFFFFFFu;  // the record's 32-bit size field
constexpr int kDefaultEncryptionMethod = 3;

using PackageKey = std::array<uint8_t, 16>;

// The 15-character key string of a method 0..7, or null outside that range.
const char* KeyString(int method);
// Copies the method's key over `key`; a method outside 0..7 leaves it as it was.
void SelectKey(int method, PackageKey& key);
PackageKey KeyForMethod(int method);

// Whether an entry name is safe to use as a file name inside the extraction directory.
bool IsSafeEntryName(const std::string& name);

// One extraction directory and the files the last extraction wrote into it.
class PackageExtraction {
 public:
  // Creates a fresh directory (see MakeFreshTempFolder), marked as this process's. False
  // on failure, also when the temp folder is open to other users' changes (kUnsafeFolder).
  bool MakeDirectory();
  // Why $TMP was passed over, for the user; empty when it was not.
  const std::string& Note() const { return note_; }
  // Hands the fresh directory and its files to the user: no longer marked, not removed.
  void Keep();
  // Uses an existing directory instead (the CLI's -d); created when absent.
  bool UseDirectory(const std::string& dir);
  const std::string& Directory() const { return directory_; }

  // Extracts the three entries into Directory(). The entries are written to temporary
  // files and appear together at the end: a failed extraction leaves none of them (and
  // none of the files it would have replaced is lost). Names that would collide with each
  // other or with the package itself are refused before anything is written.
  bool Extract(const std::string& packagePath, const PackageKey& key);
  const std::vector<std::string>& Files() const { return files_; }
  // The extracted file at `path` (one of Files()), read through the handle it was written
  // with, so that a file put in its place later is never what is read; null when the last
  // extraction wrote no file of that name.
  const KeptFile* Extracted(const std::string& path) const;
  // Why the last extraction (or directory creation) failed, in plain words.
  const std::string& Error() const { return error_; }
  enum class Failure { kNone, kPackage, kNoSpace, kCannotWrite, kUnsafeFolder, kCannotOpen };
  // What kind of failure: the package itself, a full disk, another write failure, a temp
  // folder that others may change, or a package that could not be opened at all.
  Failure FailureKind() const { return failure_; }

  // Closes the kept files, deletes the listed files, then the directory if this object
  // created it; failures are ignored.
  void CleanUp();

 private:
  bool Fail(std::string why, Failure kind = Failure::kPackage);
  bool WriteFailed(const std::string& path, int error);
  std::string directory_;
  bool createdDirectory_ = false;
  bool marked_ = false;
  std::string note_;
  std::vector<std::string> files_;
  std::vector<KeptFile> kept_;  // beside files_
  std::string error_;
  Failure failure_ = Failure::kNone;
};

// Writes a package from three named entries, scrambled with `key`.
struct PackageEntry {
  std::string name;
  std::vector<uint8_t> data;
};
// Returns an empty string on success, else the reason. The package appears only whole;
// entries with one name are refused (extraction would keep only the last).
std::string WritePackage(const std::string& path, const std::vector<PackageEntry>& entries,
                         const PackageKey& key);

}  // namespace edog
