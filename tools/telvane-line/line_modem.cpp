#include "tools/telvane-line/line_modem.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace tv::line {

namespace {
constexpr uint8_t kDle = 0x10;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kSub = 0x1A;
// The input queue: a few kilobytes, like the buffer of a real modem. Beyond it
// the computer's bytes stay in the kernel's buffer until there is room.
constexpr size_t kInputQueueSize = 2048;
// Free space kept in the T.31 transmit buffer, whose bounds check lets one
// byte past its end.
constexpr int kTxBufferMargin = 16;
// Longest frame handed to the T.31 HDLC buffer, which has no bounds check.
constexpr int kMaxFrameLen = T31_MAX_HDLC_LEN - 8;
// A T.31 modem ignores input in AT_MODE_CONNECTED (a data call, or the short
// flush after ATH in a data mode). Input waits there this many blocks, then it
// is discarded so that nothing stalls.
constexpr int kConnectedPatienceBlocks = 300;

void LogLine(const char* text) {
  std::fputs(text, stderr);
  std::fflush(stderr);
}
}  // namespace

TTvLineModem::TTvLineModem(int index, TTvLineModemListener* listener, TOutput output)
    : index_(index), listener_(listener), output_(std::move(output)) {
  t31_ = t31_init(nullptr, &TTvLineModem::AtTxHandler, this, &TTvLineModem::ModemControlHandler,
                  this, nullptr, nullptr);
  t31_set_transmit_on_idle(t31_, 1);
  span_log_set_level(t31_get_logging_state(t31_), 0);
}

TTvLineModem::~TTvLineModem() {
  if (t31_ == nullptr) return;
  // t31_free leaves the receive queue that t31_init allocated.
  if (t31_->rx_queue != nullptr) {
    queue_free(t31_->rx_queue);
    t31_->rx_queue = nullptr;
  }
  t31_free(t31_);
}

void TTvLineModem::EnableLog(const char* tag) {
  tag_ = tag;
  logging_state_t* log = t31_get_logging_state(t31_);
  span_log_set_message_handler(log, [](int, const char* text) { LogLine(text); });
  span_log_set_tag(log, tag_.c_str());
  span_log_set_level(log, SPAN_LOG_SHOW_TAG | SPAN_LOG_SHOW_SEVERITY | SPAN_LOG_FLOW);
}

int TTvLineModem::AtTxHandler(at_state_t*, void* user, const uint8_t* buf, size_t len) {
  auto* self = static_cast<TTvLineModem*>(user);
  self->replied_ = true;
  if (self->output_ && len > 0) self->output_(buf, len);
  return static_cast<int>(len);
}

int TTvLineModem::ModemControlHandler(t31_state_t*, void* user, int op, const char* num) {
  auto* self = static_cast<TTvLineModem*>(user);
  switch (op) {
    case AT_MODEM_CONTROL_CALL:
      self->offHook_ = true;
      if (self->listener_) self->listener_->ModemDialled(self->index_, num ? num : "");
      break;
    case AT_MODEM_CONTROL_ANSWER:
      self->offHook_ = true;
      if (self->listener_) self->listener_->ModemAnswered(self->index_);
      break;
    case AT_MODEM_CONTROL_HANGUP:
    case AT_MODEM_CONTROL_ONHOOK:
      if (self->offHook_) {
        self->offHook_ = false;
        if (self->listener_) self->listener_->ModemOnHook(self->index_);
      }
      break;
    default:
      break;
  }
  return 0;
}

void TTvLineModem::Input(const uint8_t* data, size_t len) {
  if (head_ > 0 && head_ == input_.size()) {
    input_.clear();
    head_ = 0;
  }
  input_.insert(input_.end(), data, data + len);
}

size_t TTvLineModem::InputRoom() const {
  const size_t queued = input_.size() - head_;
  return queued >= kInputQueueSize ? 0 : kInputQueueSize - queued;
}

bool TTvLineModem::TakingTransmitData() const {
  const int mode = t31_->at_state.at_rx_mode;
  return mode == AT_MODE_STUFFED || mode == AT_MODE_HDLC;
}

size_t TTvLineModem::BufferedTransmitData() const {
  size_t held = input_.size() - head_;
  if (t31_->at_state.at_rx_mode == AT_MODE_STUFFED) {
    held += static_cast<size_t>(std::max(0, t31_->tx.in_bytes - t31_->tx.out_bytes));
  }
  return held;
}

// Command mode: up to and including the first CR, because the command may
// change the mode in which the following bytes are to be read.
size_t TTvLineModem::TakeCommand(const uint8_t* p, size_t n) const {
  const void* cr = std::memchr(p, '\r', n);
  return cr ? static_cast<size_t>(static_cast<const uint8_t*>(cr) - p) + 1 : n;
}

// HDLC frames: up to and including DLE ETX. A frame that would outgrow the
// modem's frame buffer is cut: the rest up to its DLE ETX is dropped.
size_t TTvLineModem::TakeFrame(const uint8_t* p, size_t n, bool* ended) {
  *ended = false;
  bool dled = t31_->dled != 0;
  int len = t31_->hdlc_tx.len;
  for (size_t i = 0; i < n; ++i) {
    if (dled) {
      dled = false;
      if (p[i] == kEtx) {
        *ended = true;
        return i + 1;
      }
      len += (p[i] == kSub) ? 2 : 1;
      continue;
    }
    if (len >= kMaxFrameLen) {
      cuttingFrame_ = true;
      cutDled_ = false;
      return i;
    }
    if (p[i] == kDle) {
      dled = true;
    } else {
      ++len;
    }
  }
  return n;
}

// Page data: no more than the transmit buffer has room for (each byte handed
// over adds at most one byte to it), and never past DLE ETX.
size_t TTvLineModem::TakePageData(const uint8_t* p, size_t n) const {
  const int fill = t31_->tx.in_bytes - t31_->tx.out_bytes;
  const int room = T31_TX_BUF_LEN - 1 - kTxBufferMargin - fill;
  if (room <= 0) return 0;
  n = std::min(n, static_cast<size_t>(room));
  bool dled = t31_->dled != 0;
  for (size_t i = 0; i < n; ++i) {
    if (dled) {
      dled = false;
      if (p[i] == kEtx) return i + 1;
    } else if (p[i] == kDle) {
      dled = true;
    }
  }
  return n;
}

// AT+FCLASS=? with a reply of the line's choice: the modem then claims the
// classes a test asks for.
bool TTvLineModem::AnswerClassQuery(const uint8_t* p, size_t n) {
  if (classesReply_.empty() || n == 0 || p[n - 1] != '\r') return false;
  std::string command;
  for (size_t i = 0; i + 1 < n; ++i) {
    if (p[i] != ' ' && p[i] != '\n') command += static_cast<char>(std::toupper(p[i]));
  }
  if (command != "AT+FCLASS=?") return false;
  if (!output_) return true;
  if (t31_->at_state.p.echo) output_(p, n);
  const std::string reply = "\r\n" + classesReply_ + "\r\n\r\nOK\r\n";
  output_(reinterpret_cast<const uint8_t*>(reply.data()), reply.size());
  return true;
}

void TTvLineModem::FeedInput() {
  for (int pieces = 0; pieces < 64 && head_ < input_.size(); ++pieces) {
    const int mode = t31_->at_state.at_rx_mode;
    if (awaitingReply_) {
      if (!replied_ && mode == AT_MODE_HDLC) break;
      awaitingReply_ = false;
    }
    const uint8_t* p = input_.data() + head_;
    const size_t n = input_.size() - head_;

    if (cuttingFrame_) {
      // Drop the rest of an overlong frame, then close it with DLE ETX.
      size_t i = 0;
      bool closed = false;
      for (; i < n; ++i) {
        if (cutDled_) {
          cutDled_ = false;
          if (p[i] == kEtx) {
            closed = true;
            ++i;
            break;
          }
        } else if (p[i] == kDle) {
          cutDled_ = true;
        }
      }
      droppedFrameBytes_ += closed ? i - 2 : i;
      head_ += i;
      if (!closed) break;
      cuttingFrame_ = false;
      if (mode == AT_MODE_HDLC) {
        static const char kEnd[2] = {static_cast<char>(kDle), static_cast<char>(kEtx)};
        replied_ = false;
        awaitingReply_ = true;
        t31_at_rx(t31_, kEnd, 2);
      }
      continue;
    }

    size_t take = 0;
    bool frameEnd = false;
    switch (mode) {
      case AT_MODE_ONHOOK_COMMAND:
      case AT_MODE_OFFHOOK_COMMAND:
        connectedBlocks_ = 0;
        take = TakeCommand(p, n);
        if (AnswerClassQuery(p, take)) {
          head_ += take;
          continue;
        }
        break;
      case AT_MODE_DELIVERY:
        // Any byte ends a reception (or a dial); the rest is read afresh
        // in the mode the modem then is in.
        take = 1;
        break;
      case AT_MODE_HDLC:
        take = TakeFrame(p, n, &frameEnd);
        break;
      case AT_MODE_STUFFED:
        take = TakePageData(p, n);
        break;
      case AT_MODE_CONNECTED:
      default:
        if (++connectedBlocks_ < kConnectedPatienceBlocks) return;
        discardedInput_ += n;
        head_ = input_.size();
        connectedBlocks_ = 0;
        return;
    }
    if (take == 0) {
      if (cuttingFrame_) continue;
      break;
    }
    t31_at_rx(t31_, reinterpret_cast<const char*>(p), static_cast<int>(take));
    if (frameEnd) {
      // The next frame waits until the modem has sent this one (CONNECT)
      // or closed the transmission (OK).
      replied_ = false;
      awaitingReply_ = true;
    }
    head_ += take;
  }
  if (head_ == input_.size()) {
    input_.clear();
    head_ = 0;
  } else if (head_ > kInputQueueSize) {
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
  }
}

void TTvLineModem::Transmit(int16_t* amp, int n) {
  const int got = t31_tx(t31_, amp, n);
  if (got < n) std::fill(amp + std::max(got, 0), amp + n, int16_t{0});
}

void TTvLineModem::Receive(int16_t* amp, int n) { t31_rx(t31_, amp, n); }

void TTvLineModem::CallEvent(int event) { t31_call_event(t31_, event); }

}  // namespace tv::line
