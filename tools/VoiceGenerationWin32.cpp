#include "tools/VoiceGeneration.h"

namespace edog {

// The file system ignores case; the encoder has always been given lower-case paths.
std::string EncoderInputPath(const std::string& listedPath) { return LowerCasePath(listedPath); }

}  // namespace edog
