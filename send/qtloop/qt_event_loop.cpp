#include "send/qtloop/qt_event_loop.h"

#include <poll.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <map>
#include <memory>
#include <vector>

#include "platform/clock/poll_loop.h"

namespace tv {

struct TQtEventLoop::Impl {
  struct Watch {
    int fd;
    unsigned events = 0;
    FdCallback cb;
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
  };
  QElapsedTimer clock;
  std::map<int, std::unique_ptr<Watch>> watches;
  std::map<int, std::unique_ptr<QTimer>> timers;
  int nextId = 1;
  // Counts callbacks, so that RunOnce can tell whether one ran.
  unsigned long long dispatched = 0;
  // Busy waits and descriptor waits without dispatching.
  TPollLoop blocking;
  // Notifiers and timers are never deleted inside their own signal: they
  // wait here until no RunOnce is on the stack.
  std::vector<std::unique_ptr<QObject>> graveyard;
  int depth = 0;

  void Bury(std::unique_ptr<QObject> object) {
    graveyard.push_back(std::move(object));
  }

  void Fire(int id, unsigned ready) {
    auto it = watches.find(id);
    if (it == watches.end()) return;
    // A hang-up shows as readable; tell the callback about it as ioError.
    pollfd p{it->second->fd, 0, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) ready |= ioError;
    FdCallback cb = it->second->cb;  // the callback may unwatch itself
    ++dispatched;
    cb(ready);
  }

  void Apply(int id, Watch& w) {
    w.read->setEnabled((w.events & ioRead) != 0);
    w.write->setEnabled((w.events & ioWrite) != 0);
    (void)id;
  }
};

TQtEventLoop::TQtEventLoop() : impl_(std::make_unique<Impl>()) { impl_->clock.start(); }

TQtEventLoop::~TQtEventLoop() = default;

int64_t TQtEventLoop::NowMs() { return impl_->blocking.NowMs(); }

int TQtEventLoop::WatchFd(int fd, unsigned events, FdCallback cb) {
  int id = impl_->nextId++;
  auto w = std::make_unique<Impl::Watch>();
  w->fd = fd;
  w->events = events;
  w->cb = std::move(cb);
  w->read = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  w->write = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
  Impl* impl = impl_.get();
  QObject::connect(w->read.get(), &QSocketNotifier::activated,
                   [impl, id] { impl->Fire(id, ioRead); });
  QObject::connect(w->write.get(), &QSocketNotifier::activated,
                   [impl, id] { impl->Fire(id, ioWrite); });
  impl_->Apply(id, *w);
  impl_->watches[id] = std::move(w);
  return id;
}

void TQtEventLoop::SetWatchEvents(int watchId, unsigned events) {
  auto it = impl_->watches.find(watchId);
  if (it == impl_->watches.end()) return;
  it->second->events = events;
  impl_->Apply(watchId, *it->second);
}

void TQtEventLoop::Unwatch(int watchId) {
  auto it = impl_->watches.find(watchId);
  if (it == impl_->watches.end()) return;
  it->second->read->setEnabled(false);
  it->second->write->setEnabled(false);
  impl_->Bury(std::move(it->second->read));
  impl_->Bury(std::move(it->second->write));
  impl_->watches.erase(it);
}

int TQtEventLoop::StartTimer(int64_t delayMs, Callback cb) {
  int id = impl_->nextId++;
  auto timer = std::make_unique<QTimer>();
  timer->setSingleShot(true);
  timer->setTimerType(Qt::PreciseTimer);
  Impl* impl = impl_.get();
  QObject::connect(timer.get(), &QTimer::timeout, [impl, id, cb = std::move(cb)] {
    auto it = impl->timers.find(id);
    if (it == impl->timers.end()) return;
    Callback run = cb;
    impl->Bury(std::move(it->second));
    impl->timers.erase(it);
    ++impl->dispatched;
    run();
  });
  timer->start(static_cast<int>(delayMs < 0 ? 0 : std::min<int64_t>(delayMs, 0x7FFFFFFF)));
  impl_->timers[id] = std::move(timer);
  return id;
}

void TQtEventLoop::CancelTimer(int timerId) {
  auto it = impl_->timers.find(timerId);
  if (it == impl_->timers.end()) return;
  it->second->stop();
  impl_->Bury(std::move(it->second));
  impl_->timers.erase(it);
}

void TQtEventLoop::Sleep(int64_t ms) { impl_->blocking.Sleep(ms); }

bool TQtEventLoop::WaitReadable(int fd, int64_t maxWaitMs) {
  return impl_->blocking.WaitReadable(fd, maxWaitMs);
}

bool TQtEventLoop::RunOnce(int64_t maxWaitMs) {
  const unsigned long long before = impl_->dispatched;
  QEventLoop loop;
  QTimer limit;
  limit.setSingleShot(true);
  QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
  limit.start(static_cast<int>(maxWaitMs < 0 ? 0 : std::min<int64_t>(maxWaitMs, 0x7FFFFFFF)));
  // One round of waiting for and processing events.
  ++impl_->depth;
  loop.processEvents(QEventLoop::WaitForMoreEvents);
  --impl_->depth;
  if (impl_->depth == 0) impl_->graveyard.clear();
  return impl_->dispatched != before;
}

}  // namespace tv
