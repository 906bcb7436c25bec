#include "engine/session/fax_session.h"

#include <gtest/gtest.h>

#include "engine/session/fax_status.h"
#include "platform/core/error_codes.h"

namespace tv {
namespace {

TEST(FaxSession, DefaultsAndSetters) {
  std::unique_ptr<FaxSession> s;
  ASSERT_EQ(ecOK, CreateSendSession(s, "A STATION ID LONGER THAN TWENTY", nullptr, nullptr));
  EXPECT_EQ("A STATION ID LONGER ", s->common.stationId);
  EXPECT_EQ(1, s->common.dialAttempts);
  EXPECT_EQ(9600, s->modem.desiredBps);
  EXPECT_EQ(182, s->modem.responseTimeout);
  EXPECT_EQ(1092, s->modem.dialWait);
  EXPECT_EQ("ATE0Q0V1X4S0=0S2=43", s->modem.engineInit);
  EXPECT_EQ(50, s->maxSendCount);
  EXPECT_EQ(1000, s->bufferMinimum);
  EXPECT_EQ(2, s->pageResendLimit);
  EXPECT_TRUE(s->common.isSender);

  SetModemInit(*s, "&f");
  EXPECT_EQ("AT&F", s->modem.modemInit);
  SetModemInit(*s, "at&f1");
  EXPECT_EQ("AT&F1", s->modem.modemInit);
  SetDialWait(*s, 60);
  EXPECT_EQ(1092, s->modem.dialWait);
  SetDialRetryWait(*s, 30);
  EXPECT_EQ(546, s->common.dialRetryWait);
  SetDetectBusy(*s, false);
  SetBlindDial(*s, true);
  EXPECT_EQ("ATE0Q0V1X1S0=0S2=43", s->modem.engineInit);

  std::unique_ptr<FaxSession> r;
  ASSERT_EQ(ecOK, CreateReceiveSession(r, "ID", nullptr, nullptr));
  EXPECT_FALSE(r->common.isSender);
  EXPECT_EQ(255, r->previousData);
  EXPECT_EQ(1, r->state);
}

TEST(FaxSession, ProgressCountsWhatLeftThePort) {
  std::unique_ptr<FaxSession> s;
  ASSERT_EQ(ecOK, CreateSendSession(s, "ID", nullptr, nullptr));
  s->common.totalPages = 3;
  s->common.currentPage = 2;
  s->common.pageLength = 5000;
  s->common.bytesTransferred = 1200;
  FaxProgress p = GetFaxProgress(*s);
  EXPECT_EQ(3, p.pageCount);
  EXPECT_EQ(2, p.pageNumber);
  EXPECT_EQ(5000, p.pageLength);
  EXPECT_EQ(1200, p.bytesTransferred);
  s->common.coverInProgress = true;
  EXPECT_EQ(0, GetFaxProgress(*s).pageNumber);
}

}  // namespace
}  // namespace tv
