#include "engine/modem/modem_strings.h"

#include <gtest/gtest.h>

namespace tv {
namespace {

TEST(ModemStrings, EngineInitStringByBusyDetectionAndBlindDial) {
  EXPECT_EQ("ATE0Q0V1X1S0=0S2=43", EngineInitString(false, true));
  EXPECT_EQ("ATE0Q0V1X2S0=0S2=43", EngineInitString(false, false));
  EXPECT_EQ("ATE0Q0V1X3S0=0S2=43", EngineInitString(true, true));
  EXPECT_EQ("ATE0Q0V1X4S0=0S2=43", EngineInitString(true, false));
}

TEST(ModemStrings, DialString) {
  EXPECT_EQ("ATDT9,0301234", DialString(true, "9,", "0301234"));
  EXPECT_EQ("ATDP0301234", DialString(false, "", "0301234"));
}

TEST(ModemStrings, FaxClassReplies) {
  struct Case { const char* reply; bool c1, c2, c20; };
  const Case cases[] = {
      {"0,1,2", true, true, false},         {"0,1,2.0", true, false, true},
      {"0,2,2.0", false, true, true},       {"+FCLASS: 0,1,2,2.0", true, true, true},
      {"(0,1)", true, false, false},        {"0", false, false, false},
      {"+FCLASS=0,2.0", false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    FaxClassSupport s = ParseFaxClassReply(c.reply);
    EXPECT_EQ(c.c1, s.class1);
    EXPECT_EQ(c.c2, s.class2);
    EXPECT_EQ(c.c20, s.class20);
  }
}

TEST(ModemStrings, ReplyValue) {
  EXPECT_EQ("1,5,0,2,0,0,0,0", ReplyValue("+FDCS: 1,5,0,2,0,0,0,0"));
  EXPECT_EQ("0,1", ReplyValue("+FCLASS=0,1"));
  EXPECT_EQ("OK", ReplyValue("  OK\r"));
}

}  // namespace
}  // namespace tv
