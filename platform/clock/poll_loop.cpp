#include "platform/clock/poll_loop.h"

#include <poll.h>
#include <time.h>

#include <cerrno>
#include <chrono>
#include <vector>

namespace tv {

namespace {

int64_t MonotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int PollTimeout(int64_t ms) {
  if (ms < 0) return 0;
  if (ms > 1000000) return 1000000;
  return static_cast<int>(ms);
}

}  // namespace

struct TPollLoop::Impl {
  struct Watch {
    int fd;
    unsigned events;
    FdCallback cb;
  };
  struct Timer {
    int64_t due;
    Callback cb;
  };
  std::map<int, Watch> watches;
  // Ordered by (due, id), so that timers due together run in start order.
  std::map<std::pair<int64_t, int>, Callback> timers;
  std::map<int, int64_t> timerDue;
  int nextId = 1;

  bool RunDueTimers(int64_t now) {
    bool ran = false;
    while (!timers.empty() && timers.begin()->first.first <= now) {
      auto it = timers.begin();
      Callback cb = std::move(it->second);
      timerDue.erase(it->first.second);
      timers.erase(it);
      cb();
      ran = true;
    }
    return ran;
  }
};

TPollLoop::TPollLoop() : impl_(std::make_unique<Impl>()) {}
TPollLoop::~TPollLoop() = default;

int64_t TPollLoop::NowMs() { return MonotonicMs(); }

int TPollLoop::WatchFd(int fd, unsigned events, FdCallback cb) {
  int id = impl_->nextId++;
  impl_->watches[id] = {fd, events, std::move(cb)};
  return id;
}

void TPollLoop::SetWatchEvents(int watchId, unsigned events) {
  auto it = impl_->watches.find(watchId);
  if (it != impl_->watches.end()) it->second.events = events;
}

void TPollLoop::Unwatch(int watchId) { impl_->watches.erase(watchId); }

int TPollLoop::StartTimer(int64_t delayMs, Callback cb) {
  int id = impl_->nextId++;
  int64_t due = NowMs() + (delayMs > 0 ? delayMs : 0);
  impl_->timers[{due, id}] = std::move(cb);
  impl_->timerDue[id] = due;
  return id;
}

void TPollLoop::CancelTimer(int timerId) {
  auto it = impl_->timerDue.find(timerId);
  if (it == impl_->timerDue.end()) return;
  impl_->timers.erase({it->second, timerId});
  impl_->timerDue.erase(it);
}

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
    pollfd p{fd, POLLIN, 0};
    int n = ::poll(&p, 1, PollTimeout(deadline - NowMs()));
    if (n > 0) return true;
    if (n == 0 || errno != EINTR) return false;
  }
}

bool TPollLoop::RunOnce(int64_t maxWaitMs) {
  int64_t now = NowMs();
  int64_t wait = maxWaitMs < 0 ? 0 : maxWaitMs;
  if (!impl_->timers.empty()) {
    int64_t untilTimer = impl_->timers.begin()->first.first - now;
    if (untilTimer < wait) wait = untilTimer < 0 ? 0 : untilTimer;
  }
  std::vector<pollfd> fds;
  std::vector<int> ids;
  for (auto& [id, w] : impl_->watches) {
    short ev = 0;
    if (w.events & ioRead) ev |= POLLIN;
    if (w.events & ioWrite) ev |= POLLOUT;
    fds.push_back({w.fd, ev, 0});
    ids.push_back(id);
  }
  bool ran = false;
  int n = ::poll(fds.data(), fds.size(), PollTimeout(wait));
  if (n > 0) {
    for (size_t i = 0; i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      auto it = impl_->watches.find(ids[i]);
      if (it == impl_->watches.end()) continue;  // removed by an earlier callback
      unsigned events = 0;
      if (fds[i].revents & POLLIN) events |= ioRead;
      if (fds[i].revents & POLLOUT) events |= ioWrite;
      if (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) events |= ioError;
      FdCallback cb = it->second.cb;  // the callback may unwatch itself
      cb(events);
      ran = true;
    }
  }
  if (impl_->RunDueTimers(NowMs())) ran = true;
  return ran;
}

}  // namespace tv
