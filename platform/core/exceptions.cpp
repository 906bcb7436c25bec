#include "platform/core/exceptions.h"

#include "platform/core/error_codes.h"

namespace tv {

namespace {

template <typename E>
std::exception_ptr Make(int code) {
  return std::make_exception_ptr(E(code, ErrorText(code)));
}

template <typename... E>
struct ClassRow {
  // Picks the class for code among a run of consecutive codes from first.
  static std::exception_ptr Pick(int code, int first) {
    std::exception_ptr result;
    int index = first - code;
    int i = 0;
    ((i++ == index ? (void)(result = Make<E>(code)) : (void)0), ...);
    return result;
  }
};

}  // namespace

std::exception_ptr ExceptionForCode(int code) {
  if (code <= -8070 && code >= -8080) {
    return ClassRow<EFaxBadMachine, EFaxBadModemResult, EFaxTrainError, EFaxInitError, EFaxBusy,
                    EFaxVoiceCall, EFaxDataCall, EFaxNoDialTone, EFaxNoCarrier, EFaxSessionError,
                    EFaxPageError>::Pick(code, -8070);
  }
  if (code <= -8001 && code >= -8005) {
    return ClassRow<EFaxBadFormat, EBadGraphicsFormat, EConvertAbort, EUnpackAbort,
                    ECantMakeBitmap>::Pick(code, -8001);
  }
  switch (code) {
    case -7001: return Make<EKeyTooLong>(code);
    case -7002: return Make<EDataTooLarge>(code);
    case -7004: return Make<EIniWrite>(code);
    case -7005: return Make<EIniRead>(code);
    case -7007: return Make<ERecordExists>(code);
    case -7008: return Make<ERecordNotFound>(code);
    case -7010: return Make<EDatabaseFull>(code);
    case -7011: return Make<EDatabaseEmpty>(code);
    case -7013: return Make<EBadFieldList>(code);
    case -7014: return Make<EBadFieldForIndex>(code);
    case -7003:
    case -7006:
    case -7012:
    case -1006: return Make<EInternal>(code);
    case -6006:
    case -6008:
    case -6009: return Make<EProtocol>(code);
    case -8: return Make<EOutOfMemory>(code);
    default: break;
  }
  if (code <= -5001 && code >= -5003) {
    return ClassRow<ENoMoreTriggers, ETriggerTooLong, EBadTriggerHandle>::Pick(code, -5001);
  }
  if (code <= -4001 && code >= -4008) {
    return ClassRow<EModemNotStarted, EModemBusy, EModemNotDialing, ENotDialing, EAlreadyDialing,
                    EModemNotResponding, EModemRejectedCommand, EModemStatusMismatch>::Pick(code,
                                                                                          -4001);
  }
  if (code <= -3001 && code >= -3009) {
    return ClassRow<ENullApi, ENotSupported, ERegisterHandlerFailed, EPutBlockFail, EGetBlockFail,
                    EOutputBufferTooSmall, EBufferIsEmpty, ETracingNotEnabled,
                    ELoggingNotEnabled>::Pick(code, -3001);
  }
  if (code <= -2001 && code >= -2011) {
    return ClassRow<EBadId, EBaudRate, EByteSize, EDefault, EHardware, EMemory, ECommNotOpen,
                    EAlreadyOpen, ENoHandles, ENoTimers, ENoPortSelected>::Pick(code, -2001);
  }
  if (code <= -1001 && code >= -1009) {
    // -1006 is handled above (EInternal); the rest keep their order.
    return ClassRow<EBadHandle, EBadArgument, EGotQuitMsg, EBufferTooBig, EPortNotAssigned,
                    EInternal, EModemNotAssigned, EPhonebookNotAssigned,
                    ECannotUseWithWinSock>::Pick(code, -1001);
  }
  if (code <= -2 && code >= -162) {
    return std::make_exception_ptr(EInOutError(-code, ErrorText(-code)));
  }
  return std::make_exception_ptr(ETvException(code, kGenericErrorMessage));
}

void RaiseForCode(int code) { std::rethrow_exception(ExceptionForCode(code)); }

}  // namespace tv
