// Update package extraction: any file as "qzkt.dll". Whatever it holds, the entries land
// inside the extraction folder only, and clean-up leaves nothing behind.
#include <filesystem>

#include "common/Files.h"
#include "common/FsPath.h"
#include "fuzz/FuzzSupport.h"
#include "update/Package.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace edog;
  const std::string package = fuzz::WriteScratch(kPackageFileName, data, size);
  const std::string dir = JoinPath(fuzz::ScratchDir(), "out");
  PackageExtraction extraction;
  FUZZ_CHECK(extraction.UseDirectory(dir));
  const bool ok = extraction.Extract(package, KeyForMethod(kDefaultEncryptionMethod));
  FUZZ_CHECK(ok == extraction.Error().empty());
  if (ok) FUZZ_CHECK(extraction.Files().size() == kPackageEntries);
  const std::filesystem::path root = std::filesystem::canonical(FsPath(dir));
  for (const auto& f : extraction.Files()) {
    const auto parent = std::filesystem::weakly_canonical(FsPath(f)).parent_path();
    FUZZ_CHECK(parent == root);
  }
  extraction.CleanUp();
  FUZZ_CHECK(!DirectoryExists(dir));
  return 0;
}
