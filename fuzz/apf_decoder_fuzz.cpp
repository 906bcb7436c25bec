// The fast decoder against the designed one-bit-per-step decoder on
// arbitrary page data: both must pass on the same lines.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "images/t4/t4_decoder.h"

namespace {

struct Lines : tv::t4::LineSink {
  std::vector<uint8_t> all;
  int count = 0;
  int stopAfter = -1;
  bool Line(const uint8_t* line, int bytes) override {
    all.insert(all.end(), line, line + bytes);
    ++count;
    return stopAfter < 0 || count < stopAfter;
  }
};

template <class D>
tv::t4::FeedResult Run(D& d, const uint8_t* data, size_t size, size_t chunk, Lines& sink) {
  d.StartPage();
  tv::t4::FeedResult r = tv::t4::FeedResult::kNeedMore;
  for (size_t i = 0; i < size && r == tv::t4::FeedResult::kNeedMore; i += chunk) {
    r = d.Feed(data + i, size - i < chunk ? size - i : chunk, sink);
  }
  if (r == tv::t4::FeedResult::kNeedMore) r = d.Finish(sink);
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static tv::t4::T4Decoder fast;
  static tv::t4::T4ReferenceDecoder reference;
  const size_t chunk = 1 + data[0] % 64;
  const int stopAfter = data[1] % 8 == 0 ? 1 + data[1] / 8 : -1;
  Lines a, b;
  a.stopAfter = b.stopAfter = stopAfter;
  const auto rf = Run(fast, data + 2, size - 2, chunk, a);
  const auto rr = Run(reference, data + 2, size - 2, size, b);
  if (a.count != b.count || a.all != b.all || fast.BadCodes() != reference.BadCodes()) std::abort();
  if ((rf == tv::t4::FeedResult::kNeedMore) != (rr == tv::t4::FeedResult::kNeedMore)) std::abort();
  return 0;
}
