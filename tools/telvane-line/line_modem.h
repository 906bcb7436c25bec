// An emulated Class 1 fax modem: spandsp's T.31 modem with the handling a
// real modem gives the bytes arriving from the computer.
//
// The T.31 modem takes bytes in calls that must not mix modes: whatever
// follows DLE ETX in a page-data call is lost, a command line followed by data
// is read as one command, its transmit buffer silently drops data when it
// overflows and its HDLC buffer has no bounds check at all. TTvLineModem keeps
// the computer's bytes in its own input queue and hands them over in pieces
// that end at a CR in command mode and at DLE ETX in data modes, never more
// than the transmit buffer has room for, and one HDLC frame at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/telvane-line/line_fax_modem.h"
#include "tools/telvane-line/line_spandsp.h"

namespace tv::line {

class TTvLineModem : public TTvLineFaxModem {
 public:
  // Bytes the modem sends to the computer.
  using TOutput = std::function<void(const uint8_t* data, size_t len)>;

  TTvLineModem(int index, TTvLineModemListener* listener, TOutput output);
  ~TTvLineModem() override;
  TTvLineModem(const TTvLineModem&) = delete;
  TTvLineModem& operator=(const TTvLineModem&) = delete;

  // Adds bytes from the computer to the input queue.
  void Input(const uint8_t* data, size_t len) override;
  // How many more bytes the input queue takes before the modem counts as
  // full; the caller stops reading from the computer at 0.
  size_t InputRoom() const override;
  // Hands queued input to the T.31 modem as far as its current mode and
  // buffer allow. Call once before each block of audio.
  void FeedInput() override;

  // Audio: Transmit fills amp with n samples, Receive takes n samples.
  void Transmit(int16_t* amp, int n) override;
  void Receive(int16_t* amp, int n) override;

  // A call event (AT_CALL_EVENT_...) on the modem's line.
  void CallEvent(int event) override;

  // True while the T.31 modem takes page data or HDLC frames from the computer:
  // there 0x11 and 0x13 are data, never flow control.
  bool TakingTransmitData() const override;
  // Page data and frames queued in the modem: its input queue plus what its
  // transmit buffer holds. Flow control towards the computer follows it.
  size_t BufferedTransmitData() const override;
  bool OffHook() const override { return offHook_; }
  int Index() const { return index_; }

  void EnableLog(const char* tag) override;
  // What the modem answers to AT+FCLASS=? instead of the T.31 modem's own
  // reply; empty keeps that.
  void SetClassesReply(const std::string& text) { classesReply_ = text; }

  // Counts for tests and the log.
  size_t DroppedFrameBytes() const { return droppedFrameBytes_; }
  size_t DiscardedInput() const { return discardedInput_; }

  t31_state_t* State() { return t31_; }

 private:
  static int AtTxHandler(at_state_t* s, void* user, const uint8_t* buf, size_t len);
  static int ModemControlHandler(t31_state_t* s, void* user, int op, const char* num);

  size_t TakeCommand(const uint8_t* p, size_t n) const;
  size_t TakeFrame(const uint8_t* p, size_t n, bool* ended);
  size_t TakePageData(const uint8_t* p, size_t n) const;
  bool AnswerClassQuery(const uint8_t* p, size_t n);

  int index_;
  TTvLineModemListener* listener_;
  TOutput output_;
  t31_state_t* t31_ = nullptr;

  std::vector<uint8_t> input_;
  size_t head_ = 0;
  bool offHook_ = false;
  // After a frame's DLE ETX the next frame waits for the modem's CONNECT or OK.
  bool awaitingReply_ = false;
  bool replied_ = false;
  // A frame that grew too long: its remaining bytes are dropped up to DLE ETX.
  bool cuttingFrame_ = false;
  bool cutDled_ = false;
  // Blocks spent in AT_MODE_CONNECTED, where the T.31 modem ignores input.
  int connectedBlocks_ = 0;
  size_t droppedFrameBytes_ = 0;
  size_t discardedInput_ = 0;
  std::string tag_;
  std::string classesReply_;
};

}  // namespace tv::line
