#include <gtest/gtest.h>

#include "platform/core/error_codes.h"
#include "platform/core/exceptions.h"

namespace tv {
namespace {

struct TextCase {
  int code;
  int resource;
  const char* text;
};

TEST(ErrorText, FollowsTheResourceNumberRule) {
  const TextCase cases[] = {
      {0, 11000, "OK"},
      {2, 11002, "File not found"},
      {-8, 11008, "Insufficient memory"},
      {-8071, 11871, "Bad response from modem"},
      {8071, 11871, "Bad response from modem"},
      {-2005, 11205, "ie_Hardware - Specified comport in use"},
      {-100, 11900, "Attempt to read beyond end of file"},
      {100, 11900, "Attempt to read beyond end of file"},
      {-160, 11960, "Device write error"},
      {-8052, 11852, ""},
      {-6006, 11606, "Fatal time out"},
      {-3006, 11306, "Output buffer too small for block"},
      {-4001, 11401, "StartModem has not been called"},
      {-7001, 11701, ""},
      {-1, 11001, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(ErrorResourceNumber(c.code), c.resource);
    EXPECT_EQ(ErrorText(c.code), c.text);
    EXPECT_LE(ErrorText(c.code).size(), 79u);
  }
}

template <typename E>
bool Raises(int code) {
  try {
    RaiseForCode(code);
  } catch (const E& e) {
    return e.ErrorCode() == code || e.ErrorCode() == -code;
  } catch (...) {
  }
  return false;
}

TEST(ExceptionForCode, PicksTheClassOfTheCodesRow) {
  EXPECT_TRUE(Raises<EFaxBadMachine>(-8070));
  EXPECT_TRUE(Raises<EFaxBusy>(-8074));
  EXPECT_TRUE(Raises<EFaxPageError>(-8080));
  EXPECT_TRUE(Raises<EFax>(-8079));
  EXPECT_TRUE(Raises<EFaxBadFormat>(-8001));
  EXPECT_TRUE(Raises<ECantMakeBitmap>(-8005));
  EXPECT_TRUE(Raises<EBadFieldForIndex>(-7014));
  EXPECT_TRUE(Raises<EINI>(-7004));
  EXPECT_TRUE(Raises<EInternal>(-7003));
  EXPECT_TRUE(Raises<EInternal>(-1006));
  EXPECT_TRUE(Raises<EGeneral>(-1006));
  EXPECT_TRUE(Raises<EProtocol>(-6006));
  EXPECT_TRUE(Raises<EBadTriggerHandle>(-5003));
  EXPECT_TRUE(Raises<EModemNotStarted>(-4001));
  EXPECT_TRUE(Raises<EOutputBufferTooSmall>(-3006));
  EXPECT_TRUE(Raises<EHardware>(-2005));
  EXPECT_TRUE(Raises<ENoPortSelected>(-2011));
  EXPECT_TRUE(Raises<EBadHandle>(-1001));
  EXPECT_TRUE(Raises<ECannotUseWithWinSock>(-1009));
  EXPECT_TRUE(Raises<EOutOfMemory>(-8));
}

TEST(ExceptionForCode, FileLayerCodesBecomeInOutErrorsWithThePositiveCode) {
  try {
    RaiseForCode(-160);
    FAIL();
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode(), 160);
    EXPECT_STREQ(e.what(), "Device write error");
  }
}

TEST(ExceptionForCode, CodesInNoRowGiveTheGenericException) {
  for (int code : {-8081, -6005, -9999, -1}) {
    SCOPED_TRACE(code);
    try {
      RaiseForCode(code);
      FAIL();
    } catch (const EFax&) {
      FAIL() << "a code in no row must not raise a fax exception";
    } catch (const EGeneral&) {
      FAIL();
    } catch (const ETvException& e) {
      EXPECT_EQ(e.ErrorCode(), code);
      EXPECT_STREQ(e.what(), kGenericErrorMessage);
    }
  }
}

TEST(CheckResult, PassesZeroAndPositiveCodes) {
  EXPECT_EQ(CheckResult(0), 0);
  EXPECT_EQ(CheckResult(5), 5);
  EXPECT_THROW(CheckResult(-8074), EFaxBusy);
}

}  // namespace
}  // namespace tv
