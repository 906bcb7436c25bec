#include "platform/serial/port_trace.h"

#include <cerrno>
#include <cstdio>
#include <fstream>

#include "platform/core/error_codes.h"

namespace tv {

namespace {

// Bytes of one direction are joined into one trace line while they come
// within this many milliseconds of the line's start.
constexpr int64_t kJoinMs = 50;
constexpr size_t kLineBytes = 64;

std::string Seconds(int64_t ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%9lld.%03lld", static_cast<long long>(ms / 1000),
                static_cast<long long>(ms % 1000));
  return buf;
}

int WriteFile(const std::string& fileName, const std::string& text, bool append) {
  if (fileName.empty()) return ecFileNotFound;
  std::ofstream out(fileName, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
  if (!out) return FileErrorFromErrno(errno);
  out << text;
  out.flush();
  if (!out) return ecDeviceWriteError;
  return 0;
}

}  // namespace

std::string TraceText(const uint8_t* data, size_t size) {
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    uint8_t b = data[i];
    switch (b) {
      case 0x0D: out += "<CR>"; continue;
      case 0x0A: out += "<LF>"; continue;
      case 0x10: out += "<DLE>"; continue;
      case 0x03: out += "<ETX>"; continue;
      case 0x11: out += "<XON>"; continue;
      case 0x13: out += "<XOFF>"; continue;
      case 0x00: out += "<NUL>"; continue;
      case '<': out += "<3C>"; continue;  // so that a literal '<' cannot be misread
      default: break;
    }
    if (b >= 0x20 && b < 0x7F) {
      out += static_cast<char>(b);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "<%02X>", b);
      out += hex;
    }
  }
  return out;
}

void TPortTrace::SetMaxBytes(size_t maxBytes) {
  maxBytes_ = maxBytes == 0 ? 1 : maxBytes;
  Trim();
}

void TPortTrace::Trim() {
  while (bytes_ > maxBytes_ && !entries_.empty()) {
    Entry& first = entries_.front();
    size_t excess = bytes_ - maxBytes_;
    if (first.bytes.size() <= excess) {
      bytes_ -= first.bytes.size();
      entries_.pop_front();
    } else {
      first.bytes.erase(0, excess);
      bytes_ -= excess;
    }
  }
}

int TTraceLogBase::ChangeState(TTraceLogState state, const std::string& fileName,
                               int notEnabled) {
  switch (state) {
    case tlOn:
      if (state_ == tlOff) {
        Drop();
        startMs_ = -1;
      }
      state_ = tlOn;
      return 0;
    case tlOff:
      Drop();
      state_ = tlOff;
      return 0;
    case tlClear:
      Drop();
      startMs_ = -1;
      state_ = tlOn;
      return 0;
    case tlPause:
      if (state_ == tlOff) return notEnabled;
      state_ = tlPause;
      return 0;
    case tlDump:
    case tlAppend: {
      if (state_ == tlOff) return notEnabled;
      int rc = WriteFile(fileName, Text(), state == tlAppend);
      if (rc != 0) return rc;
      Drop();
      startMs_ = -1;
      state_ = tlOff;
      return 0;
    }
  }
  return ecBadArgument;
}

int TPortTrace::SetState(TTraceLogState state, const std::string& fileName) {
  return ChangeState(state, fileName, ecTracingNotEnabled);
}

void TPortTrace::Drop() {
  entries_.clear();
  bytes_ = 0;
}

void TPortTrace::Record(int64_t nowMs, TTraceDir dir, const uint8_t* data, size_t size) {
  if (state_ != tlOn || size == 0) return;
  if (startMs_ < 0) startMs_ = nowMs;
  const uint8_t lineEnd = dir == TTraceDir::In ? 0x0A : 0x0D;
  for (size_t i = 0; i < size; ++i) {
    bool join = false;
    if (!entries_.empty()) {
      const Entry& last = entries_.back();
      // A line ends after its line end, unless it holds nothing but line
      // ends (the CR LF a modem sends before its reply).
      const bool ended = static_cast<uint8_t>(last.bytes.back()) == lineEnd &&
                         last.bytes.find_first_not_of("\r\n") != std::string::npos;
      join = last.dir == dir && nowMs - last.ms <= kJoinMs && last.bytes.size() < kLineBytes &&
             !ended;
    }
    if (!join) entries_.push_back({nowMs, dir, {}});
    entries_.back().bytes += static_cast<char>(data[i]);
    ++bytes_;
  }
  Trim();
}

std::string TPortTrace::Text() const {
  std::string out = "Telvane port trace";
  if (!title_.empty()) out += ": " + title_;
  out += "\n";
  out += "  seconds dir  data (text as is; <CR> <LF> <DLE> <ETX> <XON> <XOFF> <NUL> by name;"
         " other bytes <hex>)\n";
  const int64_t start = startMs_ < 0 ? 0 : startMs_;
  for (const Entry& e : entries_) {
    out += Seconds(e.ms - start);
    out += e.dir == TTraceDir::In ? " in   " : " out  ";
    out += TraceText(reinterpret_cast<const uint8_t*>(e.bytes.data()), e.bytes.size());
    out += "\n";
  }
  return out;
}

int TPortLog::SetState(TTraceLogState state, const std::string& fileName) {
  return ChangeState(state, fileName, ecLoggingNotEnabled);
}

void TPortLog::Add(int64_t nowMs, const std::string& text) {
  if (state_ != tlOn) return;
  if (startMs_ < 0) startMs_ = nowMs;
  lines_.push_back(Seconds(nowMs - startMs_) + "  " + text);
  // The log holds events, not traffic; keep it from growing without end.
  while (lines_.size() > 100000) lines_.pop_front();
}

std::string TPortLog::Text() const {
  std::string out = "Telvane port log";
  if (!title_.empty()) out += ": " + title_;
  out += "\n";
  for (const std::string& line : lines_) out += line + "\n";
  return out;
}

}  // namespace tv
