#include "engine/class1/t30_capabilities.h"

#include <gtest/gtest.h>

#include "engine/session/fax_records.h"
#include "engine/session/fax_speed.h"

namespace tv {
namespace {

FaxModemData AllLocalSpeeds(int desired) {
  FaxModemData m;
  for (int i = 1; i <= 6; ++i) m.localSpeeds[i] = true;
  m.desiredBps = desired;
  return m;
}

// The rate bits of ITU-T T.30 (bits 11..14 of the second octet), which a
// real far end writes and reads.
TEST(T30Capabilities, RateBitsFollowT30ForEverySpeed) {
  struct Case { int index; uint8_t dis; uint8_t dcs; };
  const Case cases[] = {{1, 0x00, 0x00}, {2, 0x08, 0x08}, {3, 0x0C, 0x0C},
                        {4, 0x0C, 0x04}, {5, 0x2C, 0x28}, {6, 0x2C, 0x20}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    EXPECT_EQ(c.dis, DisRateBits(c.index));
    EXPECT_EQ(c.dcs, DcsRateBits(c.index));
    EXPECT_EQ((std::vector<uint8_t>{0x00, static_cast<uint8_t>(0x42 | c.dis), 0xF9, 0x00}),
              DisInfo(c.index));
  }
}

TEST(T30Capabilities, DcsCarriesResolutionWidthAndScanTime) {
  struct Case { bool fine; bool wide; int scan; uint8_t a; uint8_t b; };
  const Case cases[] = {
      {false, false, 0, 0x04 | 0x02, 0x70 | 0x88},
      {true, false, 2, 0x04 | 0x42, 0x10 | 0x88},
      {false, true, 4, 0x04 | 0x02, 0x00 | 0x89},
      {true, true, 6, 0x04 | 0x42, 0x00 | 0x89},
      {false, false, 7, 0x04 | 0x02, 0x40 | 0x88},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scan);
    EXPECT_EQ((std::vector<uint8_t>{0x00, c.a, c.b, 0x00}), DcsInfo(4, c.fine, c.wide, c.scan));
  }
}

TEST(T30Capabilities, DisDecodingChoosesTheHighestCommonSpeedWithinDesired) {
  struct Case { uint8_t a; int desired; int rate; const char* modulation; };
  const Case cases[] = {
      {0x4E, 14400, 9600, "96"},    // V.27 ter and V.29
      {0x48, 9600, 4800, "48"},     // V.27 ter only
      {0x40, 9600, 4800, "48"},     // 2400 and 4800 are always taken
      {0x6E, 14400, 14400, "145"},  // V.27 ter, V.29 and V.17
      {0x6E, 12000, 12000, "121"},
      {0x6E, 9600, 9600, "96"},
      {0x6E, 7200, 7200, "72"},
      {0x44, 14400, 9600, "96"},    // V.29 without V.27 ter
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << int(c.a) << " " << c.desired);
    FaxModemData m = AllLocalSpeeds(c.desired);
    DecodeDis(m, c.a, 0xF9);
    EXPECT_EQ(c.rate, m.bitRate);
    EXPECT_EQ(c.modulation, m.modulation);
  }
}

TEST(T30Capabilities, DisDecodingTakesResolutionWidthAndScanTime) {
  FaxModemData m = AllLocalSpeeds(9600);
  m.pageResolution = '1';
  m.pageWide = true;
  DecodeDis(m, 0x4E, 0xF9);
  EXPECT_TRUE(m.remoteFine);
  EXPECT_TRUE(m.remoteWide);
  EXPECT_TRUE(m.fineInUse);
  EXPECT_TRUE(m.wideInUse);
  EXPECT_EQ(0, m.scanCode);
  EXPECT_EQ(0, m.minimumBytes);
  // 20 ms at 9600 bit/s for a normal page: 24 bytes a line.
  FaxModemData n = AllLocalSpeeds(9600);
  DecodeDis(n, 0x0C, 0x00);
  EXPECT_FALSE(n.remoteFine);
  EXPECT_FALSE(n.remoteWide);
  EXPECT_EQ(5, n.scanCode);
  EXPECT_EQ(24, n.minimumBytes);
}

TEST(T30Capabilities, ScanCodesFromBits21To23) {
  const int expected[8] = {5, 1, 3, 4, 7, 6, 2, 0};
  for (int bits = 0; bits < 8; ++bits)
    EXPECT_EQ(expected[bits], ScanCodeFromBits(static_cast<uint8_t>(bits << 4)));
}

TEST(T30Capabilities, DcsDecodingKnowsEveryT30Rate) {
  struct Case { uint8_t a; int rate; const char* modulation; };
  const Case cases[] = {{0x00, 2400, "24"},  {0x08, 4800, "48"},  {0x0C, 7200, "72"},
                        {0x04, 9600, "96"},  {0x28, 12000, "121"}, {0x20, 14400, "145"},
                        {0x24, 9600, "97"},  {0x2C, 7200, "73"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.a));
    FaxModemData m;
    DecodeDcs(m, static_cast<uint8_t>(c.a | 0x42), 0x89);
    EXPECT_EQ(c.rate, m.bitRate);
    EXPECT_EQ(c.modulation, m.modulation);
    EXPECT_TRUE(m.fineInUse);
    EXPECT_TRUE(m.wideInUse);
  }
}

TEST(T30Capabilities, WhatTheSenderWritesTheReceiverReadsBack) {
  for (int index = 1; index <= 6; ++index) {
    for (int scan = 0; scan <= 7; ++scan) {
      std::vector<uint8_t> dcs = DcsInfo(index, false, false, scan);
      FaxModemData m;
      DecodeDcs(m, dcs[1], dcs[2]);
      EXPECT_EQ(index, m.speedIndex);
      EXPECT_EQ(MinimumBytesPerLine(scan, false, m.bitRate),
                MinimumBytesPerLine(m.scanCode, false, m.bitRate))
          << index << " " << scan;
    }
  }
}

TEST(T30Capabilities, FallbackStepsThroughCommonSpeedsAndStopsBelow2400) {
  FaxModemData m = AllLocalSpeeds(14400);
  DecodeDis(m, 0x6E, 0xF9);
  std::vector<int> rates{m.bitRate};
  while (StepSpeedDown(m)) rates.push_back(m.bitRate);
  EXPECT_EQ((std::vector<int>{14400, 12000, 9600, 7200, 4800, 2400}), rates);
  EXPECT_EQ(2400, m.bitRate);

  FaxModemData v29 = AllLocalSpeeds(14400);
  DecodeDis(v29, 0x4C, 0xF9);
  v29.localSpeeds[3] = false;
  ASSERT_EQ(9600, v29.bitRate);
  ASSERT_TRUE(StepSpeedDown(v29));
  EXPECT_EQ(4800, v29.bitRate);
}

TEST(T30Capabilities, TrainingLengthAndVerdict) {
  EXPECT_EQ(2592, TrainingLength(14400));
  EXPECT_EQ(432, TrainingLength(2400));
  EXPECT_EQ(1728, TrainingLength(9600));
  EXPECT_TRUE(TrainingGood(1000, 99));
  EXPECT_FALSE(TrainingGood(1000, 100));
  EXPECT_FALSE(TrainingGood(0, 0));
}

}  // namespace
}  // namespace tv
