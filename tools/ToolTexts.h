#pragma once
// Texts the image table and voice data generators share, word for word.

namespace edog {

constexpr const char kTmpFileErrorText[] = "Tmp File could not be opened !\n";

}  // namespace edog
