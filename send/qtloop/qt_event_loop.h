// The port service under the Qt event loop: descriptors through
// QSocketNotifier, timers through single-shot QTimers, time on the
// monotonic clock (QElapsedTimer).
#pragma once

#include <memory>

#include "platform/clock/event_loop.h"

namespace tv {

class TQtEventLoop : public TEventLoop {
 public:
  TQtEventLoop();
  ~TQtEventLoop() override;

  int64_t NowMs() override;
  int WatchFd(int fd, unsigned events, FdCallback cb) override;
  void SetWatchEvents(int watchId, unsigned events) override;
  void Unwatch(int watchId) override;
  int StartTimer(int64_t delayMs, Callback cb) override;
  void CancelTimer(int timerId) override;
  void Sleep(int64_t ms) override;
  bool WaitReadable(int fd, int64_t maxWaitMs) override;
  // Processes Qt events (waiting at most maxWaitMs for one).
  bool RunOnce(int64_t maxWaitMs) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tv
