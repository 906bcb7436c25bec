// A fax port on virtual time for the state-machine tests: replies are
// scheduled at virtual moments, timers and status watches fire as the
// serial port service would fire them, and RunUntil moves time on to the
// next event whenever nothing is left to deliver. Emulated modems derive
// from it and answer what the engine writes.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/session/fax_port.h"

namespace tv::test {

class VirtualPort : public FaxPort {
 public:
  ~VirtualPort() override = default;

  // Runs events until done() or the virtual time limit; false also when
  // the machine takes events without end at one moment (it spins).
  bool RunUntil(const std::function<bool()>& done, int64_t limitMs = 900000);
  int64_t NowMs() const { return now_; }

  // FaxPort.
  int InputWaiting() override { return static_cast<int>(input_.size()); }
  int ReadByte() override;
  int OutputQueued() override { return 0; }
  int OutputRoom() override { return 8192; }
  void DiscardInput() override { input_.clear(); }
  void DiscardOutput() override {}
  void SetLineSignals(bool, bool) override {}
  bool CarrierPresent() override { return false; }
  int SetBitRate(int rate) override { rate_ = rate; return 0; }
  int BitRate() override { return rate_; }
  void SetSoftwareFlow(FaxFlow) override {}
  int AvailTrigger() override { return 1; }
  int AddTimer() override;
  int ArmTimer(int handle, long ticks, bool active) override;
  int AddStatusWatch(int kind) override;
  int ArmStatusWatch(int handle, int level, bool active) override;
  int DropTrigger(int handle) override { return triggers_.erase(handle) ? 0 : -5003; }
  int SetHandler(Handler handler) override { handler_ = std::move(handler); return 0; }
  void RemoveHandler() override { handler_ = nullptr; }
  bool SuspendDelivery(bool on) override { bool was = suspended_; suspended_ = on; return was; }
  void DeliverPending() override { TakeDue(); }
  uint64_t Ticks() override { return static_cast<uint64_t>(now_ / 55); }
  void Delay(int ms) override { now_ += ms; }

 protected:
  // availOnNewData: the avail event fires only when bytes arrived since the
  // last one, as on a serial port; otherwise whenever input waits.
  explicit VirtualPort(bool availOnNewData) : availOnNewData_(availOnNewData) {}

  // Replies arrive in order, each delayMs after the one before (or after
  // now, when that is later).
  void Reply(const std::string& text, int64_t delayMs = 30);
  void ReplyBytes(const std::vector<uint8_t>& bytes, int64_t delayMs = 30);
  // Moves the replies that are due into the input.
  void TakeDue();

  int64_t now_ = 0;
  std::deque<uint8_t> input_;
  std::multimap<int64_t, std::vector<uint8_t>> scheduled_;  // replies by arrival time
  int64_t lastReplyAt_ = 0;

 private:
  struct Trigger { int kind = 0; int level = 0; bool armed = false; int64_t due = 0; };

  bool availOnNewData_;
  bool newData_ = false;
  int rate_ = 19200;
  bool suspended_ = false;
  Handler handler_;
  std::map<int, Trigger> triggers_;
  int nextHandle_ = 2;
};

}  // namespace tv::test
