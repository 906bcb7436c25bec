#include "class2_modem.h"

#include <algorithm>
#include <cstdlib>

#include "platform/serial/serial_port.h"

namespace tv::test {

namespace {
constexpr uint8_t kDle = 0x10, kEtx = 0x03, kXon = 0x11, kDc2 = 0x12;

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }
}  // namespace

// Rings come every 3 s, whatever the modem is answering.
void Class2Modem::Ring(int64_t firstMs) {
  const std::string ring = "\r\nRING\r\n";
  for (int i = 0; i < remote_.rings + 2; ++i)
    scheduled_.emplace(now_ + firstMs + 3000 * i, std::vector<uint8_t>(ring.begin(), ring.end()));
}

int Class2Modem::WriteBlock(const uint8_t* bytes, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    uint8_t byte = bytes[i];
    if (inData_) {
      if (data_.empty() && !dle_) dataDelays.push_back(now_ - connectAt_);
      if (dle_) {
        dle_ = false;
        if (byte == kEtx || byte == ',' || byte == '.' || byte == ';') {
          inData_ = false;
          PageSent(byte);
        } else {
          data_.push_back(byte);  // DLE DLE: one 0x10
        }
      } else if (byte == kDle) {
        dle_ = true;
      } else {
        data_.push_back(byte);
      }
      continue;
    }
    if (byte == kDc2) {
      ++dc2Count;
      if (awaitDc2_) {
        awaitDc2_ = false;
        Deliver();
      }
    } else if (byte == '\r') {
      std::string command = line_;
      line_.clear();
      if (StartsWith(command, "AT")) Command(command);  // a modem ignores other lines
    } else if (byte != '\n') {
      line_.push_back(static_cast<char>(byte));
      if (line_ == "+++") {  // the escape has no carriage return
        commands.push_back(line_);
        line_.clear();
      }
    }
  }
  return 0;
}

void Class2Modem::Command(const std::string& command) {
  commands.push_back(command);
  if (echo_) {
    std::string echo = command + "\r";
    ReplyBytes(std::vector<uint8_t>(echo.begin(), echo.end()), 5);
  }
  if (StartsWith(command, "ATE0")) echo_ = false;
  if (!remote_.errorCommand.empty() && StartsWith(command, remote_.errorCommand.c_str())) {
    Reply("ERROR");
  } else if (command == "AT+FCLASS=?") {
    Reply(remote_.fclassReply);
    Reply("OK", 5);
  } else if (StartsWith(command, "ATD")) {
    Dial();
  } else if (command == "AT+FDT") {
    ++sends_;
    if (remote_.hangupAfterPage > 0 && static_cast<int>(pages.size()) >= remote_.hangupAfterPage) {
      Reply("ERROR");  // the call is over
      return;
    }
    if (sends_ == remote_.hangupAtSend) {
      Reply(remote_.class20 ? "+FHS:50" : "+FHNG:50", 2000);
      Reply("ERROR", 5);
      return;
    }
    Reply(Name("+FDCS:", "+FCS:") + (params_.empty() ? remote_.sessionParams : params_), 1500);
    Reply("CONNECT", 20);
    connectAt_ = lastReplyAt_;
    if (!remote_.class20 && remote_.xon) {
      ++xonWaits;
      ReplyBytes({kXon}, remote_.xonWithConnect ? 0 : 30);
    }
    inData_ = true;
    dle_ = false;
    data_.clear();
  } else if (StartsWith(command, Name("AT+FDIS=", "AT+FIS=").c_str())) {
    params_ = command.substr(command.find('=') + 1);  // the next +FDCS / +FCS
    Reply("OK");
  } else if (StartsWith(command, "AT+FET=")) {
    PostPage(std::atoi(command.c_str() + 7));
  } else if (command == "AT+FPS?") {
    Reply("+FPS:" + std::to_string(StatusOf(pages.size() - 1)) + ",0,0,0,0");
    Reply("OK", 5);
  } else if (command == "ATA") {
    scheduled_.clear();
    Reply(Name("+FCON", "+FCO"), 3000);
    if (!remote_.tsi.empty()) Reply(Name("+FTSI:", "+FTI:") + remote_.tsi, 100);
    Reply(Name("+FDCS:", "+FCS:") + remote_.callerParams, 100);
    Reply("OK", 10);
  } else if (command == "AT+FDR") {
    NextDelivery();
  } else {
    Reply("OK");
  }
}

void Class2Modem::Dial() {
  size_t dial = static_cast<size_t>(std::count_if(commands.begin(), commands.end(),
                                                  [](const std::string& c) {
                                                    return StartsWith(c, "ATD");
                                                  })) - 1;
  if (dial < remote_.dialResults.size() && !remote_.dialResults[dial].empty()) {
    Reply(remote_.dialResults[dial], 2000);
    return;
  }
  if (remote_.connectReport) Reply(Name("+FCON", "+FCO"), 4000);
  if (!remote_.csi.empty()) Reply(Name("+FCSI:", "+FCI:") + remote_.csi, 200);
  Reply(Name("+FDIS:", "+FIS:") + remote_.remoteCaps, remote_.connectReport ? 50 : 4000);
  Reply("OK", 10);
}

// The engine ended a page: Class 2 waits for AT+FET, Class 2.0 answers at
// once with the far end's verdict.
void Class2Modem::PageSent(uint8_t end) {
  pages.push_back(data_);
  pageEnds.push_back(end);
  data_.clear();
  int64_t sendMs = static_cast<int64_t>(pages.back().size()) * 8000 / 9600 + 200;
  if (!remote_.class20) {
    Reply("OK", sendMs);
    return;
  }
  if (static_cast<int>(pages.size()) == remote_.hangupAfterPage) {
    Reply("+FHS:50", sendMs + 1000);
    Reply("ERROR", 5);
    return;
  }
  int status = StatusOf(pages.size() - 1);
  std::string report = "+FPS:" + std::to_string(status) + ",0,0,0,0";
  if (remote_.statusReports || (status != 1 && status != 2 && status != 3))
    Reply(report, sendMs + 1000);
  if (status == 2 && !remote_.refusalOk) {
    Reply("ERROR", sendMs + 1000);
    return;
  }
  if (end == '.' && (status == 1 || status == 3)) Reply("+FHS:00", sendMs + 500);
  Reply("OK", 5);
}

void Class2Modem::PostPage(int code) {
  if (static_cast<int>(pages.size()) == remote_.hangupAfterPage) {
    Reply("+FHNG:50", 1500);
    Reply("ERROR", 5);
    return;
  }
  int status = StatusOf(pages.size() - 1);
  Reply("+FPTS:" + std::to_string(status), 1500);
  if (code == 2 && (status == 1 || status == 3)) Reply("+FHNG:0", 500);
  Reply("OK", 5);
}

void Class2Modem::NextDelivery() {
  if (static_cast<int>(delivery_) == remote_.hangupAtDelivery) {
    Reply(Name("+FHNG:50", "+FHS:50"), 2000);
    Reply("OK", 5);
    return;
  }
  if (delivery_ >= remote_.deliveries.size()) {
    Reply(Name("+FHNG:0", "+FHS:00"), 500);
    Reply("OK", 5);
    return;
  }
  if (!remote_.class20 && delivery_ == 0) Reply("+FCFR", 1500);
  Reply(Name("+FDCS:", "+FCS:") + remote_.callerParams, 100);
  Reply("CONNECT", 20);
  awaitDc2_ = true;
}

void Class2Modem::Deliver() {
  const Class2Delivery& page = remote_.deliveries[delivery_++];
  std::vector<uint8_t> coded;
  for (size_t i = 0; i < page.data.size(); ++i) {
    uint8_t b = page.data[i];
    if (page.dleSub && b == kDle && i + 1 < page.data.size() && page.data[i + 1] == kDle) {
      coded.push_back(kDle);
      coded.push_back(0x1A);
      ++i;
      continue;
    }
    coded.push_back(b);
    if (b == kDle) coded.push_back(kDle);
  }
  coded.push_back(kDle);
  coded.push_back(kEtx);
  ReplyBytes(coded, 500);
  if (page.error) {
    Reply("ERROR", 300);
    return;
  }
  int postPage = page.postPage >= 0 ? page.postPage
                 : delivery_ < remote_.deliveries.size() ? 0
                                                         : 2;
  Reply(remote_.class20 ? "+FPS:" + std::to_string(page.quality) + ",0,0,0,0"
                        : "+FPTS:" + std::to_string(page.quality),
        300);
  if (page.errorAfterStatus) {
    Reply("ERROR", 100);
    return;
  }
  Reply("+FET:" + std::to_string(postPage), 100);
  Reply("OK", 5);
}

}  // namespace tv::test
