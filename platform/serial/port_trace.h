// The trace and the log of a port. The trace records every byte in and out
// with a time stamp and its direction; the log records opening, closing,
// bit-rate and signal changes and flow-control events. Both collect in
// memory and are written to their file on tlDump (replacing it) or tlAppend
// (appending to it).
//
// Trace format: a header line, then one line per run of bytes in one
// direction, broken after a line feed (input) or carriage return (output)
// and every 64 bytes:
//     12.345 out  AT+FCLASS=1<CR>
//     12.400 in   <CR><LF>OK<CR><LF>
// The time is seconds since the trace started. Printable characters stand
// as text; CR, LF, DLE, ETX, XON, XOFF and NUL by name in angle brackets;
// every other byte as two hex digits in angle brackets, e.g. <FF>.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

namespace tv {

// tlOff: nothing is collected. tlOn: collecting. tlDump: write what was
// collected to the file (replacing it), then stop (tlOff). tlAppend: the
// same, appending to the file. tlClear: drop what was collected and go on
// collecting. tlPause: keep what was collected, collect nothing new.
enum TTraceLogState { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause };

enum class TTraceDir { In, Out };

// Formats bytes the way the trace shows them (no time, no direction).
std::string TraceText(const uint8_t* data, size_t size);

// What the trace and the log share: the states and the writing of the file.
class TTraceLogBase {
 public:
  virtual ~TTraceLogBase() = default;
  TTraceLogState State() const { return state_; }
  // Title line written at the top of the file.
  void SetTitle(const std::string& title) { title_ = title; }
  // What was collected, as it would be written.
  virtual std::string Text() const = 0;

 protected:
  // Applies a state change; tlDump/tlAppend write to fileName. Returns 0,
  // the file layer's code when writing failed (what was collected is kept
  // then), or notEnabled for tlDump/tlAppend/tlPause while off.
  int ChangeState(TTraceLogState state, const std::string& fileName, int notEnabled);
  // Forgets what was collected.
  virtual void Drop() = 0;

  TTraceLogState state_ = tlOff;
  int64_t startMs_ = -1;
  std::string title_;
};

class TPortTrace : public TTraceLogBase {
 public:
  // maxBytes: how many bytes of traffic are kept; older ones drop out.
  explicit TPortTrace(size_t maxBytes = 10000) : maxBytes_(maxBytes) {}

  void SetMaxBytes(size_t maxBytes);
  size_t MaxBytes() const { return maxBytes_; }
  // -3008 for tlDump/tlAppend/tlPause while tracing is off.
  int SetState(TTraceLogState state, const std::string& fileName);
  void Record(int64_t nowMs, TTraceDir dir, const uint8_t* data, size_t size);
  std::string Text() const override;

 private:
  struct Entry {
    int64_t ms;
    TTraceDir dir;
    std::string bytes;
  };
  void Drop() override;
  void Trim();
  size_t maxBytes_;
  size_t bytes_ = 0;
  std::deque<Entry> entries_;
};

class TPortLog : public TTraceLogBase {
 public:
  // -3009 for tlDump/tlAppend/tlPause while logging is off.
  int SetState(TTraceLogState state, const std::string& fileName);
  // Adds one line "seconds  text" (only while tlOn).
  void Add(int64_t nowMs, const std::string& text);
  std::string Text() const override;

 private:
  void Drop() override { lines_.clear(); }
  std::deque<std::string> lines_;
};

}  // namespace tv
