// The designed decoding tables and the decoder that walks them one bit per
// step. It is the measure of the fast decoder in t4_decoder.cpp.
#include <cstring>
#include <unordered_map>

#include "images/t4/t4_codes.h"
#include "images/t4/t4_decoder.h"

namespace tv::t4 {

namespace {

constexpr int kMaxTreeNodes = 307;
constexpr int kMaxCodeBits = 13;
constexpr int kRunLeaf = -1;
constexpr int kEolLeaf = -2;

DecodeTree BuildTree(const T4Code* terminating, const T4Code* makeUp) {
  // Codes by (length, value); the value is the run, or -1 for the EOL.
  std::unordered_map<uint32_t, int> codes;
  auto key = [](uint32_t value, int length) { return (static_cast<uint32_t>(length) << 16) | value; };
  for (int i = 0; i < 64; ++i) codes[key(terminating[i].value, terminating[i].length)] = i;
  for (int i = 0; i < 40; ++i) codes[key(makeUp[i].value, makeUp[i].length)] = 64 * (i + 1);
  codes[key(kEol.value, kEol.length)] = -1;

  DecodeTree tree;
  tree.zero.assign(1, 0);
  tree.one.assign(1, 0);
  // Depth first, 0 before 1, every bit string up to 13 bits.
  struct Walker {
    DecodeTree& tree;
    std::unordered_map<uint32_t, int>& codes;
    decltype(key)& k;
    void Walk(uint32_t prefix, int length, int parent) {
      for (uint32_t bit = 0; bit < 2; ++bit) {
        const uint32_t s = (prefix << 1) | bit;
        const int n = length + 1;
        if (n > kMaxCodeBits) continue;
        if (static_cast<int>(tree.zero.size()) >= kMaxTreeNodes) continue;  // no node
        const int idx = static_cast<int>(tree.zero.size());
        tree.zero.push_back(0);
        tree.one.push_back(0);
        (bit ? tree.one : tree.zero)[parent] = idx;
        auto it = codes.find(k(s, n));
        if (it != codes.end()) {
          if (it->second < 0) {
            tree.zero[idx] = kEolLeaf;
          } else {
            tree.zero[idx] = kRunLeaf;
            tree.one[idx] = it->second;
          }
        } else {
          Walk(s, n, idx);
        }
      }
    }
  } walker{tree, codes, key};
  walker.Walk(0, 0, 0);
  // Node 11 is eleven 0 bits: further 0 bits stay there, a 1 ends the EOL.
  tree.zero[11] = 11;
  return tree;
}

}  // namespace

const DecodeTree& WhiteTree() {
  static const DecodeTree tree = BuildTree(kWhiteTerminating, kWhiteMakeUp);
  return tree;
}

const DecodeTree& BlackTree() {
  static const DecodeTree tree = BuildTree(kBlackTerminating, kBlackMakeUp);
  return tree;
}

T4ReferenceDecoder::T4ReferenceDecoder() {
  std::memset(line_, 0, sizeof line_);
  StartPage();
}

void T4ReferenceDecoder::StartPage() {
  std::memset(line_, 0, sizeof line_);
  node_ = 0;
  colour_ = 0;
  waiting_ = true;
  skipOnes_ = false;
  ended_ = false;
  eolRun_ = 0;
  pos_ = 0;
  badCodes_ = 0;
}

FeedResult T4ReferenceDecoder::Feed(const uint8_t* data, size_t length, LineSink& sink) {
  if (ended_) return FeedResult::kPageEnd;
  const DecodeTree* trees[2] = {&WhiteTree(), &BlackTree()};
  for (size_t i = 0; i < length; ++i) {
    bool stop = false;
    for (int b = 0; b < 8; ++b) {
      const int bit = (data[i] >> b) & 1;
      if (skipOnes_) {
        if (bit) continue;
        skipOnes_ = false;
      }
      const DecodeTree& t = *trees[colour_];
      const int next = bit ? t.one[node_] : t.zero[node_];
      if (t.zero[next] == kRunLeaf) {
        const int run = t.one[next];
        node_ = 0;
        eolRun_ = 0;
        if (waiting_) continue;
        if (pos_ + run > kMaxLinePixels) continue;
        if (colour_) {
          for (int p = pos_; p < pos_ + run; ++p) line_[p >> 3] |= static_cast<uint8_t>(0x80 >> (p & 7));
        }
        pos_ += run;
        if (run < 64) colour_ ^= 1;
      } else if (t.zero[next] == kEolLeaf) {
        node_ = 0;
        eolRun_ += 1;
        if (waiting_) {
          waiting_ = false;
        } else if (!stop) {
          const int bytes = pos_ >> 3;
          if (pos_ > 0 && (bytes == 216 || bytes == 256)) {
            if (!sink.Line(line_, bytes)) stop = true;
          }
        }
        std::memset(line_, 0, static_cast<size_t>((pos_ + 7) >> 3));
        pos_ = 0;
        colour_ = 0;
        if (eolRun_ >= 3) {
          ended_ = true;
          return FeedResult::kPageEnd;
        }
      } else if (t.zero[next] == 0) {
        // No code continues here.
        badCodes_ += 1;
        node_ = 0;
        skipOnes_ = true;
      } else {
        node_ = next;
      }
    }
    // An abort ends the page after the byte in which it was asked for.
    if (stop) return FeedResult::kStopped;
  }
  return FeedResult::kNeedMore;
}

}  // namespace tv::t4
