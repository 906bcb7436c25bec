#include "platform/core/error_codes.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <unordered_map>

namespace tv {

namespace {

// The program's string table of message texts, by resource number.
const std::unordered_map<int, const char*>& TextTable() {
  static const std::unordered_map<int, const char*> table = {
      {11000, "OK"},
      {11002, "File not found"},
      {11003, "Path not found"},
      {11004, "Too many open files"},
      {11005, "File access denied"},
      {11006, "Invalid file handle"},
      {11008, "Insufficient memory"},
      {11015, "Invalid drive"},
      {11018, "No more files"},
      {11101, "Bad handle passed to com function"},
      {11102, "Bad argument passed to function"},
      {11103, "Got quit message"},
      {11104, "Terminal buffer greater than 65521"},
      {11105, "ComPort component not assigned"},
      {11106, "Internal error creating window class"},
      {11107, "Modem component not assigned"},
      {11108, "Phonebook component not assigned"},
      {11109, "Component not compatible with WinSock"},
      {11201, "ie_BadId - Specified comport doesn't exist"},
      {11202, "ie_Baudrate - unsupported baud rate"},
      {11203, "ie_Bytesize - invalid byte size"},
      {11204, "ie_Default - error in default parameters"},
      {11205, "ie_Hardware - Specified comport in use"},
      {11206, "ie_Memory - unable to allocate queues"},
      {11207, "ie_NOpen - device not open"},
      {11208, "ie_Open - device already open"},
      {11209, "No more handles, can't open port"},
      {11210, "No timers available"},
      {11211, "The ComNumber property of the TTvComPort has not been set"},
      {11301, "No device layer specified"},
      {11302, "Function not supported by driver"},
      {11303, "EnableCommNotification failed"},
      {11304, "Failed to put entire block"},
      {11305, "Failed to get entire block"},
      {11306, "Output buffer too small for block"},
      {11307, "Buffer is empty"},
      {11308, "Tracing not enabled"},
      {11309, "Logging not enabled"},
      {11401, "StartModem has not been called"},
      {11402, "Modem is busy elsewhere"},
      {11403, "Modem is not currently dialing"},
      {11404, "Dialer is not dialing"},
      {11405, "Dialer is already dialing"},
      {11406, "Modem is not responding"},
      {11407, "Invalid command sent to modem"},
      {11408, "Wrong modem status requested"},
      {11501, "No more trigger slots"},
      {11502, "Data trigger too long"},
      {11503, "Bad trigger handle"},
      {11605, "Cancel requested"},
      {11606, "Fatal time out"},
      {11610, "No filename specified in protocol receive"},
      {11611, "File was rejected"},
      {11801, "File is not an APF file"},
      {11802, "Unsupported graphics file format"},
      {11803, "User aborted fax conversion"},
      {11804, "User aborted fax unpack"},
      {11805, "CreateBitmapIndirect API failure"},
      {11850, "no image loaded into viewer"},
      {11851, "no block of image marked"},
      {11870, "Fax incompatible with remote fax"},
      {11871, "Bad response from modem"},
      {11872, "Modems failed to train"},
      {11873, "Error while initializing modem"},
      {11874, "Called fax number was busy"},
      {11875, "Called fax number answered with voice"},
      {11876, "Incoming data call"},
      {11877, "No dial tone"},
      {11878, "Failed to connect to remote fax"},
      {11879, "Fax failed in mid-session"},
      {11880, "Fax failed at page end"},
      {11882, "Multiple resolutions per session not supported"},
      {11900, "Attempt to read beyond end of file"},
      {11901, "Disk is full"},
      {11902, "File/device not assigned"},
      {11903, "File/device not open"},
      {11904, "File/device not open for input"},
      {11905, "File/device not open for output"},
      {11950, "Disk is write-protected"},
      {11951, "Unknown disk unit"},
      {11952, "Drive is not ready"},
      {11953, "Unknown command"},
      {11954, "Data error"},
      {11955, "Bad request structure length"},
      {11956, "Seek error"},
      {11957, "Unknown media type"},
      {11958, "Disk sector not found"},
      {11959, "Printer is out of paper"},
      {11960, "Device write error"},
      {11961, "Device read error"},
      {11962, "General failure"},
  };
  return table;
}

}  // namespace

int ErrorResourceNumber(int code) {
  // The absolute value taken as an unsigned 16-bit number.
  const int m = static_cast<std::uint16_t>(std::abs(static_cast<long long>(code)) & 0xFFFF);
  if (m >= 100 && m <= 199) return kErrorTextBase + 800 + m;
  return kErrorTextBase + (m % 1000) + 100 * (m / 1000);
}

std::string ErrorText(int code) {
  const auto& table = TextTable();
  const auto it = table.find(ErrorResourceNumber(code));
  return it == table.end() ? std::string() : std::string(it->second);
}

int FileErrorFromErrno(int err) {
  switch (err) {
    case 0: return ecOK;
    case ENOENT: return ecFileNotFound;
    case ENOTDIR: return ecPathNotFound;
    case EMFILE:
    case ENFILE: return ecTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR: return ecAccessDenied;
    case EBADF: return ecInvalidHandle;
    case ENOMEM: return ecOutOfMemory;
    case ENOSPC:
    case EDQUOT: return ecDiskFull;
    case EROFS: return ecWriteProtected;
    case ENXIO:
    case ENODEV: return ecDriveNotReady;
    case ESPIPE: return ecSeekError;
    case EIO: return ecGeneralFailure;
    default: return ecGeneralFailure;
  }
}

}  // namespace tv
