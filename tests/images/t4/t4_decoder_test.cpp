// The reading rules of page data, and the fast decoder held to the designed
// one-bit-per-step decoder on the same input.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "images/t4/t4_decoder.h"
#include "tests/images/t4/raster_pages.h"
#include "tests/images/t4/t4_bits.h"

namespace tv::t4 {
namespace {

using testbits::BitStream;

struct Collected : LineSink {
  std::vector<std::vector<uint8_t>> lines;
  int stopAfter = -1;
  bool Line(const uint8_t* line, int bytes) override {
    lines.emplace_back(line, line + bytes);
    return stopAfter < 0 || static_cast<int>(lines.size()) < stopAfter;
  }
};

struct Outcome {
  std::vector<std::vector<uint8_t>> lines;
  FeedResult result;
  int badCodes;
};

template <class Decoder>
Outcome Decode(const std::vector<uint8_t>& data, size_t chunk, int stopAfter = -1) {
  Decoder d;
  d.StartPage();
  Collected sink;
  sink.stopAfter = stopAfter;
  FeedResult r = FeedResult::kNeedMore;
  for (size_t i = 0; i < data.size() && r == FeedResult::kNeedMore; i += chunk) {
    r = d.Feed(data.data() + i, std::min(chunk, data.size() - i), sink);
  }
  if (r == FeedResult::kNeedMore) r = d.Finish(sink);
  return {sink.lines, r, d.BadCodes()};
}

// The line that runs (alternating, starting white) decode to: width / 8
// bytes, as the decoder passes them on.
std::vector<uint8_t> LineOf(const std::vector<int>& runs) {
  int width = 0;
  for (int r : runs) width += r;
  std::vector<uint8_t> line(static_cast<size_t>(width / 8), 0);
  int x = 0;
  bool black = false;
  for (int r : runs) {
    for (int i = 0; i < r; ++i, ++x)
      if (black && x < width / 8 * 8) line[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    black = !black;
  }
  return line;
}

TEST(T4Decoder, DesignedTreesHaveTheirShape) {
  for (const DecodeTree* t : {&WhiteTree(), &BlackTree()}) {
    EXPECT_LE(t->zero.size(), 307u);
    // Node 11 is eleven 0 bits: a 0 stays there, a 1 completes an EOL.
    EXPECT_EQ(t->zero[11], 11);
    EXPECT_EQ(t->zero[t->one[11]], -2);
  }
}

struct RuleCase {
  const char* name;
  BitStream stream;
  std::vector<std::vector<int>> lines;  // expected runs of each passed line
  int badCodes;
};

TEST(T4Decoder, ReadingRules) {
  std::vector<RuleCase> cases;
  cases.push_back({"plain lines", BitStream().Line({1728}).Line({10, 20, 1698}).Rtc(),
                   {{1728}, {10, 20, 1698}}, 0});
  cases.push_back({"twelve and more zeros before an EOL",
                   BitStream().Bits("000000000000000000000001").Code(kWhiteMakeUp[26])
                       .Code(kWhiteTerminating[0]).Bits("00000000000000001").Rtc(),
                   {{1728}}, 0});
  cases.push_back({"1727 and 1800 pixels are dropped, 1735 is kept",
                   BitStream().Line({1727}).Line({1800}).Line({1700, 35}).Line({1728}).Rtc(),
                   {{1700, 35}, {1728}}, 0});
  cases.push_back({"2048-pixel lines", BitStream().Line({0, 2048}).Line({2047, 1}).Rtc(),
                   {{0, 2048}, {2047, 1}}, 0});
  cases.push_back({"runs before the first EOL are passed over",
                   BitStream().Run(false, 100).Run(false, 1628).Line({5, 1723}).Rtc(), {{5, 1723}}, 0});
  cases.push_back({"a make-up code keeps the colour",
                   BitStream().Eol().Code(kWhiteMakeUp[0]).Code(kWhiteMakeUp[0])
                       .Code(kWhiteTerminating[5]).Run(true, 1595).Rtc(),
                   {{133, 1595}}, 0});
  cases.push_back({"a run beyond 4096 pixels is ignored",
                   BitStream().Eol().Code(kWhiteMakeUp[26]).Code(kWhiteMakeUp[39])
                       .Code(kWhiteTerminating[0]).Rtc(),
                   {{1728}}, 0});
  cases.push_back({"a bad code resynchronises on the zeros of the next EOL",
                   BitStream().Line({100}).Bits("0000000011111111").Line({1728}).Rtc(),
                   {{1728}}, 1});
  cases.push_back({"the page ends at the third EOL in a row",
                   BitStream().Line({1728}).Eol().Eol().Eol().Line({1728}).Rtc(), {{1728}}, 0});
  cases.push_back({"two EOLs in a row do not end the page",
                   BitStream().Line({1728}).Eol().Line({1728}).Rtc(), {{1728}, {1728}}, 0});
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome fast = Decode<T4Decoder>(c.stream.Bytes(), 4096);
    const Outcome ref = Decode<T4ReferenceDecoder>(c.stream.Bytes(), 4096);
    ASSERT_EQ(fast.lines.size(), c.lines.size());
    for (size_t i = 0; i < c.lines.size(); ++i) EXPECT_EQ(fast.lines[i], LineOf(c.lines[i])) << i;
    EXPECT_EQ(fast.result, FeedResult::kPageEnd);
    EXPECT_EQ(fast.badCodes, c.badCodes);
    EXPECT_EQ(fast.lines, ref.lines);
    EXPECT_EQ(fast.badCodes, ref.badCodes);
    EXPECT_EQ(fast.result, ref.result);
  }
}

// Streams that mix real lines with damage: flipped bits, cut bytes, runs of
// ones and zeros, random bytes.
std::vector<uint8_t> DamagedStream(std::mt19937& rng) {
  BitStream s;
  const auto page = testpages::EdgeCases(rng() % 2 ? 1728 : 2048, rng());
  for (int y = 0; y < page.height; ++y) {
    s.Eol();
    std::vector<int> runs;
    bool black = false;
    int n = 0;
    for (int x = 0; x < page.width; ++x) {
      const bool b = (page.Row(y)[x >> 3] >> (7 - (x & 7))) & 1;
      if (b != black) {
        s.Run(black, n);
        n = 0;
        black = b;
      }
      ++n;
    }
    s.Run(black, n);
    if (rng() % 5 == 0) s.Eol();
  }
  s.Rtc();
  std::vector<uint8_t> bytes = s.Bytes();
  const int damage = static_cast<int>(rng() % 40);
  for (int i = 0; i < damage; ++i) {
    const size_t at = rng() % bytes.size();
    switch (rng() % 4) {
      case 0: bytes[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
      case 1: bytes[at] = static_cast<uint8_t>(rng()); break;
      case 2: bytes[at] = 0xFF; break;
      case 3: bytes[at] = 0x00; break;
    }
  }
  if (rng() % 4 == 0) bytes.resize(rng() % bytes.size());
  return bytes;
}

TEST(T4Decoder, FastDecoderEqualsTheDesignedRulesOnDamagedData) {
  std::mt19937 rng(20261211);
  for (int round = 0; round < 120; ++round) {
    std::vector<uint8_t> data;
    if (round % 4 == 3) {
      data.resize(rng() % 20000);
      for (auto& b : data) b = static_cast<uint8_t>(rng() % 3 ? rng() : (rng() % 2 ? 0 : 0xFF));
    } else {
      data = DamagedStream(rng);
    }
    const size_t chunk = std::vector<size_t>{1, 2, 7, 216, 4096}[round % 5];
    const int stopAfter = round % 7 == 0 ? 3 : -1;
    SCOPED_TRACE(testing::Message() << "round " << round << " chunk " << chunk);
    const Outcome ref = Decode<T4ReferenceDecoder>(data, 4096, stopAfter);
    const Outcome fast = Decode<T4Decoder>(data, chunk, stopAfter);
    ASSERT_EQ(fast.lines.size(), ref.lines.size());
    EXPECT_EQ(fast.lines, ref.lines);
    EXPECT_EQ(fast.badCodes, ref.badCodes);
    if (fast.result != FeedResult::kNeedMore || ref.result != FeedResult::kNeedMore) {
      EXPECT_EQ(fast.result, ref.result);
    }
  }
}

}  // namespace
}  // namespace tv::t4
