#pragma once
// A G.726 ADPCM decoder model at 32 and 24 kbit/s (4- and 3-bit codes) on 14-bit linear
// samples, written after the standard's fixed-point blocks. The encoder runs it to choose
// its codes by what decoders will reconstruct from them.
//
// Decoders in the field differ in one block: the scale factor mix, Y = AL·YU + (1 − AL)·YL.
// The standard truncates YL to its integer part and the product's magnitude toward zero;
// a common variant (ffmpeg's) keeps YL's six fraction bits and rounds the sum down. Each
// step differs by at most one unit, but the difference accumulates, so the two decoders'
// outputs drift apart on the same stream.
#include <cstdint>

namespace kova {

enum class ScaleMix { kStandard, kFractional };

class G726Decoder {
 public:
  G726Decoder(int bits, ScaleMix mix);

  // The 14-bit sample that `code` would reconstruct next; the state does not change.
  int Reconstruct(unsigned code) const;
  // Takes `code` as the next code and returns its 14-bit reconstructed sample.
  int Decode(unsigned code);

 private:
  void Predict();  // signal estimate and scale factor for the next code

  int bits_;
  ScaleMix mix_;
  const int16_t* dqln_;  // log magnitude of each code's quantized difference
  const int16_t* w_;     // scale factor multiplier of each code
  const int16_t* f_;     // speed control weight of each code

  // Adaptation state, in the standard's fixed-point units.
  int32_t yl_ = 34816;   // slow scale factor
  int yu_ = 544;         // fast scale factor
  int dms_ = 0, dml_ = 0, ap_ = 0;
  int a_[2] = {0, 0};
  int b_[6] = {0, 0, 0, 0, 0, 0};
  int pk_[2] = {0, 0};
  int16_t dq_[6] = {32, 32, 32, 32, 32, 32};  // past differences, 11-bit floating point
  int16_t sr_[2] = {32, 32};                  // past reconstructed samples, likewise
  int td_ = 0;

  // Prepared by Predict() for the next code.
  int se_ = 0, sez_ = 0, y_ = 0;
};

}  // namespace kova
