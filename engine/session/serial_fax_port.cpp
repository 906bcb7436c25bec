#include "engine/session/serial_fax_port.h"

#include "platform/serial/serial_port.h"

namespace tv {

SerialFaxPort::SerialFaxPort(TSerialPort& port) : port_(port) {}
SerialFaxPort::~SerialFaxPort() { port_.RemoveTriggerHandler(); }

int SerialFaxPort::InputWaiting() { return port_.InputWaiting(); }
int SerialFaxPort::ReadByte() { return port_.ReadByte(); }
int SerialFaxPort::WriteBlock(const uint8_t* data, size_t size) {
  return port_.WriteBlock(data, size);
}
int SerialFaxPort::OutputQueued() { return port_.OutputQueued(); }
int SerialFaxPort::OutputRoom() { return port_.OutputRoom(); }
void SerialFaxPort::DiscardInput() { port_.DiscardInput(); }
void SerialFaxPort::DiscardOutput() { port_.DiscardOutput(); }
void SerialFaxPort::SetLineSignals(bool dtr, bool rts) { port_.SetLineSignals(dtr, rts); }
bool SerialFaxPort::CarrierPresent() { return port_.CarrierPresent(); }
int SerialFaxPort::SetBitRate(int rate) { return port_.SetBitRate(rate); }
int SerialFaxPort::BitRate() { return port_.BitRate(); }
void SerialFaxPort::SetSoftwareFlow(FaxFlow flow) {
  port_.SetSoftwareFlow(flow == FaxFlow::Output ? sfOutput
                        : flow == FaxFlow::Input ? sfInput
                                                 : sfOff);
}
int SerialFaxPort::AvailTrigger() {
  int handle = port_.AvailTrigger();
  return handle > 0 ? handle : port_.SetAvailTrigger(1);
}
int SerialFaxPort::AddTimer() { return port_.AddTimer(); }
int SerialFaxPort::ArmTimer(int handle, long ticks, bool active) {
  return port_.ArmTimer(handle, ticks, active);
}
int SerialFaxPort::AddStatusWatch(int kind) { return port_.AddStatusWatch(kind); }
int SerialFaxPort::ArmStatusWatch(int handle, int level, bool active) {
  return port_.ArmStatusWatch(handle, level, active);
}
int SerialFaxPort::DropTrigger(int handle) { return port_.DropTrigger(handle); }
int SerialFaxPort::SetHandler(Handler handler) {
  return port_.SetTriggerHandler(
      [handler](int msg, int trigger, int32_t) { handler(msg, trigger); });
}
void SerialFaxPort::RemoveHandler() { port_.RemoveTriggerHandler(); }
bool SerialFaxPort::SuspendDelivery(bool on) { return port_.SuspendDelivery(on); }
void SerialFaxPort::DeliverPending() { port_.DeliverPending(); }
uint64_t SerialFaxPort::Ticks() { return static_cast<uint64_t>(port_.NowTicks()); }
void SerialFaxPort::Delay(int milliseconds) { port_.Delay(milliseconds); }

}  // namespace tv
