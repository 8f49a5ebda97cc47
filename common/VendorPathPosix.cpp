#include "common/VendorPath.h"

namespace edog {

// The libraries here open UTF-8 names as they are.
NarrowPathSystem SystemNarrowPaths() {
  return {[](const std::string& utf8) { return std::optional<std::string>(utf8); },
          [](const std::string&) { return std::optional<std::string>(); }, "UTF-8"};
}

}  // namespace edog
