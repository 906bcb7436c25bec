// A port on virtual time with an emulated Class 1 modem and a far-end fax
// machine behind it, for testing the state machines without hardware. The
// far end's behaviour is set by Class1Remote; everything the engine sends
// and the frames it builds are recorded for the tests to check.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/session/fax_port.h"

namespace tv::test {

struct Class1Remote {
  // What the modem answers to the dial command instead of a fax connection
  // ("BUSY", "NO ANSWER", "VOICE", "NO DIALTONE", "NO CARRIER", "ERROR").
  std::vector<std::string> dialResults;  // one per dial; empty: connect
  std::string modulations = "24,48,72,73,74,96,97,98,121,122,145,146";
  uint8_t disA = 0x6E;  // V.27 ter, V.29, V.17, fine
  uint8_t disB = 0xF9;
  std::string csi = "REMOTE 1";
  // Training checks answered with FTT before CFR comes; with ftt at or
  // above the number of speeds no training succeeds.
  int ftt = 0;
  // Post-page answers, one per page message; missing ones are MCF.
  // "MCF", "RTN", "RTP", "DCN", "" (silence), "ERROR".
  std::vector<std::string> postPage;
  // Send DCN instead of DIS.
  bool dcnAtStart = false;
  // The modem stops answering once this many commands were taken (0: never).
  int silentAfter = 0;
  bool fclassError = false;
  std::string fclassReply = "0,1";
  bool echo = false;  // the modem echoes each command
  int initErrors = 0;  // init strings (ATE0...) answered with ERROR
  // For this long after each page's CONNECT the modem holds 1500 bytes in
  // its buffer and takes no more (it has sent XOFF).
  int holdPageMs = 0;
};

struct SentFrame {
  uint8_t control = 0;
  std::vector<uint8_t> info;
  bool final = false;
};

class Class1Line : public FaxPort {
 public:
  explicit Class1Line(Class1Remote remote) : remote_(std::move(remote)) {}
  ~Class1Line() override = default;

  // Runs events until done() or the virtual time limit; false also when the
  // machine keeps taking events without virtual time moving (it spins).
  bool RunUntil(const std::function<bool()>& done, int64_t limitMs = 600000);

  // Records.
  std::vector<std::string> commands;  // every AT command, in order
  std::vector<SentFrame> frames;      // every frame the engine sent
  std::vector<std::string> modulationsUsed;  // AT+FTM codes of page data
  // AT+FTM / AT+FRM codes answered with ERROR: V.17's short training for a
  // TCF, or its long training for page data after one.
  std::vector<std::string> refusedModulations;
  std::vector<std::vector<uint8_t>> pages;   // page data, DLE doubling undone
  std::vector<int> trainingLengths;
  std::vector<std::string> flowChanges;
  int dials = 0;

  int64_t NowMs() const { return now_; }

  // FaxPort.
  int InputWaiting() override { return static_cast<int>(input_.size()); }
  int ReadByte() override;
  int WriteBlock(const uint8_t* data, size_t size) override;
  int OutputQueued() override;
  int OutputRoom() override { return 8192; }
  void DiscardInput() override;
  void DiscardOutput() override {}
  void SetLineSignals(bool, bool) override {}
  bool CarrierPresent() override { return false; }
  int SetBitRate(int rate) override { rate_ = rate; return 0; }
  int BitRate() override { return rate_; }
  void SetSoftwareFlow(FaxFlow flow) override;
  int AvailTrigger() override { return 1; }
  int AddTimer() override;
  int ArmTimer(int handle, long ticks, bool active) override;
  int AddStatusWatch(int kind) override;
  int ArmStatusWatch(int handle, int level, bool active) override;
  int DropTrigger(int handle) override;
  int SetHandler(Handler handler) override { handler_ = std::move(handler); return 0; }
  void RemoveHandler() override { handler_ = nullptr; }
  bool SuspendDelivery(bool on) override { bool was = suspended_; suspended_ = on; return was; }
  void DeliverPending() override { TakeDue(); }
  uint64_t Ticks() override { return static_cast<uint64_t>(now_ / 55); }
  void Delay(int ms) override { now_ += ms; }

 protected:
  enum class Mode { Command, FrameOut, DataOut };
  struct Trigger { int kind = 0; int level = 0; bool armed = false; int64_t due = 0; };

  void Reply(const std::string& text, int64_t delayMs = 30);
  void ReplyBytes(const std::vector<uint8_t>& bytes, int64_t delayMs = 30);
  void ReplyFrame(uint8_t control, bool final, const std::vector<uint8_t>& info);
  void TakeDue();
  virtual void Command(const std::string& command);
  virtual void FrameDone();
  virtual void DataDone();
  void AnswerFrh();

  Class1Remote remote_;
  int64_t now_ = 0;
  int rate_ = 19200;
  bool suspended_ = false;
  Handler handler_;
  std::deque<uint8_t> input_;
  std::multimap<int64_t, std::vector<uint8_t>> scheduled_;
  int64_t lastReplyAt_ = 0;
  std::map<int, Trigger> triggers_;
  int nextHandle_ = 2;
  Mode mode_ = Mode::Command;
  std::string line_;
  std::vector<uint8_t> data_;
  bool dle_ = false;
  std::string ftm_;
  // What the far end answers at the next AT+FRH=3.
  enum class Next { Csi, Dis, Training, PostPage, Nothing } next_ = Next::Csi;
  int trainings_ = 0;
  int postPages_ = 0;
  int taken_ = 0;
  bool trainingGood_ = false;
  bool expectTraining_ = false;
  int64_t holdUntil_ = -1;
};

}  // namespace tv::test

namespace tv::test {

// A far end that calls: the modem rings, and after ATA the far end sends
// its pages.
struct Class1Sender {
  int rings = 2;
  std::string tsi = "CALLER 9";
  // DCS rate bits per training attempt (the far end steps down on FTT).
  std::vector<uint8_t> dcsRates = {0x04};
  bool fine = false;
  int badTrainings = 0;  // trainings sent with 20 % non-zero octets
  std::vector<std::vector<uint8_t>> pages = {{0x00, 0x80, 0xB2, 0x59, 0x01, 0x00}};
  bool dcnAfterEop = true;
  int stopInPage = -1;  // the far end falls silent in this page
  std::string ringResult = "RING";  // what the modem reports while ringing
  bool fcerrorOnce = false;  // the first page command hears the far end repeat its DCS
  bool ringDuringSetUp = false;  // a RING comes before the OK to the machine's AT+FCLASS=1
};

class Class1Caller : public Class1Line {
 public:
  explicit Class1Caller(Class1Sender sender)
      : Class1Line(Class1Remote{}), sender_(std::move(sender)) {}
  // Starts the rings (after the engine has set up the modem).
  void Ring();

  std::vector<int> trainingVerdicts;  // 1 CFR, 0 FTT

 protected:
  void Command(const std::string& command) override;
  void FrameDone() override;
  void DataDone() override {}

 private:
  void SendDcs();
  void SendPage();
  Class1Sender sender_;
  size_t attempt_ = 0;
  size_t page_ = 0;
  enum class Step { Tsi, Dcs, Training, Page, PostPage, Dcn, Done } step_ = Step::Tsi;
};

}  // namespace tv::test
