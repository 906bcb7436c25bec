#include "platform/serial/serial_port.h"

#include <algorithm>
#include <array>
#include <deque>
#include <map>
#include <vector>

#include "platform/clock/event_loop.h"
#include "platform/core/error_codes.h"

namespace tv {

namespace {

constexpr uint8_t kXon = 17;
constexpr uint8_t kXoff = 19;
// While output flow control is on, the kernel's queue is kept this short,
// so that little goes out after the line asks to stop.
constexpr size_t kFlowKernelQueue = 256;
// How often levels the line does not announce (the kernel's output queue,
// the modem-status lines) are looked at while a watch waits for them.
constexpr int64_t kPollMs = 10;
constexpr size_t kReadChunk = 4096;

std::map<PortHandle, TSerialPort*>& Registry() {
  static std::map<PortHandle, TSerialPort*> ports;
  return ports;
}

PortHandle NewHandle() {
  static PortHandle next = 1;
  auto& ports = Registry();
  for (;;) {
    PortHandle h = next;
    next = next >= 0x7FFF ? 1 : next + 1;
    if (!ports.count(h)) return h;
  }
}

std::string SignalText(const char* name, bool on) { return std::string(name) + (on ? " on" : " off"); }

}  // namespace

struct TSerialPort::Impl {
  struct Timer {
    int handle;
    int loopTimer = 0;
  };
  struct Watch {
    int handle;
    int kind;
    int level = 0;
    bool armed = false;
    unsigned statusAtArm = 0;
  };
  struct Event {
    int msg;
    int trigger;
  };

  TSerialPort& port;
  std::deque<uint8_t> in;
  std::deque<uint8_t> out;
  int availThreshold = 1;
  bool newData = false;
  std::vector<Timer> timers;
  std::vector<Watch> watches;
  int nextTrigger = 1;
  TriggerHandler handler;
  std::array<void*, 4> data{};
  std::deque<Event> events;
  bool delivering = false;
  int deliverTimer = 0;
  int fdWatch = 0;
  unsigned fdEvents = 0;
  int pollTimer = 0;
  int retryTimer = 0;
  bool xoffReceived = false;  // output held by the line
  bool xoffSent = false;      // we asked the line to stop
  bool rtsHeld = false;       // RTS dropped by hardware flow
  bool ctsHeldLogged = false;
  std::function<void(int, const std::string&)> errorHandler;
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);

  explicit Impl(TSerialPort& p) : port(p) {}

  void Log(const std::string& text) { port.Log().Add(port.loop_.NowMs(), text); }

  // --- events ---------------------------------------------------------
  void Queue(int msg, int trigger) {
    if (msg == TriggerAvailMsg) {
      for (const Event& e : events)
        if (e.msg == TriggerAvailMsg) return;  // one pending avail event is enough
    }
    events.push_back({msg, trigger});
  }

  void Unqueue(int trigger) {
    events.erase(std::remove_if(events.begin(), events.end(),
                                [&](const Event& e) { return e.trigger == trigger; }),
                 events.end());
  }

  // Delivers waiting events one at a time. Never nested: a handler that
  // causes events (or calls DeliverPending) leaves them for this loop.
  void Deliver() {
    if (delivering || port.suspended_ || !handler) return;
    delivering = true;
    std::shared_ptr<bool> guard = alive;
    while (!port.suspended_ && !events.empty() && handler) {
      Event e = events.front();
      events.pop_front();
      int low = 0;
      if (e.msg == TriggerAvailMsg) low = static_cast<int>(std::min<size_t>(in.size(), 0xFFFF));
      TriggerHandler h = handler;  // the handler may replace itself
      h(e.msg, e.trigger, MakePortData(port.handle_, low));
      if (!*guard) return;  // the handler closed the port
    }
    delivering = false;
  }

  // Delivery from a place that may be inside a handler: run it from the
  // loop instead.
  void ScheduleDelivery() {
    if (events.empty() || port.suspended_ || delivering || deliverTimer) return;
    std::weak_ptr<bool> weak = alive;
    deliverTimer = port.loop_.StartTimer(0, [this, weak] {
      if (weak.expired()) return;
      deliverTimer = 0;
      Deliver();
    });
  }

  // --- input ----------------------------------------------------------
  void TakeIn() {
    if (port.lineError_) return;
    uint8_t buf[kReadChunk];
    for (;;) {
      size_t room = port.options_.inSize > in.size() ? port.options_.inSize - in.size() : 0;
      if (room == 0) break;
      long n = port.device_->Read(buf, std::min(room, sizeof buf));
      if (n < 0) {
        Fail(ecGetBlockFail, port.device_->LastError());
        return;
      }
      if (n == 0) break;
      port.Trace().Record(port.loop_.NowMs(), TTraceDir::In, buf, static_cast<size_t>(n));
      for (long i = 0; i < n; ++i) {
        uint8_t b = buf[i];
        if (port.swFlow_ & sfOutput) {
          if (b == kXoff) {
            if (!xoffReceived) Log("XOFF received: output held");
            xoffReceived = true;
            continue;
          }
          if (b == kXon) {
            if (xoffReceived) Log("XON received: output resumed");
            xoffReceived = false;
            continue;
          }
        }
        in.push_back(b);
        newData = true;
      }
      if (static_cast<size_t>(n) < std::min(room, sizeof buf)) break;
    }
    InputFlow();
    UpdateFdWatch();
    Pump();
  }

  // Input flow control after the input level changed.
  void InputFlow() {
    const size_t level = in.size();
    const TPortOptions& o = port.options_;
    if (port.swFlow_ & sfInput) {
      if (!xoffSent && level >= o.swFull) {
        SendControl(kXoff);
        xoffSent = true;
        Log("input at " + std::to_string(level) + " bytes: XOFF sent");
      } else if (xoffSent && level <= o.swResume) {
        SendControl(kXon);
        xoffSent = false;
        Log("input at " + std::to_string(level) + " bytes: XON sent");
      }
    }
    if (o.hwFlow & hwfUseRTS) {
      if (!rtsHeld && level >= o.bufferFull) {
        rtsHeld = true;
        port.device_->SetLineSignals(port.dtr_, false);
        Log("input at " + std::to_string(level) + " bytes: RTS dropped");
      } else if (rtsHeld && level <= o.bufferResume) {
        rtsHeld = false;
        port.device_->SetLineSignals(port.dtr_, port.rts_);
        Log("input at " + std::to_string(level) + " bytes: RTS raised");
      }
    }
  }

  // XON and XOFF go out ahead of whatever waits in the output buffer.
  void SendControl(uint8_t byte) {
    if (port.lineError_) return;
    long n = port.device_->Write(&byte, 1);
    if (n < 0) {
      Fail(ecPutBlockFail, port.device_->LastError());
      return;
    }
    if (n == 1) port.Trace().Record(port.loop_.NowMs(), TTraceDir::Out, &byte, 1);
  }

  void AfterRead() {
    InputFlow();
    UpdateFdWatch();
  }

  // --- output ---------------------------------------------------------
  bool CtsHeld() {
    return (port.options_.hwFlow & hwfRequireCTS) && !(port.device_->ModemStatus() & msCTS);
  }

  bool Held() { return xoffReceived || CtsHeld(); }

  void Pump() {
    if (port.lineError_) return;
    bool waitWritable = false;
    bool retry = false;
    while (!out.empty()) {
      if (xoffReceived) break;
      if (CtsHeld()) {
        if (!ctsHeldLogged) Log("CTS low: output held");
        ctsHeldLogged = true;
        retry = true;
        break;
      }
      if (ctsHeldLogged) {
        Log("CTS high: output resumed");
        ctsHeldLogged = false;
      }
      size_t chunk = std::min(out.size(), kReadChunk);
      const bool flow = (port.swFlow_ & sfOutput) || (port.options_.hwFlow & hwfRequireCTS);
      if (flow) {
        size_t pending = port.device_->OutputPending();
        if (pending >= kFlowKernelQueue) {
          retry = true;
          break;
        }
        chunk = std::min(chunk, kFlowKernelQueue - pending);
      }
      uint8_t buf[kReadChunk];
      std::copy(out.begin(), out.begin() + chunk, buf);
      long n = port.device_->Write(buf, chunk);
      if (n < 0) {
        Fail(ecPutBlockFail, port.device_->LastError());
        return;
      }
      if (n == 0) {
        if (port.device_->Fd() >= 0) waitWritable = true;
        else retry = true;
        break;
      }
      port.Trace().Record(port.loop_.NowMs(), TTraceDir::Out, buf, static_cast<size_t>(n));
      out.erase(out.begin(), out.begin() + n);
    }
    writable = waitWritable;
    UpdateFdWatch();
    if (retry && !retryTimer) {
      std::weak_ptr<bool> weak = alive;
      retryTimer = port.loop_.StartTimer(kPollMs, [this, weak] {
        if (weak.expired()) return;
        retryTimer = 0;
        Pump();
        CheckWatches();
        Deliver();
      });
    }
  }
  bool writable = false;

  // --- the descriptor ---------------------------------------------------
  void UpdateFdWatch() {
    if (!fdWatch) return;
    unsigned ev = 0;
    if (in.size() < port.options_.inSize) ev |= TEventLoop::ioRead;
    if (writable && !out.empty()) ev |= TEventLoop::ioWrite;
    if (ev != fdEvents) {
      fdEvents = ev;
      port.loop_.SetWatchEvents(fdWatch, ev);
    }
  }

  void OnFd(unsigned ready) {
    std::shared_ptr<bool> guard = alive;
    if (ready & TEventLoop::ioWrite) {
      writable = false;
      Pump();
    }
    if (ready & (TEventLoop::ioRead | TEventLoop::ioError)) {
      TakeIn();
      // A hang-up with nothing left to read: the device is gone. Reading
      // reports it; if the device still claims data, stop here rather
      // than spin.
      if (!port.lineError_ && (ready & TEventLoop::ioError) && !(ready & TEventLoop::ioRead)) {
        Fail(ecGetBlockFail, port.device_->Name() + ": the device hung up");
      }
    }
    if (!*guard) return;
    Events();
  }

  void OnWake() {
    std::shared_ptr<bool> guard = alive;
    TakeIn();
    Pump();
    if (!*guard) return;
    Events();
  }

  // Queues what the current state causes and delivers it.
  void Events() {
    if (newData && port.availHandle_ && static_cast<int>(in.size()) >= availThreshold) {
      newData = false;
      Queue(TriggerAvailMsg, port.availHandle_);
    }
    CheckWatches();
    Deliver();
  }

  // --- status watches ---------------------------------------------------
  void CheckWatches() {
    bool waiting = false;
    for (Watch& w : watches) {
      if (!w.armed) continue;
      bool met = false;
      switch (w.kind) {
        case stModemStatus: {
          unsigned mask = w.level ? static_cast<unsigned>(w.level) : (msCTS | msDSR | msRI | msDCD);
          met = ((port.ModemStatus() ^ w.statusAtArm) & mask) != 0;
          break;
        }
        case stOutputFree: met = port.OutputRoom() >= w.level; break;
        case stOutputUsed: met = port.OutputQueued() <= w.level; break;
      }
      if (met) {
        w.armed = false;
        Queue(TriggerStatusMsg, w.handle);
      } else {
        waiting = true;
      }
    }
    if (waiting && !pollTimer && !port.lineError_) {
      std::weak_ptr<bool> weak = alive;
      pollTimer = port.loop_.StartTimer(kPollMs, [this, weak] {
        if (weak.expired()) return;
        pollTimer = 0;
        std::shared_ptr<bool> guard = alive;
        TakeIn();
        Pump();
        if (!*guard) return;
        Events();
      });
    }
  }

  // --- failure ----------------------------------------------------------
  void Fail(int code, const std::string& text) {
    if (port.lineError_) return;
    port.lineError_ = code;
    port.lineErrorText_ = text.empty() ? port.device_->Name() + ": the device failed" : text;
    Log("device failed: " + port.lineErrorText_);
    if (fdWatch) {
      port.loop_.Unwatch(fdWatch);
      fdWatch = 0;
    }
    out.clear();
    // Carrier is now absent: a modem-status watch sees the change.
    CheckWatches();
    ScheduleDelivery();
    // The owner hears of it from the loop, not from inside a read or write
    // of its own, so that it may close the port in the handler.
    if (errorHandler) {
      std::weak_ptr<bool> weak = alive;
      port.loop_.StartTimer(0, [this, weak, code] {
        if (weak.expired() || !errorHandler) return;
        auto h = errorHandler;
        h(code, port.lineErrorText_);
      });
    }
  }

  Timer* FindTimer(int handle) {
    for (Timer& t : timers)
      if (t.handle == handle) return &t;
    return nullptr;
  }
  Watch* FindWatch(int handle) {
    for (Watch& w : watches)
      if (w.handle == handle) return &w;
    return nullptr;
  }
};

TSerialPort::TSerialPort(TEventLoop& loop, std::unique_ptr<TLineDevice> device,
                         const TPortOptions& options)
    : loop_(loop), device_(std::move(device)), options_(options),
      impl_(std::make_unique<Impl>(*this)) {
  if (options_.inSize == 0) options_.inSize = 1;
  if (options_.outSize == 0) options_.outSize = 1;
  handle_ = NewHandle();
  Registry()[handle_] = this;
  device_->SetLineSignals(true, true);
  std::weak_ptr<bool> weak = impl_->alive;
  if (device_->Fd() >= 0) {
    impl_->fdEvents = TEventLoop::ioRead;
    impl_->fdWatch = loop_.WatchFd(device_->Fd(), impl_->fdEvents, [this, weak](unsigned ev) {
      if (!weak.expired()) impl_->OnFd(ev);
    });
  } else {
    device_->SetWakeup([this, weak] {
      if (!weak.expired()) impl_->OnWake();
    });
  }
}

TSerialPort::~TSerialPort() {
  *impl_->alive = false;
  if (impl_->fdWatch) loop_.Unwatch(impl_->fdWatch);
  for (auto& t : impl_->timers)
    if (t.loopTimer) loop_.CancelTimer(t.loopTimer);
  if (impl_->pollTimer) loop_.CancelTimer(impl_->pollTimer);
  if (impl_->retryTimer) loop_.CancelTimer(impl_->retryTimer);
  if (impl_->deliverTimer) loop_.CancelTimer(impl_->deliverTimer);
  device_->SetWakeup({});
  Registry().erase(handle_);
}

TSerialPort* TSerialPort::Find(PortHandle handle) {
  auto& ports = Registry();
  auto it = ports.find(handle);
  return it == ports.end() ? nullptr : it->second;
}

void TSerialPort::SetTraceSinks(TPortTrace* trace, TPortLog* log) {
  trace_ = trace ? trace : &ownTrace_;
  log_ = log ? log : &ownLog_;
}

int TSerialPort::InputWaiting() { return static_cast<int>(impl_->in.size()); }

int TSerialPort::ReadByte() {
  if (impl_->in.empty()) return -1;
  int b = impl_->in.front();
  impl_->in.pop_front();
  impl_->AfterRead();
  return b;
}

size_t TSerialPort::ReadBlock(uint8_t* data, size_t size) {
  size_t n = std::min(size, impl_->in.size());
  std::copy(impl_->in.begin(), impl_->in.begin() + n, data);
  impl_->in.erase(impl_->in.begin(), impl_->in.begin() + n);
  impl_->AfterRead();
  return n;
}

int TSerialPort::WriteByte(uint8_t byte) { return WriteBlock(&byte, 1); }

int TSerialPort::WriteBlock(const uint8_t* data, size_t size) {
  if (lineError_) return ecPutBlockFail;
  if (size == 0) return 0;
  if (static_cast<int64_t>(size) > OutputRoom()) return ecOutputBufferTooSmall;
  impl_->out.insert(impl_->out.end(), data, data + size);
  impl_->Pump();
  if (lineError_) return ecPutBlockFail;
  return 0;
}

int TSerialPort::WriteText(const std::string& text) {
  return WriteBlock(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

int TSerialPort::OutputQueued() {
  if (lineError_) return 0;
  return static_cast<int>(impl_->out.size() + device_->OutputPending());
}

int TSerialPort::OutputRoom() {
  int64_t room = static_cast<int64_t>(options_.outSize) - OutputQueued();
  return room < 0 ? 0 : static_cast<int>(room);
}

void TSerialPort::DiscardInput() {
  if (!lineError_) {
    device_->DiscardInput();
    // Whatever the kernel already had is gone too; take in nothing more now.
  }
  impl_->in.clear();
  impl_->newData = false;
  impl_->AfterRead();
}

void TSerialPort::DiscardOutput() {
  impl_->out.clear();
  if (!lineError_) device_->DiscardOutput();
  impl_->UpdateFdWatch();
}

int TSerialPort::SetLineSignals(bool dtr, bool rts) {
  if (dtr != dtr_) impl_->Log(SignalText("DTR", dtr));
  if (rts != rts_) impl_->Log(SignalText("RTS", rts));
  dtr_ = dtr;
  rts_ = rts;
  if (lineError_) return lineError_;
  return device_->SetLineSignals(dtr, rts && !impl_->rtsHeld);
}

unsigned TSerialPort::ModemStatus() {
  if (lineError_) return 0;
  return device_->ModemStatus();
}

bool TSerialPort::CarrierPresent() { return (ModemStatus() & msDCD) != 0; }

int TSerialPort::SetBitRate(int rate) {
  TLineSettings s = options_.line;
  s.bitRate = rate;
  return SetLineSettings(s);
}

int TSerialPort::SetLineSettings(const TLineSettings& settings) {
  if (!IsSupportedBitRate(settings.bitRate)) return ecBaudRate;
  if (settings.dataBits < 5 || settings.dataBits > 8) return ecByteSize;
  if (lineError_) return lineError_;
  int rc = device_->Configure(settings);
  if (rc != 0) return rc;
  if (settings.bitRate != options_.line.bitRate)
    impl_->Log("bit rate " + std::to_string(settings.bitRate));
  options_.line = settings;
  return 0;
}

void TSerialPort::SetSoftwareFlow(TSoftwareFlow flow) {
  static const char* const names[] = {"off", "for output", "for input", "both ways"};
  if (flow != swFlow_) impl_->Log(std::string("software flow control ") + names[flow & 3]);
  TSoftwareFlow before = swFlow_;
  swFlow_ = flow;
  if ((before & sfOutput) && !(flow & sfOutput) && impl_->xoffReceived) {
    impl_->xoffReceived = false;
    impl_->Pump();
  }
  if ((before & sfInput) && !(flow & sfInput) && impl_->xoffSent) {
    // The line was told to stop; let it go on.
    impl_->SendControl(kXon);
    impl_->xoffSent = false;
  }
  impl_->InputFlow();
}

void TSerialPort::SetHardwareFlow(unsigned options) {
  options_.hwFlow = options;
  if (!(options & hwfUseRTS) && impl_->rtsHeld) {
    impl_->rtsHeld = false;
    if (!lineError_) device_->SetLineSignals(dtr_, rts_);
  }
  impl_->InputFlow();
  impl_->Pump();
}

bool TSerialPort::OutputHeld() { return impl_->Held(); }

int TSerialPort::SetAvailTrigger(int threshold) {
  if (threshold < 1) return ecBadArgument;
  impl_->availThreshold = threshold;
  if (!availHandle_) availHandle_ = impl_->nextTrigger++;
  return availHandle_;
}

int TSerialPort::AddTimer() {
  if (impl_->timers.size() >= kMaxTimers) return ecNoMoreTriggers;
  int h = impl_->nextTrigger++;
  impl_->timers.push_back({h, 0});
  return h;
}

int TSerialPort::ArmTimer(int handle, int64_t ticks, bool active) {
  Impl::Timer* t = impl_->FindTimer(handle);
  if (!t) return ecBadTriggerHandle;
  if (t->loopTimer) loop_.CancelTimer(t->loopTimer);
  t->loopTimer = 0;
  impl_->Unqueue(handle);  // an expiry of the previous arming is void now
  if (!active) return 0;
  std::weak_ptr<bool> weak = impl_->alive;
  t->loopTimer = loop_.StartTimer(TicksToMs(ticks < 0 ? 0 : ticks), [this, weak, handle] {
    if (weak.expired()) return;
    if (Impl::Timer* timer = impl_->FindTimer(handle)) timer->loopTimer = 0;
    impl_->Queue(TriggerTimerMsg, handle);
    impl_->Deliver();
  });
  return 0;
}

int TSerialPort::AddStatusWatch(int kind) {
  if (kind != stModemStatus && kind != stOutputFree && kind != stOutputUsed) return ecBadArgument;
  if (impl_->watches.size() >= kMaxStatusWatches) return ecNoMoreTriggers;
  int h = impl_->nextTrigger++;
  impl_->watches.push_back({h, kind});
  return h;
}

int TSerialPort::ArmStatusWatch(int handle, int level, bool active) {
  Impl::Watch* w = impl_->FindWatch(handle);
  if (!w) return ecBadTriggerHandle;
  impl_->Unqueue(handle);
  w->armed = active;
  w->level = level;
  if (!active) return 0;
  w->statusAtArm = ModemStatus();
  impl_->CheckWatches();
  impl_->ScheduleDelivery();
  return 0;
}

int TSerialPort::DropTrigger(int handle) {
  if (handle > 0 && handle == availHandle_) {
    availHandle_ = 0;
    impl_->Unqueue(handle);
    return 0;
  }
  auto& timers = impl_->timers;
  for (auto it = timers.begin(); it != timers.end(); ++it) {
    if (it->handle == handle) {
      if (it->loopTimer) loop_.CancelTimer(it->loopTimer);
      timers.erase(it);
      impl_->Unqueue(handle);
      return 0;
    }
  }
  auto& watches = impl_->watches;
  for (auto it = watches.begin(); it != watches.end(); ++it) {
    if (it->handle == handle) {
      watches.erase(it);
      impl_->Unqueue(handle);
      return 0;
    }
  }
  return ecBadTriggerHandle;
}

int TSerialPort::SetTriggerHandler(TriggerHandler handler) {
  if (!handler) return ecBadArgument;
  impl_->handler = std::move(handler);
  impl_->ScheduleDelivery();
  return 0;
}

void TSerialPort::RemoveTriggerHandler() {
  impl_->handler = nullptr;
  impl_->events.clear();
}

int TSerialPort::SetPortData(int slot, void* data) {
  if (slot < 0 || slot >= static_cast<int>(impl_->data.size())) return ecBadArgument;
  impl_->data[slot] = data;
  return 0;
}

void* TSerialPort::PortData(int slot) const {
  if (slot < 0 || slot >= static_cast<int>(impl_->data.size())) return nullptr;
  return impl_->data[slot];
}

bool TSerialPort::SuspendDelivery(bool on) {
  bool before = suspended_;
  suspended_ = on;
  if (!on) impl_->ScheduleDelivery();
  return before;
}

void TSerialPort::DeliverPending() {
  std::shared_ptr<bool> guard = impl_->alive;
  impl_->TakeIn();
  impl_->Pump();
  if (!*guard) return;
  impl_->Events();
}

void TSerialPort::TakeIn() {
  impl_->TakeIn();
}

void TSerialPort::Delay(int64_t ms) { loop_.Sleep(ms); }
int64_t TSerialPort::NowTicks() { return loop_.NowTicks(); }
int64_t TSerialPort::NowMs() { return loop_.NowMs(); }

void TSerialPort::SetLineErrorHandler(std::function<void(int, const std::string&)> h) {
  impl_->errorHandler = std::move(h);
}

// --- the engine's calls per PortHandle ----------------------------------

#define TV_WITH_PORT(handle)                  \
  TSerialPort* p = TSerialPort::Find(handle); \
  if (!p) return ecBadHandle

int InputWaiting(PortHandle port) { TV_WITH_PORT(port); return p->InputWaiting(); }
int ReadByte(PortHandle port) { TV_WITH_PORT(port); return p->ReadByte(); }
int WriteByte(PortHandle port, uint8_t byte) { TV_WITH_PORT(port); return p->WriteByte(byte); }
int WriteBlock(PortHandle port, const uint8_t* data, size_t size) {
  TV_WITH_PORT(port);
  return p->WriteBlock(data, size);
}
int OutputQueued(PortHandle port) { TV_WITH_PORT(port); return p->OutputQueued(); }
int OutputRoom(PortHandle port) { TV_WITH_PORT(port); return p->OutputRoom(); }
int DiscardInput(PortHandle port) { TV_WITH_PORT(port); p->DiscardInput(); return 0; }
int DiscardOutput(PortHandle port) { TV_WITH_PORT(port); p->DiscardOutput(); return 0; }
int SetLineSignals(PortHandle port, bool dtr, bool rts) {
  TV_WITH_PORT(port);
  return p->SetLineSignals(dtr, rts);
}
int CarrierPresent(PortHandle port) { TV_WITH_PORT(port); return p->CarrierPresent() ? 1 : 0; }
int SetBitRate(PortHandle port, int rate) { TV_WITH_PORT(port); return p->SetBitRate(rate); }
int SetSoftwareFlow(PortHandle port, TSoftwareFlow flow) {
  TV_WITH_PORT(port);
  p->SetSoftwareFlow(flow);
  return 0;
}
int SetAvailTrigger(PortHandle port, int threshold) {
  TV_WITH_PORT(port);
  return p->SetAvailTrigger(threshold);
}
int AddTimer(PortHandle port) { TV_WITH_PORT(port); return p->AddTimer(); }
int ArmTimer(PortHandle port, int handle, int64_t ticks, bool active) {
  TV_WITH_PORT(port);
  return p->ArmTimer(handle, ticks, active);
}
int AddStatusWatch(PortHandle port, int kind) { TV_WITH_PORT(port); return p->AddStatusWatch(kind); }
int ArmStatusWatch(PortHandle port, int handle, int level, bool active) {
  TV_WITH_PORT(port);
  return p->ArmStatusWatch(handle, level, active);
}
int DropTrigger(PortHandle port, int handle) { TV_WITH_PORT(port); return p->DropTrigger(handle); }
int SetTriggerHandler(PortHandle port, TriggerHandler handler) {
  TV_WITH_PORT(port);
  return p->SetTriggerHandler(std::move(handler));
}
int RemoveTriggerHandler(PortHandle port) {
  TV_WITH_PORT(port);
  p->RemoveTriggerHandler();
  return 0;
}
int SetPortData(PortHandle port, int slot, void* data) {
  TV_WITH_PORT(port);
  return p->SetPortData(slot, data);
}
int SuspendDelivery(PortHandle port, bool on) {
  TV_WITH_PORT(port);
  return p->SuspendDelivery(on) ? 1 : 0;
}
int DeliverPending(PortHandle port) {
  TV_WITH_PORT(port);
  p->DeliverPending();
  return 0;
}

#undef TV_WITH_PORT

}  // namespace tv
