// Decoding of T.4 one-dimensional page data (least significant bit first)
// into raster lines, by the reading rules of APF pages:
//
//  1. Decoding starts in the white table, waiting for the first EOL; runs
//     before it are passed over.
//  2. Each EOL closes the line being built. The line is passed on only when
//     its decoded position lies within byte 216 or byte 256 (1728..1735 or
//     2048..2055 pixels); other lines are dropped. The next line starts white.
//  3. A terminating code switches the colour, a make-up code does not. A run
//     that would carry the line beyond 4096 pixels is ignored.
//  4. A bit pattern that is no code (13 bits that start no code) counts one
//     bad code and restarts at the root of the current table; 1 bits are then
//     passed over up to the next 0 bit, the start of the next EOL. Eleven or
//     more 0 bits followed by a 1 are one EOL.
//  5. The page ends at the third EOL in a row with no run between them.
//
// Two decoders follow these rules: T4Decoder looks up up to 13 bits in one
// step and fills runs a byte or more at a time; T4ReferenceDecoder walks the
// designed code trees one bit per step. Both give the same lines for any
// input; the tests and the fuzz target hold them to that.
//
// Lines: bit 7 of byte 0 is the leftmost pixel, 1 = black. Neither decoder
// allocates memory while decoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tv::t4 {

constexpr int kMaxLinePixels = 4096;
constexpr int kLineBufferBytes = 512;

// Receives every line that passes the width rule: the line buffer and the
// byte count (216 or 256). Returns false to stop decoding (abort).
class LineSink {
 public:
  virtual ~LineSink() = default;
  virtual bool Line(const uint8_t* line, int bytes) = 0;
};

enum class FeedResult {
  kNeedMore,  // all given bytes are used; the page goes on
  kPageEnd,   // the third EOL in a row was read
  kStopped,   // the sink asked to stop
};

class T4Decoder {
 public:
  T4Decoder();
  // Starts a page: white, waiting for the first EOL, nothing decoded.
  void StartPage();
  // Decodes the bytes (continuing the bit stream of earlier calls). Bits of
  // a code that continues beyond the given bytes wait for the next call.
  FeedResult Feed(const uint8_t* data, size_t length, LineSink& sink);
  // The data has ended: decodes what the waiting bits hold.
  FeedResult Finish(LineSink& sink);
  int BadCodes() const { return badCodes_; }

 private:
  enum Mode : uint8_t { kCodes, kSkipOnes, kZeros };
  FeedResult Run(LineSink& sink, bool final);
  bool Eol(LineSink& sink, FeedResult& result);

  uint64_t acc_ = 0;  // waiting bits, next bit in bit 0
  int nbits_ = 0;
  const uint8_t* in_ = nullptr;
  const uint8_t* inEnd_ = nullptr;
  Mode mode_ = kCodes;
  int colour_ = 0;  // 0 white, 1 black
  bool waiting_ = true;
  bool ended_ = false;
  int eolRun_ = 0;
  int pos_ = 0;  // pixels decoded in the current line
  int badCodes_ = 0;
  alignas(8) uint8_t line_[kLineBufferBytes + 16];
};

// The decoding tables as designed: 307 nodes at most per colour, a node two
// 32-bit entries. First entry: index of the 0-child, -1 run leaf, -2 EOL
// leaf, 0 dead end; second entry: index of the 1-child or the run length.
struct DecodeTree {
  std::vector<int32_t> zero;
  std::vector<int32_t> one;
};
const DecodeTree& WhiteTree();
const DecodeTree& BlackTree();

class T4ReferenceDecoder {
 public:
  T4ReferenceDecoder();
  void StartPage();
  FeedResult Feed(const uint8_t* data, size_t length, LineSink& sink);
  FeedResult Finish(LineSink&) { return ended_ ? FeedResult::kPageEnd : FeedResult::kNeedMore; }
  int BadCodes() const { return badCodes_; }

 private:
  int node_ = 0;
  int colour_ = 0;
  bool waiting_ = true;
  bool skipOnes_ = false;
  bool ended_ = false;
  int eolRun_ = 0;
  int pos_ = 0;
  int badCodes_ = 0;
  uint8_t line_[kLineBufferBytes];
};

}  // namespace tv::t4
