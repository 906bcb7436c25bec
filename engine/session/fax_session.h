// The operations of a fax session: creating and destroying sessions, the
// option setters, starting and finishing a run, the step prologue shared by
// both state machines, notifications, status, errors and progress.
#pragma once

#include <memory>
#include <string>

#include "engine/session/fax_records.h"

namespace tv {

// Sessions. The station id is cut to 20 characters.
int CreateSendSession(std::unique_ptr<FaxSession>& session, const std::string& stationId,
                      FaxPort* port, FaxOwner* owner);
int CreateReceiveSession(std::unique_ptr<FaxSession>& session, const std::string& stationId,
                         FaxPort* port, FaxOwner* owner);

// Option setters.
void SetStationId(FaxSession& s, const std::string& id);
void SetModemInit(FaxSession& s, const std::string& init);
void SetDialPrefix(FaxSession& s, const std::string& prefix);
void SetDialWait(FaxSession& s, int seconds);
void SetDialRetryWait(FaxSession& s, int seconds);
void SetDialAttempts(FaxSession& s, int attempts);
void SetToneDial(FaxSession& s, bool tone);
void SetBlindDial(FaxSession& s, bool blind);
void SetDetectBusy(FaxSession& s, bool detect);
void SetDesiredBps(FaxSession& s, int bps);
void SetDesiredEcm(FaxSession& s, bool ecm);
void SetFaxAndData(FaxSession& s, bool on);
void SetAnswerOnRing(FaxSession& s, int rings);
void SetStatusInterval(FaxSession& s, int seconds);
void SetSessionFlags(FaxSession& s, int flags);
void SetDestinationDir(FaxSession& s, const std::string& dir);
void SetFaxFileExt(FaxSession& s, const std::string& ext);
void SetHeaderLine(FaxSession& s, const std::string& line);
void SetHeaderTexts(FaxSession& s, const std::string& title, const std::string& recipient,
                    const std::string& sender);
void SetOneFax(FaxSession& s, bool one);
void SetConstantStatus(FaxSession& s, bool constant);
// Stores the init rate; takes the port's present rate as normal rate when
// none is set, and switches the port to the init rate.
void SetInitBaud(FaxSession& s, int baud);
void SetNormalBaud(FaxSession& s, int baud);

// The next fax to send.
void SetNextFax(FaxSession& s, const std::string& phone, const std::string& faxFile,
                const std::string& coverFile);
void SetReceiveFileName(FaxSession& s, const std::string& name);
std::string GetRemoteStationId(const FaxSession& s);

// Status (sets the status-dirty flag), errors (stored and sent to the
// owner with FaxMsgError) and notifications.
void SetFaxStatus(FaxSession& s, int status);
void ReportFaxError(FaxSession& s, int code);
int NotifyOwner(FaxSession& s, int message, int wParam);

// Runs a session: adds the triggers, runs the prepare procedure, then the
// first step, and registers the step as the port's handler.
int StartFaxSession(FaxSession& s, FaxPrepareProc prepare, FaxStepProc step);
// Drops the triggers and the handler and posts FaxMsgFinish with the error.
void FinishFaxSession(FaxSession& s);

// The prologue of every step. Returns false when the event ends the step
// here (an unknown trigger or the status timer). A user abort moves the
// state to abortState.
bool FaxStepPrologue(FaxSession& s, int& event, int& handle, int abortState);

struct FaxProgress {
  int pageCount = 0;
  int pageNumber = 0;
  long pageLength = 0;
  long bytesTransferred = 0;
};
FaxProgress GetFaxProgress(const FaxSession& s);

// Timer helpers on the session's port.
void ArmTimeout(FaxSession& s, long ticks);
void StopTimeout(FaxSession& s);
void ArmStatusTimer(FaxSession& s);

}  // namespace tv
