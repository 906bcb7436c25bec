// The receive state machine against an emulated Class 1 modem with a far
// end that calls and sends, on virtual time.
#include "engine/receive/receive.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "class1_line.h"
#include "test_owners.h"
#include "engine/class1/t30_frames.h"
#include "engine/files/fax_files.h"
#include "engine/session/fax_session.h"
#include "engine/session/fax_status.h"
#include "platform/core/error_codes.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using test::Class1Caller;
using test::Class1Sender;

using Owner = test::ReceiveOwner;

std::vector<uint8_t> PageBytes(uint8_t mark, size_t n) {
  std::vector<uint8_t> page = {0x00, 0x80, 0x10, mark};
  for (size_t i = 0; i < n; ++i) page.push_back(static_cast<uint8_t>(i * 7));
  return page;
}

struct ReceiveFixture : testing::Test {
  Owner owner;
  std::unique_ptr<FaxSession> session;
  std::unique_ptr<Class1Caller> line;

  ReceiveFixture() {
    owner.dir = fs::temp_directory_path() /
                ("tv-engine-rx-" + std::to_string(::getpid()) + "-" +
                 testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(owner.dir);
  }
  ~ReceiveFixture() override { fs::remove_all(owner.dir); }

  void Run(Class1Sender sender, int desiredBps = 14400, int answerOnRing = 1) {
    line = std::make_unique<Class1Caller>(std::move(sender));
    ASSERT_EQ(ecOK, CreateReceiveSession(session, "STATION", line.get(), &owner));
    session->common.faxClass = kFaxClass1;
    SetDesiredBps(*session, desiredBps);
    SetAnswerOnRing(*session, answerOnRing);
    SetSessionFlags(*session, ffExitOnError | ffSoftwareFlow);
    SetOneFax(*session, true);
    StartReceive(*session);
    line->Ring();
    ASSERT_TRUE(line->RunUntil([this] { return owner.finished; })) << "the run did not end";
  }

  std::vector<uint8_t> StoredPage(const std::string& file, int page) {
    FaxFileReader reader;
    EXPECT_EQ(ecOK, reader.Open(file, "APF"));
    EXPECT_EQ(ecOK, reader.SeekPage(page));
    std::vector<uint8_t> all, block;
    long counted;
    while (!reader.AtPageEnd()) {
      EXPECT_EQ(ecOK, reader.ReadBlock(block, 0, counted));
      all.insert(all.end(), block.begin(), block.end());
    }
    return all;
  }
};

TEST_F(ReceiveFixture, ReceivesPagesExactlyAsSent) {
  Class1Sender sender;
  sender.pages = {PageBytes(1, 5000), PageBytes(2, 100), PageBytes(3, 9000)};
  sender.fine = true;
  Run(sender, 9600);
  EXPECT_EQ(0, owner.finishCode);
  ASSERT_EQ(1u, owner.files.size());
  EXPECT_EQ(std::vector<std::string>{"CALLER 9" + std::string(12, ' ')}, owner.callers);
  EXPECT_EQ((std::vector<int>{flReceiveStart, flReceiveOk}), owner.logs);
  FaxFileReader reader;
  ASSERT_EQ(ecOK, reader.Open(owner.files[0], "APF"));
  EXPECT_EQ(3, reader.PageCount());
  for (int page = 1; page <= 3; ++page) {
    EXPECT_EQ(sender.pages[page - 1], StoredPage(owner.files[0], page)) << page;
  }
  ASSERT_EQ(ecOK, reader.SeekPage(1));
  EXPECT_EQ(1, reader.PageFlags());  // fine
  // CSI and DIS, CFR, three MCF.
  std::vector<uint8_t> controls;
  for (const auto& f : line->frames) controls.push_back(f.control);
  EXPECT_EQ((std::vector<uint8_t>{fcfCSI, fcfDIS, fcfCFR, fcfMCF, fcfMCF, fcfMCF}), controls);
  EXPECT_EQ(std::string(13, ' ') + "NOITATS",
            std::string(line->frames[0].info.begin(), line->frames[0].info.end()));
  // The DIS offers what the modem has, within DesiredBPS.
  EXPECT_EQ(0x42 | 0x0C, line->frames[1].info.at(1));
}

TEST_F(ReceiveFixture, TakesTheSpeedTheCallerChooses) {
  // V.17 trains long for TCF and short for the page that follows.
  struct Case { uint8_t rate; const char* modulation; const char* page; };
  const Case cases[] = {{0x20, "145", "146"}, {0x28, "121", "122"}, {0x04, "96", "96"},
                        {0x24, "97", "98"},   {0x2C, "73", "74"},   {0x0C, "72", "72"},
                        {0x08, "48", "48"},   {0x00, "24", "24"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.modulation);
    owner.files.clear();
    owner.finished = false;
    Class1Sender sender;
    sender.dcsRates = {c.rate};
    Run(sender);
    EXPECT_EQ(0, owner.finishCode);
    EXPECT_EQ((std::vector<std::string>{c.modulation, c.page}),  // training, page
              line->modulationsUsed);
  }
}

TEST_F(ReceiveFixture, ABadTrainingIsAnsweredWithFtt) {
  Class1Sender sender;
  sender.dcsRates = {0x20, 0x28};
  sender.badTrainings = 1;
  Run(sender);
  EXPECT_EQ(0, owner.finishCode);
  EXPECT_EQ((std::vector<int>{0, 1}), line->trainingVerdicts);
  EXPECT_EQ((std::vector<std::string>{"145", "121", "122"}), line->modulationsUsed);
}

TEST_F(ReceiveFixture, FcerrorReadsTheRepeatedFramesAndTheCallGoesOn) {
  Class1Sender sender;
  sender.fcerrorOnce = true;
  sender.pages = {PageBytes(1, 400)};
  Run(sender);
  EXPECT_EQ(0, owner.finishCode);
  ASSERT_EQ(1u, owner.files.size());  // accepted once
  EXPECT_EQ((std::vector<int>{1, 1}), line->trainingVerdicts);
  EXPECT_EQ(sender.pages[0], StoredPage(owner.files[0], 1));
}

TEST_F(ReceiveFixture, FttAt2400EndsTheCall) {
  Class1Sender sender;
  sender.dcsRates = {0x00};
  sender.badTrainings = 5;
  Run(sender);
  EXPECT_EQ(ecFaxTrainError, owner.finishCode);
  EXPECT_TRUE(owner.files.empty());
}

TEST_F(ReceiveFixture, AnswersOnTheGivenRing) {
  Class1Sender sender;
  sender.rings = 3;
  Run(sender, 9600, 3);
  EXPECT_EQ(0, owner.finishCode);
  EXPECT_GE(line->NowMs(), 9000);
}

// A call may start ringing while the modem is being set up: that RING is
// no reply to the set-up command and the call is still answered.
TEST_F(ReceiveFixture, ARingDuringTheSetUpIsNoReply) {
  Class1Sender sender;
  sender.ringDuringSetUp = true;
  Run(sender, 9600);
  EXPECT_EQ(0, owner.finishCode);
  EXPECT_EQ(1u, owner.files.size());
}

TEST_F(ReceiveFixture, ARefusedCallIsSkipped) {
  owner.accept = false;
  Run(Class1Sender{});
  EXPECT_EQ(ecFileRejected, owner.finishCode);
  EXPECT_EQ(std::vector<int>{flReceiveSkip}, owner.logs);
  EXPECT_TRUE(owner.files.empty());
}

TEST_F(ReceiveFixture, ADataCallIsRefused) {
  Class1Sender sender;
  sender.ringResult = "CONNECT 2400";
  Run(sender);
  EXPECT_EQ(ecFaxDataCall, owner.finishCode);
}

TEST_F(ReceiveFixture, ARemoteThatStopsInAPageEndsWithTimeoutAndKeepsThePagesBefore) {
  Class1Sender sender;
  sender.pages = {PageBytes(1, 300), PageBytes(2, 300)};
  sender.stopInPage = 1;
  Run(sender);
  EXPECT_EQ(ecTimeout, owner.finishCode);
  ASSERT_EQ(1u, owner.files.size());
  EXPECT_EQ((std::vector<int>{flReceiveStart, flReceiveFail}), owner.logs);
  FaxFileReader reader;
  ASSERT_EQ(ecOK, reader.Open(owner.files[0], "APF"));
  EXPECT_EQ(2, reader.PageCount());  // the broken page is finished and kept
  EXPECT_EQ(sender.pages[0], StoredPage(owner.files[0], 1));
}

}  // namespace
}  // namespace tv
