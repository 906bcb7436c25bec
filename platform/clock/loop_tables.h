// The bookkeeping the poll() loop and the virtual-time loop share: watched
// descriptors and one-shot timers ordered by (due time, start order).
#pragma once

#include <cstdint>
#include <map>
#include <utility>

#include "platform/clock/event_loop.h"

namespace tv {

class TLoopTables {
 public:
  int AddWatch(int fd, unsigned events, TEventLoop::FdCallback cb);
  void SetWatchEvents(int id, unsigned events);
  void RemoveWatch(int id) { watches_.erase(id); }

  int AddTimer(int64_t due, TEventLoop::Callback cb);
  void CancelTimer(int id);
  bool HasTimers() const { return !timers_.empty(); }
  int64_t NextDue() const { return timers_.begin()->first.first; }
  // Runs, in order, the timers due by limit (also those they start);
  // before each, setNow gets its due time. Returns true when one ran.
  template <typename SetNow>
  bool RunTimersDueBy(int64_t limit, SetNow setNow) {
    bool ran = false;
    while (!timers_.empty() && timers_.begin()->first.first <= limit) {
      auto it = timers_.begin();
      setNow(it->first.first);
      TEventLoop::Callback cb = std::move(it->second);
      due_.erase(it->first.second);
      timers_.erase(it);
      cb();
      ran = true;
    }
    return ran;
  }

  // poll()s the watched descriptors for up to timeoutMs and calls the
  // callbacks of the ready ones. Returns true when one ran.
  bool PollWatches(int64_t timeoutMs);

 private:
  struct Watch {
    int fd;
    unsigned events;
    TEventLoop::FdCallback cb;
  };
  std::map<int, Watch> watches_;
  std::map<std::pair<int64_t, int>, TEventLoop::Callback> timers_;
  std::map<int, int64_t> due_;
  int nextId_ = 1;
};

}  // namespace tv
