#include "platform/clock/event_loop.h"

namespace tv {

bool TEventLoop::RunUntil(const std::function<bool()>& done, int64_t timeoutMs) {
  const int64_t deadline = NowMs() + timeoutMs;
  while (!done()) {
    const int64_t remaining = deadline - NowMs();
    if (remaining <= 0) break;
    RunOnce(remaining);
  }
  return done();
}

}  // namespace tv
