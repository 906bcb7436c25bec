#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "engine/class1/t30_capabilities.h"
#include "engine/class1/t30_frames.h"
#include "engine/class2/class2_reports.h"
#include "engine/files/fax_files.h"
#include "engine/files/header_line.h"
#include "engine/modem/machine_helpers.h"
#include "engine/modem/modem_commands.h"
#include "engine/modem/response_assembler.h"
#include "engine/session/fax_session.h"
#include "engine/session/fax_speed.h"
#include "engine/session/fax_status.h"
#include "engine/transmit/page_output.h"
#include "engine/transmit/transmit.h"
#include "platform/core/error_codes.h"

namespace tv {

namespace {

enum : int { kAbortState = 46, kEndState = 47 };
constexpr int kPageBlock = 4096;

bool MorePages(const FaxSession& s) {
  return !s.common.faxFile.empty() &&
         (s.common.coverInProgress || s.common.currentPage < s.common.totalPages);
}

void Fail(FaxSession& s, int code) {
  ReportFaxError(s, code);
  s.state = kAbortState;
}

void ArmOutputFree(FaxSession& s) {
  ArmTimeout(s, s.modem.dataTimeout);
  s.common.port->ArmStatusWatch(s.common.outFreeWatch, kPageBlock, true);
}

void ArmOutputUsedZero(FaxSession& s) {
  ArmTimeout(s, s.modem.dataTimeout);
  s.common.port->ArmStatusWatch(s.common.outUsedWatch, 0, true);
}

void SendModulation(FaxSession& s) { SendFrameCommand(s, "AT+FTM=" + s.modem.modulation); }

// Page data follows a successful TCF, so V.17 uses its short training.
void SendPageModulation(FaxSession& s) {
  SendFrameCommand(s, "AT+FTM=" + PageDataModulation(s.modem.modulation));
}

FaxFileReader* ActiveReader(FaxSession& s) {
  if (s.common.coverInProgress && s.modem.coverIsApf && s.coverReader) return s.coverReader.get();
  return s.reader.get();
}

// Seeks a page of the active file and takes its flags; a page of another
// resolution than the one before is reported (the transmit goes on).
int SeekPage(FaxSession& s, int page) {
  FaxFileReader* reader = ActiveReader(s);
  if (!reader) return ecNotOpen;
  int rc = reader->SeekPage(page);
  if (rc != ecOK) return rc;
  FaxModemData& m = s.modem;
  m.lineRecords = reader->LineRecords();
  m.previousResolution = m.pageResolution;
  m.pageResolution = (reader->PageFlags() & 1) ? '1' : '0';
  m.pageWide = (reader->PageFlags() & 2) != 0;
  if (m.previousResolution != ' ' && m.previousResolution != m.pageResolution)
    ReportFaxError(s, ecFaxMixedResolution);
  return ecOK;
}

// Class 1: whether the page now due differs in resolution or width from
// what the last DCS announced. The far end reads page data by that DCS, so
// such a page needs a DCS of its own first (sent after the MCF, as after
// RTP). A mode the remote lacks ends the fax with -8070.
bool PageNeedsNewDcs(const FaxSession& s) {
  const FaxModemData& m = s.modem;
  return (m.pageResolution == '1') != m.fineInUse || m.pageWide != m.wideInUse;
}

// Takes the mode of the page now due into the next DCS: resolution, width
// and the minimum bytes per line that go with them.
bool TakePageMode(FaxSession& s) {
  FaxModemData& m = s.modem;
  bool fine = m.pageResolution == '1';
  if ((fine && !m.remoteFine) || (m.pageWide && !m.remoteWide)) {
    Fail(s, ecFaxBadMachine);
    return false;
  }
  m.fineInUse = fine;
  m.wideInUse = m.pageWide;
  SelectSpeed(m, m.speedIndex);
  return true;
}

void CloseFiles(FaxSession& s) {
  if (s.reader) s.reader->Close();
  if (s.coverReader) s.coverReader->Close();
  if (s.coverText) {
    std::fclose(s.coverText);
    s.coverText = nullptr;
  }
}

// Busy or no answer (states 11 and 19).
void BusyHandling(FaxSession& s) {
  FaxCommonData& c = s.common;
  ++c.busyRetries;
  if (c.dialAttempts != 0 && c.busyRetries >= c.dialAttempts) {
    NotifyOwner(s, FaxMsgStatus, fsmOrdinary);
    if (c.flags & ffAbortNoConnect) {
      Fail(s, ecFaxBusy);
      return;
    }
    CloseFiles(s);
    ReportFaxError(s, ecFaxBusy);
    NotifyOwner(s, FaxMsgLog, flTransmitFail);
    if (s.state == 11) SetFaxStatus(s, fsInitializing);
    s.state = 1;
    return;
  }
  SetFaxStatus(s, fsBusyWaiting);
  ArmTimeout(s, c.dialRetryWait);
  s.state = 10;
}

// The dial's failures, in both classes' dial states (11 and 19): busy or no
// answer is retried, voice, no dial tone and no carrier end the call (no
// carrier at once: nobody answered, so DialWait is not waited out). False
// when the reply is none of them.
bool DialFailed(FaxSession& s) {
  if (ResponseHas(s, "BUSY") || ResponseHas(s, "ANSWER")) {
    BusyHandling(s);
  } else if (ResponseHas(s, "VOICE")) {
    Fail(s, ecFaxVoiceCall);
  } else if (ResponseHas(s, "NO DIAL")) {
    Fail(s, ecFaxNoDialTone);
  } else if (ResponseHas(s, "RRIER")) {
    Fail(s, ecFaxNoCarrier);
  } else {
    return false;
  }
  return true;
}

// Moves to the next page (states 34 and 42).
bool NextPage(FaxSession& s) {
  FaxCommonData& c = s.common;
  if (c.coverInProgress) {
    if (s.coverReader) s.coverReader->Close();
    if (s.coverText) {
      std::fclose(s.coverText);
      s.coverText = nullptr;
    }
    c.coverInProgress = false;
    c.coverFile.clear();
  } else {
    ++c.currentPage;
    c.bytesTransferred = 0;
  }
  int rc = SeekPage(s, c.currentPage);
  if (rc != ecOK) {
    Fail(s, rc);
    return false;
  }
  return true;
}

void Hangup44(FaxSession& s) {
  s.class2Connected = false;
  CloseFiles(s);
  s.pageResends = 0;
  s.common.coverInProgress = false;
  SetFaxStatus(s, fsFaxSent);
  NotifyOwner(s, FaxMsgLog, flTransmitOk);
  SwitchToInitRate(s);
  s.state = 1;
}

// The page pump of state 27.
void PumpPage(FaxSession& s) {
  FaxCommonData& c = s.common;
  FaxPort* port = c.port;
  uint64_t deadline = port->Ticks() + SecondsToTicks(3L * c.statusInterval);
  std::vector<uint8_t> block;
  bool modemFull = false;  // more than BufferMinimum bytes wait for the modem
  bool progress = false;
  for (int i = 0; i < s.maxSendCount; ++i) {
    if (!FlushPending(s)) break;
    if (port->OutputQueued() > s.bufferMinimum) {
      modemFull = true;
      break;
    }
    if (port->OutputRoom() < kPageBlock) break;
    if (port->Ticks() >= deadline) {
      NotifyOwner(s, FaxMsgStatus, fsmOrdinary);
      ArmStatusTimer(s);
      deadline = port->Ticks() + SecondsToTicks(2L * c.statusInterval);
    }
    FaxFileReader* reader = ActiveReader(s);
    if (c.bytesTransferred < c.pageLength && reader && !reader->AtPageEnd()) {
      long counted = 0;
      int rc = reader->ReadBlock(block, s.modem.minimumBytes, counted);
      if (rc != ecOK) {
        Fail(s, rc);
        return;
      }
      c.bytesTransferred += counted;
      SendCodedData(s, block);
      progress = true;
      if (counted == 0) c.bytesTransferred = c.pageLength;  // a page shorter than its header says
    } else {
      if (IsClass1(s)) s.pendingOut.insert(s.pendingOut.end(), {kDLE, kETX});
      FlushPending(s);
      SetFaxStatus(s, fsSendingPage);
      s.state = 28;
      break;
    }
  }
  if (s.state == 28) {
    ArmOutputUsedZero(s);
  } else if (modemFull) {
    // The modem holds its input (XOFF) or takes it slowly. Output-free would
    // fire again at once while the bytes wait, and the loop would never get
    // back to reading the XON; wait instead until the modem has taken them.
    // The data time-out runs on from the last block that went out.
    if (progress) ArmTimeout(s, s.modem.dataTimeout);
    port->ArmStatusWatch(c.outUsedWatch, s.bufferMinimum, true);
  } else {
    ArmOutputFree(s);
  }
}

// States in which the machine reads reply lines.
bool ReadsReplies(int state) {
  return (state >= 3 && state <= 8) || (state >= 11 && state <= 20) || state == 29 ||
         (state >= 31 && state <= 37) || (state >= 39 && state <= 41) || state == 43;
}

bool RunsAtOnce(int state) {
  switch (state) {
    case 1: case 2: case 9: case 23: case 24: case 26: case 30: case 38:
    case 42: case 44: case 45: case 46:
      return true;
    default:
      return false;
  }
}

// Feeds received characters to the assembler until a complete line or no
// character is left; frames on the way are parsed. Returns true when a line
// is ready for the state; false when the state must not run (no line, or a
// frame or line already decided the next state).
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
        Fail(s, ecCancelRequested);
        return false;
      }
      if (rc == ecFaxBadMachine) {  // already reported
        s.state = kAbortState;
        return false;
      }
      if (m.retrain) {
        m.retrain = false;
        if (m.lastControl == fcfRTN || (m.lastControl & 0xFE) == fcfRTN) s.resendPage = true;
        if (StepSpeedDown(m)) {
          SendFrameCommand(s, "AT+FTH=3");
          s.state = 13;
        } else {
          Fail(s, ecFaxTrainError);
        }
        return false;
      }
      continue;
    }
    if (what != Assembled::Line) continue;
    // State 43 reads ERROR as a Class 2.0 page refusal; ERROR to a Class 2
    // / 2.0 set-up command (states 4 to 8) is the state's -8073.
    bool setUp = !IsClass1(s) && s.state >= 4 && s.state <= 8;
    if (setUp && ResponseText(s) == "RING") {  // an incoming call is no reply
      ClearResponse(m);
      continue;
    }
    if (ResponseHas(s, "ERROR") && s.state != 31 && s.state != 34 && s.state != 43 && !setUp) {
      Fail(s, ecFaxBadModemResult);
      return false;
    }
    if (!IsClass1(s) && IsClass2Report(m, ResponseText(s), c2HangupReport) && s.state != 40 &&
        s.state != 43) {
      m.hangupCode = Class2HangupCode(ResponseText(s));
      Fail(s, ecFaxBadModemResult);
      return false;
    }
    return true;
  }
  return false;
}

void OnTimeout(FaxSession& s) {
  if (s.state == 34) {
    WriteModem(s, std::string(" "));
    s.state = 30;
  } else if (s.state == 37) {
    TransmitHangup(s);
    s.state = 44;
  } else {
    Fail(s, ecTimeout);
  }
}

void State1(FaxSession& s) {
  FaxCommonData& c = s.common;
  if (NotifyOwner(s, FaxMsgNextFile, 0) == 0) {
    s.state = 45;
    return;
  }
  NotifyOwner(s, FaxMsgLog, flTransmitStart);
  c.busyRetries = 0;
  c.coverInProgress = false;
  s.modem.coverIsApf = false;
  c.totalPages = 0;
  c.coverCount = 0;
  s.pageResends = 0;
  s.pageRefused = false;
  s.class2Connected = false;
  s.modem.hangupCode = 0;
  c.bytesTransferred = 0;
  c.pageLength = 0;
  c.remoteId.clear();
  c.currentPage = 1;
  s.modem.pageResolution = ' ';
  s.resendPage = false;
  s.pendingOut.clear();
  if (!c.faxFile.empty()) {
    if (!s.reader) s.reader = std::make_unique<FaxFileReader>();
    int rc = s.reader->Open(c.faxFile, c.faxFileExt);
    if (rc != ecOK) {
      Fail(s, rc);
      return;
    }
    c.totalPages = s.reader->PageCount();
  } else if (c.coverFile.empty()) {
    Fail(s, ecNoFilename);
    return;
  }
  SetPageFlow(s, FaxFlow::Off);
  s.state = 2;
}

void State2(FaxSession& s) {
  FaxCommonData& c = s.common;
  FaxModemData& m = s.modem;
  for (char& ch : c.stationId) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  if (!c.coverFile.empty()) {
    c.coverCount = 1;
    c.coverInProgress = true;
    std::string ext = "." + c.faxFileExt;
    std::string upper = c.coverFile;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    for (char& ch : ext) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    m.coverIsApf = upper.find(ext) != std::string::npos;
  }
  if (!c.faxFile.empty()) {
    bool cover = c.coverInProgress;
    c.coverInProgress = false;  // the fax file's first page sets the resolution
    int rc = SeekPage(s, 1);
    c.coverInProgress = cover;
    if (rc != ecOK) {
      Fail(s, rc);
      return;
    }
  } else {
    m.pageResolution = '0';
    if (m.coverIsApf) {
      FaxFileReader cover;
      int rc = cover.Open(c.coverFile, c.faxFileExt);
      if (rc == ecOK) rc = cover.SeekPage(1);
      if (rc != ecOK) {
        Fail(s, rc);
        return;
      }
      m.pageResolution = (cover.PageFlags() & 1) ? '1' : '0';
      m.pageWide = (cover.PageFlags() & 2) != 0;
    }
  }
  SetFaxStatus(s, fsInitializing);
  if (IsClass1(s)) {
    SendCommand(s, "AT+FCLASS=1");
    s.state = 3;
  } else {
    SendCommand(s, m.class2Commands[0]);
    s.state = 4;
  }
}

void State23(FaxSession& s) {
  if (!s.headerLine.empty()) {
    SendWhiteLines(s, 8);
    FillOutput(s);
    int rc = SendTextRows(s, ExpandHeaderTags(s.headerLine, HeaderValuesFor(s)), 16);
    if (rc != ecOK) {
      Fail(s, rc);
      return;
    }
  } else {
    SendWhiteLines(s, 8);
  }
  FillOutput(s);
  s.state = s.common.coverInProgress ? 24 : 26;
}

void State24(FaxSession& s) {
  FaxCommonData& c = s.common;
  c.bytesTransferred = 0;
  if (s.modem.coverIsApf) {
    if (!s.coverReader) s.coverReader = std::make_unique<FaxFileReader>();
    int rc = s.coverReader->Open(c.coverFile, c.faxFileExt);
    if (rc == ecOK) rc = s.coverReader->SeekPage(1);
    if (rc != ecOK) {
      Fail(s, rc);
      return;
    }
    s.state = 26;
    return;
  }
  // A text cover is drawn with the cover font.
  if (!s.renderer) {
    Fail(s, ecFontFileNotFound);
    return;
  }
  s.coverText = std::fopen(c.coverFile.c_str(), "r");
  if (!s.coverText) {
    Fail(s, FileErrorFromErrno(errno));
    return;
  }
  ArmOutputFree(s);
  SetFaxStatus(s, fsSendingPage);
  s.state = 25;
}

// End-of-page block (seven EOLs), as the converter writes it.
const std::vector<uint8_t> kEndOfPage = {0x00, 0x80, 0x00, 0x08, 0x80, 0x00,
                                         0x08, 0x80, 0x00, 0x08, 0x80, 0x00};

void State25(FaxSession& s, int event, int handle) {
  FaxCommonData& c = s.common;
  if (event == TriggerTimerMsg && handle == c.timeoutTimer) {
    Fail(s, ecTimeout);
    return;
  }
  if (handle != c.outFreeWatch) return;
  char text[256];
  while (FlushPending(s) && c.port->OutputRoom() > kPageBlock) {
    if (!std::fgets(text, sizeof text, s.coverText)) {
      SendCodedData(s, kEndOfPage);
      int pad = s.modem.minimumBytes + 1 - static_cast<int>(kEndOfPage.size());
      if (pad > 0) SendCodedData(s, std::vector<uint8_t>(static_cast<size_t>(pad), 0));
      if (IsClass1(s)) s.pendingOut.insert(s.pendingOut.end(), {kDLE, kETX});
      FlushPending(s);
      SetFaxStatus(s, fsSendingPage);
      ArmOutputUsedZero(s);
      s.state = 28;
      return;
    }
    std::string line(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    int rc = SendTextRows(s, ExpandHeaderTags(line, HeaderValuesFor(s)), 48);
    if (rc != ecOK) {
      Fail(s, rc);
      return;
    }
  }
  ArmOutputFree(s);
}

// The session-parameter command for the page to send (AT+FDIS / AT+FIS).
void SendSessionParameters(FaxSession& s) {
  FaxModemData& m = s.modem;
  SendCommand(s, m.class2Commands[c2SessionCommand] + "=" + (m.pageResolution == '1' ? "1" : "0") +
                     "," + std::string(1, Class2BitRateDigit(m.desiredBps)) + "," +
                     (m.pageWide ? "1" : "0") + ",2,0," + m.desiredEcm + ",0,0");
}

// Whether the next page of the fax file differs in resolution or width from
// the page just sent. The far end reads a page by the parameters negotiated
// before it, so such a page ends the one before with EOM (AT+FET=1, DLE ;)
// and goes under parameters of its own.
bool NextPageChangesMode(FaxSession& s) {
  if (!MorePages(s) || !s.reader || !s.reader->IsOpen()) return false;
  FaxFileReader next;
  int page = s.common.coverInProgress ? 1 : s.common.currentPage + 1;
  if (next.Open(s.reader->Name(), s.common.faxFileExt) != ecOK || next.SeekPage(page) != ecOK)
    return false;
  bool fine = (next.PageFlags() & 1) != 0;
  bool wide = (next.PageFlags() & 2) != 0;
  return fine != (s.modem.pageResolution == '1') || wide != s.modem.pageWide;
}

bool IsReport(const FaxSession& s, int entry) {
  return IsClass2Report(s.modem, ResponseText(s), entry);
}

// State 20: the remote's reports after the dial, the session parameters
// after AT+FDT, then CONNECT for the page data.
void State20(FaxSession& s) {
  FaxCommonData& c = s.common;
  FaxModemData& m = s.modem;
  if (IsReport(s, c2RemoteCaps)) {
    DecodeClass2Params(m, ReplyValue(ResponseText(s)));
    if ((m.pageWide && !m.remoteWide) || (m.pageResolution == '1' && !m.remoteFine)) {
      Fail(s, ecFaxBadMachine);
      return;
    }
    SetFaxStatus(s, fsConnectionParams);
  } else if (IsReport(s, c2CsiReport)) {
    c.remoteId = Class2StationId(ReplyValue(ResponseText(s)));
    SetFaxStatus(s, fsGotStationId);
  } else if (IsReport(s, c2SessionReport)) {
    DecodeClass2Params(m, ReplyValue(ResponseText(s)));
    SetFaxStatus(s, fsConnectionParams);
  } else if (ResponseHas(s, "CONNECT")) {
    if (IsClass20(s)) {
      ArmOutputFree(s);
      s.state = 22;
    } else {
      ArmTimeout(s, 18);
      s.state = 21;
      // An XON that came with CONNECT is already in the buffer, and no new
      // data will announce it: take it now.
      while (c.port->InputWaiting() > 0) {
        if (c.port->ReadByte() == kXON) {
          ArmOutputFree(s);
          s.state = 22;
          break;
        }
      }
    }
  } else if (ResponseHas(s, "OK")) {
    SendCommand(s, "AT+FDT");
    ArmTimeout(s, 546);
    m.waitDeadline = c.port->Ticks() + 546;
  }
}

// State 19: the dial's outcome. A modem that reports the remote's
// capabilities or id without a connect report has connected all the same.
void State19(FaxSession& s) {
  FaxModemData& m = s.modem;
  if (IsReport(s, c2ConnectReport)) {
    ArmTimeout(s, m.responseTimeout);
    s.class2Connected = true;
    s.state = 20;
  } else if (IsReport(s, c2RemoteCaps) || IsReport(s, c2CsiReport)) {
    ArmTimeout(s, m.responseTimeout);
    s.class2Connected = true;
    s.state = 20;
    State20(s);
  } else {
    DialFailed(s);
  }
}

// A refused page goes again after the modem's OK (state 41, and state 43
// when a Class 2.0 modem reported the refusal in +FPS before its OK).
void ResendPage(FaxSession& s) {
  FaxCommonData& c = s.common;
  FaxModemData& m = s.modem;
  s.pageRefused = false;
  if (++s.pageResends > s.pageResendLimit) {
    Fail(s, ecFaxSessionError);  // state 46 aborts the session
    return;
  }
  SendCommand(s, "AT+FDT");
  if (c.coverInProgress && !m.coverIsApf) {
    if (s.coverText) std::fclose(s.coverText);
    s.coverText = nullptr;
  } else {
    int rc = SeekPage(s, c.coverInProgress ? 1 : c.currentPage);
    if (rc != ecOK) {
      Fail(s, rc);
      return;
    }
  }
  s.state = 20;
}

// A failing Class 2 / 2.0 call is ended by the modem: page data that may
// still flow is closed with DLE ETX (a modem in command mode takes it and
// the CR behind it for an empty line), then the session is aborted
// without waiting. The hang-up that follows then also works on a line
// without DTR and carrier.
void AbortClass2Call(FaxSession& s) {
  s.class2Connected = false;
  if (s.modem.hangupCode != 0) return;  // the modem has ended the call already
  WriteModem(s, std::vector<uint8_t>{kDLE, kETX, '\r'});
  WriteModem(s, Class2AbortCommand(IsClass20(s)) + "\r");
}

// State 40: the Class 2 page status after AT+FET.
void State40(FaxSession& s) {
  FaxModemData& m = s.modem;
  if (IsReport(s, c2HangupReport)) {
    m.hangupCode = Class2HangupCode(ResponseText(s));
  } else if (IsReport(s, c2PageStatus)) {
    int status = Class2ReportNumber(ResponseText(s));
    if (status == 1 || status == 3) {
      SetFaxStatus(s, fsPageAccepted);
    } else if (status == 2) {
      SetFaxStatus(s, fsPageError);
      s.state = 41;
    } else if (status == 4 || status == 5) {
      Fail(s, ecCancelRequested);
    } else {
      Fail(s, ecFaxPageError);
    }
  } else if (ResponseHas(s, "OK")) {
    s.state = 42;
  } else {
    Fail(s, ecFaxPageError);
  }
}

// State 43: the Class 2.0 modem's verdict on the page. OK accepts it, ERROR
// refuses it; a modem that reports +FPS first is read by its value, and a
// refusal there makes its OK send the page again.
void State43(FaxSession& s) {
  FaxModemData& m = s.modem;
  if (ResponseHas(s, "ERROR")) {
    s.pageRefused = false;  // the refusal is ERROR's, whatever +FPS said before it
    if (m.hangupCode != 0) {
      // The modem reported the end of the call first: nothing can be sent again.
      Fail(s, ecFaxBadModemResult);
      return;
    }
    SendCommand(s, "AT+FPS?");
    SetFaxStatus(s, fsPageError);
    s.state = 41;
  } else if (IsReport(s, c2HangupReport)) {
    m.hangupCode = Class2HangupCode(ResponseText(s));
  } else if (IsReport(s, c2PageStatus)) {
    int status = Class2ReportNumber(ResponseText(s));
    s.pageRefused = status == 2;
    if (status == 4 || status == 5) Fail(s, ecCancelRequested);
    else if (status != 1 && status != 2 && status != 3) Fail(s, ecFaxPageError);
  } else if (ResponseHas(s, "OK")) {
    if (s.pageRefused) {
      SetFaxStatus(s, fsPageError);
      ResendPage(s);
    } else {
      SetFaxStatus(s, fsPageAccepted);
      s.state = 42;
    }
  } else {
    Fail(s, ecFaxPageError);
  }
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
    case 2: State2(s); break;
    case 3:
      if (ResponseHas(s, "OK")) s.state = 9;
      else Fail(s, ecFaxInitError);
      break;
    case 4:
      if (!ResponseHas(s, "OK")) { Fail(s, ecFaxInitError); break; }
      SendCommand(s, m.class2Commands[5] + "=\"" + c.stationId + "\"");
      s.state = IsClass20(s) ? 5 : 7;
      break;
    case 5:
      if (!ResponseHas(s, "OK")) { Fail(s, ecFaxInitError); break; }
      SendCommand(s, "AT+FLO=2");
      s.state = 6;
      break;
    case 6:
      if (!ResponseHas(s, "OK")) { Fail(s, ecFaxInitError); break; }
      SendCommand(s, "AT+FNR=1,1,1,0");
      s.state = 7;
      break;
    case 7:
      if (!ResponseHas(s, "OK")) { Fail(s, ecFaxInitError); break; }
      SendSessionParameters(s);
      s.state = 8;
      break;
    case 8:
      if (!ResponseHas(s, "OK")) { Fail(s, ecFaxInitError); break; }
      if (s.class2Connected) {
        // New parameters for a page of another mode: the modem negotiates them.
        SendCommand(s, "AT+FDT");
        s.state = 20;
      } else {
        s.state = 9;
      }
      break;
    case 9:
      SendDialString(s);
      SetFaxStatus(s, fsDialing);
      s.state = IsClass1(s) ? 11 : 19;
      break;
    case 10:
      // Waiting to redial: only the retry timer ends the wait.
      if (timeout) s.state = 9;
      else if (handle == c.availHandle) port->DiscardInput();
      break;
    case 11:
      if (ResponseHas(s, "CONNECT")) {
        ClearResponse(m);
      } else if (ResponseHas(s, "OK")) {
        if (m.finalFrame) {
          port->Delay(200);
          SendFrameCommand(s, "AT+FTH=3");
          m.finalFrame = false;
          s.state = 12;
        } else {
          SendFrameCommand(s, "AT+FRH=3");
        }
      } else if (!DialFailed(s)) {
        ClearResponse(m);
      }
      break;
    case 12:
      if (ResponseHas(s, "CONNECT")) {
        SendFrame(s, fcfTSI, false, StationIdField(c.stationId));
        s.state = 13;
      }
      break;
    case 13:
      if (ResponseHas(s, "CONNECT")) {
        SendFrame(s, fcfDCS, true,
                  DcsInfo(m.speedIndex, m.pageResolution == '1', m.pageWide, m.scanCode));
        m.modulation = FaxSpeedEntry(m.speedIndex).modulation;
        s.state = 14;
      }
      break;
    case 14:
      if (ResponseHas(s, "OK")) {
        SendModulation(s);
        s.state = 15;
      }
      break;
    case 15:
      if (ResponseHas(s, "CONNECT")) {
        SetPageFlow(s, FaxFlow::Output);
        std::vector<uint8_t> zeros(static_cast<size_t>(TrainingLength(m.bitRate)), 0);
        zeros.push_back(kDLE);
        zeros.push_back(kETX);
        WriteModem(s, zeros);
        ClearResponse(m);
        s.state = 16;
      }
      break;
    case 16:
      if (ResponseHas(s, "OK")) {
        SetPageFlow(s, FaxFlow::Off);
        port->Delay(200);
        SendFrameCommand(s, "AT+FRH=3");
        m.cfrReceived = false;
        s.state = 17;
      }
      break;
    case 17:
      if (ResponseHas(s, "OK") && m.finalFrame) {
        port->Delay(200);
        m.finalFrame = false;
        if (m.cfrReceived) {
          SendPageModulation(s);
          s.state = 18;
        } else {
          SendFrameCommand(s, "AT+FTH=3");
          s.state = 13;
        }
      } else if (ResponseHas(s, "OK")) {
        SendFrameCommand(s, "AT+FRH=3");
      } else {
        ClearResponse(m);
      }
      break;
    case 18:
      if (ResponseHas(s, "CONNECT")) {
        ArmTimeout(s, 18);
        s.state = 21;
      }
      break;
    case 19: State19(s); break;
    case 20: State20(s); break;
    case 21:
      if (timeout) {
        ArmOutputFree(s);
        s.state = 22;
      } else if (handle == c.availHandle) {
        while (port->InputWaiting() > 0) {
          if (port->ReadByte() == kXON) {
            ArmOutputFree(s);
            s.state = 22;
            break;
          }
        }
      }
      break;
    case 22:
      if (timeout) {
        Fail(s, ecTimeout);
      } else if (handle == c.outFreeWatch) {
        SetFaxStatus(s, fsSendingPage);
        SetPageFlow(s, FaxFlow::Output);
        s.state = 23;
      }
      break;
    case 23: State23(s); break;
    case 24: State24(s); break;
    case 25: State25(s, event, handle); break;
    case 26: {
      c.bytesTransferred = 0;
      FaxFileReader* reader = ActiveReader(s);
      if (s.resendPage && reader) {
        s.resendPage = false;
        int rc = reader->RewindPage();
        if (rc != ecOK) {
          Fail(s, rc);
          break;
        }
      }
      c.pageLength = reader ? static_cast<long>(reader->PageLength()) : 0;
      ArmOutputFree(s);
      s.state = 27;
      break;
    }
    case 27:
      if (timeout) Fail(s, ecTimeout);
      else if (handle == c.outFreeWatch || handle == c.outUsedWatch) PumpPage(s);
      else if (handle == c.availHandle) port->DiscardInput();
      break;
    case 28:
      if (timeout) {
        Fail(s, ecTimeout);
      } else if (handle == c.outUsedWatch) {
        if (!FlushPending(s)) {
          ArmOutputUsedZero(s);
          break;
        }
        SetPageFlow(s, FaxFlow::Off);
        SetFaxStatus(s, fsSendingPage);
        ClearResponse(m);
        if (IsClass1(s)) {
          s.state = 29;
        } else if (IsClass2(s)) {
          WriteModem(s, std::vector<uint8_t>{kDLE, kETX});
          s.state = 38;
        } else {
          uint8_t end = !MorePages(s) ? '.' : NextPageChangesMode(s) ? ';' : ',';
          WriteModem(s, std::vector<uint8_t>{kDLE, end});
          s.state = 38;
        }
      } else if (handle == c.availHandle) {
        port->DiscardInput();
      }
      break;
    case 29:
      if (ResponseHas(s, "OK")) {
        m.retryCount = 0;
        SetFaxStatus(s, fsSendingEop);
        s.state = 30;
      } else {
        ClearResponse(m);
      }
      break;
    case 30:
      ++m.retryCount;
      if (m.retryCount < 4) {
        port->Delay(500);
        SendFrameCommand(s, "AT+FTH=3");
        s.state = 31;
      } else {
        Fail(s, ecTimeout);
      }
      break;
    case 31:
      if (ResponseHas(s, "CONNECT")) {
        SendFrame(s, MorePages(s) ? fcfMPS : fcfEOP, true);
        s.state = 32;
      } else {
        ClearResponse(m);
      }
      break;
    case 32:
      if (ResponseHas(s, "OK")) {
        port->Delay(200);
        SendFrameCommand(s, "AT+FRH=3");
        ArmTimeout(s, 54);
        s.state = 34;
      } else {
        ClearResponse(m);
      }
      break;
    case 34:
      if (ResponseHas(s, "CONNECT")) {
        ClearResponse(m);
      } else if (ResponseHas(s, "ERROR")) {
        s.state = 30;
      } else if (ResponseHas(s, "OK") && m.finalFrame) {
        m.finalFrame = false;
        bool more = MorePages(s);
        if (m.lastControl == fcfMCF) {
          port->Delay(200);
          if (more) {
            if (!NextPage(s)) break;
            if (PageNeedsNewDcs(s)) {
              if (!TakePageMode(s)) break;
              SendFrameCommand(s, "AT+FTH=3");
              s.state = 13;
              break;
            }
            SendPageModulation(s);
            s.state = 18;
          } else {
            SendFrameCommand(s, "AT+FTH=3");
            s.state = 35;
          }
        } else if (m.lastControl == fcfRTP) {
          port->Delay(200);
          if (more && (!NextPage(s) || !TakePageMode(s))) break;
          SendFrameCommand(s, "AT+FTH=3");
          s.state = more ? 13 : 35;
        }
      } else if (ResponseHas(s, "OK")) {
        SendFrameCommand(s, "AT+FRH=3");
      } else {
        ClearResponse(m);
      }
      break;
    case 35:
      if (ResponseHas(s, "CONNECT")) {
        SendFrame(s, fcfDCN, true);
        s.state = 36;
      } else {
        ClearResponse(m);
      }
      break;
    case 36:
      if (ResponseHas(s, "OK")) {
        SendCommand(s, "ATH");
        ArmTimeout(s, 26);
        s.state = 37;
      } else {
        ClearResponse(m);
      }
      break;
    case 37:
      if (ResponseHas(s, "OK")) s.state = 44;
      else ClearResponse(m);
      break;
    case 38:
      ClearResponse(m);
      ArmTimeout(s, m.dataTimeout);
      SetFaxStatus(s, fsSendingEop);
      s.state = IsClass2(s) ? 39 : 43;
      break;
    case 39:
      if (!ResponseHas(s, "OK")) { Fail(s, ecFaxSessionError); break; }
      SendCommand(s, !MorePages(s) ? "AT+FET=2" : NextPageChangesMode(s) ? "AT+FET=1" : "AT+FET=0");
      ArmTimeout(s, m.dataTimeout);
      s.state = 40;
      break;
    case 40: State40(s); break;
    case 41:
      // The page status that AT+FPS? asks for comes before the OK.
      if (IsReport(s, c2PageStatus)) break;
      if (!ResponseHas(s, "OK")) { Fail(s, ecFaxSessionError); break; }
      ResendPage(s);
      break;
    case 42:
      if (MorePages(s)) {
        s.pageResends = 0;  // each page may be refused twice
        char resolution = m.pageResolution;
        bool wide = m.pageWide;
        if (!NextPage(s)) break;
        if (resolution != m.pageResolution || wide != m.pageWide) {
          SendSessionParameters(s);  // after EOM; its OK sends AT+FDT (state 8)
          s.state = 8;
        } else {
          SendCommand(s, "AT+FDT");
          s.state = 20;
        }
      } else {
        s.state = 44;
      }
      break;
    case 43: State43(s); break;
    case 44: Hangup44(s); break;
    case 45:
      NotifyOwner(s, FaxMsgStatus, fsmLast);
      FinishFaxSession(s);
      m.modemInitialised = false;
      s.state = kEndState;
      break;
    case 46: {
      CloseFiles(s);
      NotifyOwner(s, FaxMsgLog, flTransmitFail);
      if (s.class2Connected) AbortClass2Call(s);
      TransmitHangup(s);
      bool userAbort = event == FaxMsgUserAbort;
      if ((c.flags & (ffExitOnError | ffAbortNoConnect)) || userAbort) {
        if (userAbort) SetFaxStatus(s, fsUserAbort);
        NotifyOwner(s, FaxMsgStatus, fsmLast);
        FinishFaxSession(s);
        m.modemInitialised = false;
        s.state = kEndState;
      } else {
        s.state = 1;
      }
      SwitchToInitRate(s);
      break;
    }
    default:
      break;
  }
}

}  // namespace

void TransmitStep(FaxSession& s, int event, int handle) {
  if (s.state == kEndState) return;
  if (!FaxStepPrologue(s, event, handle, kAbortState)) return;
  FaxPort* port = s.common.port;
  for (;;) {
    RunState(s, event, handle);
    if (s.state == kEndState) return;
    bool again = RunsAtOnce(s.state) || (ReadsReplies(s.state) && port->InputWaiting() > 0);
    if (!again) return;
    // A state run within the same event sees the avail trigger as its event.
    event = TriggerAvailMsg;
    handle = s.common.availHandle;
  }
}

}  // namespace tv
