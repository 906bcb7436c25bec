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

class TPortTrace {
 public:
  // maxBytes: how many bytes of traffic are kept; older ones drop out.
  explicit TPortTrace(size_t maxBytes = 10000) : maxBytes_(maxBytes) {}

  void SetMaxBytes(size_t maxBytes);
  size_t MaxBytes() const { return maxBytes_; }
  TTraceLogState State() const { return state_; }
  // Applies a state change; tlDump/tlAppend write to fileName. Returns 0 or
  // the file layer's code when writing failed (what was collected is kept
  // then), -3008 when tlDump/tlAppend finds nothing ever collected.
  int SetState(TTraceLogState state, const std::string& fileName);

  // Title line written at the top of the file.
  void SetTitle(const std::string& title) { title_ = title; }
  void Record(int64_t nowMs, TTraceDir dir, const uint8_t* data, size_t size);
  // The collected trace as it would be written.
  std::string Text() const;

 private:
  struct Entry {
    int64_t ms;
    TTraceDir dir;
    std::string bytes;
  };
  void Trim();
  TTraceLogState state_ = tlOff;
  size_t maxBytes_;
  size_t bytes_ = 0;
  int64_t startMs_ = -1;
  bool everOn_ = false;
  std::string title_;
  std::deque<Entry> entries_;
};

class TPortLog {
 public:
  TTraceLogState State() const { return state_; }
  // As TPortTrace::SetState; -3009 when nothing was ever collected.
  int SetState(TTraceLogState state, const std::string& fileName);
  void SetTitle(const std::string& title) { title_ = title; }
  // Adds one line "seconds  text" (only while tlOn).
  void Add(int64_t nowMs, const std::string& text);
  std::string Text() const;

 private:
  TTraceLogState state_ = tlOff;
  int64_t startMs_ = -1;
  bool everOn_ = false;
  std::string title_;
  std::deque<std::string> lines_;
};

}  // namespace tv
