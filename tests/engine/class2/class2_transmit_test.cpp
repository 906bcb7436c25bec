// The transmit state machine against emulated Class 2 and Class 2.0 modems
// on virtual time.
#include "engine/transmit/transmit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "class2_modem.h"
#include "test_owners.h"
#include "engine/files/apf_layout.h"
#include "engine/session/fax_session.h"
#include "engine/session/fax_status.h"
#include "platform/core/error_codes.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using test::Class2Modem;
using test::Class2Remote;

// A page of line records; `mark` tells the pages apart, and the 0x10 byte
// must reach the modem doubled.
std::vector<uint8_t> PageRecords(uint8_t mark) {
  return {6, 0, 0x00, 0x80, 0xB2, 0x59, 0x01, 0x00,
          4, 0, 0x00, 0x80, 0x10, mark,
          12, 0, 0x00, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00};
}

// The coded lines of PageRecords(mark) as they reach the modem.
std::vector<uint8_t> CodedPage(uint8_t mark) {
  return {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00, 0x00, 0x80, 0x10, mark, 0x00,
          0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00};
}

// Pages with the given flags (pfHighRes, pfWide), marked 1, 2, ...
std::string WriteApf(const fs::path& path, const std::vector<uint16_t>& pageFlags) {
  std::vector<uint8_t> bytes;
  auto header = MakeApfFileHeader(0, "TELVANE", static_cast<uint16_t>(pageFlags.size()));
  bytes.insert(bytes.end(), header.begin(), header.end());
  for (size_t i = 1; i <= pageFlags.size(); ++i) {
    std::vector<uint8_t> records = PageRecords(static_cast<uint8_t>(i));
    uint16_t flags = pageFlags[i - 1];
    auto page = MakeApfPageHeader(static_cast<uint32_t>(records.size()), flags | pfLineRecords);
    bytes.insert(bytes.end(), page.begin(), page.end());
    bytes.insert(bytes.end(), records.begin(), records.end());
  }
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<char*>(bytes.data()), bytes.size());
  return path.string();
}

std::string WriteApf(const fs::path& path, int pages, uint16_t flags = 0) {
  return WriteApf(path, std::vector<uint16_t>(static_cast<size_t>(pages), flags));
}

using Owner = test::TransmitOwner;

struct Class2TransmitFixture : testing::Test {
  fs::path dir;
  Owner owner;
  std::unique_ptr<FaxSession> session;
  std::unique_ptr<Class2Modem> modem;
  std::vector<int> statuses;

  Class2TransmitFixture() {
    dir = fs::temp_directory_path() /
          ("tv-engine-c2tx-" + std::to_string(::getpid()) + "-" +
           testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
  }
  ~Class2TransmitFixture() override { fs::remove_all(dir); }

  // Sends the fax files through the modem; faxClass kFaxClassDetect asks
  // the modem.
  void Send(Class2Remote remote, std::vector<std::string> files, int faxClass = -1) {
    owner = Owner{};
    owner.faxFiles = std::move(files);
    statuses.clear();
    if (faxClass < 0) faxClass = remote.class20 ? kFaxClass20 : kFaxClass2;
    modem = std::make_unique<Class2Modem>(std::move(remote));
    ASSERT_EQ(ecOK, CreateSendSession(session, "123 456", modem.get(), &owner));
    session->common.faxClass = faxClass;
    SetDesiredBps(*session, 14400);
    SetSessionFlags(*session, ffExitOnError);
    StartTransmit(*session);
    int last = -1;
    ASSERT_TRUE(modem->RunUntil([&] {
      if (session->common.status != last) statuses.push_back(last = session->common.status);
      return owner.finished;
    })) << "the run did not end";
  }

  size_t Count(const std::string& command) const {
    return static_cast<size_t>(std::count(modem->commands.begin(), modem->commands.end(), command));
  }
  bool Saw(int status) const {
    return std::find(statuses.begin(), statuses.end(), status) != statuses.end();
  }
  // The page data after the engine's white lines and fill.
  static std::vector<uint8_t> FilePart(const std::vector<uint8_t>& sent, uint8_t mark) {
    std::vector<uint8_t> needle = {0x00, 0x80, 0x10, mark};
    auto it = std::search(sent.begin(), sent.end(), needle.begin(), needle.end());
    if (it == sent.end() || it - sent.begin() < 6) return {};
    return std::vector<uint8_t>(it - 6, sent.end());
  }
};

TEST_F(Class2TransmitFixture, SendsOneAndThreePagesInBothClasses) {
  for (bool class20 : {false, true}) {
    for (int pages : {1, 3}) {
      SCOPED_TRACE(std::string(class20 ? "2.0 " : "2 ") + std::to_string(pages));
      Class2Remote remote;
      remote.class20 = class20;
      Send(remote, {WriteApf(dir / "FAX.APF", pages)});
      EXPECT_EQ(0, owner.finishCode);
      EXPECT_EQ((std::vector<int>{flTransmitStart, flTransmitOk}), owner.logs);
      EXPECT_EQ("12 34 567", GetRemoteStationId(*session));
      ASSERT_EQ(static_cast<size_t>(pages), modem->pages.size());
      for (int p = 0; p < pages; ++p)
        EXPECT_EQ(CodedPage(static_cast<uint8_t>(p + 1)),
                  FilePart(modem->pages[p], static_cast<uint8_t>(p + 1)));
      std::vector<uint8_t> ends(static_cast<size_t>(pages), class20 ? ',' : 0x03);
      if (class20) ends.back() = '.';
      EXPECT_EQ(ends, modem->pageEnds);
      EXPECT_EQ(static_cast<size_t>(pages), Count("AT+FDT"));
      EXPECT_EQ(class20 ? 0 : pages, modem->xonWaits);
      if (class20) {
        std::vector<std::string> setup(modem->commands.begin(), modem->commands.begin() + 7);
        EXPECT_EQ((std::vector<std::string>{"ATE0Q0V1X4S0=0S2=43", "AT+FCLASS=2.0",
                                            "AT+FLI=\"123 456\"", "AT+FLO=2", "AT+FNR=1,1,1,0",
                                            "AT+FIS=0,5,0,2,0,0,0,0", "ATDT5551234"}),
                  setup);
        EXPECT_EQ(0u, Count("AT+FET=0") + Count("AT+FET=2"));
      } else {
        std::vector<std::string> setup(modem->commands.begin(), modem->commands.begin() + 5);
        EXPECT_EQ((std::vector<std::string>{"ATE0Q0V1X4S0=0S2=43", "AT+FCLASS=2",
                                            "AT+FLID=\"123 456\"", "AT+FDIS=0,5,0,2,0,0,0,0",
                                            "ATDT5551234"}),
                  setup);
        EXPECT_EQ(static_cast<size_t>(pages - 1), Count("AT+FET=0"));
        EXPECT_EQ(1u, Count("AT+FET=2"));
        EXPECT_EQ("AT+FET=2", modem->commands.back());
      }
      // The last page's acceptance is followed at once by the end of the fax.
      if (!class20 || pages > 1) {
        EXPECT_TRUE(Saw(fsPageAccepted));
      }
      EXPECT_EQ(0, session->modem.hangupCode);
    }
  }
}

TEST_F(Class2TransmitFixture, PageStatusDecidesAcceptResendOrEnd) {
  struct Case {
    bool class20;
    bool reports;  // Class 2.0: +FPS before the final result
    bool refusalOk;  // Class 2.0: OK after +FPS:2 instead of ERROR
    int pages;
    std::vector<int> status;  // per page sent
    int finish;
    size_t sends;
    const char* abort;  // written after the third refusal
  };
  const Case cases[] = {
      {false, false, false, 1, {1}, 0, 1, nullptr},
      {false, false, false, 1, {3}, 0, 1, nullptr},
      {false, false, false, 1, {2, 1}, 0, 2, nullptr},
      {false, false, false, 1, {2, 2, 1}, 0, 3, nullptr},  // refused twice: sent three times
      {false, false, false, 1, {2, 2, 2}, ecFaxSessionError, 3, "AT+FK"},
      {false, false, false, 1, {4}, ecCancelRequested, 1, nullptr},
      {false, false, false, 1, {5}, ecCancelRequested, 1, nullptr},
      {false, false, false, 1, {7}, ecFaxPageError, 1, nullptr},
      {false, false, false, 3, {2, 2, 1, 2, 2, 1, 2, 1}, 0, 8, nullptr},  // two refusals per page
      {true, false, false, 1, {1}, 0, 1, nullptr},
      {true, false, false, 1, {2, 1}, 0, 2, nullptr},  // ERROR after the page
      {true, false, false, 1, {2, 2, 1}, 0, 3, nullptr},
      {true, false, false, 1, {2, 2, 2}, ecFaxSessionError, 3, "AT+FKS"},
      {true, true, false, 1, {3}, 0, 1, nullptr},
      {true, true, false, 1, {2, 1}, 0, 2, nullptr},  // +FPS:2, then ERROR
      {true, true, true, 1, {2, 1}, 0, 2, nullptr},   // +FPS:2, then OK
      {true, true, true, 3, {2, 2, 1, 2, 1, 1}, 0, 6, nullptr},
      {true, true, false, 3, {2, 1, 1, 2, 1}, 0, 5, nullptr},
      {true, true, false, 1, {4}, ecCancelRequested, 1, nullptr},
      {true, true, false, 3, {1, 2, 2, 1, 1}, 0, 5, nullptr},
  };
  for (const Case& c : cases) {
    std::string trace = std::string(c.class20 ? "2.0" : "2") + (c.reports ? " reports" : "") +
                        (c.refusalOk ? " refusal OK" : "") +
                        " pages " + std::to_string(c.pages) + " status";
    for (int v : c.status) trace += " " + std::to_string(v);
    SCOPED_TRACE(trace);
    Class2Remote remote;
    remote.class20 = c.class20;
    remote.statusReports = c.reports;
    remote.refusalOk = c.refusalOk;
    remote.pageStatus = c.status;
    Send(remote, {WriteApf(dir / "FAX.APF", c.pages)});
    EXPECT_EQ(c.finish, owner.finishCode);
    EXPECT_EQ(c.sends, Count("AT+FDT"));
    EXPECT_EQ(c.sends, modem->pages.size());
    EXPECT_EQ(c.abort ? 1u : 0u, c.abort ? Count(c.abort) : 0u);
    EXPECT_EQ(0u, Count(c.class20 ? "AT+FK" : "AT+FKS"));
    // Without +FPS reports a Class 2.0 refusal is ERROR, and the engine asks.
    size_t refusals = static_cast<size_t>(std::count(c.status.begin(), c.status.end(), 2));
    EXPECT_EQ(c.class20 && !c.refusalOk ? std::min(refusals, c.sends) : 0u, Count("AT+FPS?"));
    if (refusals > 0) {
      EXPECT_TRUE(Saw(fsPageError));
    }
    if (c.status[0] == 2) {
      // A page sent again is the same page.
      ASSERT_LE(2u, modem->pages.size());
      EXPECT_EQ(CodedPage(1), FilePart(modem->pages[1], 1));
    }
    if (c.finish == 0) {
      EXPECT_EQ((std::vector<int>{flTransmitStart, flTransmitOk}), owner.logs);
      ASSERT_FALSE(modem->pages.empty());
      EXPECT_EQ(CodedPage(static_cast<uint8_t>(c.pages)),
                FilePart(modem->pages.back(), static_cast<uint8_t>(c.pages)));
    } else {
      EXPECT_EQ((std::vector<int>{flTransmitStart, flTransmitFail}), owner.logs);
      EXPECT_EQ(std::vector<int>{c.finish}, owner.errors);
    }
  }
}

TEST_F(Class2TransmitFixture, AnUnexpectedHangupReportEndsTheFax) {
  // The hang-up report answers the next AT+FDT, or the far end hangs up
  // instead of giving its verdict on the page (then nothing is sent again).
  for (bool atSend : {true, false}) {
    for (bool class20 : {false, true}) {
      SCOPED_TRACE(std::string(atSend ? "at AT+FDT " : "after the page ") + (class20 ? "2.0" : "2"));
      Class2Remote remote;
      remote.class20 = class20;
      if (atSend) remote.hangupAtSend = 2;  // after the first page was accepted
      else remote.hangupAfterPage = 1;
      Send(remote, {WriteApf(dir / "FAX.APF", 2)});
      EXPECT_EQ(ecFaxBadModemResult, owner.finishCode);
      EXPECT_EQ(50, session->modem.hangupCode);
      EXPECT_EQ(1u, modem->pages.size());
      EXPECT_EQ(0u, Count("AT+FPS?"));
      EXPECT_EQ(atSend ? 2u : 1u, Count("AT+FDT"));
      EXPECT_EQ((std::vector<int>{flTransmitStart, flTransmitFail}), owner.logs);
    }
  }
}

TEST_F(Class2TransmitFixture, DialOutcomesAndRemoteCapabilities) {
  struct Case {
    std::string dial;       // the modem's answer to ATD; empty: a fax connection
    std::string caps;       // the remote's +FDIS value
    bool connectReport;     // +FCON before the remote's reports
    uint16_t pageFlags;
    int finish;
  };
  const Case cases[] = {
      {"NO CARRIER", "1,5,0,2,0,0,0,0", true, 0, ecFaxNoCarrier},
      {"BUSY", "1,5,0,2,0,0,0,0", true, 0, ecFaxBusy},
      {"VOICE", "1,5,0,2,0,0,0,0", true, 0, ecFaxVoiceCall},
      {"NO DIALTONE", "1,5,0,2,0,0,0,0", true, 0, ecFaxNoDialTone},
      {"", "1,5,0,2,0,0,0,0", false, 0, 0},          // no connect report, still a fax
      {"", "0,5,0,2,0,0,0,0", true, pfHighRes, ecFaxBadMachine},  // fine to a normal-only remote
      {"", "1,5,0,2,0,0,0,0", true, pfWide, ecFaxBadMachine},     // wide to a 1728-only remote
      {"", "1,5,1,2,0,0,0,0", true, pfWide | pfHighRes, 0},
  };
  for (bool class20 : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(class20 ? "2.0 " : "2 ") + c.dial + " " + c.caps);
      Class2Remote remote;
      remote.class20 = class20;
      remote.dialResults = {c.dial};
      remote.remoteCaps = c.caps;
      remote.connectReport = c.connectReport;
      Send(remote, {WriteApf(dir / "FAX.APF", 1, c.pageFlags)});
      EXPECT_EQ(c.finish, owner.finishCode);
      EXPECT_EQ(c.finish == 0 ? 1u : 0u, modem->pages.size());
      if (c.finish == 0) {
        std::string params = std::string(class20 ? "AT+FIS=" : "AT+FDIS=") +
                             ((c.pageFlags & pfHighRes) ? "1" : "0") + ",5," +
                             ((c.pageFlags & pfWide) ? "1" : "0") + ",2,0,0,0,0";
        EXPECT_EQ(1u, Count(params));
      }
    }
  }
}

// A call that fails while the modem runs it is aborted in the modem before
// the hang-up: page data in flight is closed first.
TEST_F(Class2TransmitFixture, AFailingCallIsAbortedInTheModem) {
  for (bool class20 : {false, true}) {
    SCOPED_TRACE(class20);
    Class2Remote remote;
    remote.class20 = class20;
    owner = Owner{};
    owner.faxFiles = {WriteApf(dir / "FAX.APF", 2)};
    modem = std::make_unique<Class2Modem>(remote);
    ASSERT_EQ(ecOK, CreateSendSession(session, "123 456", modem.get(), &owner));
    session->common.faxClass = class20 ? kFaxClass20 : kFaxClass2;
    SetSessionFlags(*session, ffExitOnError);
    StartTransmit(*session);
    bool aborted = false;
    ASSERT_TRUE(modem->RunUntil([&] {
      if (!aborted && modem->InPageData() && session->state >= 27) {
        aborted = true;
        TransmitStep(*session, FaxMsgUserAbort, 0);
      }
      return owner.finished;
    }));
    EXPECT_EQ(ecCancelRequested, owner.finishCode);
    EXPECT_EQ(std::vector<uint8_t>{0x03}, modem->pageEnds);  // DLE ETX closed the page
    auto abort = std::find(modem->commands.begin(), modem->commands.end(),
                           class20 ? "AT+FKS" : "AT+FK");
    ASSERT_NE(modem->commands.end(), abort);
    EXPECT_EQ("ATH0", modem->commands.back());
  }
  // Before the modem reported a connection there is no session to abort.
  Class2Remote busy;
  busy.dialResults = {"NO CARRIER"};
  Send(busy, {WriteApf(dir / "FAX.APF", 1)});
  EXPECT_EQ(0u, Count("AT+FK"));
}

TEST_F(Class2TransmitFixture, ASetUpCommandAnsweredWithErrorFailsTheInit) {
  struct Case { bool class20; const char* command; };
  const Case cases[] = {{false, "AT+FCLASS=2"}, {false, "AT+FLID="}, {false, "AT+FDIS="},
                        {true, "AT+FCLASS=2.0"}, {true, "AT+FLO="}, {true, "AT+FNR="},
                        {true, "AT+FIS="}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    Class2Remote remote;
    remote.class20 = c.class20;
    remote.errorCommand = c.command;
    Send(remote, {WriteApf(dir / "FAX.APF", 1)});
    EXPECT_EQ(ecFaxInitError, owner.finishCode);
    EXPECT_EQ(0u, Count("ATDT5551234"));
  }
}

// A page of another resolution or width than the one before ends that one
// with EOM and goes under session parameters of its own.
TEST_F(Class2TransmitFixture, APageOfAnotherModeGetsParametersOfItsOwn) {
  for (bool class20 : {false, true}) {
    SCOPED_TRACE(class20);
    Class2Remote remote;
    remote.class20 = class20;
    remote.remoteCaps = "1,5,1,2,0,0,0,0";
    Send(remote, {WriteApf(dir / "MIXED.APF", {0, pfHighRes, pfHighRes, pfHighRes | pfWide})});
    // Each change of resolution is still reported, and the last report stands.
    EXPECT_EQ(ecFaxMixedResolution, owner.finishCode);
    EXPECT_EQ((std::vector<int>{flTransmitStart, flTransmitOk}), owner.logs);
    std::string set = class20 ? "AT+FIS=" : "AT+FDIS=";
    std::vector<std::string> expected;
    if (class20) {
      expected = {set + "0,5,0,2,0,0,0,0", "ATDT5551234", "AT+FDT",
                  set + "1,5,0,2,0,0,0,0", "AT+FDT", "AT+FDT",
                  set + "1,5,1,2,0,0,0,0", "AT+FDT"};
      EXPECT_EQ((std::vector<uint8_t>{';', ',', ';', '.'}), modem->pageEnds);
    } else {
      expected = {set + "0,5,0,2,0,0,0,0", "ATDT5551234", "AT+FDT", "AT+FET=1",
                  set + "1,5,0,2,0,0,0,0", "AT+FDT", "AT+FET=0", "AT+FDT", "AT+FET=1",
                  set + "1,5,1,2,0,0,0,0", "AT+FDT", "AT+FET=2"};
    }
    auto first = std::find(modem->commands.begin(), modem->commands.end(), expected[0]);
    EXPECT_EQ(expected, std::vector<std::string>(first, modem->commands.end()));
    ASSERT_EQ(4u, modem->pages.size());
    for (uint8_t p = 1; p <= 4; ++p) EXPECT_EQ(CodedPage(p), FilePart(modem->pages[p - 1], p));
    EXPECT_TRUE(session->modem.fineInUse);
    EXPECT_TRUE(session->modem.wideInUse);
  }
}

// Class 2 page data waits for the modem's XON, or a second without it;
// an XON that comes together with CONNECT counts at once.
TEST_F(Class2TransmitFixture, Class2PageDataFollowsTheXon) {
  struct Case { bool xon; bool withConnect; int64_t minMs, maxMs; };
  const Case cases[] = {{true, false, 0, 300}, {true, true, 0, 300}, {false, false, 900, 1300}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.xon) + std::to_string(c.withConnect));
    Class2Remote remote;
    remote.xon = c.xon;
    remote.xonWithConnect = c.withConnect;
    Send(remote, {WriteApf(dir / "FAX.APF", 2)});
    EXPECT_EQ(0, owner.finishCode);
    ASSERT_EQ(2u, modem->dataDelays.size());
    for (int64_t delay : modem->dataDelays) {
      EXPECT_LE(c.minMs, delay);
      EXPECT_GE(c.maxMs, delay);
    }
  }
}

TEST_F(Class2TransmitFixture, ClassAutoPicksTheBestClassTheModemNames) {
  struct Case { const char* reply; bool class20; int stored; };
  const Case cases[] = {{"0,1,2", false, kFaxClass2},
                        {"+FCLASS: 0,1,2.0", true, kFaxClass20},
                        {"(0,2,2.0)", true, kFaxClass20}};
  for (bool echo : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.reply) + (echo ? " echo" : ""));
      Class2Remote remote;
      remote.class20 = c.class20;
      remote.fclassReply = c.reply;
      remote.echo = echo;
      Send(remote, {WriteApf(dir / "FAX.APF", 1)}, kFaxClassDetect);
      EXPECT_EQ(c.stored, session->common.faxClass);
      EXPECT_EQ(0, owner.finishCode);
      EXPECT_EQ(1u, Count(c.class20 ? "AT+FCLASS=2.0" : "AT+FCLASS=2"));
      EXPECT_EQ(1u, modem->pages.size());
    }
  }
}

}  // namespace
}  // namespace tv
