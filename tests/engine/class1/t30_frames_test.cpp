#include "engine/class1/t30_frames.h"

#include <gtest/gtest.h>

#include "engine/session/fax_records.h"
#include "engine/session/fax_status.h"
#include "platform/core/error_codes.h"

namespace tv {
namespace {

std::string Frame(std::vector<uint8_t> octets) { return std::string(octets.begin(), octets.end()); }

TEST(T30Frames, EncodeFrameMarksFinalAndDoublesDle) {
  EXPECT_EQ((std::vector<uint8_t>{0xFF, 0x13, 0xFB, 0x10, 0x03}), EncodeFrame(fcfDCN, true));
  EXPECT_EQ((std::vector<uint8_t>{0xFF, 0x03, 0x43, 0x10, 0x10, 0x41, 0x10, 0x03}),
            EncodeFrame(fcfTSI, false, {0x10, 0x41}));
}

TEST(T30Frames, StationIdGoesOutReversedAfterBlanks) {
  std::vector<uint8_t> field = StationIdField("12345");
  ASSERT_EQ(20u, field.size());
  EXPECT_EQ(std::string(15, ' ') + "54321", std::string(field.begin(), field.end()));
  EXPECT_EQ(20u, StationIdField("123456789012345678901234").size());
  EXPECT_EQ("12345" + std::string(15, ' '), StationIdFromField(field.data(), field.size()));
}

struct ParseFixture : testing::Test {
  FaxSession session;
  ParseFixture() {
    for (int i = 1; i <= 6; ++i) session.modem.localSpeeds[i] = true;
    session.modem.desiredBps = 14400;
  }
};

TEST_F(ParseFixture, CsiGivesTheRemoteIdAndStatus) {
  std::vector<uint8_t> octets{0xFF, 0x03, 0x40};
  std::vector<uint8_t> id = StationIdField("+49 30 1234");
  octets.insert(octets.end(), id.begin(), id.end());
  octets.push_back(0xAB);  // FCS octets the modem passes on
  octets.push_back(0xCD);
  EXPECT_EQ(ecOK, ParseReceivedFrame(session, Frame(octets)));
  EXPECT_EQ("+49 30 1234" + std::string(9, ' '), session.common.remoteId);
  EXPECT_FALSE(session.modem.finalFrame);
  EXPECT_EQ(fsGotStationId, session.common.status);
  EXPECT_TRUE(session.modem.statusDirty);
}

TEST_F(ParseFixture, DisSetsSpeedAndRefusesAFinePageToANormalOnlyRemote) {
  EXPECT_EQ(ecOK, ParseReceivedFrame(session, Frame({0xFF, 0x13, 0x80, 0x00, 0x6E, 0xF9, 0x00})));
  EXPECT_TRUE(session.modem.finalFrame);
  EXPECT_EQ(14400, session.modem.bitRate);
  EXPECT_EQ(fsConnectionParams, session.common.status);

  session.modem.pageResolution = '1';
  EXPECT_EQ(ecFaxBadMachine,
            ParseReceivedFrame(session, Frame({0xFF, 0x13, 0x80, 0x00, 0x2E, 0xF9, 0x00})));
  EXPECT_EQ(ecFaxBadMachine, session.common.error);
}

TEST_F(ParseFixture, ControlFramesSetTheirFlags) {
  struct Case { uint8_t control; int result; bool cfr; bool retrain; };
  const Case cases[] = {{0x84, ecOK, true, false},   {0x85, ecOK, true, false},
                        {0x44, ecOK, false, true},   {0x4C, ecOK, false, true},
                        {0x8C, ecOK, false, false},  {0xFA, ecCancelRequested, false, false},
                        {0xFB, ecCancelRequested, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.control));
    session.modem.cfrReceived = session.modem.retrain = false;
    EXPECT_EQ(c.result, ParseReceivedFrame(session, Frame({0xFF, 0x13, c.control, 0x12, 0x34})));
    EXPECT_EQ(c.control, session.modem.lastControl);
    EXPECT_EQ(c.cfr, session.modem.cfrReceived);
    EXPECT_EQ(c.retrain, session.modem.retrain);
  }
}

TEST_F(ParseFixture, LeadingNoiseBeforeTheAddressIsDropped) {
  EXPECT_EQ(ecOK, ParseReceivedFrame(session, Frame({0x0D, 0x0A, 0xFF, 0x13, 0x83, 0x00, 0x4A,
                                                     0x88, 0x00})));
  EXPECT_EQ(0x83, session.modem.lastControl);
  EXPECT_EQ(4800, session.modem.bitRate);
  EXPECT_TRUE(session.modem.fineInUse);
}

}  // namespace
}  // namespace tv
