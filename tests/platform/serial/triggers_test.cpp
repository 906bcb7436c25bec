// Triggers, delivery and the scripted modem on virtual time.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock/virtual_loop.h"
#include "platform/core/error_codes.h"
#include "platform/core/exceptions.h"
#include "platform/serial/com_port.h"
#include "platform/serial/scripted_modem.h"
#include "platform/serial/serial_port.h"

namespace tv {
namespace {

struct Seen {
  int msg;
  int trigger;
  int64_t tick;
  bool operator==(const Seen&) const = default;
};

class VirtualPort : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = std::make_unique<TSerialPort>(loop_, modem_.Connect());
    port_->SetTriggerHandler([this](int msg, int trigger, int32_t data) {
      EXPECT_EQ(PortOfData(data), port_->Handle());
      EXPECT_FALSE(inHandler_) << "events are delivered one at a time";
      inHandler_ = true;
      seen_.push_back({msg, trigger, loop_.NowTicks()});
      if (onEvent_) onEvent_(msg, trigger);
      inHandler_ = false;
    });
  }
  void Run(int64_t ms) { loop_.RunUntil([] { return false; }, ms); }

  TVirtualLoop loop_;
  TScriptedModem modem_{loop_};
  std::unique_ptr<TSerialPort> port_;
  std::vector<Seen> seen_;
  std::function<void(int, int)> onEvent_;
  bool inHandler_ = false;
};

TEST_F(VirtualPort, TimersFireOncePerArmingAtTheirTick) {
  int a = port_->AddTimer();
  int b = port_->AddTimer();
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  ASSERT_NE(a, b);
  ASSERT_EQ(port_->ArmTimer(a, 182, true), 0);  // 10 s
  ASSERT_EQ(port_->ArmTimer(b, 18, true), 0);
  Run(20000);
  EXPECT_EQ(seen_, (std::vector<Seen>{{TriggerTimerMsg, b, 18}, {TriggerTimerMsg, a, 182}}));
  // Re-arming replaces the earlier arming; disarming cancels it.
  seen_.clear();
  const int64_t t0 = loop_.NowTicks();
  ASSERT_EQ(port_->ArmTimer(a, 10, true), 0);
  ASSERT_EQ(port_->ArmTimer(a, 30, true), 0);
  ASSERT_EQ(port_->ArmTimer(b, 5, true), 0);
  ASSERT_EQ(port_->ArmTimer(b, 0, false), 0);
  Run(5000);
  EXPECT_EQ(seen_, (std::vector<Seen>{{TriggerTimerMsg, a, t0 + 30}}));
}

TEST_F(VirtualPort, TriggerSlotsAndHandles) {
  std::vector<int> timers, watches;
  for (int i = 0; i < kMaxTimers; ++i) timers.push_back(port_->AddTimer());
  for (int i = 0; i < kMaxStatusWatches; ++i) watches.push_back(port_->AddStatusWatch(stOutputFree));
  EXPECT_EQ(port_->AddTimer(), ecNoMoreTriggers);
  EXPECT_EQ(port_->AddStatusWatch(stOutputUsed), ecNoMoreTriggers);
  EXPECT_EQ(port_->AddStatusWatch(2), ecBadArgument) << "kinds are 1, 3 and 4";
  ASSERT_EQ(port_->DropTrigger(timers[3]), 0);
  EXPECT_GT(port_->AddTimer(), 0) << "a dropped trigger frees its slot";
  EXPECT_EQ(port_->DropTrigger(timers[3]), ecBadTriggerHandle);
  EXPECT_EQ(port_->ArmTimer(watches[0], 5, true), ecBadTriggerHandle) << "not a timer";
  EXPECT_EQ(port_->ArmStatusWatch(timers[0], 5, true), ecBadTriggerHandle) << "not a watch";
  EXPECT_EQ(port_->ArmTimer(9999, 5, true), ecBadTriggerHandle);
  int avail = port_->SetAvailTrigger(1);
  EXPECT_GT(avail, 0);
  EXPECT_EQ(port_->SetAvailTrigger(1), avail);

  // Calls by handle: an unknown or closed port is -1001.
  const PortHandle h = port_->Handle();
  EXPECT_EQ(AddTimer(h) , ecNoMoreTriggers);
  EXPECT_EQ(SuspendDelivery(h, true), 0);
  EXPECT_EQ(SuspendDelivery(h, false), 1);
  port_.reset();
  EXPECT_EQ(AddTimer(h), ecBadHandle);
  EXPECT_EQ(InputWaiting(h), ecBadHandle);
  EXPECT_EQ(WriteByte(h, 'A'), ecBadHandle);
  EXPECT_EQ(ArmTimer(h, 1, 1, true), ecBadHandle);
  EXPECT_EQ(CarrierPresent(h), ecBadHandle);
}

TEST_F(VirtualPort, NothingIsDeliveredWhileSuspendedAndStaleExpiriesAreVoid) {
  modem_.Reply("\r\nRING\r\n", 10);
  port_->SetAvailTrigger(1);
  int t = port_->AddTimer();
  int stale = port_->AddTimer();
  port_->ArmTimer(t, 20, true);
  port_->ArmTimer(stale, 5, true);
  EXPECT_FALSE(port_->SuspendDelivery(true));
  Run(2000);
  EXPECT_TRUE(seen_.empty());
  // Re-arming while the earlier expiry waits voids that expiry.
  port_->ArmTimer(stale, 100, true);
  EXPECT_TRUE(port_->SuspendDelivery(false));
  Run(1);
  ASSERT_EQ(seen_.size(), 2u);
  EXPECT_EQ(seen_[0].msg, TriggerAvailMsg);
  EXPECT_EQ(seen_[0].trigger, port_->AvailTrigger());
  EXPECT_EQ(seen_[1].msg, TriggerTimerMsg);
  EXPECT_EQ(seen_[1].trigger, t);
  EXPECT_EQ(port_->InputWaiting(), 8);
}

TEST_F(VirtualPort, DeliverPendingTakesInInputAndNeverNests) {
  modem_.Reply("OK", 1).Reply("X", 2);
  port_->SetAvailTrigger(1);
  // While suspended, DeliverPending takes the input in but delivers nothing.
  port_->SuspendDelivery(true);
  loop_.Sleep(100);
  EXPECT_EQ(port_->InputWaiting(), 0) << "input reaches the buffer when the service takes it in";
  port_->DeliverPending();
  EXPECT_EQ(port_->InputWaiting(), 2);
  EXPECT_TRUE(seen_.empty());
  port_->SuspendDelivery(false);
  // A handler that asks for pending events does not re-enter itself.
  int calls = 0;
  onEvent_ = [&](int, int) {
    if (++calls == 1) {
      loop_.Sleep(200);
      port_->DeliverPending();
    }
  };
  Run(1);
  // The second reply's event came after the first handler returned (the
  // fixture's handler fails on nesting).
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(port_->InputWaiting(), 3);
}

TEST_F(VirtualPort, AvailThresholdAndOutputWatches) {
  modem_.Expect("AT\r").Reply("ab", 1).Reply("cd", 1);
  modem_.SetOutputModel(64, 100);  // the modem drains 100 bytes a second
  port_->SetAvailTrigger(3);
  ASSERT_EQ(port_->WriteText("AT\r"), 0);
  Run(1000);
  ASSERT_EQ(seen_.size(), 1u) << "one event once 3 bytes wait";
  EXPECT_EQ(seen_[0].msg, TriggerAvailMsg);
  EXPECT_EQ(seen_[0].tick, 2);
  seen_.clear();

  ASSERT_EQ(port_->WriteText(std::string(500, 'd')), 0);
  EXPECT_EQ(port_->OutputQueued(), 500);
  int used = port_->AddStatusWatch(stOutputUsed);
  ASSERT_EQ(port_->ArmStatusWatch(used, 0, true), 0);
  const int64_t start = loop_.NowMs();
  ASSERT_TRUE(loop_.RunUntil([&] { return !seen_.empty(); }, 20000));
  EXPECT_EQ(seen_[0].msg, TriggerStatusMsg);
  EXPECT_EQ(seen_[0].trigger, used);
  EXPECT_NEAR(static_cast<double>(loop_.NowMs() - start), 5000.0, 100.0);
}

TEST_F(VirtualPort, HardwareFlowFollowsTheBufferLevels) {
  TPortOptions options;
  options.hwFlow = hwfUseRTS | hwfRequireCTS;
  options.bufferFull = 100;
  options.bufferResume = 10;
  TScriptedModem modem(loop_);
  modem.Reply(std::string(120, 'r'), 1).Expect("held").Reply("OK");
  TSerialPort port(loop_, modem.Connect(), options);
  Run(200);
  EXPECT_EQ(port.InputWaiting(), 120);
  EXPECT_FALSE(modem.Rts()) << "RTS drops at BufferFull";
  std::vector<uint8_t> buf(120);
  port.ReadBlock(buf.data(), 100);
  EXPECT_FALSE(modem.Rts()) << "still above BufferResume";
  port.ReadBlock(buf.data(), 15);
  EXPECT_TRUE(modem.Rts()) << "RTS rises at BufferResume";

  modem.SetCts(false);
  ASSERT_EQ(port.WriteText("held"), 0);
  Run(500);
  EXPECT_EQ(modem.Received(), "");
  EXPECT_TRUE(port.OutputHeld());
  modem.SetCts(true);
  Run(100);
  EXPECT_EQ(modem.Received(), "held");
  EXPECT_TRUE(modem.Finished()) << modem.Report();
}

TEST(ScriptedModem, RunsAConversationOnVirtualTime) {
  TVirtualLoop loop;
  TScriptedModem modem(loop);
  std::string page;
  modem.Expect("AT+FCLASS=1\r").Reply("\r\nOK\r\n", 2)
      .Expect("ATDT5551234\r").Reply("\r\nCONNECT\r\n", SecondsToTicks(20))
      .ReplyBytes({0xFF, 0x03, 0x80, 0x10, 0x03})
      .ExpectUntil("\x10\x03", &page).Carrier(false, 3).Reply("\r\nNO CARRIER\r\n");
  TTvComPort com(loop);
  com.SetComNumber(1);
  com.SetDeviceOpener(modem.Opener());
  com.SetBaud(9600);
  com.SetParity(pEven);
  com.SetDataBits(7);
  com.SetOpen(true);
  com.SetBaud(19200);
  EXPECT_EQ(modem.Settings().bitRate, 19200);
  EXPECT_EQ(modem.Settings().dataBits, 7) << "a new bit rate keeps the framing";
  EXPECT_EQ(modem.Settings().parity, pEven);
  com.SetDataBits(8);
  com.SetParity(pNone);

  com.SendText("AT+FCLASS=1\r");
  EXPECT_TRUE(com.WaitForText("OK", 18, false, false));
  EXPECT_EQ(loop.NowTicks(), 2);
  com.SendText("ATDT5551234\r");
  EXPECT_FALSE(com.WaitForText("CONNECT", 18, true, false)) << "20 s have not passed";
  EXPECT_TRUE(com.WaitForText("CONNECT\r\n", SecondsToTicks(30), true, false));
  EXPECT_TRUE(com.WaitForText(std::string("\x10\x03", 2), 1, false, false));
  EXPECT_FALSE(com.CarrierPresent()) << "the modem starts without carrier";
  com.SendText(std::string("\x01\x02\x10\x10\x10\x03", 6));
  EXPECT_TRUE(com.WaitForText("NO CARRIER", 18, false, false));
  EXPECT_EQ(page, std::string("\x01\x02\x10\x10\x10\x03", 6));
  EXPECT_TRUE(modem.Finished()) << modem.Report();
  EXPECT_LT(loop.NowMs(), 25000);
}

TEST(ScriptedModem, SaysClearlyWhatTheProgramSentInstead) {
  TVirtualLoop loop;
  TScriptedModem modem(loop);
  modem.Expect("AT\r").Reply("OK\r\n", 1).Expect("AT+FCLASS=1\r");
  TSerialPort port(loop, modem.Connect());
  port.WriteText("AT\r");
  loop.Advance(100);
  port.WriteText("AT+FCLASS=2\r");
  EXPECT_TRUE(modem.Failed());
  EXPECT_FALSE(modem.Finished());
  EXPECT_EQ(modem.Failure(),
            "step 3 (expect \"AT+FCLASS=1<CR>\"): the program sent \"AT+FCLASS=2<CR>\" at 0.100 s");
  EXPECT_NE(modem.Report().find("OK<CR><LF>"), std::string::npos) << modem.Report();

  TScriptedModem strict(loop);
  strict.Expect("ATZ\r");
  TSerialPort other(loop, strict.Connect());
  other.WriteText("ATZ\rATH\r");
  EXPECT_EQ(strict.Failure(), "after the script ended, the program sent \"ATH<CR>\" at 0.000 s");

  TScriptedModem waiting(loop);
  waiting.Expect("ATA\r");
  TSerialPort third(loop, waiting.Connect());
  third.WriteText("AT");
  EXPECT_NE(waiting.Report().find("stopped at step 1 of 1 (expect \"ATA<CR>\"), having seen \"AT\""),
            std::string::npos)
      << waiting.Report();
}

TEST(ScriptedModem, ADeviceThatVanishesIsAnErrorTheOwnerSees) {
  TVirtualLoop loop;
  TScriptedModem modem(loop);
  modem.Expect("ATA\r").Vanish(5);
  TTvComPort com(loop);
  com.SetComNumber(3);
  com.SetDeviceOpener(modem.Opener());
  int code = 0;
  com.SetOnLineError([&](int c, const std::string&) { code = c; });
  com.SetOpen(true);
  com.SendText("ATA\r");
  EXPECT_FALSE(com.WaitForText("CONNECT", SecondsToTicks(60), true, false));
  EXPECT_LT(loop.NowMs(), 1000) << "the wait ends when the device goes";
  loop.RunOnce(0);
  EXPECT_EQ(code, ecGetBlockFail);
  EXPECT_THROW(com.SendText("ATH\r"), EPutBlockFail);
  com.SetOpen(false);
}

}  // namespace
}  // namespace tv
