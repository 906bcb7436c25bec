#include "engine/session/fax_session.h"

#include <algorithm>
#include <cctype>

#include "engine/files/fax_files.h"
#include "engine/files/header_line.h"
#include "engine/modem/modem_commands.h"
#include "engine/session/fax_status.h"
#include "platform/core/error_codes.h"

namespace tv {

namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

int CreateSession(std::unique_ptr<FaxSession>& session, FaxDirection direction,
                  const std::string& stationId, FaxPort* port, FaxOwner* owner) {
  session.reset(new (std::nothrow) FaxSession);
  if (!session) return -ecOutOfMemory;
  session->direction = direction;
  session->common.isSender = direction == FaxDirection::Send;
  SetCapped(session->common.stationId, stationId, 20);
  session->common.port = port;
  session->common.owner = owner;
  return ecOK;
}

}  // namespace

FaxSession::FaxSession() = default;

FaxSession::~FaxSession() {
  if (coverText) std::fclose(coverText);
}

void SetCapped(std::string& field, const std::string& value, size_t capacity) {
  field = value.substr(0, capacity);
}

int CreateSendSession(std::unique_ptr<FaxSession>& session, const std::string& stationId,
                      FaxPort* port, FaxOwner* owner) {
  int rc = CreateSession(session, FaxDirection::Send, stationId, port, owner);
  if (rc == ecOK) session->renderer = CreateHeaderLineRenderer();
  return rc;
}

int CreateReceiveSession(std::unique_ptr<FaxSession>& session, const std::string& stationId,
                         FaxPort* port, FaxOwner* owner) {
  int rc = CreateSession(session, FaxDirection::Receive, stationId, port, owner);
  if (rc != ecOK) return rc;
  session->common.currentPage = 1;
  session->previousData = 255;
  session->state = 1;
  return ecOK;
}

void SetStationId(FaxSession& s, const std::string& id) { SetCapped(s.common.stationId, id, 20); }

void SetModemInit(FaxSession& s, const std::string& init) {
  std::string value = Upper(init);
  if (!value.empty() && value[0] != 'A') value = "AT" + value;
  SetCapped(s.modem.modemInit, value, 40);
}

void SetDialPrefix(FaxSession& s, const std::string& prefix) {
  SetCapped(s.modem.dialPrefix, prefix, 40);
}
void SetDialWait(FaxSession& s, int seconds) { s.modem.dialWait = static_cast<long>(SecondsToTicks(seconds)); }
void SetDialRetryWait(FaxSession& s, int seconds) {
  s.common.dialRetryWait = static_cast<int>(SecondsToTicks(seconds));
}
void SetDialAttempts(FaxSession& s, int attempts) { s.common.dialAttempts = attempts; }
void SetToneDial(FaxSession& s, bool tone) { s.modem.toneDial = tone; }
void SetBlindDial(FaxSession& s, bool blind) {
  s.modem.blindDial = blind;
  s.modem.engineInit = EngineInitString(s.modem.detectBusy, s.modem.blindDial);
}
void SetDetectBusy(FaxSession& s, bool detect) {
  s.modem.detectBusy = detect;
  s.modem.engineInit = EngineInitString(s.modem.detectBusy, s.modem.blindDial);
}
void SetDesiredBps(FaxSession& s, int bps) { s.modem.desiredBps = bps; }
void SetDesiredEcm(FaxSession& s, bool ecm) { s.modem.desiredEcm = ecm ? '1' : '0'; }
void SetFaxAndData(FaxSession& s, bool on) { s.modem.faxAndData = on ? '1' : '0'; }
void SetAnswerOnRing(FaxSession& s, int rings) { s.modem.answerOnRing = rings; }
void SetStatusInterval(FaxSession& s, int seconds) { s.common.statusInterval = seconds; }
void SetSessionFlags(FaxSession& s, int flags) { s.common.flags = flags; }
void SetDestinationDir(FaxSession& s, const std::string& dir) {
  SetCapped(s.common.destinationDir, dir, 255);
}
void SetFaxFileExt(FaxSession& s, const std::string& ext) {
  SetCapped(s.common.faxFileExt, ext, 255);
}
void SetHeaderLine(FaxSession& s, const std::string& line) { SetCapped(s.headerLine, line, 255); }
void SetHeaderTexts(FaxSession& s, const std::string& title, const std::string& recipient,
                    const std::string& sender) {
  SetCapped(s.common.headerTitle, title, 255);
  SetCapped(s.common.headerRecipient, recipient, 255);
  SetCapped(s.common.headerSender, sender, 255);
}
void SetOneFax(FaxSession& s, bool one) { s.oneFax = one; }
void SetConstantStatus(FaxSession& s, bool constant) { s.constantStatus = constant; }

void SetInitBaud(FaxSession& s, int baud) {
  s.modem.initBaud = baud;
  if (!s.common.port) return;
  if (s.modem.normalBaud == 0) s.modem.normalBaud = s.common.port->BitRate();
  if (baud != 0) {
    s.common.port->SetBitRate(baud);
    s.modem.atInitBaud = true;
  }
}
void SetNormalBaud(FaxSession& s, int baud) { s.modem.normalBaud = baud; }

void SetNextFax(FaxSession& s, const std::string& phone, const std::string& faxFile,
                const std::string& coverFile) {
  SetCapped(s.common.phoneNumber, phone, 40);
  // Paths are kept in their own letter case: on Linux an upper-cased path
  // names another file. Comparisons of extensions ignore case instead.
  SetCapped(s.common.faxFile, faxFile, 255);
  SetCapped(s.common.coverFile, coverFile, 255);
}

void SetReceiveFileName(FaxSession& s, const std::string& name) {
  SetCapped(s.receiveFileName, name, 255);
}

std::string GetRemoteStationId(const FaxSession& s) { return s.common.remoteId; }

void SetFaxStatus(FaxSession& s, int status) {
  s.common.status = status;
  s.modem.statusDirty = true;
}

void ReportFaxError(FaxSession& s, int code) {
  s.common.error = code;
  NotifyOwner(s, FaxMsgError, code);
}

int NotifyOwner(FaxSession& s, int message, int wParam) {
  if (!s.common.owner) return 0;
  return s.common.owner->Send(s, message, wParam);
}

void ArmTimeout(FaxSession& s, long ticks) {
  if (s.common.port && s.common.timeoutTimer > 0)
    s.common.port->ArmTimer(s.common.timeoutTimer, ticks, true);
}

void StopTimeout(FaxSession& s) {
  if (s.common.port && s.common.timeoutTimer > 0)
    s.common.port->ArmTimer(s.common.timeoutTimer, 0, false);
}

void ArmStatusTimer(FaxSession& s) {
  if (s.common.port && s.common.statusTimer > 0)
    s.common.port->ArmTimer(s.common.statusTimer, SecondsToTicks(s.common.statusInterval), true);
}

int StartFaxSession(FaxSession& s, FaxPrepareProc prepare, FaxStepProc step) {
  FaxCommonData& c = s.common;
  FaxPort* port = c.port;
  if (!port) return ecBadHandle;
  c.step = step;
  c.availHandle = port->AvailTrigger();
  c.timeoutTimer = port->AddTimer();
  c.statusTimer = port->AddTimer();
  c.outFreeWatch = port->AddStatusWatch(stOutputFree);
  c.outUsedWatch = port->AddStatusWatch(stOutputUsed);
  c.modemStatusWatch = port->AddStatusWatch(stModemStatus);
  for (int handle : {c.availHandle, c.timeoutTimer, c.statusTimer, c.outFreeWatch,
                     c.outUsedWatch, c.modemStatusWatch}) {
    if (handle <= 0) {
      ReportFaxError(s, ecNoMoreTriggers);
      FinishFaxSession(s);
      return ecNoMoreTriggers;
    }
  }
  prepare(s);
  if (c.error != ecOK) {
    NotifyOwner(s, FaxMsgStatus, fsmLast);
    FinishFaxSession(s);
    return c.error;
  }
  FaxSession* self = &s;
  step(s, 0, 0);
  // The first step may already have ended the run.
  if (s.state == (s.direction == FaxDirection::Send ? 47 : 37)) return ecOK;
  int rc = port->SetHandler([self](int event, int handle) {
    if (self->common.step) self->common.step(*self, event, handle);
  });
  if (rc != ecOK) {
    ReportFaxError(s, rc);
    FinishFaxSession(s);
    return rc;
  }
  ArmStatusTimer(s);
  return ecOK;
}

void FinishFaxSession(FaxSession& s) {
  FaxCommonData& c = s.common;
  if (c.port) {
    for (int* handle : {&c.timeoutTimer, &c.statusTimer, &c.outFreeWatch, &c.outUsedWatch,
                        &c.modemStatusWatch}) {
      if (*handle > 0) c.port->DropTrigger(*handle);
      *handle = 0;
    }
    c.port->RemoveHandler();
  }
  c.step = nullptr;
  c.sessionInitialised = false;
  if (c.owner) c.owner->Post(s, FaxMsgFinish, c.error);
}

bool FaxStepPrologue(FaxSession& s, int& event, int& handle, int abortState) {
  FaxCommonData& c = s.common;
  if (event == FaxMsgUserAbort) {
    SetFaxStatus(s, fsUserAbort);
    c.error = ecCancelRequested;
    s.state = abortState;
    return true;
  }
  if (event == TriggerAvailMsg || event == 0) handle = c.availHandle;
  if (handle != c.availHandle && handle != c.timeoutTimer && handle != c.statusTimer &&
      handle != c.outFreeWatch && handle != c.outUsedWatch)
    return false;
  bool statusEvent = handle == c.statusTimer && event == TriggerTimerMsg;
  if (statusEvent || s.modem.statusDirty) {
    s.modem.statusDirty = false;
    NotifyOwner(s, FaxMsgStatus, fsmOrdinary);
    ArmStatusTimer(s);
    if (statusEvent) return false;
  }
  return true;
}

FaxProgress GetFaxProgress(const FaxSession& s) {
  FaxProgress p;
  const FaxCommonData& c = s.common;
  if (s.direction == FaxDirection::Send) {
    p.pageCount = s.reader ? s.reader->PageCount() : c.totalPages;
    p.pageNumber = c.coverInProgress ? 0 : c.currentPage;
    p.pageLength = c.pageLength;
    long queued = c.port ? c.port->OutputQueued() : 0;
    if (queued == 1) queued = 0;
    p.bytesTransferred = std::max(0L, c.bytesTransferred - queued);
  } else {
    p.pageNumber = c.currentPage;
    p.bytesTransferred = c.bytesTransferred;
  }
  return p;
}

}  // namespace tv
