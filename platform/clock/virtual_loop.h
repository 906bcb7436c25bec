// A simulated loop on virtual time. Time moves only when the loop has
// nothing due: RunOnce jumps straight to the next timer, and Sleep or
// WaitReadable just advance the clock, so waits of seconds cost nothing.
// Timers due at the same moment run in the order they were started.
// Watched descriptors are polled without waiting (for mixing in a real pty).
#pragma once

#include <memory>

#include "platform/clock/event_loop.h"

namespace tv {

class TVirtualLoop : public TEventLoop {
 public:
  explicit TVirtualLoop(int64_t startMs = 0);
  ~TVirtualLoop() override;

  int64_t NowMs() override;
  int WatchFd(int fd, unsigned events, FdCallback cb) override;
  void SetWatchEvents(int watchId, unsigned events) override;
  void Unwatch(int watchId) override;
  int StartTimer(int64_t delayMs, Callback cb) override;
  void CancelTimer(int timerId) override;
  void Sleep(int64_t ms) override;
  bool WaitReadable(int fd, int64_t maxWaitMs) override;
  bool RunOnce(int64_t maxWaitMs) override;

  // Moves the clock forward by ms, running every timer that falls due on
  // the way at its own moment.
  void Advance(int64_t ms);
  // Milliseconds until the next timer, or -1 when none is started.
  int64_t NextTimerInMs();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tv
