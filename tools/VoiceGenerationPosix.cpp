#include "tools/VoiceGeneration.h"

namespace edog {

// Case matters here: a lower-cased path would name another file (or none).
std::string EncoderInputPath(const std::string& listedPath) { return listedPath; }

}  // namespace edog
