#include "class1_line.h"

#include <algorithm>

#include "engine/class1/t30_frames.h"

namespace tv::test {

namespace {

// V.17 codes: the long training opens a TCF, the short one page data after
// it. A far end that waits for one cannot hear the other.
bool IsV17LongTraining(const std::string& code) {
  return code == "145" || code == "121" || code == "97" || code == "73";
}
bool IsV17ShortTraining(const std::string& code) {
  return code == "146" || code == "122" || code == "98" || code == "74";
}

}  // namespace

int Class1Line::OutputQueued() {
  return mode_ == Mode::DataOut && now_ < holdUntil_ ? 1500 : 0;
}

void Class1Line::SetSoftwareFlow(FaxFlow flow) {
  flowChanges.push_back(flow == FaxFlow::Off ? "off" : flow == FaxFlow::Output ? "output" : "input");
}

void Class1Line::ReplyFrame(uint8_t control, bool final, const std::vector<uint8_t>& info) {
  Reply("CONNECT", 300);
  std::vector<uint8_t> frame = EncodeFrame(control, final, info);
  frame.insert(frame.end() - 2, {0x5A, 0xA5});  // the FCS octets a modem passes on
  ReplyBytes(frame, 100);
  Reply("OK", 10);
}

int Class1Line::WriteBlock(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    uint8_t byte = data[i];
    switch (mode_) {
      case Mode::Command:
        if (byte == '\r') {
          std::string command = line_;
          line_.clear();
          command.erase(0, command.find_first_not_of(' ') == std::string::npos
                               ? command.size()
                               : command.find_first_not_of(' '));
          if (!command.empty()) Command(command);
        } else if (byte != '\n') {
          line_.push_back(static_cast<char>(byte));
        }
        break;
      case Mode::FrameOut:
      case Mode::DataOut:
        if (dle_) {
          dle_ = false;
          if (byte == 0x03) {
            if (mode_ == Mode::FrameOut) FrameDone();
            else DataDone();
            break;
          }
          data_.push_back(byte);
        } else if (byte == 0x10) {
          dle_ = true;
        } else {
          data_.push_back(byte);
        }
        break;
    }
  }
  return 0;
}

void Class1Line::Command(const std::string& command) {
  commands.push_back(command);
  ++taken_;
  if (remote_.silentAfter && taken_ > remote_.silentAfter) return;
  if (remote_.echo) {
    std::string echo = command + "\r";
    ReplyBytes(std::vector<uint8_t>(echo.begin(), echo.end()), 5);
  }
  if (command.rfind("ATE0", 0) == 0 && remote_.initErrors > 0) {
    --remote_.initErrors;
    Reply("ERROR");
  } else if (command == "AT+FCLASS=1") {
    Reply(remote_.fclassError ? "ERROR" : "OK");
  } else if (command == "AT+FCLASS=?") {
    Reply(remote_.fclassReply);
    Reply("OK", 5);
  } else if (command == "AT+FTM=?" || command == "AT+FRM=?") {
    Reply(remote_.modulations);
    Reply("OK", 5);
  } else if (command.rfind("ATD", 0) == 0) {
    int dial = dials++;
    if (dial < static_cast<int>(remote_.dialResults.size()) && !remote_.dialResults[dial].empty()) {
      Reply(remote_.dialResults[dial], 2000);
      return;
    }
    next_ = Next::Csi;
    ReplyFrame(fcfCSI, false, StationIdField(remote_.csi));
    next_ = Next::Dis;
  } else if (command == "AT+FRH=3") {
    AnswerFrh();
  } else if (command == "AT+FTH=3") {
    Reply("CONNECT", 300);
    mode_ = Mode::FrameOut;
    data_.clear();
  } else if (command.rfind("AT+FTM=", 0) == 0) {
    ftm_ = command.substr(7);
    if (expectTraining_ ? IsV17ShortTraining(ftm_) : IsV17LongTraining(ftm_)) {
      refusedModulations.push_back(ftm_);
      Reply("ERROR");
      return;
    }
    if (!expectTraining_ && remote_.holdPageMs > 0) holdUntil_ = now_ + 300 + remote_.holdPageMs;
    Reply("CONNECT", 300);
    mode_ = Mode::DataOut;
    data_.clear();
  } else {
    Reply("OK");
  }
}

void Class1Line::AnswerFrh() {
  switch (next_) {
    case Next::Dis:
      if (remote_.dcnAtStart) {
        ReplyFrame(fcfDCN & 0xFE, true, {});
      } else {
        ReplyFrame(fcfDIS, true, {0x00, remote_.disA, remote_.disB, 0x00});
      }
      next_ = Next::Nothing;
      break;
    case Next::Training:
      ReplyFrame(trainingGood_ ? fcfCFR : fcfFTT, true, {});
      next_ = Next::Nothing;
      break;
    case Next::PostPage: {
      std::string answer = postPages_ < static_cast<int>(remote_.postPage.size())
                               ? remote_.postPage[postPages_]
                               : "MCF";
      ++postPages_;
      next_ = Next::Nothing;
      if (answer == "MCF") ReplyFrame(fcfMCF, true, {});
      else if (answer == "RTN") ReplyFrame(fcfRTN, true, {});
      else if (answer == "RTP") ReplyFrame(fcfRTP, true, {});
      else if (answer == "DCN") ReplyFrame(fcfDCN & 0xFE, true, {});
      else if (answer == "ERROR") Reply("ERROR", 500);
      break;  // silence: nothing at all
    }
    default:
      break;
  }
}

void Class1Line::FrameDone() {
  SentFrame frame;
  if (data_.size() >= 3) {
    frame.final = (data_[1] & 0x10) != 0;
    frame.control = data_[2];
    frame.info.assign(data_.begin() + 3, data_.end());
  }
  frames.push_back(frame);
  data_.clear();
  if (!frame.final) {
    Reply("CONNECT", 20);
    return;
  }
  mode_ = Mode::Command;
  Reply("OK", 80);
  switch (frame.control & 0xFE) {
    case fcfDCS & 0xFE:
      next_ = Next::Nothing;
      expectTraining_ = true;
      break;
    case fcfMPS & 0xFE:
    case fcfEOP & 0xFE:
      next_ = Next::PostPage;
      break;
    default:
      break;
  }
}

void Class1Line::DataDone() {
  mode_ = Mode::Command;
  bool training = expectTraining_;
  expectTraining_ = false;
  int rate = 2400;
  if (ftm_ == "48") rate = 4800;
  else if (ftm_ == "72" || ftm_ == "73" || ftm_ == "74") rate = 7200;
  else if (ftm_ == "96" || ftm_ == "97" || ftm_ == "98") rate = 9600;
  else if (ftm_ == "121" || ftm_ == "122") rate = 12000;
  else if (ftm_ == "145" || ftm_ == "146") rate = 14400;
  int64_t sendMs = static_cast<int64_t>(data_.size()) * 8000 / rate;
  if (training) {
    trainingLengths.push_back(static_cast<int>(data_.size()));
    trainingGood_ = trainings_ >= remote_.ftt;
    ++trainings_;
    next_ = Next::Training;
  } else {
    pages.push_back(data_);
    modulationsUsed.push_back(ftm_);
    next_ = Next::Nothing;
  }
  data_.clear();
  Reply("OK", sendMs + 50);
}

}  // namespace tv::test

namespace tv::test {

void Class1Caller::Ring() {
  for (int i = 0; i < sender_.rings + 2; ++i) Reply(sender_.ringResult, 3000);
}

void Class1Caller::SendDcs() {
  uint8_t rate = sender_.dcsRates[std::min(attempt_, sender_.dcsRates.size() - 1)];
  ReplyFrame(fcfDCS, true, {0x00, static_cast<uint8_t>((sender_.fine ? 0x42 : 0x02) | rate), 0x88, 0x00});
}

void Class1Caller::SendPage() {
  Reply("CONNECT", 300);
  if (static_cast<int>(page_) == sender_.stopInPage) {
    ReplyBytes({0x00, 0x80}, 100);
    return;
  }
  std::vector<uint8_t> data;
  for (uint8_t b : sender_.pages[page_]) {
    data.push_back(b);
    if (b == 0x10) data.push_back(0x10);
  }
  data.push_back(0x10);
  data.push_back(0x03);
  ReplyBytes(data, 500);
  Reply("NO CARRIER", 20);
  step_ = Step::PostPage;
}

void Class1Caller::Command(const std::string& command) {
  // The machine's own AT+FCLASS=1 follows the modulation query of the
  // preparation.
  if (sender_.ringDuringSetUp && command == "AT+FCLASS=1" &&
      std::find(commands.begin(), commands.end(), "AT+FRM=?") != commands.end()) {
    commands.push_back(command);
    sender_.ringDuringSetUp = false;
    Reply(sender_.ringResult, 10);
    Reply("OK", 10);
    return;
  }
  commands.push_back(command);
  if (command == "ATA") {
    scheduled_.clear();
    Reply("CONNECT", 3000);
    mode_ = Mode::FrameOut;
    data_.clear();
  } else if (command == "AT+FRH=3") {
    switch (step_) {
      case Step::Tsi:
        ReplyFrame(fcfTSI, false, StationIdField(sender_.tsi));
        step_ = Step::Dcs;
        break;
      case Step::Dcs:
        SendDcs();
        step_ = Step::Training;
        break;
      case Step::PostPage: {
        bool more = page_ + 1 < sender_.pages.size();
        ReplyFrame(more ? fcfMPS : fcfEOP, true, {});
        break;
      }
      case Step::Dcn:
        ReplyFrame(fcfDCN, true, {});
        step_ = Step::Done;
        break;
      default:
        break;
    }
  } else if (command == "AT+FRM=?" || command == "AT+FTM=?") {
    Reply(remote_.modulations);
    Reply("OK", 5);
  } else if (command.rfind("AT+FRM=", 0) == 0) {
    std::string code = command.substr(7);
    modulationsUsed.push_back(code);
    if (step_ == Step::Training ? IsV17ShortTraining(code)
                                : step_ == Step::Page && IsV17LongTraining(code)) {
      refusedModulations.push_back(code);
      Reply("ERROR");
      return;
    }
    if (step_ == Step::Training) {
      Reply("CONNECT", 300);
      std::vector<uint8_t> tcf(1000, 0);
      if (static_cast<int>(attempt_) < sender_.badTrainings)
        for (size_t i = 0; i < tcf.size(); i += 5) tcf[i] = 0xFF;
      tcf.push_back(0x10);
      tcf.push_back(0x03);
      ReplyBytes(tcf, 1500);
      Reply("NO CARRIER", 20);
    } else if (step_ == Step::Page && sender_.fcerrorOnce) {
      sender_.fcerrorOnce = false;
      Reply("+FCERROR", 1000);
      step_ = Step::Dcs;
    } else if (step_ == Step::Page) {
      SendPage();
    }
  } else if (command == "AT+FTH=3") {
    Reply("CONNECT", 300);
    mode_ = Mode::FrameOut;
    data_.clear();
  } else {
    Reply("OK");
  }
}

void Class1Caller::FrameDone() {
  SentFrame frame;
  if (data_.size() >= 3) {
    frame.final = (data_[1] & 0x10) != 0;
    frame.control = data_[2];
    frame.info.assign(data_.begin() + 3, data_.end());
  }
  frames.push_back(frame);
  data_.clear();
  if (!frame.final) {
    Reply("CONNECT", 20);
    return;
  }
  mode_ = Mode::Command;
  Reply("OK", 80);
  switch (frame.control) {
    case fcfCFR:
      trainingVerdicts.push_back(1);
      step_ = Step::Page;
      break;
    case fcfFTT:
      trainingVerdicts.push_back(0);
      ++attempt_;
      step_ = Step::Dcs;
      break;
    case fcfMCF:
      if (page_ + 1 < sender_.pages.size()) {
        ++page_;
        step_ = Step::Page;
      } else {
        step_ = sender_.dcnAfterEop ? Step::Dcn : Step::Done;
      }
      break;
    default:
      break;
  }
}

}  // namespace tv::test
