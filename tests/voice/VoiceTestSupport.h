#pragma once
// Helpers of the voice tests: wave files made in memory, a recording observer, the
// stream decoder and the quality measures.
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tools/VoiceGeneration.h"

namespace edog::test {

// A canonical 44-byte-header PCM wave file around `data`.
std::vector<uint8_t> MakeWave(uint32_t rate, uint16_t channels, uint16_t bits,
                              const std::vector<uint8_t>& data);
std::vector<uint8_t> MakeWave16(uint32_t rate, const std::vector<int16_t>& samples);
// A mono wave file whose data is a directive for the test encoder ("LEN=1000", "FAIL=3").
std::vector<uint8_t> DirectiveWave(const std::string& directive, uint32_t rate = 8000);
// What the test encoder writes for LEN=n.
std::vector<uint8_t> TestEncoded(size_t n);
std::string TestEncoderPath();

// Records the run's reports as "busy", "idle", "<p>%" and "<n> files"; failure texts apart
// (RunRecorded).
struct RecordingObserver : VoiceGenerationObserver {
  std::vector<std::string> events;
  std::vector<std::string> failures;
  std::function<void(const std::string&)> onEvent;  // runs after recording
  bool stop = false;
  void OnBusyChanged(bool busy) override { Record(busy ? "busy" : "idle"); }
  void OnProgress(long percent) override { Record(std::to_string(percent) + "%"); }
  void OnCompleted(long files) override { Record(std::to_string(files) + " files"); }
  bool StopRequested() override { return stop; }
  void Record(const std::string& event) {
    events.push_back(event);
    if (onEvent) onEvent(event);
  }
};

// The run, its failure text recorded with the observer's reports.
inline VoiceRunStatus RunRecorded(const VoiceGeneration& generation, uint32_t start,
                                  RecordingObserver& obs, const std::string& library) {
  const Result<VoiceRunStatus> result = RunVoiceGeneration(generation, start, obs, library);
  if (!result.message.empty()) obs.failures.push_back(result.message);
  return result.status;
}

// Reads `bits`-bit codes most significant bit first and decodes them with G.726 from its
// reset state: bytes × 8 / bits samples.
std::vector<int16_t> DecodeVoiceStream(const std::vector<uint8_t>& stream, int bits);

// SNR of `decoded` against `reference` over the reference's length, in dB.
double SnrDb(const std::vector<int16_t>& reference, const std::vector<int16_t>& decoded);
// Mean of per-frame SNRs (frames of `frame` samples, each clamped to -10..35 dB); frames
// quieter than -50 dBFS are left out.
double SegmentalSnrDb(const std::vector<int16_t>& reference, const std::vector<int16_t>& decoded,
                      size_t frame);

// Recorded speech (the ALSA channel names), resampled by sox to `rate` Hz, 16-bit mono,
// written into `dir`. Returns the paths.
std::vector<std::string> SpeechFiles(const std::string& dir, uint32_t rate, int bits = 16);
// Empty when SpeechFiles can work; else what is missing and how to get it, for a skip.
std::string SpeechMissing();

}  // namespace edog::test
