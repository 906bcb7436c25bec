// The plain poll() loop on the monotonic clock, for command-line tools and
// end-to-end tests.
#pragma once

#include <map>
#include <memory>

#include "platform/clock/event_loop.h"

namespace tv {

class TPollLoop : public TEventLoop {
 public:
  TPollLoop();
  ~TPollLoop() override;

  int64_t NowMs() override;
  int WatchFd(int fd, unsigned events, FdCallback cb) override;
  void SetWatchEvents(int watchId, unsigned events) override;
  void Unwatch(int watchId) override;
  int StartTimer(int64_t delayMs, Callback cb) override;
  void CancelTimer(int timerId) override;
  void Sleep(int64_t ms) override;
  bool WaitReadable(int fd, int64_t maxWaitMs) override;
  bool RunOnce(int64_t maxWaitMs) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tv
