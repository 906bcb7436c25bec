// The fast decoder: one table look-up of up to 13 bits per code, runs of
// black filled a byte at a time. Its tables are derived from the designed
// code trees (t4_reference_decoder.cpp), so both decoders read every bit
// pattern alike.
#include <cstring>

#include "images/t4/t4_decoder.h"

namespace tv::t4 {

namespace {

enum Kind : uint8_t { kTerm, kMakeUp, kEol, kDead, kZeroRun };

struct Entry {
  uint8_t kind;
  uint8_t length;  // bits consumed
  uint16_t run;
};

constexpr int kPeekBits = 13;

struct FastTables {
  Entry e[2][1 << kPeekBits];
};

// What the designed tree does from its root with the 13 bits of `s` (the
// first bit in bit 0).
Entry Classify(const DecodeTree& t, unsigned s) {
  int node = 0;
  for (int i = 0; i < kPeekBits; ++i) {
    const int bit = (s >> i) & 1;
    const int next = bit ? t.one[node] : t.zero[node];
    if (t.zero[next] == -1) {
      const int run = t.one[next];
      return {static_cast<uint8_t>(run < 64 ? kTerm : kMakeUp), static_cast<uint8_t>(i + 1),
              static_cast<uint16_t>(run)};
    }
    if (t.zero[next] == -2) return {kEol, static_cast<uint8_t>(i + 1), 0};
    if (t.zero[next] == 0) return {kDead, static_cast<uint8_t>(i + 1), 0};
    if (next == 11 && i == 10) return {kZeroRun, 11, 0};  // eleven 0 bits
    node = next;
  }
  return {kDead, kPeekBits, 0};  // not reached: 13-bit strings end in a leaf
}

const FastTables& Tables() {
  static const FastTables* tables = [] {
    auto* t = new FastTables;
    const DecodeTree* trees[2] = {&WhiteTree(), &BlackTree()};
    for (int c = 0; c < 2; ++c)
      for (unsigned s = 0; s < (1u << kPeekBits); ++s) t->e[c][s] = Classify(*trees[c], s);
    return t;
  }();
  return *tables;
}

inline void FillBlack(uint8_t* line, int pos, int n) {
  const int end = pos + n;
  const int b0 = pos >> 3;
  const int b1 = end >> 3;
  if (b0 == b1) {
    line[b0] |= static_cast<uint8_t>((0xFFu >> (pos & 7)) & ~(0xFFu >> (end & 7)));
    return;
  }
  line[b0] |= static_cast<uint8_t>(0xFFu >> (pos & 7));
  if (b1 - b0 > 1) std::memset(line + b0 + 1, 0xFF, static_cast<size_t>(b1 - b0 - 1));
  if (end & 7) line[b1] |= static_cast<uint8_t>(~(0xFFu >> (end & 7)));
}

}  // namespace

T4Decoder::T4Decoder() {
  Tables();
  std::memset(line_, 0, sizeof line_);
  StartPage();
}

void T4Decoder::StartPage() {
  std::memset(line_, 0, sizeof line_);
  acc_ = 0;
  nbits_ = 0;
  in_ = inEnd_ = nullptr;
  mode_ = kCodes;
  colour_ = 0;
  waiting_ = true;
  ended_ = false;
  eolRun_ = 0;
  pos_ = 0;
  badCodes_ = 0;
}

// An EOL: closes the line; true when decoding goes on.
bool T4Decoder::Eol(LineSink& sink, FeedResult& result) {
  eolRun_ += 1;
  bool keepGoing = true;
  if (waiting_) {
    waiting_ = false;
  } else {
    const int bytes = pos_ >> 3;
    if (pos_ > 0 && (bytes == 216 || bytes == 256)) keepGoing = sink.Line(line_, bytes);
  }
  std::memset(line_, 0, static_cast<size_t>((pos_ + 7) >> 3));
  pos_ = 0;
  colour_ = 0;
  if (eolRun_ >= 3) {
    ended_ = true;
    result = FeedResult::kPageEnd;
    return false;
  }
  if (!keepGoing) {
    result = FeedResult::kStopped;
    return false;
  }
  return true;
}

FeedResult T4Decoder::Feed(const uint8_t* data, size_t length, LineSink& sink) {
  if (ended_) return FeedResult::kPageEnd;
  in_ = data;
  inEnd_ = data + length;
  return Run(sink, false);
}

FeedResult T4Decoder::Finish(LineSink& sink) {
  if (ended_) return FeedResult::kPageEnd;
  in_ = inEnd_ = nullptr;
  return Run(sink, true);
}

FeedResult T4Decoder::Run(LineSink& sink, bool final) {
  const FastTables& tables = Tables();
  FeedResult result = FeedResult::kNeedMore;
  for (;;) {
    // Refill: the waiting bits stay below bit nbits_, zeros above.
    if (inEnd_ - in_ >= 8) {
      uint64_t v;
      std::memcpy(&v, in_, 8);
      const int take = (63 - nbits_) >> 3;
      if (take > 0) {
        const int total = nbits_ + take * 8;
        v <<= nbits_;
        if (total < 64) v &= (uint64_t{1} << total) - 1;
        acc_ |= v;
        in_ += take;
        nbits_ = total;
      }
    } else {
      while (nbits_ <= 55 && in_ < inEnd_) {
        acc_ |= static_cast<uint64_t>(*in_++) << nbits_;
        nbits_ += 8;
      }
    }
    if (nbits_ == 0) return FeedResult::kNeedMore;

    if (mode_ == kSkipOnes) {
      const uint64_t inv = ~acc_;
      const int ones = inv ? __builtin_ctzll(inv) : 64;
      if (ones >= nbits_) {
        acc_ = 0;
        nbits_ = 0;
        if (in_ == inEnd_) return FeedResult::kNeedMore;
        continue;
      }
      acc_ >>= ones;
      nbits_ -= ones;
      mode_ = kCodes;
    } else if (mode_ == kZeros) {
      const int zeros = acc_ ? __builtin_ctzll(acc_) : 64;
      if (zeros >= nbits_) {
        acc_ = 0;
        nbits_ = 0;
        if (in_ == inEnd_) return FeedResult::kNeedMore;
        continue;
      }
      acc_ >>= zeros + 1;
      nbits_ -= zeros + 1;
      mode_ = kCodes;
      if (!Eol(sink, result)) return result;
    }

    // Codes while at least 13 bits wait (fewer only at the end of the data).
    // The hot state lives in locals: stores into the line may alias members.
    uint64_t acc = acc_;
    int nbits = nbits_;
    int pos = pos_;
    int colour = colour_;
    const bool waiting = waiting_;
    bool run = false;
    while (nbits >= kPeekBits || (final && nbits > 0)) {
      const Entry e = tables.e[colour][acc & ((1u << kPeekBits) - 1)];
      if (e.length > nbits) {
        acc_ = acc;
        nbits_ = nbits;
        pos_ = pos;
        colour_ = colour;
        if (run) eolRun_ = 0;
        return FeedResult::kNeedMore;  // the data ends inside a code
      }
      acc >>= e.length;
      nbits -= e.length;
      if (e.kind <= kMakeUp) {
        run = true;
        if (waiting || pos + e.run > kMaxLinePixels) continue;
        if (colour && e.run) FillBlack(line_, pos, e.run);
        pos += e.run;
        if (e.kind == kTerm) colour ^= 1;
        continue;
      }
      acc_ = acc;
      nbits_ = nbits;
      pos_ = pos;
      colour_ = colour;
      if (run) eolRun_ = 0;
      run = false;
      if (e.kind == kEol) {
        if (!Eol(sink, result)) return result;
        pos = pos_;
        colour = colour_;
        if (waiting_ != waiting) break;  // the first EOL: runs count from here
        continue;
      }
      if (e.kind == kDead) {
        badCodes_ += 1;
        mode_ = kSkipOnes;
      } else {
        mode_ = kZeros;
      }
      break;
    }
    acc_ = acc;
    nbits_ = nbits;
    pos_ = pos;
    colour_ = colour;
    if (run) eolRun_ = 0;
    if (mode_ == kCodes && (nbits_ < kPeekBits) && in_ == inEnd_) {
      return FeedResult::kNeedMore;
    }
  }
}

}  // namespace tv::t4
