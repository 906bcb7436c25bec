#include "platform/serial/scripted_modem.h"

#include <algorithm>
#include <cstdio>
#include <deque>

#include "platform/clock/event_loop.h"
#include "platform/clock/tick_clock.h"
#include "platform/core/error_codes.h"
#include "platform/serial/port_trace.h"

namespace tv {

namespace {

std::string Quoted(const std::string& bytes) {
  return "\"" + TraceText(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) + "\"";
}

std::string At(int64_t ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%lld.%03lld s", static_cast<long long>(ms / 1000),
                static_cast<long long>(ms % 1000));
  return buf;
}

enum StepKind { skExpect, skExpectUntil, skReply, skCarrier, skVanish, skThen };

struct Step {
  explicit Step(StepKind k, std::string b = {}) : kind(k), bytes(std::move(b)) {}
  StepKind kind;
  std::string bytes;
  int64_t delayMs = 0;
  std::string* captured = nullptr;
  bool flag = false;
  std::function<void()> action;
};

std::string Describe(const Step& s) {
  switch (s.kind) {
    case skExpect: return "expect " + Quoted(s.bytes);
    case skExpectUntil: return "expect anything up to " + Quoted(s.bytes);
    case skReply: return "reply " + Quoted(s.bytes);
    case skCarrier: return s.flag ? "carrier on" : "carrier off";
    case skVanish: return "device goes away";
    case skThen: return "test action";
  }
  return {};
}

}  // namespace

// The state the modem and its connected line devices share; a device
// outliving the modem sees a dead line.
struct TScriptedModem::Impl {
  TScriptedModem* owner;
  TEventLoop& loop;
  std::vector<Step> steps;
  size_t index = 0;
  size_t matched = 0;       // bytes of the current Expect seen so far
  std::string untilWindow;  // tail of the bytes seen by ExpectUntil
  int64_t doneMs = 0;       // when the previous step completed
  bool started = false;

  struct Chunk {
    int64_t at;
    std::string bytes;
  };
  std::deque<Chunk> output;     // what the modem sends, by time
  struct Change {
    int64_t at;
    bool carrier;
    bool vanish;
  };
  std::deque<Change> changes;
  bool carrier = false;
  bool vanished = false;
  bool cts = true;
  size_t room = 0;
  int drainRate = 0;
  size_t pending = 0;
  int64_t drainedAt = 0;
  std::function<void()> wakeup;
  std::vector<std::string> transcript;
  int64_t startMs;

  Impl(TScriptedModem* o, TEventLoop& l) : owner(o), loop(l), startMs(l.NowMs()) {}

  void Note(const std::string& line) {
    char buf[32];
    int64_t ms = loop.NowMs() - startMs;
    std::snprintf(buf, sizeof buf, "%9lld.%03lld ", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
    transcript.push_back(buf + line);
  }

  void Apply() {
    const int64_t now = loop.NowMs();
    while (!changes.empty() && changes.front().at <= now) {
      Change c = changes.front();
      changes.pop_front();
      if (c.vanish) {
        if (!vanished) Note("--- the device goes away");
        vanished = true;
      } else if (c.carrier != carrier) {
        carrier = c.carrier;
        Note(carrier ? "--- carrier on" : "--- carrier off");
      }
    }
  }

  // Tells the connected port, at the moment given, that something changed.
  void Wake(int64_t at) {
    loop.StartTimer(at - loop.NowMs(), [this, alive = std::weak_ptr<Impl>(self)] {
      auto me = alive.lock();
      if (!me) return;
      Apply();
      if (wakeup) {
        auto w = wakeup;
        w();
      }
    });
  }
  std::weak_ptr<Impl> self;

  // Runs the steps that need no input from the program.
  void Run() {
    if (!started) {
      started = true;
      doneMs = loop.NowMs();
    }
    while (index < steps.size() && owner && owner->failure_.empty()) {
      Step& s = steps[index];
      if (s.kind == skExpect || s.kind == skExpectUntil) return;
      const int64_t at = std::max(doneMs, loop.NowMs()) + s.delayMs;
      switch (s.kind) {
        case skReply:
          output.push_back({at, s.bytes});
          Wake(at);
          break;
        case skCarrier:
          changes.push_back({at, s.flag, false});
          Wake(at);
          break;
        case skVanish:
          changes.push_back({at, false, true});
          Wake(at);
          break;
        case skThen:
          if (s.action) s.action();
          break;
        default: break;
      }
      doneMs = at;
      ++index;
    }
  }

  // Steps added to a running script start at once.
  void Resume() {
    if (started) Run();
  }

  void Fail(const std::string& text) {
    if (!owner || !owner->failure_.empty()) return;
    owner->failure_ = text;
    Note("!!! " + text);
  }

  void FromProgram(const uint8_t* data, size_t size) {
    if (!owner) return;
    std::string bytes(reinterpret_cast<const char*>(data), size);
    owner->received_ += bytes;
    Note("out  " + TraceText(data, size));
    Run();
    for (size_t i = 0; i < size; ++i) {
      if (!owner->failure_.empty()) return;
      if (index >= steps.size()) {
        if (owner->strictEnd_)
          Fail("after the script ended, the program sent " + Quoted(bytes.substr(i)) + " at " +
               At(loop.NowMs() - startMs));
        return;
      }
      Step& s = steps[index];
      const char c = bytes[i];
      if (s.kind == skExpect) {
        if (c != s.bytes[matched]) {
          Fail("step " + std::to_string(index + 1) + " (" + Describe(s) +
               "): the program sent " + Quoted(s.bytes.substr(0, matched) + bytes.substr(i)) +
               " at " + At(loop.NowMs() - startMs));
          return;
        }
        if (++matched < s.bytes.size()) continue;
      } else {
        if (s.captured) *s.captured += c;
        untilWindow += c;
        if (untilWindow.size() > s.bytes.size())
          untilWindow.erase(0, untilWindow.size() - s.bytes.size());
        if (untilWindow != s.bytes) continue;
      }
      matched = 0;
      untilWindow.clear();
      doneMs = loop.NowMs();
      ++index;
      Run();
    }
  }

  long Read(uint8_t* data, size_t size) {
    Apply();
    if (vanished || !owner) return ecGetBlockFail;
    const int64_t now = loop.NowMs();
    size_t n = 0;
    while (n < size && !output.empty() && output.front().at <= now) {
      Chunk& c = output.front();
      size_t take = std::min(size - n, c.bytes.size());
      std::copy(c.bytes.begin(), c.bytes.begin() + take, data + n);
      Note("in   " + TraceText(data + n, take));
      n += take;
      c.bytes.erase(0, take);
      if (c.bytes.empty()) output.pop_front();
    }
    return static_cast<long>(n);
  }

  size_t Pending() {
    if (drainRate > 0) {
      const int64_t now = loop.NowMs();
      size_t drained = static_cast<size_t>((now - drainedAt) * drainRate / 1000);
      if (drained > 0) {
        pending = drained >= pending ? 0 : pending - drained;
        drainedAt = now;
      }
    } else {
      pending = 0;
    }
    return pending;
  }

  long Write(const uint8_t* data, size_t size) {
    Apply();
    if (vanished || !owner) return ecPutBlockFail;
    size_t take = size;
    if (room > 0) {
      size_t used = Pending();
      take = used >= room ? 0 : std::min(size, room - used);
    }
    if (take == 0) return 0;
    if (drainRate > 0) {
      Pending();
      pending += take;
    }
    FromProgram(data, take);
    return static_cast<long>(take);
  }

  int64_t NextInputAt() {
    int64_t next = -1;
    if (!output.empty()) next = output.front().at;
    if (!changes.empty() && (next < 0 || changes.front().at < next)) next = changes.front().at;
    return next;
  }
};

// A line device wired to the modem.
class TScriptedLine : public TLineDevice {
 public:
  explicit TScriptedLine(std::shared_ptr<TScriptedModem::Impl> impl) : impl_(std::move(impl)) {}
  ~TScriptedLine() override {
    if (impl_->wakeup) impl_->wakeup = nullptr;
  }

  void SetWakeup(std::function<void()> wakeup) override { impl_->wakeup = std::move(wakeup); }
  long Read(uint8_t* data, size_t size) override { return impl_->Read(data, size); }
  long Write(const uint8_t* data, size_t size) override { return impl_->Write(data, size); }
  size_t OutputPending() override { return impl_->Pending(); }
  void DiscardInput() override {
    // Only what has already arrived is thrown away; later replies come.
    const int64_t now = impl_->loop.NowMs();
    while (!impl_->output.empty() && impl_->output.front().at <= now) impl_->output.pop_front();
  }
  void DiscardOutput() override { impl_->pending = 0; }
  int Configure(const TLineSettings& settings) override {
    if (!IsSupportedBitRate(settings.bitRate)) return ecBaudRate;
    if (impl_->owner) {
      if (impl_->owner->settings_.bitRate != settings.bitRate)
        impl_->Note("--- bit rate " + std::to_string(settings.bitRate));
      impl_->owner->settings_ = settings;
    }
    return 0;
  }
  int SetLineSignals(bool dtr, bool rts) override {
    if (auto* m = impl_->owner) {
      if (m->dtr_ != dtr) impl_->Note(dtr ? "--- DTR on" : "--- DTR off");
      if (m->rts_ != rts) impl_->Note(rts ? "--- RTS on" : "--- RTS off");
      m->dtr_ = dtr;
      m->rts_ = rts;
    }
    return 0;
  }
  unsigned ModemStatus() override {
    impl_->Apply();
    if (impl_->vanished) return 0;
    unsigned s = msDSR;
    if (impl_->cts) s |= msCTS;
    if (impl_->carrier) s |= msDCD;
    return s;
  }
  void WaitInput(TEventLoop& loop, int64_t ms) override {
    const int64_t now = loop.NowMs();
    int64_t until = now + ms;
    int64_t next = impl_->NextInputAt();
    if (next >= 0 && next < until) until = next;
    if (until > now) loop.Sleep(until - now);
  }
  std::string LastError() const override {
    return impl_->vanished ? "scripted modem: the device went away" : std::string();
  }
  std::string Name() const override { return "scripted modem"; }

 private:
  std::shared_ptr<TScriptedModem::Impl> impl_;
};

TScriptedModem::TScriptedModem(TEventLoop& loop) : impl_(std::make_shared<Impl>(this, loop)) {
  impl_->self = impl_;
}

TScriptedModem::~TScriptedModem() { impl_->owner = nullptr; }

TScriptedModem& TScriptedModem::Expect(const std::string& bytes) {
  if (!bytes.empty()) impl_->steps.push_back(Step(skExpect, bytes));
  impl_->Resume();
  return *this;
}

TScriptedModem& TScriptedModem::ExpectBytes(const std::vector<uint8_t>& bytes) {
  return Expect(std::string(bytes.begin(), bytes.end()));
}

TScriptedModem& TScriptedModem::ExpectUntil(const std::string& terminator,
                                            std::string* captured) {
  Step s{skExpectUntil, terminator};
  s.captured = captured;
  impl_->steps.push_back(s);
  impl_->Resume();
  return *this;
}

TScriptedModem& TScriptedModem::Reply(const std::string& text, int64_t delayTicks) {
  return ReplyAfterMs(text, TicksToMs(delayTicks));
}

TScriptedModem& TScriptedModem::ReplyBytes(const std::vector<uint8_t>& bytes,
                                           int64_t delayTicks) {
  return Reply(std::string(bytes.begin(), bytes.end()), delayTicks);
}

TScriptedModem& TScriptedModem::ReplyAfterMs(const std::string& text, int64_t delayMs) {
  Step s{skReply, text};
  s.delayMs = delayMs;
  impl_->steps.push_back(s);
  impl_->Resume();
  return *this;
}

TScriptedModem& TScriptedModem::Carrier(bool present, int64_t delayTicks) {
  Step s{skCarrier};
  s.flag = present;
  s.delayMs = TicksToMs(delayTicks);
  impl_->steps.push_back(s);
  impl_->Resume();
  return *this;
}

TScriptedModem& TScriptedModem::Vanish(int64_t delayTicks) {
  Step s{skVanish};
  s.delayMs = TicksToMs(delayTicks);
  impl_->steps.push_back(s);
  impl_->Resume();
  return *this;
}

TScriptedModem& TScriptedModem::Then(std::function<void()> action) {
  Step s{skThen};
  s.action = std::move(action);
  impl_->steps.push_back(s);
  impl_->Resume();
  return *this;
}

void TScriptedModem::SetCts(bool on) {
  if (impl_->cts != on) impl_->Note(on ? "--- CTS on" : "--- CTS off");
  impl_->cts = on;
  if (impl_->wakeup) impl_->Wake(impl_->loop.NowMs());
}

void TScriptedModem::SetOutputModel(size_t room, int drainBytesPerSecond) {
  impl_->room = room;
  impl_->drainRate = drainBytesPerSecond;
  impl_->drainedAt = impl_->loop.NowMs();
}

std::unique_ptr<TLineDevice> TScriptedModem::Connect() {
  // The devices share the modem's state, which lives as long as the
  // longest of them.
  impl_->Run();
  return std::make_unique<TScriptedLine>(impl_);
}

std::function<int(const std::string&, const TLineSettings&, std::unique_ptr<TLineDevice>&,
                  std::string&)>
TScriptedModem::Opener() {
  return [this](const std::string&, const TLineSettings& settings,
                std::unique_ptr<TLineDevice>& device, std::string&) {
    device = Connect();
    return device->Configure(settings);
  };
}

bool TScriptedModem::Finished() const {
  return failure_.empty() && impl_->index >= impl_->steps.size();
}

std::string TScriptedModem::Report() const {
  std::string out;
  if (!failure_.empty()) {
    out = "scripted modem: " + failure_ + "\n";
  } else if (impl_->index < impl_->steps.size()) {
    const Step& s = impl_->steps[impl_->index];
    out = "scripted modem: the script stopped at step " + std::to_string(impl_->index + 1) +
          " of " + std::to_string(impl_->steps.size()) + " (" + Describe(s) + ")";
    if (s.kind == skExpect && impl_->matched)
      out += ", having seen " + Quoted(s.bytes.substr(0, impl_->matched));
    out += "\n";
  } else {
    out = "scripted modem: every step done\n";
  }
  out += "transcript:\n" + Transcript();
  return out;
}

std::string TScriptedModem::Transcript() const {
  std::string out;
  for (const std::string& line : impl_->transcript) out += line + "\n";
  return out;
}

}  // namespace tv
