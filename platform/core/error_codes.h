// One signed numbering of error codes for the serial port service, the fax
// engine, the image code and the components. 0 is success; positive codes
// (and their negatives -2..-162) are results of the file layer; negative
// codes are grouped by thousand.
#pragma once

#include <string>

namespace tv {

enum : int {
  ecOK = 0,

  // File layer (positive; the engine may also return them negated).
  ecFileNotFound = 2,
  ecPathNotFound = 3,
  ecTooManyOpenFiles = 4,
  ecAccessDenied = 5,
  ecInvalidHandle = 6,
  ecOutOfMemory = 8,
  ecInvalidDrive = 15,
  ecNoMoreFiles = 18,
  ecReadBeyondEOF = 100,
  ecDiskFull = 101,
  ecNotAssigned = 102,
  ecNotOpen = 103,
  ecNotOpenInput = 104,
  ecNotOpenOutput = 105,
  ecWriteProtected = 150,
  ecUnknownUnit = 151,
  ecDriveNotReady = 152,
  ecUnknownCommand = 153,
  ecDataError = 154,
  ecBadRequestLength = 155,
  ecSeekError = 156,
  ecUnknownMedia = 157,
  ecSectorNotFound = 158,
  ecOutOfPaper = 159,
  ecDeviceWriteError = 160,
  ecDeviceReadError = 161,
  ecGeneralFailure = 162,

  // General and component errors.
  ecBadHandle = -1001,
  ecBadArgument = -1002,
  ecGotQuitMsg = -1003,
  ecBufferTooBig = -1004,
  ecPortNotAssigned = -1005,
  ecWndClassRegistration = -1006,
  ecModemNotAssigned = -1007,
  ecPhonebookNotAssigned = -1008,
  ecCannotUseWithWinSock = -1009,

  // Opening a serial port.
  ecBadId = -2001,
  ecBaudRate = -2002,
  ecByteSize = -2003,
  ecDefault = -2004,
  ecHardware = -2005,
  ecMemory = -2006,
  ecCommNotOpen = -2007,
  ecAlreadyOpen = -2008,
  ecNoHandles = -2009,
  ecNoTimers = -2010,
  ecNoPortSelected = -2011,

  // Serial input and output.
  ecNullApi = -3001,
  ecNotSupported = -3002,
  ecRegisterHandlerFailed = -3003,
  ecPutBlockFail = -3004,
  ecGetBlockFail = -3005,
  ecOutputBufferTooSmall = -3006,
  ecBufferIsEmpty = -3007,
  ecTracingNotEnabled = -3008,
  ecLoggingNotEnabled = -3009,

  // Modem component.
  ecModemNotStarted = -4001,
  ecModemBusy = -4002,
  ecModemNotDialing = -4003,
  ecNotDialing = -4004,
  ecAlreadyDialing = -4005,
  ecModemNotResponding = -4006,
  ecModemRejectedCommand = -4007,
  ecModemStatusMismatch = -4008,

  // Triggers.
  ecNoMoreTriggers = -5001,
  ecTriggerTooLong = -5002,
  ecBadTriggerHandle = -5003,

  // Protocol.
  ecCancelRequested = -6005,
  ecTimeout = -6006,
  ecNoFilename = -6010,
  ecFileRejected = -6011,

  // INI database.
  ecKeyTooLong = -7001,
  ecDataTooLarge = -7002,
  ecIniWrite = -7004,
  ecIniRead = -7005,
  ecRecordExists = -7007,
  ecRecordNotFound = -7008,
  ecDatabaseFull = -7010,
  ecDatabaseEmpty = -7011,
  ecBadFieldList = -7013,
  ecBadFieldForIndex = -7014,

  // Fax formats and sessions.
  ecBadFaxFormat = -8001,
  ecBadGraphicsFormat = -8002,
  ecConvertAbort = -8003,
  ecUnpackAbort = -8004,
  ecCantMakeBitmap = -8005,
  ecNoImageLoaded = -8050,
  ecNoImageBlockMarked = -8051,
  ecFontFileNotFound = -8052,
  ecFaxBadMachine = -8070,
  ecFaxBadModemResult = -8071,
  ecFaxTrainError = -8072,
  ecFaxInitError = -8073,
  ecFaxBusy = -8074,
  ecFaxVoiceCall = -8075,
  ecFaxDataCall = -8076,
  ecFaxNoDialTone = -8077,
  ecFaxNoCarrier = -8078,
  ecFaxSessionError = -8079,
  ecFaxPageError = -8080,
  ecFaxMixedResolution = -8082,
};

// Base of the string resources that hold the message texts.
constexpr int kErrorTextBase = 11000;

// The string resource number of a code's message text.
int ErrorResourceNumber(int code);

// The message text of a code: "OK" for 0, empty when the table has none.
std::string ErrorText(int code);

// Turns the errno of a failed system call into the file layer's code
// (positive, as the file layer reports it).
int FileErrorFromErrno(int err);

}  // namespace tv
