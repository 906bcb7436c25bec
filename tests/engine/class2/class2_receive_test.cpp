// The receive state machine against emulated Class 2 and Class 2.0 modems
// whose far end calls and sends, on virtual time.
#include "engine/receive/receive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "class2_modem.h"
#include "test_owners.h"
#include "engine/files/fax_files.h"
#include "engine/session/fax_session.h"
#include "engine/session/fax_status.h"
#include "platform/core/error_codes.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using test::Class2Delivery;
using test::Class2Modem;
using test::Class2Remote;

using Owner = test::ReceiveOwner;

// Page bytes that tell the pages apart and hold a DLE.
std::vector<uint8_t> PageBytes(uint8_t mark) {
  std::vector<uint8_t> page = {0x00, 0x01, 0x10, mark};
  for (int i = 0; i < 300; ++i) page.push_back(static_cast<uint8_t>(i * 7));
  return page;
}

uint8_t Reversed(uint8_t b) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i)
    if (b & (1 << i)) r = static_cast<uint8_t>(r | (0x80 >> i));
  return r;
}

// What the engine should store of bytes a modem of the class delivered.
std::vector<uint8_t> Stored(const std::vector<uint8_t>& delivered, bool class20) {
  std::vector<uint8_t> stored = delivered;
  if (!class20) std::transform(stored.begin(), stored.end(), stored.begin(), Reversed);
  return stored;
}

struct Class2ReceiveFixture : testing::Test {
  Owner owner;
  std::unique_ptr<FaxSession> session;
  std::unique_ptr<Class2Modem> modem;

  Class2ReceiveFixture() {
    owner.dir = fs::temp_directory_path() /
                ("tv-engine-c2rx-" + std::to_string(::getpid()) + "-" +
                 testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  ~Class2ReceiveFixture() override { fs::remove_all(owner.dir); }

  void Run(Class2Remote remote, bool accept = true, int64_t firstRingMs = 3000) {
    fs::remove_all(owner.dir);
    fs::create_directories(owner.dir);
    fs::path dir = owner.dir;
    owner = Owner{};
    owner.dir = dir;
    owner.accept = accept;
    bool class20 = remote.class20;
    modem = std::make_unique<Class2Modem>(std::move(remote));
    ASSERT_EQ(ecOK, CreateReceiveSession(session, "STATION", modem.get(), &owner));
    session->common.faxClass = class20 ? kFaxClass20 : kFaxClass2;
    SetDesiredBps(*session, 14400);
    SetSessionFlags(*session, ffExitOnError);
    SetOneFax(*session, true);
    StartReceive(*session);
    modem->Ring(firstRingMs);
    ASSERT_TRUE(modem->RunUntil([this] { return owner.finished; })) << "the run did not end";
  }

  size_t Count(const std::string& command) const {
    return static_cast<size_t>(std::count(modem->commands.begin(), modem->commands.end(), command));
  }

  static std::vector<std::vector<uint8_t>> StoredPages(const std::string& file) {
    FaxFileReader reader;
    EXPECT_EQ(ecOK, reader.Open(file, "APF"));
    std::vector<std::vector<uint8_t>> pages;
    for (int p = 1; p <= reader.PageCount(); ++p) {
      EXPECT_EQ(ecOK, reader.SeekPage(p));
      std::vector<uint8_t> all, block;
      long counted;
      while (!reader.AtPageEnd()) {
        EXPECT_EQ(ecOK, reader.ReadBlock(block, 0, counted));
        all.insert(all.end(), block.begin(), block.end());
      }
      pages.push_back(all);
    }
    return pages;
  }
};

TEST_F(Class2ReceiveFixture, ReceivesOneAndThreePagesInBothClasses) {
  for (bool class20 : {false, true}) {
    for (int pages : {1, 3}) {
      SCOPED_TRACE(std::string(class20 ? "2.0 " : "2 ") + std::to_string(pages));
      Class2Remote remote;
      remote.class20 = class20;
      for (int p = 1; p <= pages; ++p)
        remote.deliveries.push_back(Class2Delivery{PageBytes(static_cast<uint8_t>(p))});
      Run(remote);
      EXPECT_EQ(0, owner.finishCode);
      EXPECT_EQ((std::vector<int>{flReceiveStart, flReceiveOk}), owner.logs);
      EXPECT_EQ(std::vector<std::string>{"CALLER 9"}, owner.callers);
      EXPECT_EQ(pages, modem->dc2Count);  // one DC2 before each page
      EXPECT_EQ(static_cast<size_t>(pages + 1), Count("AT+FDR"));
      ASSERT_EQ(1u, owner.files.size());
      auto stored = StoredPages(owner.files[0]);
      ASSERT_EQ(static_cast<size_t>(pages), stored.size());
      for (int p = 0; p < pages; ++p)
        EXPECT_EQ(Stored(PageBytes(static_cast<uint8_t>(p + 1)), class20), stored[p]);
      EXPECT_EQ(0, session->modem.hangupCode);
      EXPECT_EQ(pages, session->common.currentPage);
      // The set-up the machine sends after the class command.
      if (class20) {
        EXPECT_EQ(1u, Count("AT+FCC=1,5,0,2,0,0,0,0"));
        EXPECT_EQ(1u, Count("AT+FNR=1,1,1,0"));
        EXPECT_EQ(1u, Count("AT+FLI=\"STATION\""));
      } else {
        EXPECT_EQ(1u, Count("AT+FDCC=1,5,0,2,0,0,0,0"));
        EXPECT_EQ(1u, Count("AT+FLID=\"STATION\""));
      }
    }
  }
}

TEST_F(Class2ReceiveFixture, Class2ReversesEachByteAndClass20KeepsIt) {
  const std::vector<uint8_t> delivered = {0x01, 0x10, 0xF0, 0x80, 0x03, 0x12};
  const std::vector<uint8_t> reversed = {0x80, 0x08, 0x0F, 0x01, 0xC0, 0x48};
  for (bool class20 : {false, true}) {
    SCOPED_TRACE(class20);
    Class2Remote remote;
    remote.class20 = class20;
    remote.deliveries = {Class2Delivery{delivered}};
    Run(remote);
    ASSERT_EQ(1u, owner.files.size());
    auto stored = StoredPages(owner.files[0]);
    ASSERT_EQ(1u, stored.size());
    EXPECT_EQ(class20 ? delivered : reversed, stored[0]);
  }
}

// A modem may shorten a doubled data DLE pair to DLE SUB; both DLEs are page
// data and must reach the file, where dropping one would shift the code.
TEST_F(Class2ReceiveFixture, DleSubStandsForTwoDataDles) {
  const std::vector<uint8_t> delivered = {0x01, 0x10, 0x10, 0x1A, 0x10, 0x10, 0x10, 0x22};
  for (bool class20 : {false, true}) {
    SCOPED_TRACE(class20);
    Class2Remote remote;
    remote.class20 = class20;
    Class2Delivery page{delivered};
    page.dleSub = true;
    remote.deliveries = {page};
    Run(remote);
    ASSERT_EQ(1u, owner.files.size());
    auto stored = StoredPages(owner.files[0]);
    ASSERT_EQ(1u, stored.size());
    EXPECT_EQ(Stored(delivered, class20), stored[0]);
  }
}

TEST_F(Class2ReceiveFixture, ASetUpCommandAnsweredWithErrorFailsTheInit) {
  struct Case { bool class20; const char* command; };
  const Case cases[] = {{false, "AT+FCLASS=2"}, {false, "AT+FDCC="}, {true, "AT+FCLASS=2.0"},
                        {true, "AT+FCC="}, {true, "AT+FLO="}, {true, "AT+FNR="}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    Class2Remote remote;
    remote.class20 = c.class20;
    remote.errorCommand = c.command;
    remote.deliveries = {Class2Delivery{PageBytes(1)}};
    Run(remote);
    EXPECT_EQ(ecFaxInitError, owner.finishCode);
    EXPECT_EQ(0u, Count("ATA"));
  }
}

// A RING while the machine still sets the modem up is no answer to its
// command; the call is answered at a later RING.
TEST_F(Class2ReceiveFixture, ARingDuringTheSetUpIsNoReply) {
  for (bool class20 : {false, true}) {
    for (int64_t firstRing : {10, 60, 150, 260}) {
      SCOPED_TRACE(std::string(class20 ? "2.0 " : "2 ") + std::to_string(firstRing));
      Class2Remote remote;
      remote.class20 = class20;
      remote.rings = 2;
      remote.deliveries = {Class2Delivery{PageBytes(1)}};
      Run(remote, true, firstRing);
      EXPECT_EQ(0, owner.finishCode);
      EXPECT_EQ(1u, Count("ATA"));
      EXPECT_EQ(1u, owner.files.size());
    }
  }
}

// The caller's session parameters are read at fixed positions and give the
// stored page's flags; a two-digit field shifts what stands there.
TEST_F(Class2ReceiveFixture, SessionParametersGiveThePageFlags) {
  struct Case { const char* params; uint16_t flags; int rate; };
  const Case cases[] = {{"1,5,0,2,0,0,0,0", 1, 14400},
                        {"0,3,1,2,0,0,0,0", 2, 9600},
                        {"1,13,0,2,0,0,0,0", 1, 4800}};
  for (bool class20 : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(class20 ? "2.0 " : "2 ") + c.params);
      Class2Remote remote;
      remote.class20 = class20;
      remote.callerParams = c.params;
      remote.deliveries = {Class2Delivery{PageBytes(1)}};
      Run(remote);
      EXPECT_EQ(0, owner.finishCode);
      EXPECT_EQ(c.rate, session->modem.bitRate);
      ASSERT_EQ(1u, owner.files.size());
      FaxFileReader reader;
      ASSERT_EQ(ecOK, reader.Open(owner.files[0], "APF"));
      ASSERT_EQ(ecOK, reader.SeekPage(1));
      EXPECT_EQ(c.flags, reader.PageFlags());
    }
  }
}

// A page with a bad status (or ERROR after it) is cut from the file; the page
// the far end sends again takes its place under the same number.
TEST_F(Class2ReceiveFixture, ARefusedPageIsReplacedByTheOneSentAgain) {
  // ERROR after a good status drops the page that was already stored.
  struct Case { int quality; bool error; bool errorAfterStatus; };
  const Case cases[] = {{2, false, false}, {4, false, false}, {0, true, false}, {1, false, true}};
  for (bool class20 : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(class20 ? "2.0 " : "2 ") + std::to_string(c.quality) +
                   (c.error ? " ERROR" : "") + (c.errorAfterStatus ? " then ERROR" : ""));
      Class2Delivery bad{PageBytes(0xEE), c.quality};
      bad.error = c.error;
      bad.errorAfterStatus = c.errorAfterStatus;
      bad.postPage = 0;
      Class2Remote remote;
      remote.class20 = class20;
      remote.deliveries = {Class2Delivery{PageBytes(1)}, bad, Class2Delivery{PageBytes(2)},
                           Class2Delivery{PageBytes(3)}};
      Run(remote);
      EXPECT_EQ(0, owner.finishCode);
      ASSERT_EQ(1u, owner.files.size());
      auto stored = StoredPages(owner.files[0]);
      ASSERT_EQ(3u, stored.size());
      for (int p = 0; p < 3; ++p)
        EXPECT_EQ(Stored(PageBytes(static_cast<uint8_t>(p + 1)), class20), stored[p]);
      EXPECT_EQ(3, session->common.currentPage);
      // Nothing of the refused page is left behind the last one.
      EXPECT_EQ(64u + 3 * (16 + PageBytes(1).size()), fs::file_size(owner.files[0]));
    }
  }
}

TEST_F(Class2ReceiveFixture, PostPageCodesAfterThePageDecideItsFile) {
  // +FET:3 (a page after an interrupt) and codes not known here keep the
  // next page in the same file.
  for (int code : {3, 7}) {
    SCOPED_TRACE(code);
    Class2Delivery first{PageBytes(1)};
    first.postPage = code;
    Class2Remote remote;
    remote.deliveries = {first, Class2Delivery{PageBytes(2)}};
    Run(remote);
    EXPECT_EQ(0, owner.finishCode);
    ASSERT_EQ(1u, owner.files.size());
    EXPECT_EQ((std::vector<std::vector<uint8_t>>{Stored(PageBytes(1), false),
                                                 Stored(PageBytes(2), false)}),
              StoredPages(owner.files[0]));
  }
  // +FET:1: another document, in a file of its own.
  for (bool class20 : {false, true}) {
    SCOPED_TRACE(class20);
    Class2Delivery first{PageBytes(1)};
    first.postPage = 1;
    Class2Remote remote;
    remote.class20 = class20;
    remote.deliveries = {first, Class2Delivery{PageBytes(2)}, Class2Delivery{PageBytes(3)}};
    Run(remote);
    EXPECT_EQ(0, owner.finishCode);
    EXPECT_EQ((std::vector<int>{flReceiveStart, flReceiveOk, flReceiveStart, flReceiveOk}),
              owner.logs);
    ASSERT_EQ(2u, owner.files.size());
    EXPECT_EQ(std::vector<std::vector<uint8_t>>{Stored(PageBytes(1), class20)},
              StoredPages(owner.files[0]));
    EXPECT_EQ((std::vector<std::vector<uint8_t>>{Stored(PageBytes(2), class20),
                                                 Stored(PageBytes(3), class20)}),
              StoredPages(owner.files[1]));
  }
}

TEST_F(Class2ReceiveFixture, AnUnexpectedHangupReportEndsTheCallKeepingThePagesSoFar) {
  for (bool class20 : {false, true}) {
    SCOPED_TRACE(class20);
    Class2Remote remote;
    remote.class20 = class20;
    remote.deliveries = {Class2Delivery{PageBytes(1)}, Class2Delivery{PageBytes(2)}};
    remote.hangupAtDelivery = 1;
    Run(remote);
    EXPECT_EQ(ecFaxSessionError, owner.finishCode);
    EXPECT_EQ(50, session->modem.hangupCode);
    EXPECT_EQ((std::vector<int>{flReceiveStart, flReceiveFail}), owner.logs);
    ASSERT_EQ(1u, owner.files.size());
    EXPECT_EQ(1u, StoredPages(owner.files[0]).size());
  }
}

TEST_F(Class2ReceiveFixture, TheOwnerDecidesEveryCallWithOrWithoutCallerId) {
  struct Case { bool class20; const char* tsi; bool accept; };
  const Case cases[] = {{false, "\"12 34 567\"", false}, {true, "\"12 34 567\"", false},
                        {false, "", true}, {true, "", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.class20 ? "2.0 " : "2 ") + c.tsi + (c.accept ? " take" : " refuse"));
    Class2Remote remote;
    remote.class20 = c.class20;
    remote.tsi = c.tsi;
    remote.deliveries = {Class2Delivery{PageBytes(1)}};
    Run(remote, c.accept);
    EXPECT_EQ(std::vector<std::string>{*c.tsi ? "12 34 567" : ""}, owner.callers);
    if (c.accept) {
      EXPECT_EQ(0, owner.finishCode);
      EXPECT_EQ(1u, owner.files.size());
    } else {
      EXPECT_EQ(ecFileRejected, owner.finishCode);
      EXPECT_EQ(std::vector<int>{flReceiveSkip}, owner.logs);
      EXPECT_EQ(1u, Count(c.class20 ? "AT+FKS" : "AT+FK"));
      EXPECT_EQ(0u, Count("AT+FDR"));
      EXPECT_TRUE(owner.files.empty());
    }
  }
}

}  // namespace
}  // namespace tv
