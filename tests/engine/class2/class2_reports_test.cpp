#include "engine/class2/class2_reports.h"

#include <gtest/gtest.h>

#include "engine/session/fax_records.h"

namespace tv {
namespace {

TEST(Class2Reports, ParameterValuesAtFixedPositions) {
  struct Case { const char* value; int rate; bool fine; bool wide; int scan; };
  const Case cases[] = {
      {"1,5,0,2,0,0,0,0", 14400, true, false, 0},
      {"0,3,1,2,0,0,0,7", 9600, false, true, 7},
      {"0,0,0,2,0,0,0,5", 2400, false, false, 5},
      {"0,9,0,2,0,0,0,3", 9600, false, false, 3},   // an unknown digit is 9600
      {"0,13,0,2,0,0,0,0", 4800, false, false, 0},  // a two-digit field shifts the rest
      {"1,4", 12000, true, false, 0},               // a short value
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    FaxModemData m;
    DecodeClass2Params(m, c.value);
    EXPECT_EQ(c.rate, m.bitRate);
    EXPECT_EQ(c.fine, m.fineInUse);
    EXPECT_EQ(c.fine, m.remoteFine);
    EXPECT_EQ(c.wide, m.wideInUse);
    EXPECT_EQ(c.wide, m.remoteWide);
    EXPECT_EQ(c.scan, m.scanCode);
  }
  // A remote that corrects errors does not change what the user asked for.
  FaxModemData m;
  DecodeClass2Params(m, "0,3,0,2,0,1,0,0");
  EXPECT_EQ('0', m.desiredEcm);
}

TEST(Class2Reports, StationIds) {
  EXPECT_EQ("12 34 567", Class2StationId("\"12 34 567\""));
  EXPECT_EQ("+49 30 1234", Class2StationId("  +49 30 1234  "));
  EXPECT_EQ("ABC", Class2StationId("ABC-.\""));
  EXPECT_EQ("12345678901234567890", Class2StationId("1234567890123456789012345"));
  EXPECT_EQ("", Class2StationId("\"\""));
}

// Report lines are known by the name they begin with, in either class's
// spelling, whatever the session's table says.
TEST(Class2Reports, ReportsAreRecognisedByTheirLeadingName) {
  struct Case { const char* line; int entry; bool match; };
  const Case cases[] = {
      {"+FCON", c2ConnectReport, true},
      {"+FCO", c2ConnectReport, true},
      {"+FCOX", c2ConnectReport, false},
      {"+FHNG:0", c2HangupReport, true},
      {"FHNG:0", c2HangupReport, true},
      {"+FHS:00", c2HangupReport, true},
      {"+FCSI:\"FHS 1\"", c2HangupReport, false},  // a station id is no hang-up report
      {"+FCSI:\"FHS 1\"", c2CsiReport, true},
      {"+FCSI:\"FHS 1\"", c2SessionReport, false},  // +FCS is a prefix of +FCSI
      {"+FCS:1,5,0,2,0,0,0,0", c2SessionReport, true},
      {"+FDCS: 1,5,0,2,0,0,0,0", c2SessionReport, true},
      {"+FPTS:1,2200,0,0", c2PageStatus, true},
      {"+FPS:2,0,0,0,0", c2PageStatus, true},
      {"+FTI:\"CALLER\"", c2TsiReport, true},
      {"+FDIS:0,3,0,2,0,0,0,0", c2RemoteCaps, true},
      {"+FDIS:0,3,0,2,0,0,0,0", c2SessionReport, false},
      {"OK", c2PageStatus, false},
  };
  for (bool class20 : {false, true}) {
    FaxModemData m;
    for (int i = 0; i < c2EntryCount; ++i) m.class2Commands[i] = Class2Name(class20, i);
    for (const Case& c : cases)
      EXPECT_EQ(c.match, IsClass2Report(m, c.line, c.entry)) << c.line << " " << class20;
  }
  EXPECT_TRUE(IsPostPageReport("+FET:1"));
  EXPECT_FALSE(IsPostPageReport("+FETX:1"));
}

TEST(Class2Reports, NumbersOfStatusAndHangupReports) {
  EXPECT_EQ(1, Class2ReportNumber("+FPTS:1,2200,0,0"));
  EXPECT_EQ(2, Class2ReportNumber("+FPS: 2,0,0,0,0"));
  EXPECT_EQ(-1, Class2ReportNumber("+FPTS:"));
  EXPECT_EQ(0, Class2HangupCode("+FHNG:0"));
  EXPECT_EQ(50, Class2HangupCode("+FHS: 50"));
  EXPECT_EQ(100, Class2HangupCode("FHNG:1004"));  // three characters
}

}  // namespace
}  // namespace tv
