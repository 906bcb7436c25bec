#include "virtual_port.h"

#include <algorithm>

#include "platform/serial/serial_port.h"

namespace tv::test {

int VirtualPort::ReadByte() {
  if (input_.empty()) return -1;
  int byte = input_.front();
  input_.pop_front();
  return byte;
}

int VirtualPort::AddTimer() {
  triggers_[nextHandle_] = Trigger{0, 0, false, 0};
  return nextHandle_++;
}

int VirtualPort::ArmTimer(int handle, long ticks, bool active) {
  auto it = triggers_.find(handle);
  if (it == triggers_.end()) return -5003;
  it->second.armed = active;
  it->second.due = now_ + ticks * 55;
  return 0;
}

int VirtualPort::AddStatusWatch(int kind) {
  triggers_[nextHandle_] = Trigger{kind, 0, false, 0};
  return nextHandle_++;
}

int VirtualPort::ArmStatusWatch(int handle, int level, bool active) {
  auto it = triggers_.find(handle);
  if (it == triggers_.end()) return -5003;
  it->second.level = level;
  it->second.armed = active;
  return 0;
}

void VirtualPort::ReplyBytes(const std::vector<uint8_t>& bytes, int64_t delayMs) {
  int64_t at = std::max(now_, lastReplyAt_) + delayMs;
  lastReplyAt_ = at;
  scheduled_.emplace(at, bytes);
}

void VirtualPort::Reply(const std::string& text, int64_t delayMs) {
  std::string framed = "\r\n" + text + "\r\n";
  ReplyBytes(std::vector<uint8_t>(framed.begin(), framed.end()), delayMs);
}

void VirtualPort::TakeDue() {
  while (!scheduled_.empty() && scheduled_.begin()->first <= now_) {
    const auto& bytes = scheduled_.begin()->second;
    input_.insert(input_.end(), bytes.begin(), bytes.end());
    newData_ = true;
    scheduled_.erase(scheduled_.begin());
  }
}

bool VirtualPort::RunUntil(const std::function<bool()>& done, int64_t limitMs) {
  int64_t lastNow = -1;
  int runsAtOneTime = 0;
  while (!done()) {
    if (now_ > limitMs) return false;
    if (now_ != lastNow) {
      lastNow = now_;
      runsAtOneTime = 0;
    } else if (++runsAtOneTime > 100000) {
      return false;  // events without end at one moment: the machine spins
    }
    TakeDue();
    if (handler_ && !suspended_) {
      bool ran = false;
      if (!input_.empty() && (newData_ || !availOnNewData_)) {
        newData_ = false;
        handler_(TriggerAvailMsg, 1);
        ran = true;
      }
      for (auto& [handle, t] : triggers_) {
        if (!t.armed || !handler_) continue;
        bool fire = t.kind == 0 ? t.due <= now_
                    : t.kind == stOutputFree ? OutputRoom() >= t.level
                    : t.kind == stOutputUsed ? OutputQueued() <= t.level
                                             : false;
        if (!fire) continue;
        t.armed = false;
        handler_(t.kind == 0 ? TriggerTimerMsg : TriggerStatusMsg, handle);
        ran = true;
        break;  // the handler may have changed the triggers
      }
      if (ran) continue;
    }
    // Nothing to deliver: move time to the next event.
    int64_t next = limitMs + 1;
    if (!scheduled_.empty()) next = std::min(next, scheduled_.begin()->first);
    for (auto& [handle, t] : triggers_)
      if (t.armed && t.kind == 0) next = std::min(next, t.due);
    if (!handler_ && scheduled_.empty()) return done();
    now_ = std::max(now_ + 1, next);
  }
  return true;
}

}  // namespace tv::test
