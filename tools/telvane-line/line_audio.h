// One direction of the telephone line between two fax devices: a fixed
// one-way delay and, when asked for, white noise at a level in dBm0.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/telvane-line/line_spandsp.h"

namespace tv::line {

constexpr int kSampleRate = 8000;

class TTvLineAudio {
 public:
  // delaySamples 0 passes audio straight through; noise off when noiseDbm0
  // is not set (withNoise false).
  TTvLineAudio(int delaySamples, bool withNoise, float noiseDbm0, int seed);
  ~TTvLineAudio();
  TTvLineAudio(const TTvLineAudio&) = delete;
  TTvLineAudio& operator=(const TTvLineAudio&) = delete;

  // out[i] is in[i] as it arrives delaySamples later, plus noise.
  void Pass(const int16_t* in, int16_t* out, int n);

 private:
  std::vector<int16_t> ring_;
  size_t pos_ = 0;
  awgn_state_t* noise_ = nullptr;
};

}  // namespace tv::line
