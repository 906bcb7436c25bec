// What the fax engine needs of an open serial port: byte input and output,
// line signals, software flow control, triggers (timers and output-buffer
// watches, delivered to one handler) and the tick clock. The serial port
// service's TSerialPort stands behind it (SerialFaxPort); tests may use
// any implementation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/clock/tick_clock.h"
#include "platform/serial/serial_port.h"

namespace tv {

enum class FaxFlow { Off, Output, Input };

class FaxPort {
 public:
  using Handler = std::function<void(int event, int handle)>;

  virtual ~FaxPort() = default;

  // Input and output.
  virtual int InputWaiting() = 0;
  // The next received byte, or -1 when none waits.
  virtual int ReadByte() = 0;
  // 0, -3006 when the output buffer lacks room for the whole block, -3004
  // when the write fails.
  virtual int WriteBlock(const uint8_t* data, size_t size) = 0;
  virtual int OutputQueued() = 0;
  virtual int OutputRoom() = 0;
  virtual void DiscardInput() = 0;
  virtual void DiscardOutput() = 0;

  // Line.
  virtual void SetLineSignals(bool dtr, bool rts) = 0;
  virtual bool CarrierPresent() = 0;
  virtual int SetBitRate(int rate) = 0;
  virtual int BitRate() = 0;
  // Output: honour XOFF/XON from the modem; Input: send XOFF at 6144 bytes
  // waiting and XON at 2048.
  virtual void SetSoftwareFlow(FaxFlow flow) = 0;

  // Triggers. Add* return a handle (> 0) or a negative error code (-5001
  // when no trigger is left).
  virtual int AvailTrigger() = 0;
  virtual int AddTimer() = 0;
  virtual int ArmTimer(int handle, long ticks, bool active) = 0;
  virtual int AddStatusWatch(int kind) = 0;
  virtual int ArmStatusWatch(int handle, int level, bool active) = 0;
  virtual int DropTrigger(int handle) = 0;
  virtual int SetHandler(Handler handler) = 0;
  virtual void RemoveHandler() = 0;
  // Returns the previous setting.
  virtual bool SuspendDelivery(bool on) = 0;
  // Takes in waiting input and, unless delivery is suspended, delivers the
  // events it causes.
  virtual void DeliverPending() = 0;

  // Time: 55 ms ticks; Delay waits without delivering events.
  virtual uint64_t Ticks() = 0;
  virtual void Delay(int milliseconds) = 0;
};

}  // namespace tv
