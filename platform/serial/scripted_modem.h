// A scripted modem in the same process, for tests on virtual time: a port
// is wired to it instead of a device, and the script says what the program
// must send and what the modem answers, and when.
//
//   TVirtualLoop loop;
//   TScriptedModem modem(loop);
//   modem.Expect("AT+FCLASS=1\r").Reply("\r\nOK\r\n", 2)
//        .Expect("ATD5551234\r").Reply("\r\nCONNECT\r\n", SecondsToTicks(20))
//        .ReplyBytes({0xFF, 0x03, 0x40, ...})
//        .ExpectUntil("\x10\x03", &pageData).Reply("\r\nOK\r\n");
//   TSerialPort port(loop, modem.Connect());
//   ... run the engine ...
//   EXPECT_TRUE(modem.Finished()) << modem.Report();
//
// Steps run in order. An Expect step waits until the program has sent
// exactly its bytes; anything else is a failure, recorded with the step,
// what was expected, what came and when, and the script stops there (later
// bytes are kept in the transcript). A Reply step sends its bytes delay
// ticks after the step before it completed. Replies at the start of the
// script (a RING, say) are sent without any command.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/serial/line_device.h"

namespace tv {

class TEventLoop;
class TScriptedLine;

class TScriptedModem {
 public:
  explicit TScriptedModem(TEventLoop& loop);
  ~TScriptedModem();
  TScriptedModem(const TScriptedModem&) = delete;
  TScriptedModem& operator=(const TScriptedModem&) = delete;

  // The program must send exactly these bytes next.
  TScriptedModem& Expect(const std::string& bytes);
  TScriptedModem& ExpectBytes(const std::vector<uint8_t>& bytes);
  // The program sends any bytes up to and including terminator (page data
  // ending in DLE ETX, say); they are stored in *captured when given.
  TScriptedModem& ExpectUntil(const std::string& terminator, std::string* captured = nullptr);
  // The modem sends text (or raw bytes) delayTicks after the previous step.
  TScriptedModem& Reply(const std::string& text, int64_t delayTicks = 0);
  TScriptedModem& ReplyBytes(const std::vector<uint8_t>& bytes, int64_t delayTicks = 0);
  TScriptedModem& ReplyAfterMs(const std::string& text, int64_t delayMs);
  // The modem raises or drops carrier (DCD) delayTicks after the previous
  // step.
  TScriptedModem& Carrier(bool present, int64_t delayTicks = 0);
  // The device goes away (a USB modem unplugged): reads and writes fail.
  TScriptedModem& Vanish(int64_t delayTicks = 0);
  // Runs a callback of the test at this point of the script.
  TScriptedModem& Then(std::function<void()> action);

  // While true (the default), bytes the program sends after the script has
  // ended are a failure; false ignores them.
  void SetStrictEnd(bool strict) { strictEnd_ = strict; }
  // Sets the modem's CTS line at once (hardware flow tests).
  void SetCts(bool on);
  // Output room of the modem's own buffer (bytes it takes per write); 0 is
  // unlimited. Bytes are drained at drainBytesPerSecond (0: at once).
  void SetOutputModel(size_t room, int drainBytesPerSecond);

  // A line device wired to this modem (one at a time).
  std::unique_ptr<TLineDevice> Connect();
  // An opener for TTvComPort::SetDeviceOpener.
  std::function<int(const std::string&, const TLineSettings&, std::unique_ptr<TLineDevice>&,
                    std::string&)>
  Opener();

  // Every step done and no failure.
  bool Finished() const;
  bool Failed() const { return !failure_.empty(); }
  // The first failure, e.g.
  //   step 3 (expect "AT+FCLASS=1<CR>"): the program sent "AT+FCLASS=2<CR>"
  //   at 0.340 s
  const std::string& Failure() const { return failure_; }
  // The failure (or what is still pending) and the transcript.
  std::string Report() const;
  // Every byte both ways, in the trace format, with signal changes.
  std::string Transcript() const;
  // All bytes the program sent.
  const std::string& Received() const { return received_; }
  bool Dtr() const { return dtr_; }
  bool Rts() const { return rts_; }
  const TLineSettings& Settings() const { return settings_; }

 private:
  struct Impl;
  friend class TScriptedLine;
  std::shared_ptr<Impl> impl_;
  bool strictEnd_ = true;
  std::string failure_;
  std::string received_;
  bool dtr_ = true;
  bool rts_ = true;
  TLineSettings settings_;
};

}  // namespace tv
