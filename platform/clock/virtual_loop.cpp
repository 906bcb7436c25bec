#include "platform/clock/virtual_loop.h"

#include <poll.h>

#include "platform/clock/loop_tables.h"

namespace tv {

struct TVirtualLoop::Impl {
  int64_t now = 0;
  TLoopTables tables;

  bool RunTimersDueBy(int64_t limit) {
    return tables.RunTimersDueBy(limit, [this](int64_t due) {
      if (due > now) now = due;
    });
  }
  // Real descriptors are polled without waiting: virtual time cannot wait
  // for them.
  bool PollWatches() { return tables.PollWatches(0); }
};

TVirtualLoop::TVirtualLoop(int64_t startMs) : impl_(std::make_unique<Impl>()) {
  impl_->now = startMs;
}
TVirtualLoop::~TVirtualLoop() = default;

int64_t TVirtualLoop::NowMs() { return impl_->now; }

int TVirtualLoop::WatchFd(int fd, unsigned events, FdCallback cb) {
  return impl_->tables.AddWatch(fd, events, std::move(cb));
}

void TVirtualLoop::SetWatchEvents(int watchId, unsigned events) {
  impl_->tables.SetWatchEvents(watchId, events);
}

void TVirtualLoop::Unwatch(int watchId) { impl_->tables.RemoveWatch(watchId); }

int TVirtualLoop::StartTimer(int64_t delayMs, Callback cb) {
  return impl_->tables.AddTimer(impl_->now + (delayMs > 0 ? delayMs : 0), std::move(cb));
}

void TVirtualLoop::CancelTimer(int timerId) { impl_->tables.CancelTimer(timerId); }

void TVirtualLoop::Sleep(int64_t ms) {
  if (ms > 0) impl_->now += ms;
}

bool TVirtualLoop::WaitReadable(int fd, int64_t maxWaitMs) {
  auto readable = [fd] {
    pollfd p{fd, POLLIN, 0};
    return fd >= 0 && ::poll(&p, 1, 0) > 0;
  };
  if (readable()) return true;
  Sleep(maxWaitMs);
  return readable();
}

bool TVirtualLoop::RunOnce(int64_t maxWaitMs) {
  bool ran = impl_->PollWatches();
  if (impl_->RunTimersDueBy(impl_->now)) ran = true;
  if (ran) return true;
  int64_t wait = maxWaitMs < 0 ? 0 : maxWaitMs;
  if (impl_->tables.HasTimers() && impl_->tables.NextDue() - impl_->now <= wait) {
    return impl_->RunTimersDueBy(impl_->tables.NextDue());
  }
  impl_->now += wait;
  return false;
}

void TVirtualLoop::Advance(int64_t ms) {
  const int64_t target = impl_->now + (ms > 0 ? ms : 0);
  for (;;) {
    impl_->PollWatches();
    if (!impl_->tables.HasTimers() || impl_->tables.NextDue() > target) break;
    impl_->RunTimersDueBy(impl_->tables.NextDue());
  }
  impl_->now = target;
}

int64_t TVirtualLoop::NextTimerInMs() {
  if (!impl_->tables.HasTimers()) return -1;
  int64_t d = impl_->tables.NextDue() - impl_->now;
  return d < 0 ? 0 : d;
}

}  // namespace tv
