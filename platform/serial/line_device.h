// What the port service needs of the line under it: a termios device opened
// by path (a modem on a serial or USB port, or a pseudo-terminal), or an
// in-process device such as the scripted modem. The service keeps its own
// buffers and triggers on top of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tv {

class TEventLoop;

enum TParity { pNone, pOdd, pEven, pMark, pSpace };

// Framing and speed of the line.
struct TLineSettings {
  int bitRate = 19200;
  int dataBits = 8;  // 5..8
  TParity parity = pNone;
  int stopBits = 1;  // 1 or 2
};

// Modem-status lines as reported by ModemStatus (the bit values of the
// modem status register of a serial port).
enum : unsigned { msCTS = 0x10, msDSR = 0x20, msRI = 0x40, msDCD = 0x80 };

class TLineDevice {
 public:
  virtual ~TLineDevice() = default;

  // The descriptor to watch for input and output room, or -1 for an
  // in-process device (which calls the wake-up callback instead).
  virtual int Fd() const { return -1; }
  // In-process devices call this when input arrived or a status line
  // changed.
  virtual void SetWakeup(std::function<void()> wakeup) { (void)wakeup; }

  // Reads up to size bytes. Returns the count (0 when nothing waits) or a
  // negative error code when the device failed or went away (-3005 with the
  // system's reason in LastError()).
  virtual long Read(uint8_t* data, size_t size) = 0;
  // Writes up to size bytes; returns the count taken (0 when the device's
  // own buffer is full) or a negative error code (-3004).
  virtual long Write(const uint8_t* data, size_t size) = 0;
  // Bytes written but not yet sent by the device (the kernel's queue).
  virtual size_t OutputPending() = 0;
  virtual void DiscardInput() = 0;
  virtual void DiscardOutput() = 0;

  // 0 or a negative error code (-2002 for a rate the device refuses,
  // -2003 for a bad byte size).
  virtual int Configure(const TLineSettings& settings) = 0;
  virtual int SetLineSignals(bool dtr, bool rts) = 0;
  // msCTS | msDSR | msRI | msDCD as present.
  virtual unsigned ModemStatus() = 0;

  // Waits up to ms milliseconds for input without dispatching anything.
  virtual void WaitInput(TEventLoop& loop, int64_t ms) = 0;

  // Text of the last failure (with the system's reason), for messages.
  virtual std::string LastError() const { return {}; }
  // Name for traces and logs, e.g. "/dev/ttyACM0".
  virtual std::string Name() const = 0;
};

// The six port slots "Com1".."Com6" and their default device paths:
// /dev/ttyACM0, /dev/ttyACM1, /dev/ttyUSB0, /dev/ttyUSB1, /dev/ttyS0,
// /dev/ttyS1. Returns an empty string for a slot outside 0..5.
std::string DefaultPortDevice(int slot);

// The folder of the UUCP lock files: $TELVANE_LOCK_DIR when set, else
// /var/lock.
std::string LockDirectory();

// Opens a termios device by path: takes the UUCP lock (LCK..<name> with
// the PID; a lock of a dead process is removed), opens it non-blocking,
// claims it exclusively (TIOCEXCL) and sets raw mode with the given
// framing. Returns 0 and the device, or
//   -2001 the device does not exist,
//   -2005 another program holds it (lock file of a live process, or
//         TIOCEXCL refused the open),
//   -2008 this process has it open already,
//   -2002 / -2003 the bit rate or byte size is not supported,
//   another code (from the file layer) for other failures,
// with reason holding a readable text including the system's reason.
int OpenTermiosDevice(const std::string& path, const TLineSettings& settings,
                      std::unique_ptr<TLineDevice>& device, std::string& reason);

// True when the rate is one of 300, 600, 1200, 2400, 4800, 9600, 19200,
// 38400, 57600, 115200.
bool IsSupportedBitRate(int rate);

}  // namespace tv
