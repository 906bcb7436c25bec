#include "platform/clock/poll_loop.h"

#include <poll.h>
#include <time.h>

#include <cerrno>
#include <chrono>

#include "platform/clock/loop_tables.h"

namespace tv {

struct TPollLoop::Impl {
  TLoopTables tables;
};

TPollLoop::TPollLoop() : impl_(std::make_unique<Impl>()) {}
TPollLoop::~TPollLoop() = default;

int64_t TPollLoop::NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int TPollLoop::WatchFd(int fd, unsigned events, FdCallback cb) {
  return impl_->tables.AddWatch(fd, events, std::move(cb));
}

void TPollLoop::SetWatchEvents(int watchId, unsigned events) {
  impl_->tables.SetWatchEvents(watchId, events);
}

void TPollLoop::Unwatch(int watchId) { impl_->tables.RemoveWatch(watchId); }

int TPollLoop::StartTimer(int64_t delayMs, Callback cb) {
  return impl_->tables.AddTimer(NowMs() + (delayMs > 0 ? delayMs : 0), std::move(cb));
}

void TPollLoop::CancelTimer(int timerId) { impl_->tables.CancelTimer(timerId); }

void TPollLoop::Sleep(int64_t ms) {
  if (ms <= 0) return;
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  ts.tv_sec += ms / 1000;
  ts.tv_nsec += (ms % 1000) * 1000000;
  if (ts.tv_nsec >= 1000000000) {
    ts.tv_sec += 1;
    ts.tv_nsec -= 1000000000;
  }
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

bool TPollLoop::WaitReadable(int fd, int64_t maxWaitMs) {
  if (fd < 0) {
    Sleep(maxWaitMs);
    return false;
  }
  const int64_t deadline = NowMs() + maxWaitMs;
  for (;;) {
    int64_t left = deadline - NowMs();
    pollfd p{fd, POLLIN, 0};
    int n = ::poll(&p, 1, left < 0 ? 0 : left > 1000000 ? 1000000 : static_cast<int>(left));
    if (n > 0) return true;
    if (n == 0 || errno != EINTR) return false;
  }
}

bool TPollLoop::RunOnce(int64_t maxWaitMs) {
  int64_t wait = maxWaitMs < 0 ? 0 : maxWaitMs;
  if (impl_->tables.HasTimers()) {
    int64_t untilTimer = impl_->tables.NextDue() - NowMs();
    if (untilTimer < wait) wait = untilTimer < 0 ? 0 : untilTimer;
  }
  // Without descriptors this just sleeps until the next timer.
  bool ran = impl_->tables.PollWatches(wait);
  if (impl_->tables.RunTimersDueBy(NowMs(), [](int64_t) {})) ran = true;
  return ran;
}

}  // namespace tv
