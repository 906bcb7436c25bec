// One small interface over the event loops the port service runs under:
// a plain poll() loop (TPollLoop), the Qt event loop (TQtEventLoop in
// send/qtloop) and a simulated loop on virtual time (TVirtualLoop). It
// watches file descriptors, runs one-shot timers and tells the time.
//
// Callbacks run only from RunOnce (and the loops built on it), never from
// Sleep: a busy wait keeps time moving but dispatches nothing, just like the
// engine's waits that do not let other messages run.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/clock/tick_clock.h"

namespace tv {

class TEventLoop {
 public:
  // Readiness of a watched descriptor.
  enum : unsigned { ioRead = 1, ioWrite = 2, ioError = 4 };
  using FdCallback = std::function<void(unsigned events)>;
  using Callback = std::function<void()>;

  virtual ~TEventLoop() = default;

  // Milliseconds on this loop's clock: the monotonic clock, or virtual time.
  virtual int64_t NowMs() = 0;
  // The same time in ticks of 55 ms.
  int64_t NowTicks() { return NowMs() / kTickMs; }

  // Calls cb with the ready events (ioRead, ioWrite; ioError for a hang-up
  // or an error, which is always watched) while the descriptor is ready.
  // Returns a watch id > 0.
  virtual int WatchFd(int fd, unsigned events, FdCallback cb) = 0;
  // Changes which events (ioRead, ioWrite) a watch waits for.
  virtual void SetWatchEvents(int watchId, unsigned events) = 0;
  virtual void Unwatch(int watchId) = 0;

  // Runs cb once after delayMs milliseconds; returns a timer id > 0.
  virtual int StartTimer(int64_t delayMs, Callback cb) = 0;
  // Cancelling an expired or unknown timer is harmless.
  virtual void CancelTimer(int timerId) = 0;

  // A busy wait: lets ms milliseconds pass without dispatching anything.
  // On virtual time it only moves the clock.
  virtual void Sleep(int64_t ms) = 0;

  // Waits up to maxWaitMs until fd is readable (or in error), without
  // dispatching anything. fd -1 just waits. Returns true when readable.
  virtual bool WaitReadable(int fd, int64_t maxWaitMs) = 0;

  // Dispatches what is ready, first waiting at most maxWaitMs for something
  // to become ready. Returns true when a callback ran.
  virtual bool RunOnce(int64_t maxWaitMs) = 0;

  // Runs the loop until done() holds or timeoutMs passed on this loop's
  // clock. Returns done().
  bool RunUntil(const std::function<bool()>& done, int64_t timeoutMs);
};

}  // namespace tv
