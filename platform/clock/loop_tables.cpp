#include "platform/clock/loop_tables.h"

#include <poll.h>

#include <cerrno>
#include <vector>

namespace tv {

int TLoopTables::AddWatch(int fd, unsigned events, TEventLoop::FdCallback cb) {
  int id = nextId_++;
  watches_[id] = {fd, events, std::move(cb)};
  return id;
}

void TLoopTables::SetWatchEvents(int id, unsigned events) {
  auto it = watches_.find(id);
  if (it != watches_.end()) it->second.events = events;
}

int TLoopTables::AddTimer(int64_t due, TEventLoop::Callback cb) {
  int id = nextId_++;
  timers_[{due, id}] = std::move(cb);
  due_[id] = due;
  return id;
}

void TLoopTables::CancelTimer(int id) {
  auto it = due_.find(id);
  if (it == due_.end()) return;
  timers_.erase({it->second, id});
  due_.erase(it);
}

bool TLoopTables::PollWatches(int64_t timeoutMs) {
  std::vector<pollfd> fds;
  std::vector<int> ids;
  for (auto& [id, w] : watches_) {
    short ev = 0;
    if (w.events & TEventLoop::ioRead) ev |= POLLIN;
    if (w.events & TEventLoop::ioWrite) ev |= POLLOUT;
    fds.push_back({w.fd, ev, 0});
    ids.push_back(id);
  }
  int timeout = timeoutMs < 0 ? 0 : timeoutMs > 1000000 ? 1000000 : static_cast<int>(timeoutMs);
  if (fds.empty() && timeout == 0) return false;
  int n = ::poll(fds.data(), fds.size(), timeout);
  if (n <= 0) return false;
  bool ran = false;
  for (size_t i = 0; i < fds.size(); ++i) {
    if (!fds[i].revents) continue;
    auto it = watches_.find(ids[i]);
    if (it == watches_.end()) continue;  // removed by an earlier callback
    unsigned events = 0;
    if (fds[i].revents & POLLIN) events |= TEventLoop::ioRead;
    if (fds[i].revents & POLLOUT) events |= TEventLoop::ioWrite;
    if (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) events |= TEventLoop::ioError;
    TEventLoop::FdCallback cb = it->second.cb;  // the callback may unwatch itself
    cb(events);
    ran = true;
  }
  return ran;
}

}  // namespace tv
