#include "G726.h"

#include <cstdlib>

namespace kova {
namespace {

// Per code: log magnitude of the quantized difference, scale factor multiplier and speed
// control weight, as the standard tabulates them for 32 and 24 kbit/s.
constexpr int16_t kDqln32[16] = {-2048, 4,   135, 213, 273, 323, 373, 425,
                                 425,   373, 323, 273, 213, 135, 4,   -2048};
constexpr int16_t kW32[16] = {-12,  18,  41,  64,  112, 198, 355, 1122,
                              1122, 355, 198, 112, 64,  41,  18,  -12};
constexpr int16_t kF32[16] = {0, 0, 0, 1, 1, 1, 3, 7, 7, 3, 1, 1, 1, 0, 0, 0};
constexpr int16_t kDqln24[8] = {-2048, 135, 273, 373, 373, 273, 135, -2048};
constexpr int16_t kW24[8] = {-4, 30, 137, 582, 582, 137, 30, -4};
constexpr int16_t kF24[8] = {0, 1, 2, 7, 7, 2, 1, 0};

// Number of bits of a magnitude below 2^15 (0 for 0): the exponent of the floating formats.
int Exponent(int magnitude) {
  int e = 0;
  while (e < 15 && (1 << e) <= magnitude) ++e;
  return e;
}

// An 11-bit floating-point value (sign, 4-bit exponent, 6-bit mantissa) as the predictor
// keeps its past samples; a negative value carries the sign.
int16_t ToFloat(int value) {
  if (value == 0) return 32;
  const int magnitude = value < 0 ? -value : value;
  const int e = Exponent(magnitude);
  const int f = (e << 6) + ((magnitude << 6) >> e);
  return static_cast<int16_t>(value < 0 ? f - 0x400 : f);
}

// FMULT: a predictor coefficient (already shifted to 14 bits) times a floating sample.
int FloatMultiply(int an, int srn) {
  const int anmag = an > 0 ? an : ((-an) & 0x1FFF);
  const int anexp = Exponent(anmag) - 6;
  const int anmant = anmag == 0 ? 32 : anexp >= 0 ? anmag >> anexp : anmag << -anexp;
  const int wanexp = anexp + ((srn >> 6) & 0xF) - 13;
  const int wanmant = (anmant * (srn & 077) + 0x30) >> 4;
  const int product = wanexp >= 0 ? ((wanmant << wanexp) & 0x7FFF) : (wanmant >> -wanexp);
  return (an ^ srn) < 0 ? -product : product;
}

}  // namespace

G726Decoder::G726Decoder(int bits, ScaleMix mix)
    : bits_(bits == 3 ? 3 : 4),
      mix_(mix),
      dqln_(bits_ == 4 ? kDqln32 : kDqln24),
      w_(bits_ == 4 ? kW32 : kW24),
      f_(bits_ == 4 ? kF32 : kF24) {
  Predict();
}

void G726Decoder::Predict() {
  int zero = 0;
  for (int i = 0; i < 6; ++i) zero += FloatMultiply(b_[i] >> 2, dq_[i]);
  sez_ = zero >> 1;
  se_ = (zero + FloatMultiply(a_[1] >> 2, sr_[1]) + FloatMultiply(a_[0] >> 2, sr_[0])) >> 1;

  if (mix_ == ScaleMix::kFractional) {
    const int al = ap_ >= 256 ? 64 : ap_ >> 2;
    y_ = static_cast<int>((yl_ + static_cast<int32_t>(yu_ - (yl_ >> 6)) * al) >> 6);
  } else if (ap_ >= 256) {
    y_ = yu_;
  } else {
    const int ylInt = static_cast<int>(yl_ >> 6);
    const int dif = yu_ - ylInt;
    const int al = ap_ >> 2;
    // The product's magnitude is truncated: toward zero for either sign.
    y_ = ylInt + (dif >= 0 ? (dif * al) >> 6 : -((-dif * al) >> 6));
  }
}

// The quantized difference in sign-magnitude form (negative when the sign bit is set) and
// the reconstructed sample for one code.
static void Inverse(unsigned code, int bits, const int16_t* dqln, int y, int se, int& dq,
                    int& sr) {
  const bool negative = (code >> (bits - 1)) & 1u;
  const int dql = dqln[code] + (y >> 2);
  int magnitude = 0;
  if (dql >= 0) {
    const int dex = (dql >> 7) & 15;
    const int dqt = 128 + (dql & 127);
    magnitude = (dqt << 7) >> (14 - dex);
  }
  dq = negative ? magnitude - 0x8000 : magnitude;
  sr = negative ? se - magnitude : se + magnitude;
}

int G726Decoder::Reconstruct(unsigned code) const {
  int dq = 0, sr = 0;
  Inverse(code & ((1u << bits_) - 1), bits_, dqln_, y_, se_, dq, sr);
  return sr;
}

int G726Decoder::Decode(unsigned code) {
  code &= (1u << bits_) - 1;
  int dq = 0, sr = 0;
  Inverse(code, bits_, dqln_, y_, se_, dq, sr);
  const int dqsez = sr + sez_ - se_;
  const int magnitude = dq & 0x7FFF;
  const bool pk0 = dqsez < 0;

  // Transition detector: a large difference after a tone resets the predictor.
  const int ylint = static_cast<int>(yl_ >> 15);
  const int ylfrac = static_cast<int>(yl_ >> 10) & 0x1F;
  const int thr = ylint > 9 ? 31 << 10 : (32 + ylfrac) << ylint;
  const bool tr = td_ != 0 && magnitude > ((thr + (thr >> 1)) >> 1);

  // Scale factors.
  yu_ = y_ + ((w_[code] * 32 - y_) >> 5);
  if (yu_ < 544) yu_ = 544;
  if (yu_ > 5120) yu_ = 5120;
  yl_ += yu_ + ((-yl_) >> 6);

  // Predictor coefficients.
  int a2p = 0;
  if (tr) {
    a_[0] = a_[1] = 0;
    for (int& b : b_) b = 0;
  } else {
    const bool pks1 = pk0 != (pk_[0] != 0);
    a2p = a_[1] - (a_[1] >> 7);
    if (dqsez != 0) {
      const int fa1 = pks1 ? a_[0] : -a_[0];
      if (fa1 < -8191) {
        a2p -= 0x100;
      } else if (fa1 > 8191) {
        a2p += 0xFF;
      } else {
        a2p += fa1 >> 5;
      }
      if (pk0 != (pk_[1] != 0)) {
        if (a2p <= -12160) {
          a2p = -12288;
        } else if (a2p >= 12416) {
          a2p = 12288;
        } else {
          a2p -= 0x80;
        }
      } else if (a2p <= -12416) {
        a2p = -12288;
      } else if (a2p >= 12160) {
        a2p = 12288;
      } else {
        a2p += 0x80;
      }
    }
    a_[1] = a2p;
    a_[0] -= a_[0] >> 8;
    if (dqsez != 0) a_[0] += pks1 ? -192 : 192;
    const int a1ul = 15360 - a2p;
    if (a_[0] < -a1ul) a_[0] = -a1ul;
    if (a_[0] > a1ul) a_[0] = a1ul;
    for (int i = 0; i < 6; ++i) {
      b_[i] -= b_[i] >> 8;
      if (magnitude != 0) b_[i] += (dq ^ dq_[i]) >= 0 ? 128 : -128;
    }
  }

  // Past differences and samples, in floating point.
  for (int i = 5; i > 0; --i) dq_[i] = dq_[i - 1];
  dq_[0] = magnitude == 0 ? static_cast<int16_t>(dq >= 0 ? 32 : 0xFC20 - 0x10000)
                          : ToFloat(dq >= 0 ? magnitude : -magnitude);
  sr_[1] = sr_[0];
  sr_[0] = sr > -32768 ? ToFloat(sr) : static_cast<int16_t>(0xFC20 - 0x10000);
  pk_[1] = pk_[0];
  pk_[0] = pk0 ? 1 : 0;

  // Tone detector and adaptation speed control.
  td_ = tr ? 0 : (a2p < -11776 ? 1 : 0);
  const int fi = f_[code] << 9;
  dms_ += (fi - dms_) >> 5;
  dml_ += ((fi << 2) - dml_) >> 7;
  if (tr) {
    ap_ = 256;
  } else if (y_ < 1536 || td_ || std::abs((dms_ << 2) - dml_) >= (dml_ >> 3)) {
    ap_ += (0x200 - ap_) >> 4;
  } else {
    ap_ += (-ap_) >> 4;
  }

  Predict();
  return sr;
}

}  // namespace kova
