// The engine's view of a port (FaxPort) over an open TSerialPort of the
// serial port service.
#pragma once

#include "engine/session/fax_port.h"

namespace tv {

class TSerialPort;

class SerialFaxPort : public FaxPort {
 public:
  explicit SerialFaxPort(TSerialPort& port);
  ~SerialFaxPort() override;

  TSerialPort& Port() { return port_; }

  int InputWaiting() override;
  int ReadByte() override;
  int WriteBlock(const uint8_t* data, size_t size) override;
  int OutputQueued() override;
  int OutputRoom() override;
  void DiscardInput() override;
  void DiscardOutput() override;
  void SetLineSignals(bool dtr, bool rts) override;
  bool CarrierPresent() override;
  int SetBitRate(int rate) override;
  int BitRate() override;
  void SetSoftwareFlow(FaxFlow flow) override;
  int AvailTrigger() override;
  int AddTimer() override;
  int ArmTimer(int handle, long ticks, bool active) override;
  int AddStatusWatch(int kind) override;
  int ArmStatusWatch(int handle, int level, bool active) override;
  int DropTrigger(int handle) override;
  int SetHandler(Handler handler) override;
  void RemoveHandler() override;
  bool SuspendDelivery(bool on) override;
  void DeliverPending() override;
  uint64_t Ticks() override;
  void Delay(int milliseconds) override;

 private:
  TSerialPort& port_;
};

}  // namespace tv
