#include <cstdlib>
#include <string>

#include "engine/class1/t30_capabilities.h"
#include "engine/class1/t30_frames.h"
#include "engine/class2/class2_reports.h"
#include "engine/files/fax_files.h"
#include "engine/files/receive_names.h"
#include "engine/modem/machine_helpers.h"
#include "engine/modem/modem_commands.h"
#include "engine/modem/response_assembler.h"
#include "engine/receive/receive.h"
#include "engine/session/fax_session.h"
#include "engine/session/fax_speed.h"
#include "engine/session/fax_status.h"
#include "platform/core/error_codes.h"

namespace tv {

namespace {

enum : int { kAbortState = 36, kEndState = 37 };
constexpr int kPagePass = 10000;

bool HasEntry(const FaxSession& s, int entry) {
  return IsClass2Report(s.modem, ResponseText(s), entry);
}

void Fail(FaxSession& s, int code) {
  ReportFaxError(s, code);
  s.state = kAbortState;
}

uint8_t Reverse(uint8_t b) {
  b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

// Asks the owner for the file name and creates the receive file.
int CreateReceiveFile(FaxSession& s) {
  s.receiveFileName.clear();
  NotifyOwner(s, FaxMsgReceiveName, 0);
  if (s.receiveFileName.empty())
    s.receiveFileName = CounterFileName(s.common.destinationDir, s.common.faxFileExt);
  if (!s.writer) s.writer = std::make_unique<FaxFileWriter>();
  return s.writer->Create(s.receiveFileName, s.common.remoteId);
}

void CloseReceiveFile(FaxSession& s) {
  if (s.writer && s.writer->IsOpen()) s.writer->Close();
}

// The acceptance step (states 20 and 23); false when the call ends.
bool AcceptCall(FaxSession& s) {
  if (NotifyOwner(s, FaxMsgAccept, 0) != 0) {
    int rc = CreateReceiveFile(s);
    if (rc != ecOK) {
      Fail(s, rc);
      return false;
    }
    NotifyOwner(s, FaxMsgLog, flReceiveStart);
    s.pageDisposition = 2;
    s.common.currentPage = 0;
    return true;
  }
  if (!IsClass1(s)) WriteModem(s, Class2AbortCommand(IsClass20(s)) + "\r");
  ReportFaxError(s, ecFileRejected);
  ReceiveHangup(s);
  NotifyOwner(s, FaxMsgLog, flReceiveSkip);
  s.state = kAbortState;
  return false;
}

int FinishPage(FaxSession& s) {
  if (!s.writer || !s.writer->PageOpen()) return ecOK;
  return s.writer->FinishPage(s.common.remoteId);
}

bool ReadsReplies(int state) {
  return (state >= 2 && state <= 8) || (state >= 10 && state <= 12) || state == 15 ||
         (state >= 18 && state <= 24) || state == 27 || state == 28 ||
         (state >= 30 && state <= 34);
}

bool RunsAtOnce(int state) {
  switch (state) {
    case 1: case 9: case 25: case 29: case 35: case 36: return true;
    default: return false;
  }
}

bool WaitsForEvent(int state) {
  return state == 13 || state == 14 || state == 37;
}

// Feeds characters until a complete line; frames are parsed on the way.
bool TakeReply(FaxSession& s) {
  FaxPort* port = s.common.port;
  FaxModemData& m = s.modem;
  while (port->InputWaiting() > 0) {
    int byte = port->ReadByte();
    if (byte < 0) break;
    Assembled what = AssembleResponseByte(m, static_cast<uint8_t>(byte));
    if (what == Assembled::Frame) {
      m.retrain = false;
      int rc = ParseReceivedFrame(s, m.responseLine);
      ArmTimeout(s, m.responseTimeout);
      if (rc == ecCancelRequested) {
        if (s.state == 31) {
          s.common.error = ecOK;  // the normal end of the call
          continue;
        }
        Fail(s, ecCancelRequested);
        return false;
      }
      if (m.retrain) {
        m.retrain = false;
        port->Delay(200);
        SendFrameCommand(s, "AT+FRH=3");
        s.state = 12;
        return false;
      }
      continue;
    }
    if (what != Assembled::Line) continue;
    // +FCERROR: the modem hears V.21 where it waited for page data or
    // training (the far end repeats its frames); the state reads them.
    // ERROR to a Class 2 / 2.0 set-up command (states 3 to 7) is the
    // state's -8073.
    bool setUp = !IsClass1(s) && s.state >= 3 && s.state <= 7;
    // A call may ring while the modem is being set up (Class 1: state 2):
    // that RING is no reply, and the next one is counted.
    if ((setUp || (IsClass1(s) && s.state == 2)) && ResponseText(s) == "RING") {
      ClearResponse(m);
      continue;
    }
    if (ResponseHas(s, "ERROR") && s.state != 33 && !setUp && !ResponseHas(s, "+FCERROR")) {
      Fail(s, ecFaxBadModemResult);
      return false;
    }
    if (!IsClass1(s) && HasEntry(s, c2HangupReport) && s.state != 34) {
      m.hangupCode = Class2HangupCode(ResponseText(s));
      Fail(s, ecFaxSessionError);
      return false;
    }
    return true;
  }
  return false;
}

void OnTimeout(FaxSession& s) {
  switch (s.state) {
    case 10:
      if (s.modem.retryCount != 0) s.state = 13;
      else Fail(s, ecTimeout);
      break;
    case 12: s.state = 13; break;
    case 31: s.state = 35; break;
    default: Fail(s, ecTimeout); break;
  }
}

// State 16: counts the training bytes up to DLE ETX.
void CheckTraining(FaxSession& s, bool timeout) {
  FaxPort* port = s.common.port;
  if (timeout || port->Ticks() > s.modem.waitDeadline) {
    // The training never ended: the call cannot go on.
    Fail(s, ecTimeout);
    return;
  }
  while (port->InputWaiting() > 0) {
    int byte = port->ReadByte();
    if (byte < 0) break;
    if (s.trainingDle) {
      s.trainingDle = false;
      if (byte == kETX) {
        ClearResponse(s.modem);
        if (TrainingGood(s.trainingTotal, s.trainingNonZero)) {
          s.state = 19;
        } else {
          SendFrameCommand(s, "AT+FTH=3");
          s.state = 18;
        }
        return;
      }
    } else if (byte == kDLE) {
      s.trainingDle = true;
      continue;
    }
    ++s.trainingTotal;
    if (byte != 0) ++s.trainingNonZero;
  }
}

// State 26: page data with DLE decoding.
void ReceivePageData(FaxSession& s) {
  FaxPort* port = s.common.port;
  bool reverse = IsClass2(s);
  for (int n = 0; n < kPagePass && port->InputWaiting() > 0; ++n) {
    int byte = port->ReadByte();
    if (byte < 0) break;
    int count = 1;
    if (s.previousData == kDLE) {
      s.previousData = 255;
      if (byte == kETX) {
        SetFaxStatus(s, fsGettingPage);
        ClearResponse(s.modem);
        SetPageFlow(s, FaxFlow::Off);
        s.state = IsClass1(s) ? 27 : 33;
        return;
      }
      // DLE DLE is one data DLE and DLE SUB two of them (modems may shorten
      // a doubled pair so); any other pair is a modem signal, not page data.
      if (byte == kSUB) {
        byte = kDLE;
        count = 2;
      } else if (byte != kDLE) {
        continue;
      }
    } else if (byte == kDLE) {
      s.previousData = kDLE;
      continue;
    }
    uint8_t data = static_cast<uint8_t>(byte);
    if (reverse) data = Reverse(data);
    for (int k = 0; k < count; ++k) {
      int rc = s.writer ? s.writer->StoreByte(data) : ecNotOpen;
      if (rc != ecOK) {
        Fail(s, rc);
        return;
      }
      ++s.common.bytesTransferred;
    }
  }
  ArmTimeout(s, s.modem.responseTimeout);
}

void State1(FaxSession& s) {
  FaxCommonData& c = s.common;
  FaxModemData& m = s.modem;
  ClearResponse(m);
  m.retryCount = 0;
  s.ringCount = 0;
  c.remoteId.clear();
  c.phoneNumber.clear();
  s.receiveFileName.clear();
  s.previousData = 255;
  s.pageDisposition = 3;
  c.currentPage = 0;
  if (s.constantStatus && !s.firstStatusSent) {
    NotifyOwner(s, FaxMsgStatus, fsmFirst);
    s.firstStatusSent = true;
  }
  SetPageFlow(s, FaxFlow::Off);
  c.port->SetLineSignals(true, true);
  ArmTimeout(s, m.responseTimeout);
  if (IsClass1(s)) {
    SendCommand(s, "AT+FCLASS=1");
    s.state = 2;
  } else {
    SendCommand(s, m.class2Commands[0]);
    s.state = 3;
  }
}

void StartPage(FaxSession& s) {
  FaxCommonData& c = s.common;
  FaxModemData& m = s.modem;
  ++c.currentPage;
  int rc = ecOK;
  // A page after an interrupt (+FET:3) or an unknown post-page code still
  // brings page data, which needs a page header before it: it goes into the
  // open file, or a new one.
  if (s.pageDisposition == 0 || s.pageDisposition == 1)
    s.pageDisposition = s.writer && s.writer->IsOpen() ? 2 : 3;
  if (s.pageDisposition == 2) {
    rc = s.writer ? s.writer->StartPage(m.fineInUse, m.wideInUse) : ecNotOpen;
  } else if (s.pageDisposition == 3) {
    // +FET:1 starts another document: the one before is complete.
    if (s.writer && s.writer->IsOpen()) {
      rc = s.writer->Close();
      NotifyOwner(s, FaxMsgLog, rc == ecOK ? flReceiveOk : flReceiveFail);
    }
    if (rc == ecOK) rc = CreateReceiveFile(s);
    if (rc == ecOK) {
      NotifyOwner(s, FaxMsgLog, flReceiveStart);
      rc = s.writer->StartPage(m.fineInUse, m.wideInUse);
    }
  }
  if (rc != ecOK) {
    Fail(s, rc);
    return;
  }
  s.previousData = 255;
  ArmTimeout(s, m.responseTimeout);
  c.bytesTransferred = 0;
  if (!IsClass1(s)) WriteModem(s, std::vector<uint8_t>{kDC2});
  SetFaxStatus(s, fsGettingPage);
  s.state = 26;
}

void EndCall36(FaxSession& s, bool userAbort) {
  FaxCommonData& c = s.common;
  if (s.writer && s.writer->IsOpen()) {
    FinishPage(s);
    CloseReceiveFile(s);
    NotifyOwner(s, FaxMsgLog, flReceiveFail);
  }
  SetPageFlow(s, FaxFlow::Off);
  ReceiveHangup(s);
  if ((s.firstStatusSent && !s.constantStatus) || userAbort) {
    NotifyOwner(s, FaxMsgStatus, fsmLast);
    s.firstStatusSent = false;
  }
  if ((c.flags & ffExitOnError) || userAbort) {
    FinishFaxSession(s);
    s.modem.modemInitialised = false;
    s.state = kEndState;
  } else {
    s.state = 1;
  }
}

bool CallAccepted(const FaxSession& s) { return s.writer && s.writer->IsOpen(); }

// State 23: the caller's reports after the connect report. The owner is
// asked once per call: at the caller's id, or at the OK when the caller
// sent none.
void State23(FaxSession& s) {
  FaxCommonData& c = s.common;
  FaxModemData& m = s.modem;
  if (HasEntry(s, c2TsiReport)) {
    ArmTimeout(s, m.responseTimeout);
    c.remoteId = Class2StationId(ReplyValue(ResponseText(s)));
    if (CallAccepted(s) || AcceptCall(s)) SetFaxStatus(s, fsGotStationId);
  } else if (HasEntry(s, c2SessionReport)) {
    ArmTimeout(s, m.responseTimeout);
    DecodeClass2Params(m, ReplyValue(ResponseText(s)));
    SetFaxStatus(s, fsConnectionParams);
  } else if (ResponseHas(s, "OK")) {
    if (!CallAccepted(s) && !AcceptCall(s)) return;
    SendCommand(s, "AT+FDR");
    ArmTimeout(s, m.responseTimeout);
    s.state = 24;
  }
  if (s.state != kAbortState) ClearResponse(m);
}

// Removes the page just received so that the one sent again takes its
// place under the same page number; a page already dropped stays dropped.
int DropReceivedPage(FaxSession& s) {
  if (!s.writer || !s.writer->CanDropPage()) return ecOK;
  --s.common.currentPage;
  return s.writer->DropPage();
}

// State 33: the page status, the post-page report and the OK after a
// Class 2 / 2.0 page.
void State33(FaxSession& s) {
  FaxModemData& m = s.modem;
  if (HasEntry(s, c2PageStatus)) {
    SetFaxStatus(s, fsGettingEop);
    int quality = Class2ReportNumber(ResponseText(s));
    bool keep = quality == 1 || quality == 3 || quality == 5;
    int rc = keep ? FinishPage(s) : DropReceivedPage(s);
    if (rc != ecOK) Fail(s, rc);
  } else if (IsPostPageReport(ResponseText(s))) {
    SetFaxStatus(s, fsGettingEodStatus);
    int code = Class2ReportNumber(ResponseText(s));
    s.pageDisposition = code == 0 ? 2 : code == 1 ? 3 : code == 2 ? 4 : code == 3 ? 1 : 0;
  } else if (ResponseHas(s, "ERROR")) {
    int rc = DropReceivedPage(s);
    if (rc != ecOK) {
      Fail(s, rc);
      return;
    }
    SendCommand(s, "AT+FDR");
    s.state = 24;
  } else if (ResponseHas(s, "OK")) {
    SendCommand(s, "AT+FDR");
    if (s.pageDisposition == 4) {
      int rc = s.writer && s.writer->IsOpen() ? s.writer->Close() : ecOK;
      NotifyOwner(s, FaxMsgLog, rc == ecOK ? flReceiveOk : flReceiveFail);
      s.receiveFileName.clear();
      SetFaxStatus(s, fsGettingHangup);
      s.state = 34;
    } else {
      s.state = 24;
    }
  }
  if (s.state != kAbortState) ClearResponse(m);
}

void RunState(FaxSession& s, int event, int handle) {
  FaxCommonData& c = s.common;
  FaxModemData& m = s.modem;
  FaxPort* port = c.port;
  bool timeout = event == TriggerTimerMsg && handle == c.timeoutTimer;

  if (ReadsReplies(s.state)) {
    if (timeout) {
      OnTimeout(s);
      return;
    }
    if (handle != c.availHandle || !TakeReply(s)) return;
  }

  switch (s.state) {
    case 1: State1(s); break;
    case 2:
      if (!ResponseHas(s, "OK")) { Fail(s, ecFaxInitError); break; }
      SwitchToNormalRate(s);
      StopTimeout(s);
      SetFaxStatus(s, fsWaitingForCall);
      s.state = 8;
      break;
    case 3:
      if (!ResponseHas(s, "OK")) { Fail(s, ecFaxInitError); break; }
      SwitchToNormalRate(s);
      SendCommand(s, m.class2Commands[6] + "=1," + Class2BitRateDigit(m.desiredBps) + ",0,2,0," +
                         m.desiredEcm + ",0,0");
      s.state = s.common.faxClass == kFaxClass20 ? 4 : 7;
      break;
    case 4:
      if (!ResponseHas(s, "OK")) { Fail(s, ecFaxInitError); break; }
      SendCommand(s, "AT+FLO=2");
      s.state = 5;
      break;
    case 5:
      if (!ResponseHas(s, "OK")) { Fail(s, ecFaxInitError); break; }
      SendCommand(s, "AT+FNR=1,1,1,0");
      s.state = 7;
      break;
    case 6:
    case 7:
      if (!ResponseHas(s, "OK")) { Fail(s, ecFaxInitError); break; }
      StopTimeout(s);
      SetFaxStatus(s, fsWaitingForCall);
      s.state = 8;
      break;
    case 8:
      if (ResponseHas(s, "RING")) {
        if (++s.ringCount >= m.answerOnRing) {
          s.pageDisposition = 3;
          if (!s.firstStatusSent) {
            NotifyOwner(s, FaxMsgStatus, fsmFirst);
            s.firstStatusSent = true;
          }
          ArmTimeout(s, m.responseTimeout);
          s.state = 9;
        }
      } else if (ResponseHas(s, "NO C")) {
        SetFaxStatus(s, fsNoConnect);
      } else if (ResponseHas(s, "CONNECT")) {
        Fail(s, ecFaxDataCall);
      } else if (ResponseHas(s, "VOICE")) {
        Fail(s, ecFaxVoiceCall);
      }
      ClearResponse(m);
      break;
    case 9:
      SendCommand(s, "ATA");
      ArmTimeout(s, m.dialWait);
      m.waitDeadline = port->Ticks() + static_cast<uint64_t>(m.dialWait);
      SetFaxStatus(s, fsAnswering);
      s.state = IsClass1(s) ? 10 : 22;
      break;
    case 10:
      if (ResponseHas(s, "CONNECT")) {
        SendFrame(s, fcfCSI, false, StationIdField(c.stationId));
        s.state = 11;
      } else {
        ClearResponse(m);
      }
      break;
    case 11:
      if (ResponseHas(s, "CONNECT")) {
        SendFrame(s, fcfDIS, true, DisInfo(m.speedIndex));
      } else if (ResponseHas(s, "OK")) {
        port->Delay(400);
        SendFrameCommand(s, "AT+FRH=3");
        ArmTimeout(s, 54);
        s.state = 12;
      } else {
        ClearResponse(m);
      }
      break;
    case 12:
      if (ResponseHas(s, "CONNECT")) {
        ClearResponse(m);
      } else if (ResponseHas(s, "OK") && m.finalFrame) {
        m.finalFrame = false;
        SetPageFlow(s, FaxFlow::Input);
        SendFrameCommand(s, "AT+FRM=" + m.modulation);
        s.state = 15;
      } else if (ResponseHas(s, "OK")) {
        SendFrameCommand(s, "AT+FRH=3");
      } else {
        ClearResponse(m);
      }
      break;
    case 13:
      if (++m.retryCount > 3) {
        Fail(s, ecTimeout);
        break;
      }
      SendCommand(s, "AT\r");
      s.state = 14;
      break;
    case 14:
      SendFrameCommand(s, "AT+FTH=3");
      s.state = 10;
      break;
    case 15:
      if (ResponseHas(s, "+FCERROR")) {
        SendFrameCommand(s, "AT+FRH=3");
        ArmTimeout(s, 54);
        s.state = 12;
      } else if (ResponseHas(s, "CONNECT")) {
        s.trainingTotal = s.trainingNonZero = 0;
        s.trainingDle = false;
        m.waitDeadline = port->Ticks() + m.responseTimeout;
        s.state = 16;
      } else {
        ClearResponse(m);
      }
      break;
    case 16: CheckTraining(s, timeout); break;
    case 18:
      if (ResponseHas(s, "CONNECT")) {
        SendFrame(s, fcfFTT, true);
        if (m.modulation == "24") Fail(s, ecFaxTrainError);
      } else if (ResponseHas(s, "OK")) {
        SendFrameCommand(s, "AT+FRH=3");
        ArmTimeout(s, 54);
        s.state = 12;
      } else {
        ClearResponse(m);
      }
      break;
    case 19:
      if (ResponseHas(s, "RRIER")) {
        SetPageFlow(s, FaxFlow::Off);
        port->Delay(20);
        SendFrameCommand(s, "AT+FTH=3");
        s.state = 20;
      } else {
        ClearResponse(m);
      }
      break;
    case 20:
      if (ResponseHas(s, "CONNECT")) {
        SendFrame(s, fcfCFR, true);
      } else if (ResponseHas(s, "OK")) {
        // The page after a good TCF comes with V.17's short training.
        SendFrameCommand(s, "AT+FRM=" + PageDataModulation(m.modulation));
        // A training repeated after +FCERROR finds the call accepted already.
        if ((s.writer && s.writer->IsOpen()) || AcceptCall(s)) s.state = 21;
      } else {
        ClearResponse(m);
      }
      break;
    case 21:
      if (ResponseHas(s, "+FCERROR")) {
        SendFrameCommand(s, "AT+FRH=3");
        ArmTimeout(s, 54);
        s.state = 12;
      } else if (ResponseHas(s, "CONNECT")) {
        SetFaxStatus(s, fsConnectionParams);
        SetPageFlow(s, FaxFlow::Input);
        s.state = 25;
      } else {
        ClearResponse(m);
      }
      break;
    case 22:
      if (HasEntry(s, c2ConnectReport)) {
        ArmTimeout(s, m.responseTimeout);
        SetFaxStatus(s, fsCallIsFax);
        s.state = 23;
      } else if (HasEntry(s, c2TsiReport) || HasEntry(s, c2SessionReport)) {
        // A modem that leaves out the connect report has connected all the same.
        SetFaxStatus(s, fsCallIsFax);
        s.state = 23;
        State23(s);
        break;
      }
      ClearResponse(m);
      break;
    case 23: State23(s); break;
    case 24:
      if (HasEntry(s, c2SessionReport)) {
        ArmTimeout(s, m.responseTimeout);
        DecodeClass2Params(m, ReplyValue(ResponseText(s)));
        SetFaxStatus(s, fsConnectionParams);
      } else if (ResponseHas(s, "CONNECT")) {
        SetPageFlow(s, FaxFlow::Input);
        s.state = 25;
      }
      ClearResponse(m);
      break;
    case 25: StartPage(s); break;
    case 26:
      if (timeout) Fail(s, ecTimeout);  // the remote stopped in the middle of a page
      else ReceivePageData(s);
      break;
    case 27:
      if (ResponseHas(s, "RRIER")) {
        SendFrameCommand(s, "AT+FRH=3");
        s.state = 28;
      } else {
        ClearResponse(m);
      }
      break;
    case 28:
      if (ResponseHas(s, "CONNECT")) {
        ClearResponse(m);
      } else if (ResponseHas(s, "OK") && m.finalFrame) {
        m.finalFrame = false;
        s.morePages = (m.lastControl & 0xFE) == (fcfMPS & 0xFE);
        SetFaxStatus(s, fsGettingEop);
        s.state = 29;
      } else if (ResponseHas(s, "OK")) {
        SendFrameCommand(s, "AT+FRH=3");
      } else {
        ClearResponse(m);
      }
      break;
    case 29: {
      int rc = FinishPage(s);
      if (rc != ecOK) {
        Fail(s, rc);
        break;
      }
      port->Delay(200);
      SendFrameCommand(s, "AT+FTH=3");
      SetFaxStatus(s, fsGettingEodStatus);
      s.state = 30;
      break;
    }
    case 30:
      if (ResponseHas(s, "CONNECT")) {
        SendFrame(s, fcfMCF, true);
      } else if (ResponseHas(s, "OK")) {
        if (s.morePages) {
          SendFrameCommand(s, "AT+FRM=" + PageDataModulation(m.modulation));
          s.pageDisposition = 2;
          s.state = 21;
        } else {
          port->Delay(200);
          SendFrameCommand(s, "AT+FRH=3");
          CloseReceiveFile(s);
          NotifyOwner(s, FaxMsgLog, flReceiveOk);
          s.receiveFileName.clear();
          SetFaxStatus(s, fsGettingHangup);
          s.state = 31;
        }
      } else {
        ClearResponse(m);
      }
      break;
    case 31:
      if (ResponseHas(s, "CONNECT")) {
        ClearResponse(m);
      } else if (ResponseHas(s, "OK") && m.finalFrame) {
        SendCommand(s, "ATH");
        s.state = 32;
      } else if (ResponseHas(s, "OK")) {
        SendFrameCommand(s, "AT+FRH=3");
      } else {
        ClearResponse(m);
      }
      break;
    case 32:
      if (ResponseHas(s, "OK")) {
        SetFaxStatus(s, fsGotHangupCode);
        s.state = 35;
      } else {
        ClearResponse(m);
      }
      break;
    case 33: State33(s); break;
    case 34:
      if (HasEntry(s, c2HangupReport)) {
        m.hangupCode = Class2HangupCode(ResponseText(s));
        SetFaxStatus(s, fsGotHangupCode);
      } else if (IsPostPageReport(ResponseText(s))) {
        SetFaxStatus(s, fsGettingHangup);
      } else if (ResponseHas(s, "OK")) {
        s.state = 35;
      }
      ClearResponse(m);
      break;
    case 35:
      SwitchToInitRate(s);
      if (s.oneFax) {
        FinishFaxSession(s);
        m.modemInitialised = false;
        s.state = kEndState;
      } else {
        if (!s.constantStatus) {
          NotifyOwner(s, FaxMsgStatus, fsmLast);
          s.firstStatusSent = false;
        }
        s.state = 1;
      }
      break;
    case 36: EndCall36(s, event == FaxMsgUserAbort); break;
    default: break;
  }
}

}  // namespace

void ReceiveStep(FaxSession& s, int event, int handle) {
  if (s.state == kEndState) return;
  if (!FaxStepPrologue(s, event, handle, kAbortState)) return;
  FaxPort* port = s.common.port;
  for (;;) {
    RunState(s, event, handle);
    if (s.state == kEndState) return;
    bool again = RunsAtOnce(s.state) || (!WaitsForEvent(s.state) && port->InputWaiting() > 0);
    if (!again) return;
    event = TriggerAvailMsg;
    handle = s.common.availHandle;
  }
}

}  // namespace tv
