// Two emulated modems back to back on virtual time: what the computer gives
// one modem must come out of the other exactly, however it is chunked.
#include "tools/telvane-line/line_modem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace tv::line {
namespace {

constexpr uint8_t kDle = 0x10;
constexpr uint8_t kEtx = 0x03;
constexpr int kBlock = 80;

class Rig : public TTvLineModemListener {
 public:
  Rig()
      : a_(0, this, [this](const uint8_t* d, size_t n) { outA_.append(reinterpret_cast<const char*>(d), n); }),
        b_(1, this, [this](const uint8_t* d, size_t n) { outB_.append(reinterpret_cast<const char*>(d), n); }) {}

  void ModemDialled(int, const std::string&) override { ++dials_; }
  void ModemAnswered(int) override {}
  void ModemOnHook(int) override {}

  void Send(TTvLineModem& m, const std::string& s) {
    m.Input(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  }
  // Runs the two modems until `done` holds or `maxSeconds` of virtual time.
  template <typename Pred>
  bool RunUntil(Pred done, double maxSeconds) {
    for (int i = 0; i < static_cast<int>(maxSeconds * 100); ++i) {
      Step();
      if (done()) return true;
    }
    return false;
  }
  void Step() {
    a_.FeedInput();
    b_.FeedInput();
    int16_t fromA[kBlock], fromB[kBlock];
    a_.Transmit(fromA, kBlock);
    b_.Transmit(fromB, kBlock);
    a_.Receive(fromB, kBlock);
    b_.Receive(fromA, kBlock);
    maxTxFill_ = std::max(maxTxFill_, a_.State()->tx.in_bytes);
  }
  bool Got(const std::string& text, const std::string& out, size_t from = 0) const {
    return out.find(text, from) != std::string::npos;
  }
  // Both modems off hook in Class 1 command mode, as after a connected call.
  void Connect() {
    Send(a_, "AT+FCLASS=1\r");
    Send(b_, "AT+FCLASS=1\r");
    ASSERT_TRUE(RunUntil([&] { return Got("OK", outA_) && Got("OK", outB_); }, 1));
    Send(a_, "ATD1\r");
    Send(b_, "ATD2\r");
    RunUntil([] { return false; }, 0.1);
    ASSERT_EQ(dials_, 2);
    a_.CallEvent(AT_CALL_EVENT_CONNECTED);
    b_.CallEvent(AT_CALL_EVENT_CONNECTED);
    RunUntil([] { return false; }, 0.2);
    // Any byte ends the wait for the far end's frames.
    Send(a_, "\r");
    Send(b_, "\r");
    RunUntil([] { return false; }, 0.5);
    outA_.clear();
    outB_.clear();
  }

  TTvLineModem a_, b_;
  std::string outA_, outB_;
  int dials_ = 0;
  int maxTxFill_ = 0;
};

std::string Stuff(const std::string& data) {
  std::string s;
  for (char c : data) {
    if (static_cast<uint8_t>(c) == kDle) s += static_cast<char>(kDle);
    s += c;
  }
  return s;
}

// Received page data: the bytes between CONNECT and DLE ETX, unstuffed.
std::string Unstuff(const std::string& out) {
  const size_t start = out.find("CONNECT\r\n");
  std::string data;
  if (start == std::string::npos) return data;
  for (size_t i = start + 9; i < out.size(); ++i) {
    const uint8_t c = static_cast<uint8_t>(out[i]);
    if (c == kDle && i + 1 < out.size()) {
      const uint8_t next = static_cast<uint8_t>(out[++i]);
      if (next == kEtx) break;
      if (next == kDle) data += static_cast<char>(kDle);
      continue;
    }
    data += static_cast<char>(c);
  }
  return data;
}

// Page data of every byte value, DLE and the XON/XOFF codes among them, but
// with no 0xFF and no long zero runs, so it is found in the received stream.
std::string PageData(size_t n) {
  std::mt19937 rng(7);
  std::string d;
  for (size_t i = 0; i < n; ++i) {
    uint8_t c = static_cast<uint8_t>(rng() % 255);
    if (i % 97 == 0) c = kDle;
    if (i % 89 == 0) c = 0x13;
    if (c == 0) c = 0x11;
    d += static_cast<char>(c);
  }
  return d;
}

struct PageCase {
  const char* name;
  size_t bytes;
  size_t chunk;  // 0: all at once
};

class LineModemPageTest : public ::testing::TestWithParam<PageCase> {};

// The sending computer's bytes reach the receiving modem's computer unchanged:
// a whole page given at once (more than the modem's 4 KB transmit buffer) and
// a page in odd small chunks that split DLE pairs.
TEST_P(LineModemPageTest, PageDataArrivesUnchanged) {
  const PageCase& c = GetParam();
  Rig rig;
  rig.Connect();
  rig.Send(rig.b_, "AT+FRM=96\r");
  rig.RunUntil([] { return false; }, 0.1);
  rig.Send(rig.a_, "AT+FTM=96\r");
  ASSERT_TRUE(rig.RunUntil([&] { return rig.Got("CONNECT", rig.outA_); }, 2));
  const std::string page = PageData(c.bytes);
  const std::string stuffed = Stuff(page) + std::string{char(kDle), char(kEtx)};
  size_t pos = 0;
  const bool sent = rig.RunUntil(
      [&] {
        // As the line's reader does: write while the modem has room.
        while (pos < stuffed.size() && (c.chunk == 0 || rig.a_.InputRoom() >= c.chunk)) {
          const size_t n = c.chunk ? std::min(c.chunk, stuffed.size() - pos) : stuffed.size();
          rig.Send(rig.a_, stuffed.substr(pos, n));
          pos += n;
        }
        return rig.Got("OK", rig.outA_);
      },
      60);
  ASSERT_TRUE(sent) << "the sending modem never finished its carrier";
  EXPECT_LT(rig.maxTxFill_, T31_TX_BUF_LEN) << "the transmit buffer overflowed";
  ASSERT_TRUE(rig.RunUntil([&] { return rig.Got("NO CARRIER", rig.outB_); }, 5));
  const std::string received = Unstuff(rig.outB_);
  EXPECT_NE(received.find(page), std::string::npos)
      << "sent " << page.size() << " bytes, received " << received.size();
}

INSTANTIATE_TEST_SUITE_P(Chunks, LineModemPageTest,
                         ::testing::Values(PageCase{"WholePageAtOnce", 12000, 0},
                                           PageCase{"SmallOddChunks", 6000, 7}),
                         [](const auto& info) { return std::string(info.param.name); });

std::string Frame(std::initializer_list<int> bytes) {
  std::string f;
  for (int b : bytes) f += static_cast<char>(b);
  return Stuff(f) + std::string{char(kDle), char(kEtx)};
}

// Reads frames on modem B with AT+FRH=3 until `count` frames or time is up.
std::vector<std::string> ReceiveFrames(Rig& rig, int count) {
  std::vector<std::string> frames;
  for (int i = 0; i < count; ++i) {
    rig.outB_.clear();
    rig.Send(rig.b_, "AT+FRH=3\r");
    if (!rig.RunUntil([&] { return rig.Got("OK", rig.outB_) || rig.Got("ERROR", rig.outB_); }, 10)) break;
    frames.push_back(Unstuff(rig.outB_));
  }
  return frames;
}

// Two frames written in one go (a non-final TSI and a final DCS) both go out:
// the second waits until the modem has taken the first.
TEST(LineModemFrameTest, BackToBackFramesBothSent) {
  Rig rig;
  rig.Connect();
  rig.Send(rig.a_, "AT+FTH=3\r");
  ASSERT_TRUE(rig.RunUntil([&] { return rig.Got("CONNECT", rig.outA_); }, 2));
  rig.Send(rig.a_, Frame({0xFF, 0x03, 0x43, 'A', 'B', 'C'}) + Frame({0xFF, 0x13, 0x83, 0x00, 0x46, 0x10}));
  const std::vector<std::string> frames = ReceiveFrames(rig, 2);
  ASSERT_EQ(frames.size(), 2u);
  // Each received frame ends in its two check bytes.
  EXPECT_EQ(frames[0].substr(0, 6), std::string("\xFF\x03\x43" "ABC", 6));
  EXPECT_EQ(frames[1].substr(0, 6), std::string("\xFF\x13\x83\x00\x46\x10", 6));
  EXPECT_TRUE(rig.Got("OK", rig.outA_));
}

// A frame longer than the modem's frame buffer is cut instead of overrunning
// it, and the modem goes on answering commands.
TEST(LineModemFrameTest, OverlongFrameIsCut) {
  Rig rig;
  rig.Connect();
  rig.Send(rig.a_, "AT+FTH=3\r");
  ASSERT_TRUE(rig.RunUntil([&] { return rig.Got("CONNECT", rig.outA_); }, 2));
  std::string big(600, 'x');
  big[0] = static_cast<char>(0xFF);
  big[1] = 0x13;
  rig.Send(rig.a_, Stuff(big) + std::string{char(kDle), char(kEtx)});
  ASSERT_TRUE(rig.RunUntil([&] { return rig.Got("OK", rig.outA_); }, 10));
  EXPECT_GT(rig.a_.DroppedFrameBytes(), 0u);
  rig.outA_.clear();
  rig.Send(rig.a_, "AT\r");
  EXPECT_TRUE(rig.RunUntil([&] { return rig.Got("OK", rig.outA_); }, 2));
}

// A command and the bytes after it in one write: the command runs first and
// the rest is read in the mode the command leads to.
TEST(LineModemCommandTest, CommandsSplitAtCarriageReturn) {
  Rig rig;
  rig.Send(rig.a_, "ATE0\rAT+FCLASS=1\rAT+FCLASS?\r");
  ASSERT_TRUE(rig.RunUntil([&] { return rig.Got("1\r\n\r\nOK", rig.outA_) || rig.Got("\r\n1\r\n", rig.outA_); }, 1))
      << rig.outA_;
}

}  // namespace
}  // namespace tv::line
