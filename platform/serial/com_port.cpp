#include "platform/serial/com_port.h"

#include <algorithm>
#include <cctype>
#include <ctime>

#include "platform/clock/event_loop.h"
#include "platform/core/error_codes.h"
#include "platform/core/exceptions.h"

namespace tv {

namespace {

// Raises the exception of a code carrying the code's text and the reason
// (which names the device and the system's explanation).
template <typename E>
[[noreturn]] void Raise(int code, const std::string& reason) {
  std::string text = ErrorText(code);
  if (!reason.empty()) text += " (" + reason + ")";
  throw E(code, text);
}

[[noreturn]] void RaiseWithReason(int code, const std::string& reason) {
  switch (code) {
    case ecBadId: Raise<EBadId>(code, reason);
    case ecBaudRate: Raise<EBaudRate>(code, reason);
    case ecByteSize: Raise<EByteSize>(code, reason);
    case ecDefault: Raise<EDefault>(code, reason);
    case ecHardware: Raise<EHardware>(code, reason);
    case ecAlreadyOpen: Raise<EAlreadyOpen>(code, reason);
    case ecNoPortSelected: Raise<ENoPortSelected>(code, reason);
    case ecCommNotOpen: Raise<ECommNotOpen>(code, reason);
    case ecPutBlockFail: Raise<EPutBlockFail>(code, reason);
    case ecGetBlockFail: Raise<EGetBlockFail>(code, reason);
    default: break;
  }
  if (code <= -2 && code >= -162) {
    std::string text = ErrorText(-code);
    if (!reason.empty()) text += " (" + reason + ")";
    throw EInOutError(-code, text);
  }
  RaiseForCode(code);
}

std::string NowText() {
  std::time_t t = std::time(nullptr);
  char buf[64];
  std::tm tm{};
  localtime_r(&t, &tm);
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

}  // namespace

TTvComPort::TTvComPort(TEventLoop& loop) : loop_(loop) {
  trace_.SetMaxBytes(traceSize_);
  opener_ = [](const std::string& path, const TLineSettings& settings,
               std::unique_ptr<TLineDevice>& device, std::string& reason) {
    return OpenTermiosDevice(path, settings, device, reason);
  };
}

TTvComPort::~TTvComPort() {
  if (port_) SetOpen(false);
}

void TTvComPort::SetComNumber(int number) {
  if (number == comNumber_) return;
  if (port_) SetOpen(false);
  comNumber_ = number;
}

std::string TTvComPort::DevicePath() const {
  if (!devicePath_.empty()) return devicePath_;
  return DefaultPortDevice(comNumber_ - 1);
}

std::string TTvComPort::SlotName() const {
  return "Com" + std::to_string(comNumber_) + " (" + DevicePath() + ")";
}

void TTvComPort::SetBaud(int rate) {
  if (!IsSupportedBitRate(rate))
    Raise<EBaudRate>(ecBaudRate, std::to_string(rate) + " bit/s is not supported");
  if (port_) {
    int rc = port_->SetBitRate(rate);
    if (rc != 0) RaiseWithReason(rc, port_->Device().LastError());
  }
  settings_.bitRate = rate;
}

void TTvComPort::SetDataBits(int bits) {
  if (bits < 5 || bits > 8) Raise<EByteSize>(ecByteSize, std::to_string(bits) + " data bits");
  settings_.dataBits = bits;
  if (port_) {
    int rc = port_->SetLineSettings(settings_);
    if (rc != 0) RaiseWithReason(rc, port_->Device().LastError());
  }
}

void TTvComPort::SetParity(TParity parity) {
  settings_.parity = parity;
  if (port_) {
    int rc = port_->SetLineSettings(settings_);
    if (rc != 0) RaiseWithReason(rc, port_->Device().LastError());
  }
}

void TTvComPort::SetStopBits(int bits) {
  if (bits != 1 && bits != 2) Raise<EDefault>(ecDefault, std::to_string(bits) + " stop bits");
  settings_.stopBits = bits;
  if (port_) {
    int rc = port_->SetLineSettings(settings_);
    if (rc != 0) RaiseWithReason(rc, port_->Device().LastError());
  }
}

void TTvComPort::SetOpen(bool open) {
  if (open == (port_ != nullptr)) return;
  if (!open) {
    log_.Add(loop_.NowMs(), "close " + SlotName());
    port_.reset();
    return;
  }
  if (comNumber_ == 0 && devicePath_.empty()) Raise<ENoPortSelected>(ecNoPortSelected, "");
  const std::string path = DevicePath();
  if (path.empty())
    Raise<EBadId>(ecBadId, "Com" + std::to_string(comNumber_) + " is not a port slot");
  std::unique_ptr<TLineDevice> device;
  std::string reason;
  int rc = opener_(path, settings_, device, reason);
  if (rc != 0 || !device) {
    if (rc == 0) rc = ecBadId;
    log_.Add(loop_.NowMs(), "open " + SlotName() + " failed: " + ErrorText(rc) +
                                (reason.empty() ? "" : " (" + reason + ")"));
    RaiseWithReason(rc, reason);
  }
  TPortOptions options = options_;
  options.line = settings_;
  port_ = std::make_unique<TSerialPort>(loop_, std::move(device), options);
  port_->SetTraceSinks(&trace_, &log_);
  trace_.SetTitle(SlotName() + ", opened " + NowText());
  log_.SetTitle(SlotName());
  log_.Add(loop_.NowMs(), "open " + SlotName() + " at " + std::to_string(settings_.bitRate) +
                              " bit/s, " + std::to_string(settings_.dataBits) + " data bits, " +
                              "NOEMS"[settings_.parity] + " parity, " +
                              std::to_string(settings_.stopBits) + " stop bits");
  if (onLineError_) port_->SetLineErrorHandler(onLineError_);
}

void TTvComPort::SetInSize(size_t size) { options_.inSize = size == 0 ? 1 : size; }
void TTvComPort::SetOutSize(size_t size) { options_.outSize = size == 0 ? 1 : size; }
void TTvComPort::SetBufferFull(size_t level) { options_.bufferFull = level; }
void TTvComPort::SetBufferResume(size_t level) { options_.bufferResume = level; }

void TTvComPort::SetHWFlowOptions(unsigned options) {
  options_.hwFlow = options;
  if (port_) port_->SetHardwareFlow(options);
}

TTraceLogState TTvComPort::Tracing() const { return trace_.State(); }

void TTvComPort::SetTracing(TTraceLogState state) {
  int rc = trace_.SetState(state, traceName_);
  // Dumping a trace that was never switched on writes nothing; that is not
  // a failure of the caller's work.
  if (rc != 0 && rc != ecTracingNotEnabled) RaiseWithReason(rc, traceName_);
}

void TTvComPort::SetTraceSize(size_t size) {
  traceSize_ = size;
  trace_.SetMaxBytes(size);
}

TTraceLogState TTvComPort::Logging() const { return log_.State(); }

void TTvComPort::SetLogging(TTraceLogState state) {
  int rc = log_.SetState(state, logName_);
  if (rc != 0 && rc != ecLoggingNotEnabled) RaiseWithReason(rc, logName_);
}

PortHandle TTvComPort::Handle() {
  if (!port_ && autoOpen_) SetOpen(true);
  return port_ ? port_->Handle() : 0;
}

TSerialPort& TTvComPort::Require() {
  if (!port_) {
    if (!autoOpen_) Raise<ECommNotOpen>(ecCommNotOpen, "");
    SetOpen(true);
  }
  return *port_;
}

void TTvComPort::SendText(const std::string& text) {
  TSerialPort& port = Require();
  int rc = port.WriteText(text);
  if (rc != 0) RaiseWithReason(rc, port.LineErrorText());
}

bool TTvComPort::WaitForText(const std::string& text, int64_t ticks, bool yield,
                             bool ignoreCase) {
  TSerialPort* port = &Require();
  if (text.empty()) return true;
  auto same = [ignoreCase](char a, char b) {
    if (!ignoreCase) return a == b;
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  };
  std::string window;
  const int64_t deadline = loop_.NowMs() + TicksToMs(ticks);
  for (;;) {
    port->TakeIn();
    int b;
    while ((b = port->ReadByte()) >= 0) {
      window += static_cast<char>(b);
      if (window.size() > text.size()) window.erase(0, window.size() - text.size());
      if (window.size() == text.size() &&
          std::equal(window.begin(), window.end(), text.begin(), same))
        return true;
    }
    if (port->LineError()) return false;
    const int64_t remaining = deadline - loop_.NowMs();
    if (remaining <= 0) return false;
    if (yield) {
      loop_.RunOnce(std::min<int64_t>(remaining, kTickMs));
      port = port_.get();  // a handler may have closed the port meanwhile
      if (!port) return false;
    } else {
      port->Device().WaitInput(loop_, remaining);
    }
  }
}

int TTvComPort::InputWaiting() {
  TSerialPort& port = Require();
  port.TakeIn();
  return port.InputWaiting();
}

bool TTvComPort::CarrierPresent() { return Require().CarrierPresent(); }

void TTvComPort::SetLineSignals(bool dtr, bool rts) {
  TSerialPort& port = Require();
  int rc = port.SetLineSignals(dtr, rts);
  if (rc != 0) RaiseWithReason(rc, port.LineErrorText());
}

void TTvComPort::FlushInput() { Require().DiscardInput(); }
void TTvComPort::FlushOutput() { Require().DiscardOutput(); }

void TTvComPort::SetOnLineError(std::function<void(int code, const std::string& text)> handler) {
  onLineError_ = std::move(handler);
  if (port_) port_->SetLineErrorHandler(onLineError_);
}

}  // namespace tv
