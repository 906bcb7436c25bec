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

#include "virtual_port.h"

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

class Class1Line : public VirtualPort {
 public:
  explicit Class1Line(Class1Remote remote)
      : VirtualPort(false), remote_(std::move(remote)) {}
  ~Class1Line() override = default;

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

  // FaxPort.
  int WriteBlock(const uint8_t* data, size_t size) override;
  int OutputQueued() override;
  void SetSoftwareFlow(FaxFlow flow) override;

 protected:
  enum class Mode { Command, FrameOut, DataOut };

  void ReplyFrame(uint8_t control, bool final, const std::vector<uint8_t>& info);
  virtual void Command(const std::string& command);
  virtual void FrameDone();
  virtual void DataDone();
  void AnswerFrh();

  Class1Remote remote_;
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
