// Status codes of a fax session and their texts (string resources 13000 +
// code), and the notification codes the engine sends to its owner.
#pragma once

#include <string>

namespace tv {

enum FaxStatus : int {
  fsNone = 0,
  fsInitializing = 1,
  fsDialing = 2,
  fsBusyWaiting = 3,
  fsSendingPage = 4,
  fsSendingEop = 5,
  fsPageError = 6,
  fsPageAccepted = 7,
  fsWaitingForCall = 20,
  fsNoConnect = 21,
  fsAnswering = 22,
  fsCallIsFax = 23,
  fsGettingPage = 24,
  fsGettingEop = 25,
  fsGettingEodStatus = 26,
  fsGettingHangup = 27,
  fsGotHangupCode = 28,
  fsConnectionParams = 40,
  fsGotStationId = 41,
  fsUserAbort = 42,
  fsFaxSent = 43,
};

constexpr int kStatusTextBase = 13000;

// The text of a status code for codes 1..42; empty for any other code.
std::string FaxStatusText(int status);

// Notifications to the owner and the cancel event.
enum FaxMessage : int {
  FaxMsgUserAbort = 0x7EA0,
  FaxMsgNextFile = 0x7EA1,
  FaxMsgStatus = 0x7EA2,
  FaxMsgLog = 0x7EA3,
  FaxMsgReceiveName = 0x7EA4,
  FaxMsgAccept = 0x7EA5,
  FaxMsgError = 0x7EA6,
  FaxMsgFinish = 0x7EA7,
};

// wParam of FaxMsgStatus.
enum : int { fsmOrdinary = 0, fsmFirst = 1, fsmLast = 2 };

// Log codes carried by FaxMsgLog.
enum FaxLogCode : int {
  flTransmitStart = 1,
  flTransmitOk = 2,
  flTransmitFail = 3,
  flReceiveStart = 4,
  flReceiveOk = 5,
  flReceiveSkip = 6,
  flReceiveFail = 7,
};

}  // namespace tv
