// Reading a headered image's first 15 bytes as the update job does, and the progress-list
// lines made from them.
#include <cstring>

#include "fuzz/FuzzSupport.h"
#include "update/HeaderedImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace edog;
  const std::string path = fuzz::WriteScratch("edogvoice.hdr", data, size);
  const HeaderRead read = ReadHeaderFields(path);
  if (size < kHeaderFieldBytes) {
    FUZZ_CHECK(read.status == HeaderStatus::kTooShort);
    return 0;
  }
  FUZZ_CHECK(read.status == (data[0] == kHeaderMagic ? HeaderStatus::kOk : HeaderStatus::kBadMagic));
  const HeaderFields parsed = ParseHeaderFields(data);
  FUZZ_CHECK(parsed.fileSize == read.fields.fileSize && parsed.port == read.fields.port);
  const auto lines = HeaderProgressLines(read.fields);
  FUZZ_CHECK(lines.size() == 5);
  // Built back, the block starts with the same 15 bytes.
  const HeaderBlock block = BuildHeaderBlock(parsed);
  FUZZ_CHECK(std::memcmp(block.data(), data, kHeaderFieldBytes) == 0);
  return 0;
}
