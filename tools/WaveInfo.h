#pragma once
// One wave file as the voice data generator lists it: path, shown name, compression bits
// and the sample rate read from the file's format chunk.
#include <stdexcept>
#include <string>

#include "tools/PathFunctions.h"

namespace edog {

// Not RIFF/WAVE, no format chunk before the end of the file, or a sample rate above
// 2^31 - 1 (the rate is an int everywhere it goes).
class WaveFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// The file cannot be opened or mapped.
class WaveFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The sample rate of a RIFF/WAVE file; -1 for an empty file. Throws WaveFormatError or
// WaveFileError. Chunk sizes are taken as stored (no even padding).
int ReadSampleRate(const std::string& path);

// The channel count of the format chunk (the dialog refuses stereo files); same errors.
int ReadChannelCount(const std::string& path);

// What the stand-in voice encoder cannot take in a readable wave file, in words ("24-bit
// samples: the encoder takes 8- or 16-bit integer PCM", "sample rate 0", "no data chunk"),
// or an empty string when it can (or when the file is no wave file at all: its reading
// says so).
std::string EncoderObjection(const std::string& path);

class CWaveInfo {
 public:
  explicit CWaveInfo(const std::string& path = {})
      : path_(path), displayName_(ExtractFileName(path)) {}
  virtual ~CWaveInfo() = default;

  // Re-targets the object; throws as ReadSampleRate does (the fields are then unchanged).
  void SetFile(const std::string& path);

  std::string Path() const { return path_; }
  std::string DisplayName() const { return displayName_; }
  int CompressionBits() const { return compressionBits_; }
  void SetCompressionBits(int bits) { compressionBits_ = bits; }
  int SampleRate() const { return sampleRate_; }

 private:
  std::string path_;
  std::string displayName_;
  int compressionBits_ = 4;
  int sampleRate_ = 8000;
};

}  // namespace edog
