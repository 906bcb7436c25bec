// The serial port service: an open port with input and output buffers,
// flow control, triggers and event delivery, running on a TEventLoop over
// a TLineDevice. The engine knows an open port by its PortHandle and uses
// the free functions below; TTvComPort (com_port.h) wraps one for forms.
//
// Events reach the port's TriggerHandler one at a time, never nested and
// never while delivery is suspended: TriggerAvailMsg when received data
// reaches the available-data threshold, TriggerTimerMsg once per ArmTimer,
// TriggerStatusMsg once per ArmStatusWatch when the watched condition holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/serial/line_device.h"
#include "platform/serial/port_trace.h"

namespace tv {

class TEventLoop;

using PortHandle = int;

// Event codes delivered to the trigger handler.
enum : int {
  TriggerAvailMsg = 0x7E01,
  TriggerDataMsg = 0x7E02,  // not produced
  TriggerTimerMsg = 0x7E03,
  TriggerStatusMsg = 0x7E04,
};

// Status-watch kinds: 1 a modem-status line changed, 3 output room at least
// N bytes, 4 output queued at most N bytes.
enum : int { stModemStatus = 1, stOutputFree = 3, stOutputUsed = 4 };

// Hardware flow options: hwfUseRTS drops RTS when the input buffer reaches
// BufferFull and raises it at BufferResume; hwfRequireCTS holds output while
// CTS is low.
enum : unsigned { hwfUseRTS = 1, hwfRequireCTS = 2 };

// Software flow control: sfOutput honours XOFF (19) / XON (17) from the
// line (and takes them out of the input); sfInput sends XOFF when the input
// buffer reaches the full level and XON at the resume level.
enum TSoftwareFlow { sfOff = 0, sfOutput = 1, sfInput = 2, sfBoth = 3 };

inline constexpr int kMaxTimers = 10;
inline constexpr int kMaxStatusWatches = 10;

// The handler's arguments: the event code, the trigger handle and a data
// word with the PortHandle in its high 16 bits (the low 16 bits hold the
// bytes waiting for TriggerAvailMsg, else 0).
using TriggerHandler = std::function<void(int msg, int trigger, int32_t data)>;

constexpr int32_t MakePortData(PortHandle port, int low = 0) {
  return static_cast<int32_t>((static_cast<uint32_t>(port) << 16) |
                              (static_cast<uint32_t>(low) & 0xFFFFu));
}
constexpr PortHandle PortOfData(int32_t data) {
  return static_cast<PortHandle>((static_cast<uint32_t>(data) >> 16) & 0x7FFFu);
}

struct TPortOptions {
  size_t inSize = 8192;
  size_t outSize = 8192;
  size_t bufferFull = 7372;   // hardware flow: RTS drops here
  size_t bufferResume = 819;  // hardware flow: RTS rises here
  unsigned hwFlow = 0;        // hwfUseRTS | hwfRequireCTS
  size_t swFull = 6144;       // software input flow: XOFF here
  size_t swResume = 2048;     // software input flow: XON here
  TLineSettings line;
};

class TSerialPort {
 public:
  // Takes over an open device; the port gets a fresh PortHandle (> 0).
  TSerialPort(TEventLoop& loop, std::unique_ptr<TLineDevice> device,
              const TPortOptions& options = {});
  ~TSerialPort();
  TSerialPort(const TSerialPort&) = delete;
  TSerialPort& operator=(const TSerialPort&) = delete;

  // The open port of a handle, or nullptr.
  static TSerialPort* Find(PortHandle handle);

  PortHandle Handle() const { return handle_; }
  TEventLoop& Loop() { return loop_; }
  TLineDevice& Device() { return *device_; }
  // The trace and log this port records into: its own, or the ones given
  // with SetTraceSinks (the component's, which outlive the open port).
  TPortTrace& Trace() { return *trace_; }
  TPortLog& Log() { return *log_; }
  void SetTraceSinks(TPortTrace* trace, TPortLog* log);

  // Input.
  int InputWaiting();
  // The next received byte, or -1 when none waits.
  int ReadByte();
  // Copies up to size received bytes; returns the count.
  size_t ReadBlock(uint8_t* data, size_t size);
  // Output: 0; -3006 when the block does not fit into OutputRoom; -3004
  // when the device failed (or went away).
  int WriteByte(uint8_t byte);
  int WriteBlock(const uint8_t* data, size_t size);
  int WriteText(const std::string& text);
  // Bytes waiting in the service and in the kernel, and bytes free.
  int OutputQueued();
  int OutputRoom();
  void DiscardInput();
  void DiscardOutput();

  // Line.
  int SetLineSignals(bool dtr, bool rts);
  bool Dtr() const { return dtr_; }
  bool Rts() const { return rts_; }
  // msCTS | msDSR | msRI | msDCD; a pseudo-terminal reports all present.
  unsigned ModemStatus();
  bool CarrierPresent();
  // Changes the bit rate, keeping data bits, parity and stop bits.
  int SetBitRate(int rate);
  int BitRate() const { return options_.line.bitRate; }
  int SetLineSettings(const TLineSettings& settings);
  const TLineSettings& LineSettings() const { return options_.line; }
  void SetSoftwareFlow(TSoftwareFlow flow);
  TSoftwareFlow SoftwareFlow() const { return swFlow_; }
  void SetHardwareFlow(unsigned options);
  unsigned HardwareFlow() const { return options_.hwFlow; }
  // True while output is held by XOFF from the line or by a low CTS.
  bool OutputHeld();

  // Triggers. Handles are > 0; errors are -5001 (no slot left), -5003 (a
  // handle that names no trigger of the right kind), -1002 (bad argument).
  // The available-data trigger: its handle, and the threshold in bytes.
  int SetAvailTrigger(int threshold = 1);
  int AvailTrigger() const { return availHandle_; }
  int AddTimer();
  // Arms (active) or disarms a timer to fire once after ticks ticks.
  int ArmTimer(int handle, int64_t ticks, bool active);
  int AddStatusWatch(int kind);
  // Arms a status watch: kind 1 fires when a line of the mask level
  // (msCTS...; 0 means all) changes from its state at arming; kind 3 when
  // OutputRoom >= level; kind 4 when OutputQueued <= level.
  int ArmStatusWatch(int handle, int level, bool active);
  int DropTrigger(int handle);
  int SetTriggerHandler(TriggerHandler handler);
  void RemoveTriggerHandler();
  // Data slots 0..3; the engine keeps its session in slot 2.
  int SetPortData(int slot, void* data);
  void* PortData(int slot) const;

  // Returns the previous setting. Events that occur while suspended wait
  // and are delivered after delivery resumes.
  bool SuspendDelivery(bool on);
  bool DeliverySuspended() const { return suspended_; }
  // Takes in waiting input once and, unless delivery is suspended (or a
  // handler is running), delivers the events it causes.
  void DeliverPending();
  // Takes in whatever the device has now, without delivering events.
  void TakeIn();

  // Busy wait through the loop's clock (nothing is dispatched).
  void Delay(int64_t ms);
  int64_t NowTicks();
  int64_t NowMs();

  // A device that failed or went away: the error code (0 while healthy)
  // and its text. The port stops watching the device, writes fail with
  // -3004, carrier is reported absent, and a modem-status watch fires.
  int LineError() const { return lineError_; }
  const std::string& LineErrorText() const { return lineErrorText_; }
  // Called once when the device fails.
  void SetLineErrorHandler(std::function<void(int code, const std::string& text)> h);

 private:
  struct Impl;
  friend struct Impl;
  TEventLoop& loop_;
  std::unique_ptr<TLineDevice> device_;
  TPortOptions options_;
  PortHandle handle_ = 0;
  bool dtr_ = true;
  bool rts_ = true;
  TSoftwareFlow swFlow_ = sfOff;
  bool suspended_ = false;
  int availHandle_ = 0;
  int lineError_ = 0;
  std::string lineErrorText_;
  TPortTrace ownTrace_;
  TPortLog ownLog_;
  TPortTrace* trace_ = &ownTrace_;
  TPortLog* log_ = &ownLog_;
  std::unique_ptr<Impl> impl_;
};

// The engine's calls per PortHandle; each returns -1001 for a handle that
// names no open port (the byte and count calls return -1001 as well).
int InputWaiting(PortHandle port);
int ReadByte(PortHandle port);
int WriteByte(PortHandle port, uint8_t byte);
int WriteBlock(PortHandle port, const uint8_t* data, size_t size);
int OutputQueued(PortHandle port);
int OutputRoom(PortHandle port);
int DiscardInput(PortHandle port);
int DiscardOutput(PortHandle port);
int SetLineSignals(PortHandle port, bool dtr, bool rts);
// 1 present, 0 absent, -1001 no such port.
int CarrierPresent(PortHandle port);
int SetBitRate(PortHandle port, int rate);
int SetSoftwareFlow(PortHandle port, TSoftwareFlow flow);
int SetAvailTrigger(PortHandle port, int threshold);
int AddTimer(PortHandle port);
int ArmTimer(PortHandle port, int handle, int64_t ticks, bool active);
int AddStatusWatch(PortHandle port, int kind);
int ArmStatusWatch(PortHandle port, int handle, int level, bool active);
int DropTrigger(PortHandle port, int handle);
int SetTriggerHandler(PortHandle port, TriggerHandler handler);
int RemoveTriggerHandler(PortHandle port);
int SetPortData(PortHandle port, int slot, void* data);
// 1 when delivery was suspended before, 0 when not, -1001 no such port.
int SuspendDelivery(PortHandle port, bool on);
int DeliverPending(PortHandle port);

}  // namespace tv
