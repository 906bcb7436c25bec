// The transmit state machine against an emulated Class 1 modem and far end
// on virtual time.
#include "engine/transmit/transmit.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "class1_line.h"
#include "test_owners.h"
#include "engine/class1/t30_frames.h"
#include "engine/files/apf_layout.h"
#include "engine/session/fax_session.h"
#include "engine/session/fax_status.h"
#include "images/t4/t4_decoder.h"
#include "platform/core/error_codes.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using test::Class1Line;
using test::Class1Remote;

// A page of line records: two coded lines (one holding a 0x10 byte, which
// must reach the modem doubled) and the end-of-page block.
std::vector<uint8_t> PageRecords(uint8_t mark) {
  return {6, 0, 0x00, 0x80, 0xB2, 0x59, 0x01, 0x00,
          4, 0, 0x00, 0x80, 0x10, mark,
          12, 0, 0x00, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00};
}

std::string WriteApf(const fs::path& path, const std::vector<uint16_t>& pageFlags) {
  std::vector<uint8_t> bytes;
  auto header = MakeApfFileHeader(0, "TELVANE", static_cast<uint16_t>(pageFlags.size()));
  bytes.insert(bytes.end(), header.begin(), header.end());
  uint8_t mark = 1;
  for (uint16_t flags : pageFlags) {
    std::vector<uint8_t> records = PageRecords(mark++);
    auto page = MakeApfPageHeader(static_cast<uint32_t>(records.size()), flags | pfLineRecords);
    bytes.insert(bytes.end(), page.begin(), page.end());
    bytes.insert(bytes.end(), records.begin(), records.end());
  }
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<char*>(bytes.data()), bytes.size());
  return path.string();
}

using Owner = test::TransmitOwner;

struct TransmitFixture : testing::Test {
  fs::path dir;
  Owner owner;
  std::unique_ptr<FaxSession> session;
  std::unique_ptr<Class1Line> line;

  TransmitFixture() {
    dir = fs::temp_directory_path() /
          ("tv-engine-tx-" + std::to_string(::getpid()) + "-" +
           testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
  }
  ~TransmitFixture() override { fs::remove_all(dir); }

  void Start(Class1Remote remote, int desiredBps = 14400,
             std::function<void(FaxSession&)> options = nullptr) {
    line = std::make_unique<Class1Line>(std::move(remote));
    ASSERT_EQ(ecOK, CreateSendSession(session, "123 456", line.get(), &owner));
    session->common.faxClass = kFaxClass1;
    SetDesiredBps(*session, desiredBps);
    SetSessionFlags(*session, ffExitOnError | ffSoftwareFlow);
    if (options) options(*session);
    StartTransmit(*session);
    ASSERT_TRUE(line->RunUntil([this] { return owner.finished; })) << "the run did not end";
  }

  std::vector<uint8_t> SentControls() const {
    std::vector<uint8_t> controls;
    for (const auto& f : line->frames) controls.push_back(f.control);
    return controls;
  }
  uint8_t DcsRate(size_t i = 0) const {
    size_t n = 0;
    for (const auto& f : line->frames)
      if (f.control == fcfDCS && n++ == i) return f.info.at(1) & 0x3C;
    return 0xFF;
  }
  // Page data after the engine's white lines and fill: from the file's
  // first record on.
  static std::vector<uint8_t> FilePart(const std::vector<uint8_t>& sent, uint8_t mark) {
    std::vector<uint8_t> needle = {0x00, 0x80, 0x10, mark};
    auto it = std::search(sent.begin(), sent.end(), needle.begin(), needle.end());
    if (it == sent.end() || it - sent.begin() < 6) return {};
    return std::vector<uint8_t>(it - 6, sent.end());
  }
};

TEST_F(TransmitFixture, SendsAOnePageFaxAtEachSpeed) {
  // The page goes with V.17's short training (146, 122) after the TCF.
  struct Case { int desired; const char* modulation; uint8_t dcsRate; int training; };
  const Case cases[] = {{14400, "146", 0x20, 2592}, {12000, "122", 0x28, 2160},
                        {9600, "96", 0x04, 1728},   {7200, "72", 0x0C, 1296},
                        {4800, "48", 0x08, 864},    {2400, "24", 0x00, 432}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.desired);
    owner = Owner{};
    owner.faxFiles = {WriteApf(dir / "ONE.APF", {0})};
    Start(Class1Remote{}, c.desired);
    EXPECT_EQ(0, owner.finishCode);
    EXPECT_EQ((std::vector<uint8_t>{fcfTSI, fcfDCS, fcfEOP, fcfDCN}), SentControls());
    EXPECT_EQ(c.dcsRate, DcsRate());
    ASSERT_EQ(1u, line->pages.size());
    EXPECT_EQ(c.modulation, line->modulationsUsed[0]);
    EXPECT_EQ(std::vector<int>{c.training}, line->trainingLengths);
    std::vector<uint8_t> expected = PageRecords(1);
    std::vector<uint8_t> coded = {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00, 0x00, 0x80, 0x10, 0x01,
                                  0x00, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08,
                                  0x80, 0x00};
    EXPECT_EQ(coded, FilePart(line->pages[0], 1));
    EXPECT_EQ((std::vector<int>{flTransmitStart, flTransmitOk}), owner.logs);
    // The station id goes out reversed after blanks.
    EXPECT_EQ(std::string(13, ' ') + "654 321",
              std::string(line->frames[0].info.begin(), line->frames[0].info.end()));
    EXPECT_EQ("REMOTE 1" + std::string(12, ' '), GetRemoteStationId(*session));
  }
}

TEST_F(TransmitFixture, MorePagesGoWithMpsAndSoftwareFlowOnlyDuringData) {
  owner.faxFiles = {WriteApf(dir / "TWO.APF", {0, 0, 0})};
  Start(Class1Remote{}, 9600);
  EXPECT_EQ(0, owner.finishCode);
  EXPECT_EQ((std::vector<uint8_t>{fcfTSI, fcfDCS, fcfMPS, fcfMPS, fcfEOP, fcfDCN}), SentControls());
  ASSERT_EQ(3u, line->pages.size());
  for (uint8_t page = 1; page <= 3; ++page)
    EXPECT_FALSE(FilePart(line->pages[page - 1], page).empty()) << int(page);
  // Flow control is switched on for the training and each page, and off
  // again before any frame is read.
  std::vector<std::string> expected = {"off", "output", "off"};
  for (int i = 0; i < 3; ++i) {
    expected.push_back("output");
    expected.push_back("off");
  }
  EXPECT_EQ(expected, line->flowChanges);
}

TEST_F(TransmitFixture, TheHeaderLineGoesOnTopOfEveryPage) {
  owner.faxFiles = {WriteApf(dir / "TWO.APF", {0, 0})};
  Start(Class1Remote{}, 9600, [](FaxSession& s) { SetHeaderLine(s, "$I page $P of $N"); });
  EXPECT_EQ(0, owner.finishCode);
  ASSERT_EQ(2u, line->pages.size());
  for (uint8_t page = 1; page <= 2; ++page) {
    const std::vector<uint8_t>& sent = line->pages[page - 1];
    size_t fileStart = sent.size() - FilePart(sent, page).size();
    // 8 white lines, the fill, then 8 rows of text with black runs.
    ASSERT_GT(fileStart, 8u * 6 + 8 * 8) << int(page);
    EXPECT_NE(line->pages[0], line->pages[1]);
  }
}

TEST_F(TransmitFixture, AModemThatHoldsPageDataIsWaitedForNotPolled) {
  // While the modem holds more than BufferMinimum bytes the pump waits for
  // the modem to take them; a long hold ends with the data time-out.
  struct Case { int holdMs; int code; };
  const Case cases[] = {{3000, ecOK}, {120000, ecTimeout}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.holdMs);
    owner = Owner{};
    owner.faxFiles = {WriteApf(dir / "TWO.APF", {0, 0})};
    Class1Remote remote;
    remote.holdPageMs = c.holdMs;
    Start(remote, 9600);
    EXPECT_EQ(c.code, owner.finishCode);
    EXPECT_EQ(c.code == ecOK ? 2u : 0u, line->pages.size());
  }
}

TEST_F(TransmitFixture, DialFailuresEndWithTheirCodes) {
  struct Case { const char* result; int code; };
  const Case cases[] = {{"VOICE", ecFaxVoiceCall}, {"NO DIALTONE", ecFaxNoDialTone},
                        {"NO CARRIER", ecFaxNoCarrier}, {"ERROR", ecFaxBadModemResult},
                        {"BUSY", ecFaxBusy}, {"NO ANSWER", ecFaxBusy}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    owner = Owner{};
    owner.faxFiles = {WriteApf(dir / "ONE.APF", {0})};
    Class1Remote remote;
    remote.dialResults = {c.result};
    Start(remote);
    EXPECT_EQ(c.code, owner.finishCode);
    EXPECT_EQ(std::vector<int>{c.code}, owner.errors);
    EXPECT_EQ(flTransmitFail, owner.logs.back());
    EXPECT_TRUE(line->pages.empty());
  }
}

TEST_F(TransmitFixture, BusyIsRedialledAfterTheRetryWait) {
  owner.faxFiles = {WriteApf(dir / "ONE.APF", {0})};
  Class1Remote remote;
  remote.dialResults = {"BUSY", "NO ANSWER"};
  Start(remote, 9600, [](FaxSession& s) {
    SetDialAttempts(s, 3);
    SetDialRetryWait(s, 30);
  });
  EXPECT_EQ(0, owner.finishCode);
  EXPECT_EQ(3, line->dials);
  EXPECT_GE(line->NowMs(), 60000);  // two waits of 30 s
  EXPECT_NE(owner.statuses.end(),
            std::find(owner.statuses.begin(), owner.statuses.end(), fsBusyWaiting));
}

TEST_F(TransmitFixture, BusyOnTheLastAttemptGoesOnWithTheNextFax) {
  owner.faxFiles = {WriteApf(dir / "ONE.APF", {0}), WriteApf(dir / "TWO.APF", {0})};
  Class1Remote remote;
  remote.dialResults = {"BUSY", "BUSY"};
  Start(remote, 9600, [](FaxSession& s) {
    SetSessionFlags(s, 0);
    SetDialAttempts(s, 2);
    SetDialRetryWait(s, 1);
  });
  EXPECT_EQ(3, line->dials);
  EXPECT_EQ(1u, line->pages.size());  // the second fax got through
  EXPECT_EQ((std::vector<int>{flTransmitStart, flTransmitFail, flTransmitStart, flTransmitOk}),
            owner.logs);
}

TEST_F(TransmitFixture, FttStepsTheSpeedDownUntilCfr) {
  owner.faxFiles = {WriteApf(dir / "ONE.APF", {0})};
  Class1Remote remote;
  remote.ftt = 2;
  Start(remote, 14400);
  EXPECT_EQ(0, owner.finishCode);
  EXPECT_EQ((std::vector<int>{2592, 2160, 1728}), line->trainingLengths);
  EXPECT_EQ(0x20, DcsRate(0));
  EXPECT_EQ(0x28, DcsRate(1));
  EXPECT_EQ(0x04, DcsRate(2));
  EXPECT_EQ(std::vector<std::string>{"96"}, line->modulationsUsed);
  // TSI only with the first DCS.
  EXPECT_EQ((std::vector<uint8_t>{fcfTSI, fcfDCS, fcfDCS, fcfDCS, fcfEOP, fcfDCN}), SentControls());
}

TEST_F(TransmitFixture, FttBelow2400FailsWithTrainError) {
  owner.faxFiles = {WriteApf(dir / "ONE.APF", {0})};
  Class1Remote remote;
  remote.ftt = 100;
  remote.disA = 0x4C;  // V.27 ter and V.29: 9600, 7200, 4800, 2400
  Start(remote, 14400);
  EXPECT_EQ(ecFaxTrainError, owner.finishCode);
  EXPECT_EQ((std::vector<int>{1728, 1296, 864, 432}), line->trainingLengths);
  EXPECT_TRUE(line->pages.empty());
}

TEST_F(TransmitFixture, RtnSendsThePageAgainAtALowerSpeed) {
  // After RTN the page goes again behind a new DCS and TCF (V.17's long
  // training), then with the short training.
  struct Case { int desired; std::vector<std::string> modulations; std::vector<int> trainings; };
  const Case cases[] = {{9600, {"96", "72", "72"}, {1728, 1296}},
                        {14400, {"146", "122", "122"}, {2592, 2160}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.desired);
    owner = Owner{};
    owner.faxFiles = {WriteApf(dir / "TWO.APF", {0, 0})};
    Class1Remote remote;
    remote.postPage = {"RTN"};
    Start(remote, c.desired);
    EXPECT_EQ(0, owner.finishCode);
    ASSERT_EQ(3u, line->pages.size());
    EXPECT_EQ(c.modulations, line->modulationsUsed);
    EXPECT_EQ(c.trainings, line->trainingLengths);
    EXPECT_EQ(FilePart(line->pages[0], 1), FilePart(line->pages[1], 1));
    EXPECT_FALSE(FilePart(line->pages[2], 2).empty());
    EXPECT_EQ((std::vector<uint8_t>{fcfTSI, fcfDCS, fcfMPS, fcfDCS, fcfMPS, fcfEOP, fcfDCN}),
              SentControls());
  }
}

TEST_F(TransmitFixture, RtnToTheLastPageRetrainsAndSendsItAgain) {
  owner.faxFiles = {WriteApf(dir / "ONE.APF", {0})};
  Class1Remote remote;
  remote.postPage = {"RTN"};
  Start(remote, 14400);
  EXPECT_EQ(0, owner.finishCode);
  EXPECT_EQ((std::vector<uint8_t>{fcfTSI, fcfDCS, fcfEOP, fcfDCS, fcfEOP, fcfDCN}), SentControls());
  EXPECT_EQ((std::vector<std::string>{"146", "122"}), line->modulationsUsed);
  ASSERT_EQ(2u, line->pages.size());
  EXPECT_EQ(FilePart(line->pages[0], 1), FilePart(line->pages[1], 1));
}

TEST_F(TransmitFixture, DcnFromTheRemoteEndsTheCall) {
  owner.faxFiles = {WriteApf(dir / "ONE.APF", {0})};
  Class1Remote remote;
  remote.dcnAtStart = true;
  Start(remote);
  EXPECT_EQ(ecCancelRequested, owner.finishCode);
  Class1Remote later;
  later.postPage = {"DCN"};
  owner = Owner{};
  owner.faxFiles = {WriteApf(dir / "ONE.APF", {0})};
  Start(later);
  EXPECT_EQ(ecCancelRequested, owner.finishCode);
}

TEST_F(TransmitFixture, AFinePageToANormalOnlyRemoteIsRefused) {
  owner.faxFiles = {WriteApf(dir / "FINE.APF", {pfHighRes})};
  Class1Remote remote;
  remote.disA = 0x2E;  // no fine resolution
  Start(remote);
  EXPECT_EQ(ecFaxBadMachine, owner.finishCode);
  EXPECT_EQ(std::vector<int>{ecFaxBadMachine}, owner.errors);  // reported once
}

TEST_F(TransmitFixture, APageOfOtherResolutionGoesBehindADcsOfItsOwn) {
  // The far end reads each page by the last DCS: a fine page after a normal
  // one gets a new DCS and TCF after the MCF, and so does the normal page
  // after it. The change is still reported.
  owner.faxFiles = {WriteApf(dir / "MIXED.APF", {0, pfHighRes, 0})};
  Start(Class1Remote{}, 14400);
  EXPECT_EQ(ecFaxMixedResolution, owner.finishCode);  // the last error stands
  EXPECT_EQ((std::vector<int>{ecFaxMixedResolution, ecFaxMixedResolution}), owner.errors);
  EXPECT_EQ((std::vector<int>{flTransmitStart, flTransmitOk}), owner.logs);
  ASSERT_EQ(3u, line->pages.size());
  EXPECT_EQ((std::vector<uint8_t>{fcfTSI, fcfDCS, fcfMPS, fcfDCS, fcfMPS, fcfDCS, fcfEOP, fcfDCN}),
            SentControls());
  std::vector<bool> fine;
  for (const auto& f : line->frames)
    if (f.control == fcfDCS) fine.push_back((f.info.at(1) & 0x40) != 0);
  EXPECT_EQ((std::vector<bool>{false, true, false}), fine);
  EXPECT_EQ((std::vector<std::string>{"146", "146", "146"}), line->modulationsUsed);
  EXPECT_EQ((std::vector<int>{2592, 2592, 2592}), line->trainingLengths);
  for (uint8_t page = 1; page <= 3; ++page)
    EXPECT_FALSE(FilePart(line->pages[page - 1], page).empty()) << int(page);
}

TEST_F(TransmitFixture, AFinePageAfterANormalOneToANormalOnlyRemoteIsRefused) {
  owner.faxFiles = {WriteApf(dir / "MIXED.APF", {0, pfHighRes})};
  Class1Remote remote;
  remote.disA = 0x2E;  // no fine resolution
  Start(remote, 9600);
  EXPECT_EQ(ecFaxBadMachine, owner.finishCode);
  EXPECT_EQ(1u, line->pages.size());
}

// Collects the byte count of each decoded line.
struct WidthSink : t4::LineSink {
  std::vector<int> bytes;
  bool Line(const uint8_t*, int n) override {
    bytes.push_back(n);
    return true;
  }
};

TEST_F(TransmitFixture, WhiteLinesAndHeaderAreAsWideAsThePage) {
  // A wide page's record is the all-white 2048-pixel line.
  const std::vector<uint8_t> wideWhite = {0x00, 0x80, 0x80, 0xCC, 0x0A, 0x00};
  struct Case { uint16_t flags; int bytes; };
  const Case cases[] = {{0, 216}, {pfWide, 256}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    owner = Owner{};
    std::vector<uint8_t> file;
    auto header = MakeApfFileHeader(0, "TELVANE", 1);
    file.insert(file.end(), header.begin(), header.end());
    std::vector<uint8_t> records = {6, 0};
    if (c.flags) records.insert(records.end(), wideWhite.begin(), wideWhite.end());
    else records.insert(records.end(), {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00});
    auto page = MakeApfPageHeader(static_cast<uint32_t>(records.size()), c.flags | pfLineRecords);
    file.insert(file.end(), page.begin(), page.end());
    file.insert(file.end(), records.begin(), records.end());
    std::ofstream(dir / "W.APF", std::ios::binary)
        .write(reinterpret_cast<char*>(file.data()), static_cast<long>(file.size()));
    owner.faxFiles = {(dir / "W.APF").string()};
    Start(Class1Remote{}, 9600, [](FaxSession& s) { SetHeaderLine(s, "$I page $P"); });
    EXPECT_EQ(0, owner.finishCode);
    ASSERT_EQ(1u, line->pages.size());
    t4::T4Decoder decoder;
    WidthSink sink;
    decoder.StartPage();
    std::vector<uint8_t> sent = line->pages[0];
    sent.insert(sent.end(), {0x00, 0x80});  // an EOL closes the file's line
    decoder.Feed(sent.data(), sent.size(), sink);
    decoder.Finish(sink);
    EXPECT_EQ(0, decoder.BadCodes());
    // 8 white lines, 8 header rows and the file's line, all of the page's width.
    EXPECT_EQ(std::vector<int>(17, c.bytes), sink.bytes);
  }
}

TEST_F(TransmitFixture, TimeOutsEndTheCall) {
  owner.faxFiles = {WriteApf(dir / "ONE.APF", {0})};
  Class1Remote remote;
  remote.silentAfter = 6;  // answers stop after the dial
  Start(remote);
  EXPECT_EQ(ecTimeout, owner.finishCode);
}

TEST_F(TransmitFixture, AMissingPostPageReplyIsAskedForThreeTimes) {
  owner.faxFiles = {WriteApf(dir / "ONE.APF", {0})};
  Class1Remote remote;
  remote.postPage = {"", "", ""};
  Start(remote);
  EXPECT_EQ(ecTimeout, owner.finishCode);
  EXPECT_EQ((std::vector<uint8_t>{fcfTSI, fcfDCS, fcfEOP, fcfEOP, fcfEOP}), SentControls());

  owner = Owner{};
  owner.faxFiles = {WriteApf(dir / "ONE.APF", {0})};
  remote.postPage = {"", "MCF"};
  Start(remote);
  EXPECT_EQ(0, owner.finishCode);
}

TEST_F(TransmitFixture, UserAbortEndsWithStatus42AndCancel) {
  owner.faxFiles = {WriteApf(dir / "ONE.APF", {0})};
  bool aborted = false;
  owner.onStatus = [&aborted](FaxSession& s) {
    if (!aborted && s.common.status == fsSendingPage) {
      aborted = true;
      s.common.step(s, FaxMsgUserAbort, 0);
    }
  };
  Start(Class1Remote{}, 9600, [](FaxSession& s) { SetSessionFlags(s, 0); });
  EXPECT_TRUE(aborted);
  EXPECT_EQ(ecCancelRequested, owner.finishCode);
  EXPECT_EQ(fsUserAbort, session->common.status);
}

TEST_F(TransmitFixture, NoFileGivesMinus6010AndAModemWithoutClass1Fails) {
  owner.faxFiles = {""};
  Start(Class1Remote{});
  EXPECT_EQ(ecNoFilename, owner.finishCode);
  owner = Owner{};
  owner.faxFiles = {WriteApf(dir / "ONE.APF", {0})};
  Class1Remote remote;
  remote.fclassError = true;
  Start(remote);
  EXPECT_EQ(ecFaxBadModemResult, owner.finishCode);
}

}  // namespace
}  // namespace tv
