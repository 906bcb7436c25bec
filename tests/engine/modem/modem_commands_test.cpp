// Commands outside the state machines, against the emulated modem.
#include "engine/modem/modem_commands.h"

#include <gtest/gtest.h>

#include "class1_line.h"
#include "engine/class1/class1_query.h"
#include "engine/session/fax_session.h"
#include "platform/core/error_codes.h"

namespace tv {
namespace {

using test::Class1Line;
using test::Class1Remote;

struct ModemFixture : testing::Test {
  std::unique_ptr<Class1Line> line;
  std::unique_ptr<FaxSession> session;
  void Open(Class1Remote remote) {
    line = std::make_unique<Class1Line>(std::move(remote));
    ASSERT_EQ(ecOK, CreateSendSession(session, "ID", line.get(), nullptr));
  }
};

TEST_F(ModemFixture, SendCommandWaitSkipsTheEchoAndReadsTheReply) {
  for (bool echo : {false, true}) {
    Class1Remote remote;
    remote.echo = echo;
    remote.fclassReply = "+FCLASS: 0,1,2.0";
    Open(remote);
    std::string reply;
    EXPECT_TRUE(SendCommandWait(*session, "AT+FCLASS=?", &reply)) << echo;
    EXPECT_EQ("+FCLASS: 0,1,2.0", reply);
    EXPECT_TRUE(SendCommandWait(*session, "ATZ"));
  }
}

TEST_F(ModemFixture, SendCommandWaitGivesUpAtTheResponseTimeout) {
  Class1Remote remote;
  remote.silentAfter = 1;
  Open(remote);
  EXPECT_TRUE(SendCommandWait(*session, "AT"));
  int64_t before = line->NowMs();
  EXPECT_FALSE(SendCommandWait(*session, "AT"));
  int64_t waited = line->NowMs() - before;
  EXPECT_GE(waited, 9900);
  EXPECT_LE(waited, 11000);
}

TEST_F(ModemFixture, ClassDetectionPrefers20Then2Then1) {
  struct Case { const char* reply; int stored; bool class1, class2, class20; };
  const Case cases[] = {
      {"0,1,2", kFaxClass2, true, true, false},
      {"0,1,2.0", kFaxClass20, true, false, true},
      {"0,2,2.0", kFaxClass20, false, true, true},
      {"0,1", kFaxClass1, true, false, false},
      {"0", kFaxClassNone, false, false, false},
      {"(0,1,2,2.0)", kFaxClass20, true, true, true},
      {"+FCLASS: 0,1,2.0", kFaxClass20, true, false, true},
      {"+FCLASS=0,2", kFaxClass2, false, true, false},
  };
  // A modem that echoes every command: each echo line is skipped.
  for (bool echo : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.reply) + (echo ? " echo" : ""));
      Class1Remote remote;
      remote.fclassReply = c.reply;
      remote.echo = echo;
      Open(remote);
      FaxClassSupport support;
      ASSERT_TRUE(QueryFaxClasses(*session, false, support));
      EXPECT_EQ(c.class1, support.class1);
      EXPECT_EQ(c.class2, support.class2);
      EXPECT_EQ(c.class20, support.class20);
      Open(remote);
      SetFaxClass(*session, kFaxClassDetect);
      EXPECT_EQ(c.stored, session->common.faxClass);
      // Reset by DTR, then the engine's init string, then the query.
      EXPECT_EQ((std::vector<std::string>{"ATE0Q0V1X4S0=0S2=43", "AT+FCLASS=?"}), line->commands);
    }
  }
}

TEST_F(ModemFixture, ClassQueryTriesTheInitTwice) {
  Class1Remote remote;
  remote.initErrors = 1;
  Open(remote);
  FaxClassSupport support;
  EXPECT_TRUE(QueryFaxClasses(*session, true, support));
  EXPECT_TRUE(support.class1);
  EXPECT_EQ(3u, line->commands.size());
  remote.initErrors = 2;
  Open(remote);
  EXPECT_FALSE(QueryFaxClasses(*session, true, support));
  EXPECT_FALSE(support.class1);
}

TEST_F(ModemFixture, ModulationQuerySetsTheLocalSpeeds) {
  struct Case { const char* reply; bool sending; int desired; int rate; };
  const Case cases[] = {{"24,48,72,73,74,96,97,98,121,122,145,146", true, 9600, 14400},
                        {"24,48,72,96", true, 14400, 9600},
                        {"24,48", true, 14400, 4800},
                        {"24,48,72,73,74,96,97,98,121,122,145,146", false, 9600, 9600},
                        {"24,48,72,73,74,96,97,98,121,122,145,146", false, 12000, 12000}};
  for (const Case& c : cases) {
    Class1Remote remote;
    remote.modulations = c.reply;
    Open(remote);
    SetDesiredBps(*session, c.desired);
    ASSERT_TRUE(QueryClass1Modulations(*session, c.sending));
    EXPECT_EQ(c.rate, session->modem.bitRate) << c.reply << " " << c.sending;
    EXPECT_TRUE(session->modem.localSpeeds[1]);
    EXPECT_TRUE(session->modem.localSpeeds[2]);
  }
}

TEST_F(ModemFixture, DialStringAndHangup) {
  Open(Class1Remote{});
  SetNextFax(*session, "5551234", "", "");
  SetDialPrefix(*session, "9,");
  SetToneDial(*session, false);
  SendDialString(*session);
  line->RunUntil([] { return false; }, 100);
  TransmitHangup(*session);
  line->RunUntil([] { return false; }, 5000);
  EXPECT_EQ((std::vector<std::string>{"ATDP9,5551234", "ATH0"}), line->commands);
}

}  // namespace
}  // namespace tv
