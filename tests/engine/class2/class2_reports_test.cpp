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
}

TEST(Class2Reports, StationIds) {
  EXPECT_EQ("12 34 567", Class2StationId("\"12 34 567\""));
  EXPECT_EQ("+49 30 1234", Class2StationId("  +49 30 1234  "));
  EXPECT_EQ("ABC", Class2StationId("ABC-.\""));
  EXPECT_EQ("12345678901234567890", Class2StationId("1234567890123456789012345"));
  EXPECT_EQ("", Class2StationId("\"\""));
}

}  // namespace
}  // namespace tv
