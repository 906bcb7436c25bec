#include "tools/telvane-line/line_audio.h"

#include <algorithm>

namespace tv::line {

TTvLineAudio::TTvLineAudio(int delaySamples, bool withNoise, float noiseDbm0, int seed)
    : ring_(static_cast<size_t>(std::max(delaySamples, 0)), int16_t{0}) {
  if (withNoise) noise_ = awgn_init_dbm0(nullptr, seed, noiseDbm0);
}

TTvLineAudio::~TTvLineAudio() {
  if (noise_ != nullptr) awgn_free(noise_);
}

void TTvLineAudio::Pass(const int16_t* in, int16_t* out, int n) {
  for (int i = 0; i < n; ++i) {
    int16_t sample = in[i];
    if (!ring_.empty()) {
      const int16_t delayed = ring_[pos_];
      ring_[pos_] = sample;
      pos_ = (pos_ + 1) % ring_.size();
      sample = delayed;
    }
    if (noise_ != nullptr) {
      const int mixed = sample + awgn(noise_);
      sample = static_cast<int16_t>(std::clamp(mixed, -32768, 32767));
    }
    out[i] = sample;
  }
}

}  // namespace tv::line
