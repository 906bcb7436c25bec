// The three records of a fax session: FaxCommonData (what both directions
// share), FaxModemData (modem and protocol state) and FaxSession itself.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/session/fax_port.h"

namespace tv {

struct FaxSession;
class FaxFileReader;
class FaxFileWriter;
class HeaderLineRenderer;

// Fax class numbers of a session.
enum : int {
  kFaxClassNone = 0,
  kFaxClassDetect = 1,
  kFaxClass1 = 2,
  kFaxClass2 = 3,
  kFaxClass20 = 4,
};

// FaxCommonData flags.
enum : int { ffAbortNoConnect = 1, ffExitOnError = 2, ffSoftwareFlow = 8 };

// The owner of a session: notifications are direct calls whose answer the
// engine reads at once; Post queues the notification on the owner's loop.
class FaxOwner {
 public:
  virtual ~FaxOwner() = default;
  virtual int Send(FaxSession& session, int message, int wParam) = 0;
  virtual void Post(FaxSession& session, int message, int wParam) = 0;
};

using FaxStepProc = void (*)(FaxSession& session, int event, int handle);
using FaxPrepareProc = void (*)(FaxSession& session);

// Cuts a value to a fixed capacity, as the records' strings have.
void SetCapped(std::string& field, const std::string& value, size_t capacity);

struct FaxCommonData {
  int availHandle = 0;
  int statusTimer = 0;
  int timeoutTimer = 0;
  int outFreeWatch = 0;
  int outUsedWatch = 0;
  int modemStatusWatch = 0;
  int statusInterval = 1;  // seconds
  FaxOwner* owner = nullptr;
  FaxPort* port = nullptr;
  FaxStepProc step = nullptr;
  bool isSender = false;
  bool coverInProgress = false;
  bool sessionInitialised = false;
  int dialAttempts = 1;
  int busyRetries = 0;
  int dialRetryWait = 0;  // ticks
  int flags = 0;
  int status = 0;
  int error = 0;
  int currentPage = 1;
  int totalPages = 0;
  int coverCount = 0;
  long bytesTransferred = 0;
  long pageLength = 0;
  int faxClass = kFaxClassNone;
  std::string stationId;        // 20
  std::string remoteId;         // 20
  std::string destinationDir;   // 255
  std::string faxFileExt = "APF";
  std::string faxFile;          // 255
  std::string coverFile;        // 255
  std::string phoneNumber;      // 40
  std::string headerTitle;      // $S
  std::string headerRecipient;  // $R
  std::string headerSender;     // $F
};

struct FaxModemData {
  bool statusDirty = false;
  bool remoteFine = false;
  bool remoteWide = false;
  bool fineInUse = false;
  bool wideInUse = false;
  bool pageWide = false;  // the page to send has 2048-pixel lines
  bool finalFrame = false;
  bool lineRecords = false;
  bool coverIsApf = false;
  bool modemInitialised = false;
  bool toneDial = true;
  bool blindDial = false;
  bool detectBusy = true;
  char desiredEcm = '0';
  char faxAndData = '0';
  char pageResolution = ' ';
  char previousResolution = ' ';
  uint8_t lastControl = 0;
  int responseTimeout = 182;  // ticks
  int dataTimeout = 1092;     // ticks
  int desiredBps = 9600;
  int speedIndex = 1;
  int bitRate = 2400;
  int minimumBytes = 0;
  int scanCode = 0;
  int hangupCode = 0;
  int retryCount = 0;
  int lineRecordRead = 0;
  long dialWait = 1092;  // ticks
  int answerOnRing = 1;
  int initBaud = 0;
  int normalBaud = 0;
  bool atInitBaud = false;
  // Class 1 negotiation.
  bool cfrReceived = false;
  bool retrain = false;
  std::string modulation = "24";
  std::array<bool, 7> localSpeeds{};   // index 1..6
  std::array<bool, 7> remoteSpeeds{};  // index 1..6
  // Class 2 / 2.0 command and report names.
  std::array<std::string, 14> class2Commands;
  std::string engineInit = "ATE0Q0V1X4S0=0S2=43";
  std::string modemInit;   // 40
  std::string dialPrefix;  // 40
  // The response assembler (one text line or one HDLC frame).
  std::string responseLine;
  int crlfMatch = 0;
  int dleMatch = 0;
  bool inFrame = false;
  uint64_t waitDeadline = 0;  // ticks
};

enum class FaxDirection { Send, Receive };

struct FaxSession {
  FaxSession();
  ~FaxSession();
  FaxSession(const FaxSession&) = delete;
  FaxSession& operator=(const FaxSession&) = delete;

  FaxDirection direction = FaxDirection::Send;
  FaxCommonData common;
  FaxModemData modem;
  int state = 1;

  // Fax files.
  std::unique_ptr<FaxFileReader> reader;       // the fax file being sent
  std::unique_ptr<FaxFileReader> coverReader;  // an APF cover while it is sent
  std::unique_ptr<FaxFileWriter> writer;   // the fax being received
  std::unique_ptr<HeaderLineRenderer> renderer;

  // Send session.
  std::string headerLine;  // 255
  std::FILE* coverText = nullptr;
  int maxSendCount = 50;
  int bufferMinimum = 1000;
  int pageResends = 0;
  int pageResendLimit = 2;
  bool pageRefused = false;  // Class 2.0: +FPS said the page was refused
  bool class2Connected = false;  // a Class 2 / 2.0 modem reported the connection
  bool safeMode = true;
  bool resendPage = false;          // RTN: the refused page goes again
  std::vector<uint8_t> pendingOut;  // page bytes the output buffer had no room for

  // Receive session.
  bool oneFax = false;
  bool constantStatus = false;
  bool firstStatusSent = false;
  int previousData = 255;
  int pageDisposition = 3;
  int ringCount = 0;
  bool morePages = false;
  std::string receiveFileName;
  long trainingTotal = 0;
  long trainingNonZero = 0;
  bool trainingDle = false;
};

}  // namespace tv
