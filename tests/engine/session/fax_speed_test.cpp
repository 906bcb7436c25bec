#include "engine/session/fax_speed.h"

#include <gtest/gtest.h>

#include "engine/session/fax_status.h"

namespace tv {
namespace {

TEST(FaxSpeed, TableAndClass2Digits) {
  const int rates[] = {2400, 4800, 7200, 9600, 12000, 14400};
  const char* codes[] = {"24", "48", "72", "96", "121", "145"};
  for (int i = 1; i <= 6; ++i) {
    EXPECT_EQ(rates[i - 1], FaxSpeedEntry(i).bitRate);
    EXPECT_STREQ(codes[i - 1], FaxSpeedEntry(i).modulation);
    EXPECT_EQ('0' + i - 1, Class2BitRateDigit(rates[i - 1]));
    EXPECT_EQ(i, FaxSpeedIndexOf(rates[i - 1]));
  }
  EXPECT_EQ('3', Class2BitRateDigit(19200));
  EXPECT_EQ(0, FaxSpeedIndexOf(19200));
}

TEST(FaxSpeed, MinimumBytesPerLine) {
  struct Case { int scan; bool fine; int rate; int bytes; };
  const Case cases[] = {{0, false, 14400, 0}, {5, false, 9600, 24}, {4, true, 9600, 12},
                        {7, false, 14400, 72}, {6, true, 2400, 6}, {2, true, 4800, 3},
                        {8, false, 9600, 0}};
  for (const Case& c : cases)
    EXPECT_EQ(c.bytes, MinimumBytesPerLine(c.scan, c.fine, c.rate)) << c.scan << " " << c.fine;
}

TEST(FaxStatus, TextsOfTheStatusCodes) {
  EXPECT_EQ("Initializing modem for fax processing", FaxStatusText(1));
  EXPECT_EQ("Busy, waiting until redial...", FaxStatusText(3));
  EXPECT_EQ("Got Class 2 FHNG code", FaxStatusText(28));
  EXPECT_EQ("User abort", FaxStatusText(42));
  EXPECT_EQ("", FaxStatusText(43));
  EXPECT_EQ("", FaxStatusText(8));
  EXPECT_EQ("", FaxStatusText(0));
}

}  // namespace
}  // namespace tv
