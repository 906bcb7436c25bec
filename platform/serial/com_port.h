// TTvComPort: the serial port component of the forms. It opens the device
// of its port slot (ComNumber 1..6, or an explicit DevicePath) on an event
// loop, owns the TSerialPort while open, and raises ETvException subclasses
// for failures (the class chosen by the error code).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/serial/serial_port.h"

namespace tv {

enum TTapiMode { tmNone, tmAuto, tmOn, tmOff, tmConfigAndOpen };
enum TDeviceLayer { dlSerial, dlWinsock };

class TTvComPort {
 public:
  // Opens a line device for the port: 0 and the device, or an error code
  // with a readable reason. The default opener opens DevicePath() with
  // termios; tests put a scripted modem here.
  using DeviceOpener = std::function<int(const std::string& path, const TLineSettings& settings,
                                         std::unique_ptr<TLineDevice>& device,
                                         std::string& reason)>;

  explicit TTvComPort(TEventLoop& loop);
  ~TTvComPort();
  TTvComPort(const TTvComPort&) = delete;
  TTvComPort& operator=(const TTvComPort&) = delete;

  // Port slot 1..6 (0: none selected). Changing it closes an open port.
  int ComNumber() const { return comNumber_; }
  void SetComNumber(int number);
  // The device of the slot: the path set here (from the [Ports] section),
  // else DefaultPortDevice(ComNumber - 1).
  std::string DevicePath() const;
  void SetDevicePath(const std::string& path) { devicePath_ = path; }
  // "Com1 (/dev/ttyACM0)".
  std::string SlotName() const;

  // Bit rate, default 19200; changing it on an open port keeps the framing.
  int Baud() const { return settings_.bitRate; }
  void SetBaud(int rate);
  int DataBits() const { return settings_.dataBits; }
  void SetDataBits(int bits);
  TParity Parity() const { return settings_.parity; }
  void SetParity(TParity parity);
  int StopBits() const { return settings_.stopBits; }
  void SetStopBits(int bits);

  bool Open() const { return port_ != nullptr; }
  // Open = true opens the device (raising EBadId, EHardware, EAlreadyOpen,
  // ENoPortSelected, ... on failure); false closes it.
  void SetOpen(bool open);

  // Buffer sizes, flow levels and HWFlowOptions take effect when the port
  // opens (HWFlowOptions also at once on an open port).
  size_t InSize() const { return options_.inSize; }
  void SetInSize(size_t size);
  size_t OutSize() const { return options_.outSize; }
  void SetOutSize(size_t size);
  size_t BufferFull() const { return options_.bufferFull; }
  void SetBufferFull(size_t level);
  size_t BufferResume() const { return options_.bufferResume; }
  void SetBufferResume(size_t level);
  unsigned HWFlowOptions() const { return options_.hwFlow; }
  void SetHWFlowOptions(unsigned options);
  // When true, a method that needs the port opens it first.
  bool AutoOpen() const { return autoOpen_; }
  void SetAutoOpen(bool on) { autoOpen_ = on; }
  TTapiMode TapiMode() const { return tapiMode_; }
  void SetTapiMode(TTapiMode mode) { tapiMode_ = mode; }
  TDeviceLayer DeviceLayer() const { return deviceLayer_; }
  void SetDeviceLayer(TDeviceLayer layer) { deviceLayer_ = layer; }

  std::string TraceName() const { return traceName_; }
  void SetTraceName(const std::string& name) { traceName_ = name; }
  TTraceLogState Tracing() const;
  void SetTracing(TTraceLogState state);
  size_t TraceSize() const { return traceSize_; }
  void SetTraceSize(size_t size);
  std::string LogName() const { return logName_; }
  void SetLogName(const std::string& name) { logName_ = name; }
  TTraceLogState Logging() const;
  void SetLogging(TTraceLogState state);

  // The engine's handle of the open port (0 when closed; with AutoOpen the
  // port is opened first).
  PortHandle Handle();
  // The open port, or nullptr.
  TSerialPort* Port() { return port_.get(); }
  TEventLoop& Loop() { return loop_; }

  // Writes the text; raises the exception of the error code (ECommNotOpen
  // when closed, EOutputBufferTooSmall, EPutBlockFail).
  void SendText(const std::string& text);
  // Reads input until text has arrived (true) or ticks have passed (false).
  // yield: let the event loop run while waiting (other events are then
  // dispatched); otherwise nothing else runs. The bytes read, up to and
  // including the text, are consumed. A closed port raises ECommNotOpen;
  // a device that went away gives false.
  bool WaitForText(const std::string& text, int64_t ticks, bool yield, bool ignoreCase);

  int InputWaiting();
  bool CarrierPresent();
  void SetLineSignals(bool dtr, bool rts);
  void FlushInput();
  void FlushOutput();

  void SetDeviceOpener(DeviceOpener opener) { opener_ = std::move(opener); }
  // Told when the open device fails or goes away (code and text).
  void SetOnLineError(std::function<void(int code, const std::string& text)> handler);

 private:
  TSerialPort& Require();
  TEventLoop& loop_;
  int comNumber_ = 0;
  std::string devicePath_;
  TLineSettings settings_;
  TPortOptions options_;
  bool autoOpen_ = false;
  TTapiMode tapiMode_ = tmOff;
  TDeviceLayer deviceLayer_ = dlSerial;
  std::string traceName_ = "TELVANE.TRC";
  std::string logName_ = "TELVANE.LOG";
  size_t traceSize_ = 10000;
  DeviceOpener opener_;
  std::function<void(int, const std::string&)> onLineError_;
  // The trace and log outlive an open port, so that a dump after closing
  // still has the whole conversation.
  TPortTrace trace_;
  TPortLog log_;
  std::unique_ptr<TSerialPort> port_;
};

}  // namespace tv
