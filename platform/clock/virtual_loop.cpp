#include "platform/clock/virtual_loop.h"

#include <poll.h>

#include <map>
#include <vector>

namespace tv {

struct TVirtualLoop::Impl {
  struct Watch {
    int fd;
    unsigned events;
    FdCallback cb;
  };
  int64_t now = 0;
  std::map<int, Watch> watches;
  std::map<std::pair<int64_t, int>, Callback> timers;
  std::map<int, int64_t> timerDue;
  int nextId = 1;

  bool RunTimersDueBy(int64_t t) {
    bool ran = false;
    while (!timers.empty() && timers.begin()->first.first <= t) {
      auto it = timers.begin();
      if (it->first.first > now) now = it->first.first;
      Callback cb = std::move(it->second);
      timerDue.erase(it->first.second);
      timers.erase(it);
      cb();
      ran = true;
    }
    return ran;
  }

  // Real descriptors are polled without waiting: virtual time cannot wait
  // for them.
  bool PollWatches() {
    if (watches.empty()) return false;
    std::vector<pollfd> fds;
    std::vector<int> ids;
    for (auto& [id, w] : watches) {
      short ev = 0;
      if (w.events & ioRead) ev |= POLLIN;
      if (w.events & ioWrite) ev |= POLLOUT;
      fds.push_back({w.fd, ev, 0});
      ids.push_back(id);
    }
    bool ran = false;
    if (::poll(fds.data(), fds.size(), 0) <= 0) return false;
    for (size_t i = 0; i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      auto it = watches.find(ids[i]);
      if (it == watches.end()) continue;
      unsigned events = 0;
      if (fds[i].revents & POLLIN) events |= ioRead;
      if (fds[i].revents & POLLOUT) events |= ioWrite;
      if (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) events |= ioError;
      FdCallback cb = it->second.cb;
      cb(events);
      ran = true;
    }
    return ran;
  }
};

TVirtualLoop::TVirtualLoop(int64_t startMs) : impl_(std::make_unique<Impl>()) {
  impl_->now = startMs;
}
TVirtualLoop::~TVirtualLoop() = default;

int64_t TVirtualLoop::NowMs() { return impl_->now; }

int TVirtualLoop::WatchFd(int fd, unsigned events, FdCallback cb) {
  int id = impl_->nextId++;
  impl_->watches[id] = {fd, events, std::move(cb)};
  return id;
}

void TVirtualLoop::SetWatchEvents(int watchId, unsigned events) {
  auto it = impl_->watches.find(watchId);
  if (it != impl_->watches.end()) it->second.events = events;
}

void TVirtualLoop::Unwatch(int watchId) { impl_->watches.erase(watchId); }

int TVirtualLoop::StartTimer(int64_t delayMs, Callback cb) {
  int id = impl_->nextId++;
  int64_t due = impl_->now + (delayMs > 0 ? delayMs : 0);
  impl_->timers[{due, id}] = std::move(cb);
  impl_->timerDue[id] = due;
  return id;
}

void TVirtualLoop::CancelTimer(int timerId) {
  auto it = impl_->timerDue.find(timerId);
  if (it == impl_->timerDue.end()) return;
  impl_->timers.erase({it->second, timerId});
  impl_->timerDue.erase(it);
}

void TVirtualLoop::Sleep(int64_t ms) {
  if (ms > 0) impl_->now += ms;
}

bool TVirtualLoop::WaitReadable(int fd, int64_t maxWaitMs) {
  if (fd >= 0) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) > 0) return true;
  }
  Sleep(maxWaitMs);
  if (fd < 0) return false;
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

bool TVirtualLoop::RunOnce(int64_t maxWaitMs) {
  bool ran = impl_->PollWatches();
  if (impl_->RunTimersDueBy(impl_->now)) ran = true;
  if (ran) return true;
  int64_t wait = maxWaitMs < 0 ? 0 : maxWaitMs;
  if (!impl_->timers.empty() && impl_->timers.begin()->first.first - impl_->now <= wait) {
    return impl_->RunTimersDueBy(impl_->timers.begin()->first.first);
  }
  impl_->now += wait;
  return false;
}

void TVirtualLoop::Advance(int64_t ms) {
  const int64_t target = impl_->now + (ms > 0 ? ms : 0);
  for (;;) {
    impl_->PollWatches();
    if (impl_->timers.empty() || impl_->timers.begin()->first.first > target) break;
    impl_->RunTimersDueBy(impl_->timers.begin()->first.first);
  }
  impl_->now = target;
}

int64_t TVirtualLoop::NextTimerInMs() {
  if (impl_->timers.empty()) return -1;
  int64_t d = impl_->timers.begin()->first.first - impl_->now;
  return d < 0 ? 0 : d;
}

}  // namespace tv
