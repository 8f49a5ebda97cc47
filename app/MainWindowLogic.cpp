#include "app/MainWindowLogic.h"

#include <cstring>

namespace edog {

PresenceOutcome DecidePresence(bool deviceAnswered, bool readingDeviceText) {
  if (!deviceAnswered) return {UsbStatusAbsent(), false, false, kPollAbsentMs};
  return {UsbStatusPresent(), true, !readingDeviceText, kPollPresentMs};
}

WindowRect CentredRect(int screenWidth, int screenHeight, int width, int height) {
  return {screenWidth / 2 - width / 2, screenHeight / 2 - height / 2, width, height};
}

WindowRect MainWindowRect(int screenWidth, int screenHeight, int bitmapWidth, int bitmapHeight) {
  return CentredRect(screenWidth, screenHeight, bitmapWidth, bitmapHeight + kExtraWindowHeight);
}

std::string SerialBufferText(const char* bytes, size_t count) {
  char buffer[kSerialTextBufferSize];
  std::memset(buffer, 0, sizeof buffer);
  // One byte stays zero so the text always ends inside the buffer.
  const size_t n = count < sizeof buffer - 1 ? count : sizeof buffer - 1;
  if (bytes && n) std::memcpy(buffer, bytes, n);
  return std::string(buffer);
}

const std::vector<std::string>& MainFontCandidates() {
  static const std::vector<std::string> faces = {
      "宋体",          "SimSun",           "NSimSun",          "AR PL UMing CN",
      "AR PL UMing TW", "AR PL UMing HK",   "Noto Serif CJK SC", "Source Han Serif SC",
      "WenQuanYi Zen Hei", "Noto Sans CJK SC", "Droid Sans Fallback",
  };
  return faces;
}

std::string ChooseFace(const std::vector<std::string>& candidates,
                       const std::function<bool(const std::string&)>& isAvailable) {
  for (const auto& face : candidates) {
    if (isAvailable(face)) return face;
  }
  return {};
}

}  // namespace edog
