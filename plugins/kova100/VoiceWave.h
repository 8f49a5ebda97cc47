#pragma once
// Input side of the stand-in voice encoder: mono 8- or 16-bit integer PCM from a
// RIFF/WAVE file, and the error codes the `Encoder` export returns.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kova {

enum EncoderError : int {
  kEncoderOk = 0,
  kBadArguments = 1,       // argument count, vector or bits switch ("-4"/"-3") wrong
  kCannotReadInput = 2,    // the input file cannot be opened or read
  kNotWave = 3,            // not RIFF/WAVE, or no "fmt " or "data" chunk inside the file
  kNotMono = 4,            // two or more channels
  kUnsupportedFormat = 5,  // not 8- or 16-bit integer PCM, or no channel/rate
  kCannotWriteOutput = 6,  // the output file cannot be created or written
  kCodecFailure = 7,       // the codec could not be set up (out of memory)
};

struct PcmWave {
  uint32_t sampleRate = 0;
  std::vector<int16_t> samples;  // 8-bit input scaled to 16 bits
};

// Walks the chunks (odd sizes padded to even as RIFF wants); a data chunk longer than the
// file is taken as far as the file goes. Returns an EncoderError.
int ParsePcmWave(const uint8_t* data, size_t size, PcmWave& out);
int ReadPcmWave(const std::string& path, PcmWave& out);

// Codes of `bits` bits each, most significant bit first, the first code in the high bits
// of the first byte; a last partial byte is filled with zero bits.
std::vector<uint8_t> PackCodes(const uint8_t* codes, size_t count, int bits);
// The reverse: every whole code of a packed stream (bytes x 8 / bits of them).
std::vector<uint8_t> UnpackCodes(const uint8_t* stream, size_t bytes, int bits);

}  // namespace kova
