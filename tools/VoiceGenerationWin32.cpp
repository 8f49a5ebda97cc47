#include "tools/VoiceGeneration.h"

namespace edog {

// The file system ignores case: the encoder is given the path in lower case.
std::string EncoderInputPath(const std::string& listedPath) { return LowerCasePath(listedPath); }

}  // namespace edog
