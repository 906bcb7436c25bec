#include "engine/modem/modem_commands.h"

#include "engine/class2/class2_reports.h"
#include "engine/modem/response_assembler.h"
#include "engine/session/fax_records.h"
#include "engine/session/fax_session.h"
#include "platform/core/error_codes.h"

namespace tv {

namespace {

constexpr int kPollMs = 10;

int SendWithPause(FaxSession& s, const std::string& command, int pauseMs) {
  FaxPort* port = s.common.port;
  if (!port) return ecBadHandle;
  port->Delay(pauseMs);
  int rc = WriteModem(s, command + "\r");
  ClearResponse(s.modem);
  ArmTimeout(s, s.modem.responseTimeout);
  s.modem.waitDeadline = port->Ticks() + s.modem.responseTimeout;
  return rc;
}

// Reads one line for the synchronous reader; false at the deadline.
bool ReadSyncLine(FaxSession& s, std::string& line) {
  FaxPort* port = s.common.port;
  bool complete = false;
  line.clear();
  for (;;) {
    while (port->InputWaiting() > 0) {
      int byte = port->ReadByte();
      if (byte < 0) break;
      if (AssembleSyncByte(line, complete, static_cast<uint8_t>(byte))) return true;
    }
    if (port->Ticks() >= s.modem.waitDeadline) return false;
    port->DeliverPending();
    if (port->InputWaiting() == 0) port->Delay(kPollMs);
  }
}

}  // namespace

int WriteModem(FaxSession& s, const std::vector<uint8_t>& bytes) {
  if (!s.common.port) return ecBadHandle;
  return s.common.port->WriteBlock(bytes.data(), bytes.size());
}

int WriteModem(FaxSession& s, const std::string& text) {
  if (!s.common.port) return ecBadHandle;
  return s.common.port->WriteBlock(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

int SendCommand(FaxSession& s, const std::string& command) {
  return SendWithPause(s, command, 100);
}

int SendFrameCommand(FaxSession& s, const std::string& command) {
  return SendWithPause(s, command, 40);
}

bool SendCommandWait(FaxSession& s, const std::string& command, std::string* reply) {
  FaxPort* port = s.common.port;
  if (!port) return false;
  bool previous = port->SuspendDelivery(true);
  bool accepted = false;
  if (reply) reply->clear();
  if (SendCommand(s, command) == ecOK) {
    std::string line;
    while (ReadSyncLine(s, line)) {
      if (line == command) continue;  // the modem's echo
      if (Contains(line, "ERROR")) break;
      if (Contains(line, "OK")) {
        accepted = true;
        break;
      }
      if (reply) *reply = line;
      std::string next;
      accepted = ReadSyncLine(s, next);
      break;
    }
  }
  port->DeliverPending();
  while (port->InputWaiting() > 0 && port->ReadByte() >= 0) {
  }
  port->DiscardInput();
  port->SuspendDelivery(previous);
  return accepted;
}

bool QueryFaxClasses(FaxSession& s, bool withInit, FaxClassSupport& support) {
  support = FaxClassSupport{};
  FaxPort* port = s.common.port;
  if (!port) return false;
  bool previous = port->SuspendDelivery(true);
  bool answered = true;
  if (withInit) {
    answered = false;
    for (int attempt = 0; attempt < 2 && !answered; ++attempt) {
      ResetModemByDtr(s);
      answered = SendCommandWait(s, s.modem.engineInit);
    }
  }
  std::string reply;
  if (answered) answered = SendCommandWait(s, "AT+FCLASS=?", &reply);
  if (answered) support = ParseFaxClassReply(reply);
  port->SuspendDelivery(previous);
  return answered;
}

void SetFaxClass(FaxSession& s, int faxClass) {
  if (faxClass != kFaxClassDetect) {
    s.common.faxClass = faxClass;
    return;
  }
  FaxClassSupport support;
  QueryFaxClasses(s, true, support);
  s.common.faxClass = support.class20  ? kFaxClass20
                      : support.class2 ? kFaxClass2
                      : support.class1 ? kFaxClass1
                                       : kFaxClassNone;
}

void ResetModemByDtr(FaxSession& s) {
  FaxPort* port = s.common.port;
  if (!port) return;
  port->DiscardOutput();
  port->DiscardInput();
  port->SetLineSignals(false, false);
  port->Delay(500);
  port->SetLineSignals(true, true);
  port->Delay(500);
}

void SwitchToInitRate(FaxSession& s) {
  FaxModemData& m = s.modem;
  if (!s.common.port || m.initBaud == 0 || m.atInitBaud) return;
  s.common.port->Delay(9 * 55);
  s.common.port->SetBitRate(m.initBaud);
  m.atInitBaud = true;
}

void SwitchToNormalRate(FaxSession& s) {
  FaxModemData& m = s.modem;
  if (!s.common.port || !m.atInitBaud) return;
  s.common.port->Delay(9 * 55);
  if (m.normalBaud != 0) s.common.port->SetBitRate(m.normalBaud);
  m.atInitBaud = false;
}

void TransmitHangup(FaxSession& s) {
  FaxPort* port = s.common.port;
  if (!port) return;
  if (port->CarrierPresent()) {
    port->Delay(1000);
    WriteModem(s, std::string("+++"));
    port->Delay(1000);
    SendCommand(s, "ATH0");
    port->Delay(1000);
    port->DiscardInput();
    if (port->CarrierPresent()) ResetModemByDtr(s);
  } else {
    SendCommand(s, "ATH0");
    port->Delay(1000);
    port->DiscardInput();
  }
}

void ReceiveHangup(FaxSession& s) {
  FaxPort* port = s.common.port;
  if (!port) return;
  ResetModemByDtr(s);
  port->Delay(1000);
  WriteModem(s, std::string("+++"));
  port->Delay(1000);
  SendCommand(s, "ATH");
  port->Delay(1000);
  port->DiscardInput();
}

int SendDialString(FaxSession& s) {
  int rc = SendCommand(s, DialString(s.modem.toneDial, s.modem.dialPrefix, s.common.phoneNumber));
  ArmTimeout(s, s.modem.dialWait);
  return rc;
}

void FillClass2CommandTable(FaxSession& s) {
  bool class20 = s.common.faxClass == kFaxClass20;
  for (int i = 0; i < c2EntryCount; ++i) s.modem.class2Commands[i] = Class2Name(class20, i);
}

}  // namespace tv
