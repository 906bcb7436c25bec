// What the line needs of an emulated fax modem, whichever class it speaks:
// bytes from and to the computer, audio to and from the line, and the call
// events of the line. TTvLineModem (Class 1) and TTvLineClass2Modem (Class 2
// and 2.0) implement it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tv::line {

// What the modem tells the call it is part of. Called from inside the modem's
// processing: a listener queues its reaction (a call event for this or
// another modem) and runs it after the modem's call has returned.
class TTvLineModemListener {
 public:
  virtual ~TTvLineModemListener() = default;
  virtual void ModemDialled(int modem, const std::string& number) = 0;
  virtual void ModemAnswered(int modem) = 0;
  virtual void ModemOnHook(int modem) = 0;
};

class TTvLineFaxModem {
 public:
  virtual ~TTvLineFaxModem() = default;

  // Adds bytes from the computer to the input queue.
  virtual void Input(const uint8_t* data, size_t len) = 0;
  // How many more bytes the input queue takes; the caller stops reading from
  // the computer at 0.
  virtual size_t InputRoom() const = 0;
  // Works through queued input. Call once before each block of audio.
  virtual void FeedInput() = 0;

  // Audio: Transmit fills amp with n samples, Receive takes n samples.
  virtual void Transmit(int16_t* amp, int n) = 0;
  virtual void Receive(int16_t* amp, int n) = 0;

  // A call event (AT_CALL_EVENT_...) on the modem's line.
  virtual void CallEvent(int event) = 0;

  // True while the modem takes page data from the computer: there 0x11 and
  // 0x13 are data, never flow control.
  virtual bool TakingTransmitData() const = 0;
  // Page data queued in the modem; flow control towards the computer follows it.
  virtual size_t BufferedTransmitData() const = 0;
  virtual bool OffHook() const = 0;

  virtual void EnableLog(const char* tag) = 0;
};

}  // namespace tv::line
