// The exception tree raised at the component boundary. Every exception
// carries its numeric error code and the code's message text; the class is
// chosen by the code (ExceptionForCode).
#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace tv {

class ETvException : public std::runtime_error {
 public:
  ETvException(int code, const std::string& message)
      : std::runtime_error(message), code_(code) {}
  int ErrorCode() const noexcept { return code_; }

 private:
  int code_;
};

#define TV_EXCEPTION_CLASS(Name, Base) \
  class Name : public Base {           \
   public:                             \
    using Base::Base;                  \
  };

// Branches, one per code range.
TV_EXCEPTION_CLASS(EGeneral, ETvException)
TV_EXCEPTION_CLASS(EOpenComm, ETvException)
TV_EXCEPTION_CLASS(ESerialIO, ETvException)
TV_EXCEPTION_CLASS(EModem, ETvException)
TV_EXCEPTION_CLASS(ETrigger, ETvException)
TV_EXCEPTION_CLASS(EProtocol, ETvException)
TV_EXCEPTION_CLASS(EINI, ETvException)
TV_EXCEPTION_CLASS(EFax, ETvException)
TV_EXCEPTION_CLASS(ETapi, ETvException)

// File layer and memory.
TV_EXCEPTION_CLASS(EInOutError, ETvException)
TV_EXCEPTION_CLASS(EOutOfMemory, ETvException)

// -1xxx
TV_EXCEPTION_CLASS(EInternal, EGeneral)
TV_EXCEPTION_CLASS(EBadHandle, EGeneral)
TV_EXCEPTION_CLASS(EBadArgument, EGeneral)
TV_EXCEPTION_CLASS(EGotQuitMsg, EGeneral)
TV_EXCEPTION_CLASS(EBufferTooBig, EGeneral)
TV_EXCEPTION_CLASS(EPortNotAssigned, EGeneral)
TV_EXCEPTION_CLASS(EModemNotAssigned, EGeneral)
TV_EXCEPTION_CLASS(EPhonebookNotAssigned, EGeneral)
TV_EXCEPTION_CLASS(ECannotUseWithWinSock, EGeneral)

// -2xxx
TV_EXCEPTION_CLASS(EBadId, EOpenComm)
TV_EXCEPTION_CLASS(EBaudRate, EOpenComm)
TV_EXCEPTION_CLASS(EByteSize, EOpenComm)
TV_EXCEPTION_CLASS(EDefault, EOpenComm)
TV_EXCEPTION_CLASS(EHardware, EOpenComm)
TV_EXCEPTION_CLASS(EMemory, EOpenComm)
TV_EXCEPTION_CLASS(ECommNotOpen, EOpenComm)
TV_EXCEPTION_CLASS(EAlreadyOpen, EOpenComm)
TV_EXCEPTION_CLASS(ENoHandles, EOpenComm)
TV_EXCEPTION_CLASS(ENoTimers, EOpenComm)
TV_EXCEPTION_CLASS(ENoPortSelected, EOpenComm)

// -3xxx
TV_EXCEPTION_CLASS(ENullApi, ESerialIO)
TV_EXCEPTION_CLASS(ENotSupported, ESerialIO)
TV_EXCEPTION_CLASS(ERegisterHandlerFailed, ESerialIO)
TV_EXCEPTION_CLASS(EPutBlockFail, ESerialIO)
TV_EXCEPTION_CLASS(EGetBlockFail, ESerialIO)
TV_EXCEPTION_CLASS(EOutputBufferTooSmall, ESerialIO)
TV_EXCEPTION_CLASS(EBufferIsEmpty, ESerialIO)
TV_EXCEPTION_CLASS(ETracingNotEnabled, ESerialIO)
TV_EXCEPTION_CLASS(ELoggingNotEnabled, ESerialIO)

// -4xxx
TV_EXCEPTION_CLASS(EModemNotStarted, EModem)
TV_EXCEPTION_CLASS(EModemBusy, EModem)
TV_EXCEPTION_CLASS(EModemNotDialing, EModem)
TV_EXCEPTION_CLASS(ENotDialing, EModem)
TV_EXCEPTION_CLASS(EAlreadyDialing, EModem)
TV_EXCEPTION_CLASS(EModemNotResponding, EModem)
TV_EXCEPTION_CLASS(EModemRejectedCommand, EModem)
TV_EXCEPTION_CLASS(EModemStatusMismatch, EModem)

// -5xxx
TV_EXCEPTION_CLASS(ENoMoreTriggers, ETrigger)
TV_EXCEPTION_CLASS(ETriggerTooLong, ETrigger)
TV_EXCEPTION_CLASS(EBadTriggerHandle, ETrigger)

// -7xxx
TV_EXCEPTION_CLASS(EKeyTooLong, EINI)
TV_EXCEPTION_CLASS(EDataTooLarge, EINI)
TV_EXCEPTION_CLASS(EIniWrite, EINI)
TV_EXCEPTION_CLASS(EIniRead, EINI)
TV_EXCEPTION_CLASS(ERecordExists, EINI)
TV_EXCEPTION_CLASS(ERecordNotFound, EINI)
TV_EXCEPTION_CLASS(EDatabaseFull, EINI)
TV_EXCEPTION_CLASS(EDatabaseEmpty, EINI)
TV_EXCEPTION_CLASS(EBadFieldList, EINI)
TV_EXCEPTION_CLASS(EBadFieldForIndex, EINI)

// -80xx fax formats and graphics
TV_EXCEPTION_CLASS(EFaxBadFormat, EFax)
TV_EXCEPTION_CLASS(EBadGraphicsFormat, EFax)
TV_EXCEPTION_CLASS(EConvertAbort, EFax)
TV_EXCEPTION_CLASS(EUnpackAbort, EFax)
TV_EXCEPTION_CLASS(ECantMakeBitmap, EFax)

// -807x / -808x fax sessions
TV_EXCEPTION_CLASS(EFaxBadMachine, EFax)
TV_EXCEPTION_CLASS(EFaxBadModemResult, EFax)
TV_EXCEPTION_CLASS(EFaxTrainError, EFax)
TV_EXCEPTION_CLASS(EFaxInitError, EFax)
TV_EXCEPTION_CLASS(EFaxBusy, EFax)
TV_EXCEPTION_CLASS(EFaxVoiceCall, EFax)
TV_EXCEPTION_CLASS(EFaxDataCall, EFax)
TV_EXCEPTION_CLASS(EFaxNoDialTone, EFax)
TV_EXCEPTION_CLASS(EFaxNoCarrier, EFax)
TV_EXCEPTION_CLASS(EFaxSessionError, EFax)
TV_EXCEPTION_CLASS(EFaxPageError, EFax)

#undef TV_EXCEPTION_CLASS

// The message of codes that have no class of their own.
inline constexpr const char* kGenericErrorMessage = "Unexpected error in Telvane";

// The exception object for a code (the class of its row, carrying the code
// and its message text).
std::exception_ptr ExceptionForCode(int code);

// Raises the exception for a code.
[[noreturn]] void RaiseForCode(int code);

// What a component method does with a result: negative codes raise their
// exception; 0 and positive codes pass through and are returned.
inline int CheckResult(int code) {
  if (code < 0) RaiseForCode(code);
  return code;
}

}  // namespace tv
