#include "tools/telvane-line/line_class2_modem.h"

#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace tv::line {

namespace {
constexpr uint8_t kDle = 0x10;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kSub = 0x1A;
constexpr uint8_t kXon = 0x11;
constexpr uint8_t kDc2 = 0x12;
// Input the modem holds before the program has to wait, like the buffer of a
// real modem.
constexpr size_t kInputLimit = 4096;
// How many times the line's bit rate the modem takes page data at.
constexpr int kDataRateFactor = 8;
// Blocks of 10 ms a page takes at least from CONNECT to the modem's OK, so
// that a program that times its pages never sees one take no time at all.
constexpr int64_t kMinPageBlocks = 150;
// Blocks of 10 ms from a received page's data to its reports.
constexpr int64_t kPostPageBlocks = 80;
// Blocks of 10 ms the modem waits for DC2 before it delivers a page anyway.
constexpr int kDc2PatienceBlocks = 500;
// Blocks it waits for the receiving T.30 to have written a page to its file.
constexpr int kReadPatienceBlocks = 300;

// Hang-up codes, as Class 2.0 writes them in hexadecimal (Class 2 in decimal
// digits of the same value).
constexpr int kHangupNormal = 0x00;
constexpr int kHangupAborted = 0x02;
constexpr int kHangupNoAnswer = 0x11;
constexpr int kHangupTxPhaseB = 0x20;
constexpr int kHangupDcsNoResponse = 0x25;
constexpr int kHangupTrain = 0x27;
constexpr int kHangupTxPhaseD = 0x50;
constexpr int kHangupNoPostPageResponse = 0x52;
constexpr int kHangupPostPageInvalid = 0x53;
constexpr int kHangupRxPhaseB = 0x70;
constexpr int kHangupRxPhaseC = 0x90;

void LogStamp() {
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  std::fprintf(stderr, "%02ld.%03ld ", static_cast<long>(t.tv_sec % 60), t.tv_nsec / 1000000);
}

void LogText(int, const char* text) {
  std::fputs(text, stderr);
  std::fflush(stderr);
}

std::string Unquote(std::string v) {
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
  return v;
}

// The values of an AT+FCLASS=? reply, without brackets.
std::vector<std::string> ClassList(const std::string& reply) {
  std::vector<std::string> out;
  std::string item;
  for (char c : reply + ",") {
    if (c == '(' || c == ')' || c == ' ') continue;
    if (c == ',') {
      if (!item.empty()) out.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
  return out;
}

// Page data as the modem sends it: DLE doubled, DLE ETX after the page's end.
std::string DleCoded(const std::vector<uint8_t>& data, bool end) {
  std::string out;
  out.reserve(data.size() + data.size() / 64 + 2);
  for (uint8_t b : data) {
    out.push_back(static_cast<char>(b));
    if (b == kDle) out.push_back(static_cast<char>(kDle));
  }
  if (end) {
    out.push_back(static_cast<char>(kDle));
    out.push_back(static_cast<char>(kEtx));
  }
  return out;
}

int SupportedModems(int br) {
  if (br >= 4) return T30_SUPPORT_V17 | T30_SUPPORT_V29 | T30_SUPPORT_V27TER;
  if (br >= 2) return T30_SUPPORT_V29 | T30_SUPPORT_V27TER;
  return T30_SUPPORT_V27TER;
}
}  // namespace

TTvLineClass2Modem::TTvLineClass2Modem(int index, TTvLineModemListener* listener, TOutput output,
                                       TTvFaxClass fclass, const std::string& classesReply)
    : index_(index),
      listener_(listener),
      output_(std::move(output)),
      class_(fclass),
      startClass_(fclass),
      fclass_(fclass == TTvFaxClass::Class20 ? "2.0" : "2"),
      classesReply_(classesReply) {
  if (classesReply_.empty()) classesReply_ = fclass == TTvFaxClass::Class20 ? "0,2.0" : "0,2";
  char tmpl[] = "/tmp/telvane-line-modem-XXXXXX";
  if (mkdtemp(tmpl) != nullptr) folder_ = tmpl;
  local_.vr = 1;
  local_.br = 5;
  capabilities_ = local_;
}

TTvLineClass2Modem::~TTvLineClass2Modem() {
  if (fax_ != nullptr) fax_free(fax_);
  if (!folder_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
}

void TTvLineClass2Modem::EnableLog(const char* tag) {
  tag_ = tag;
  log_ = true;
}

void TTvLineClass2Modem::Send(const std::string& text) {
  if (output_) output_(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

void TTvLineClass2Modem::Reply(const std::string& text) {
  if (log_) LogStamp(), std::fprintf(stderr, "%s: <- %s\n", tag_.c_str(), text.c_str());
  Send("\r\n" + text + "\r\n");
}

std::string TTvLineClass2Modem::HangupReport(int code) const {
  char text[32];
  if (Class20()) {
    std::snprintf(text, sizeof text, "+FHS:%02X", code);
  } else {
    std::snprintf(text, sizeof text, "+FHNG:%X", code);
  }
  return text;
}

void TTvLineClass2Modem::Input(const uint8_t* data, size_t len) {
  input_.insert(input_.end(), data, data + len);
}

size_t TTvLineClass2Modem::InputRoom() const {
  return input_.size() >= kInputLimit ? 0 : kInputLimit - input_.size();
}

void TTvLineClass2Modem::FeedInput() {
  ++blocks_;
  if (state_ == TState::RecvPageEnd && blocks_ >= reportAt_) ReportPage();
  if (state_ == TState::SendPageEnding && blocks_ - connectBlock_ >= kMinPageBlocks) {
    // Class 2: OK once the modem would have sent the data.
    Final(true);
    state_ = TState::SendPageEnd;
  }
  if (state_ == TState::SendData) {
    static const int kBitRates[6] = {2400, 4800, 7200, 9600, 12000, 14400};
    const int rate = kBitRates[std::clamp(session_.br, 0, 5)];
    const int perBlock = rate * kDataRateFactor / 800;
    dataBudget_ = std::min(dataBudget_ + perBlock, perBlock * 10);
  }
  CollectReceivedPages();
  ServeReceive();
  size_t used = 0;
  while (used < input_.size()) {
    const uint8_t* p = input_.data() + used;
    const size_t n = input_.size() - used;
    if (state_ == TState::SendData) {
      // Page data at a steady rate, as a real modem drains its buffer, so
      // that the program's flow control and timing see a modem, not a sink.
      // The rate is a few times the line's: the page is sent only once it
      // is complete, and the far end must still be listening then.
      if (dataBudget_ <= 0) break;
      size_t take = 0;
      while (take < n && dataBudget_ > 0 && state_ == TState::SendData) {
        SendPageData(p + take++, 1);
        --dataBudget_;
      }
      used += take;
      continue;
    }
    if (state_ == TState::RecvDc2) {
      // Anything before DC2 (or the XON a few programs send) is dropped.
      ++used;
      if (p[0] == kDc2 || p[0] == kXon) DeliverPage();
      continue;
    }
    const bool commands = state_ == TState::Idle || state_ == TState::SendReady ||
                          state_ == TState::SendPageEnd || state_ == TState::RecvReady;
    if (!commands) break;  // a command is in progress; what follows waits
    const void* cr = std::memchr(p, '\r', n);
    if (cr == nullptr) {
      for (size_t i = 0; i < n; ++i) {
        if (p[i] != '\n') line_ += static_cast<char>(p[i]);
      }
      used += n;
      if (line_.size() > 512) line_.clear();
      break;
    }
    const size_t len = static_cast<size_t>(static_cast<const uint8_t*>(cr) - p);
    for (size_t i = 0; i < len; ++i) {
      if (p[i] != '\n') line_ += static_cast<char>(p[i]);
    }
    used += len + 1;
    std::string command;
    command.swap(line_);
    if (echo_) Send(command + "\r");
    DoCommandLine(command);
  }
  input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(used));
  if (state_ == TState::RecvDc2 && ++dc2Wait_ > kDc2PatienceBlocks) DeliverPage();
  if (state_ == TState::RecvData) DeliverPage();
}

void TTvLineClass2Modem::DoCommandLine(const std::string& text) {
  const size_t at = text.find_first_not_of(" \t");
  if (at == std::string::npos) return;
  const std::string line = text.substr(at);
  if (line.size() < 2 || std::toupper(static_cast<unsigned char>(line[0])) != 'A' ||
      std::toupper(static_cast<unsigned char>(line[1])) != 'T') {
    return;  // not a command: a real modem ignores it too
  }
  if (log_) LogStamp(), std::fprintf(stderr, "%s: -> %s\n", tag_.c_str(), line.c_str());
  size_t pos = 2;
  while (pos < line.size()) {
    const int r = DoCommand(line, &pos);
    if (r < 0) {
      Final(false);
      return;
    }
    if (r == 0) return;
  }
  Final(true);
}

int TTvLineClass2Modem::DoCommand(const std::string& line, size_t* pos) {
  while (*pos < line.size() && (line[*pos] == ' ' || line[*pos] == ';')) ++*pos;
  if (*pos >= line.size()) return 1;
  const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(line[(*pos)++])));
  auto number = [&]() {
    int v = 0;
    while (*pos < line.size() && std::isdigit(static_cast<unsigned char>(line[*pos]))) {
      v = v * 10 + (line[(*pos)++] - '0');
    }
    return v;
  };
  switch (c) {
    case '+': {
      std::string name;
      while (*pos < line.size() && std::isalpha(static_cast<unsigned char>(line[*pos]))) {
        name += static_cast<char>(std::toupper(static_cast<unsigned char>(line[(*pos)++])));
      }
      char op = 'x';
      std::string value;
      if (*pos < line.size() && line[*pos] == '?') {
        op = 'r';
        ++*pos;
      } else if (*pos < line.size() && line[*pos] == '=') {
        ++*pos;
        if (*pos < line.size() && line[*pos] == '?') {
          op = 't';
          ++*pos;
        } else {
          op = 's';
          bool quoted = false;
          while (*pos < line.size() && (quoted || line[*pos] != ';')) {
            if (line[*pos] == '"') quoted = !quoted;
            value += line[(*pos)++];
          }
        }
      }
      return DoExtended(name, op, value);
    }
    case 'D': {
      std::string dialled;
      for (; *pos < line.size(); ++*pos) {
        const char d = line[*pos];
        if (std::isdigit(static_cast<unsigned char>(d)) || d == '*' || d == '#' || d == '+') {
          dialled += d;
        }
      }
      Dial(dialled);
      return 0;
    }
    case 'A':
      Answer();
      return 0;
    case 'H':
      number();
      HangUp(true);
      return 1;
    case 'Z':
      number();
      HangUp(true);
      class_ = startClass_;
      fclass_ = class_ == TTvFaxClass::Class20 ? "2.0" : "2";
      echo_ = true;
      return 1;
    case 'E':
      echo_ = number() != 0;
      return 1;
    case 'I':
      number();
      Reply(Class20() ? "telvane-line Class 2.0 fax modem" : "telvane-line Class 2 fax modem");
      return 1;
    case 'S': {
      const int reg = number();
      if (*pos < line.size() && line[*pos] == '?') {
        ++*pos;
        char text[8];
        std::snprintf(text, sizeof text, "%03d", reg == 0 ? autoAnswer_ : 0);
        Reply(text);
      } else if (*pos < line.size() && line[*pos] == '=') {
        ++*pos;
        const int v = number();
        if (reg == 0) autoAnswer_ = v;
      }
      return 1;
    }
    case '&':
      if (*pos < line.size()) ++*pos;
      number();
      return 1;
    default:
      if (!std::isalpha(static_cast<unsigned char>(c))) return -1;
      number();  // V1, Q0, X4, M0, L0 and the like: accepted, no effect
      return 1;
  }
}

int TTvLineClass2Modem::DoExtended(const std::string& name, char op, const std::string& value) {
  if (name == "FCLASS") {
    if (op == 't') {
      Reply(classesReply_);
    } else if (op == 'r') {
      Reply(fclass_);
    } else if (op == 's') {
      const std::vector<std::string> classes = ClassList(classesReply_);
      if (std::find(classes.begin(), classes.end(), value) == classes.end()) return -1;
      fclass_ = value;
      if (value == "2") class_ = TTvFaxClass::Class2;
      if (value == "2.0") class_ = TTvFaxClass::Class20;
    } else {
      return -1;
    }
    return 1;
  }
  if (name == "FLID" || name == "FLI") {
    if (op == 's') localId_ = Unquote(value).substr(0, 20);
    if (op == 'r') Reply("\"" + localId_ + "\"");
    return 1;
  }
  if (name == "FDIS" || name == "FIS" || name == "FDCC" || name == "FCC") {
    const bool caps = name == "FDCC" || name == "FCC";
    TTvFaxParams* p = caps ? &capabilities_ : &local_;
    if (op == 's') {
      if (!ParseParams(value, p)) return -1;
      if (caps) local_ = capabilities_;
    } else if (op == 'r') {
      Reply(FormatParams(*p));
    } else if (op == 't') {
      Reply("(0,1),(0-5),(0-2),(0-2),(0),(0),(0),(0-7)");
    }
    return 1;
  }
  if (name == "FCR") {
    if (op == 's') receiveEnabled_ = value != "0";
    return 1;
  }
  if (name == "FDT") {
    if (state_ != TState::SendReady) return -1;
    TTvFaxParams s = local_;
    s.vr = std::min(local_.vr, remote_.vr);
    s.br = std::min(local_.br, remote_.br);
    s.wd = std::min(local_.wd, remote_.wd);
    s.df = 0;
    s.ec = 0;
    s.bf = 0;
    s.st = 0;
    local_.vr = s.vr;
    local_.wd = s.wd;
    session_ = s;
    Reply(Report("+FDCS:", "+FCS:") + FormatParams(s));
    Reply("CONNECT");
    if (!Class20()) Send(std::string(1, static_cast<char>(kXon)));
    pageData_.clear();
    dled_ = false;
    dataBudget_ = 0;
    connectBlock_ = blocks_;
    state_ = TState::SendData;
    if (fax_ == nullptr) {
      // The sending T.30 answers the far end's next DIS while the page
      // arrives; it holds a placeholder until then.
      page_ = PlaceholderPage();
      lastPage_ = false;
      StartFax(TRole::Sender, "");
      InstallPage();
      pageReady_ = false;
    }
    return 0;
  }
  if (name == "FET") {
    if (op != 's' || state_ != TState::SendPageEnd) return -1;
    if (value != "0" && value != "1" && value != "2") return -1;
    PageCollected(value[0] - '0');
    return 0;
  }
  if (name == "FDR") {
    if (state_ != TState::RecvReady) return -1;
    state_ = TState::RecvWait;
    ServeReceive();
    return 0;
  }
  if (name == "FK" || name == "FKS") {
    Abort();
    return 1;
  }
  if (name == "FPS" || name == "FPTS") {
    if (op == 'r') Reply(Report("+FPTS:", "+FPS:") + std::to_string(lastPpr_) + ",0,0,0,0");
    return 1;
  }
  if (op == 'r') {
    if (name == "FMFR" || name == "FMI") {
      Reply("telvane-line");
    } else if (name == "FMDL" || name == "FMM") {
      Reply(Class20() ? "Class 2.0 fax modem" : "Class 2 fax modem");
    } else if (name == "FREV" || name == "FMR") {
      Reply("1.0");
    } else {
      auto it = settings_.find(name);
      Reply(it != settings_.end() ? it->second : "0");
    }
    return 1;
  }
  if (op == 't') {
    Reply("(0-255)");
    return 1;
  }
  // +FAA, +FNR, +FLO, +FBOR, +FBO, +FCQ, +FCT, +FIE, +FPP, +FBU and the other
  // settings: kept, no effect on the emulation.
  if (op == 's') settings_[name] = value;
  return name.empty() ? -1 : 1;
}

void TTvLineClass2Modem::ResetCall() {
  remoteId_.clear();
  remoteKnown_ = false;
  pagesCollected_ = 0;
  pagesSent_ = 0;
  lastPage_ = false;
  callerReported_ = false;
  paramsChanged_ = false;
  pagesReceived_ = 0;
  pagesRead_ = 0;
  readTries_ = 0;
  postPages_.clear();
  pages_.clear();
  callEnded_ = false;
  hangupCode_ = 0;
  aborted_ = false;
  rings_ = 0;
}

void TTvLineClass2Modem::Dial(const std::string& number) {
  if (offHook_) {
    Final(false);
    return;
  }
  ResetCall();
  offHook_ = true;
  state_ = TState::Dialling;
  if (listener_) listener_->ModemDialled(index_, number);
}

void TTvLineClass2Modem::Answer() {
  ResetCall();
  offHook_ = true;
  state_ = TState::Answering;
  rxFile_ = folder_ + "/received-" + std::to_string(++calls_) + ".tif";
  if (listener_) listener_->ModemAnswered(index_);
}

void TTvLineClass2Modem::HangUp(bool notify) {
  if (fax_ != nullptr) {
    aborted_ = true;
    t30_terminate(fax_get_t30_state(fax_));
    RetireFax();
  }
  const bool wasOffHook = offHook_;
  offHook_ = false;
  state_ = TState::Idle;
  pages_.clear();
  if (notify && wasOffHook && listener_) listener_->ModemOnHook(index_);
}

void TTvLineClass2Modem::Abort() {
  if (!offHook_ && state_ == TState::Idle) return;
  HangUp(true);
  Reply(HangupReport(kHangupAborted));
}

void TTvLineClass2Modem::CallEvent(int event) {
  switch (event) {
    case AT_CALL_EVENT_ALERTING:
      if (offHook_) break;
      Reply("RING");
      if (++rings_ >= autoAnswer_ && autoAnswer_ > 0 && state_ == TState::Idle) {
        if (echo_) Send("ATA\r");
        Answer();
      }
      break;
    case AT_CALL_EVENT_CONNECTED:
      if (state_ == TState::Dialling) {
        state_ = TState::Listening;
        StartFax(TRole::Listener, "");
      }
      break;
    case AT_CALL_EVENT_ANSWERED:
      if (state_ == TState::Answering && fax_ == nullptr) StartFax(TRole::Receiver, rxFile_);
      break;
    case AT_CALL_EVENT_BUSY:
    case AT_CALL_EVENT_NO_ANSWER:
      if (state_ == TState::Dialling) {
        offHook_ = false;
        state_ = TState::Idle;
        Reply(event == AT_CALL_EVENT_BUSY ? "BUSY" : "NO ANSWER");
        if (listener_) listener_->ModemOnHook(index_);
      }
      break;
    case AT_CALL_EVENT_HANGUP:
      if (!offHook_) break;
      // After the last page's confirmation the far end may hang up before
      // the modem's T.30 has finished its own goodbye: a normal end.
      if (state_ == TState::SendLast ||
          (role_ == TRole::Receiver && !postPages_.empty() && postPages_.back() == 2)) {
        CallOver(kHangupNormal);
        break;
      }
      if (role_ == TRole::Receiver || state_ == TState::Answering || state_ == TState::RecvReady ||
          state_ == TState::RecvWait || state_ == TState::RecvDc2 || state_ == TState::RecvData) {
        CallOver(pagesReceived_ > 0 ? kHangupRxPhaseC : kHangupRxPhaseB);
      } else {
        CallOver(pagesSent_ > 0 || state_ == TState::SendPage ? kHangupTxPhaseD : kHangupTxPhaseB);
      }
      break;
    default:
      break;
  }
}

void TTvLineClass2Modem::StartFax(TRole role, const std::string& file) {
  RetireFax();
  DestroyRetired();
  const bool calling = role != TRole::Receiver;
  fax_ = fax_init(nullptr, calling ? 1 : 0);
  role_ = role;
  frozen_ = false;
  aborted_ = false;
  fax_set_transmit_on_idle(fax_, 1);
  fax_set_tep_mode(fax_, 0);
  t30_state_t* t30 = fax_get_t30_state(fax_);
  t30_set_tx_ident(t30, localId_.c_str());
  t30_set_ecm_capability(t30, 0);
  t30_set_supported_modems(t30, SupportedModems(role == TRole::Receiver ? capabilities_.br
                                                                          : session_.br));
  t30_set_real_time_frame_handler(t30, &TTvLineClass2Modem::FrameHandler, this);
  t30_set_phase_e_handler(t30, &TTvLineClass2Modem::PhaseE, this);
  t30_set_phase_d_handler(t30, &TTvLineClass2Modem::PhaseD, this);
  // A refused page is sent again, after a new training.
  t30->retransmit_capable = 1;
  if (role == TRole::Receiver) t30_set_rx_file(t30, file.c_str(), -1);
  logging_state_t* logs[2] = {fax_get_logging_state(fax_), t30_get_logging_state(t30)};
  for (logging_state_t* log : logs) {
    if (log_) {
      span_log_set_message_handler(log, LogText);
      span_log_set_tag(log, tag_.c_str());
      span_log_set_level(log, SPAN_LOG_SHOW_DATE | SPAN_LOG_SHOW_TAG | SPAN_LOG_SHOW_SEVERITY | SPAN_LOG_FLOW);
    } else {
      span_log_set_level(log, 0);
    }
  }
}

// The T.30 is freed outside its own callbacks.
void TTvLineClass2Modem::RetireFax() {
  if (fax_ != nullptr) retire_ = true;
}

void TTvLineClass2Modem::DestroyRetired() {
  if (!retire_) return;
  retire_ = false;
  if (fax_ != nullptr) fax_free(fax_);
  fax_ = nullptr;
  role_ = TRole::None;
  frozen_ = false;
}

void TTvLineClass2Modem::Transmit(int16_t* amp, int n) {
  DestroyRetired();
  int got = 0;
  if (fax_ != nullptr && !frozen_) {
    got = std::max(0, fax_tx(fax_, amp, n));
    // The listening T.30 only hears the far end; it must not answer it.
    if (role_ == TRole::Listener) got = 0;
  }
  std::fill(amp + got, amp + n, int16_t{0});
}

void TTvLineClass2Modem::Receive(int16_t* amp, int n) {
  if (fax_ != nullptr && !frozen_ && !retire_) fax_rx(fax_, amp, n);
  DestroyRetired();
}

void TTvLineClass2Modem::FrameHandler(t30_state_t*, void* user, int incoming, const uint8_t* msg,
                                      int len) {
  auto* self = static_cast<TTvLineClass2Modem*>(user);
  if (!incoming || len < 3 || self->retire_) return;
  const int fcf = msg[2] & 0xFE;
  switch (self->role_) {
    case TRole::Listener:
      if (fcf == T30_CSI) self->remoteId_ = IdentFromFrame(msg, len);
      if (fcf == T30_DIS && !self->remoteKnown_) {
        self->remote_ = ParamsFromFrame(msg, len, false);
        self->RemoteCapabilities();
      }
      break;
    case TRole::Sender:
      // After CFR the T.30 starts the page: it waits there for the program's.
      if (fcf == T30_CFR && !self->pageReady_) self->frozen_ = true;
      if (self->state_ != TState::SendPage) break;
      if (fcf == T30_MCF) self->PageResult(1);
      if (fcf == T30_RTN) self->PageResult(2);
      if (fcf == T30_RTP) self->PageResult(3);
      if (fcf == T30_PIN) self->PageResult(4);
      if (fcf == T30_PIP) self->PageResult(5);
      break;
    case TRole::Receiver:
      if (fcf == T30_TSI) self->remoteId_ = IdentFromFrame(msg, len);
      if (fcf == T30_DCS) {
        self->received_ = ParamsFromFrame(msg, len, true);
        self->received_.df = 0;  // pages reach the program coded one-dimensionally
        self->CallerParameters();
      }
      if (fcf == T30_MPS) self->postPage_ = 0;
      if (fcf == T30_EOM) self->postPage_ = 1;
      if (fcf == T30_EOP) self->postPage_ = 2;
      break;
    case TRole::None:
      break;
  }
}

int TTvLineClass2Modem::PhaseD(t30_state_t*, void* user, int) {
  auto* self = static_cast<TTvLineClass2Modem*>(user);
  if (self->role_ == TRole::Receiver && !self->retire_) self->PageReceived(self->postPage_);
  return T30_ERR_OK;
}

void TTvLineClass2Modem::PhaseE(t30_state_t*, void* user, int code) {
  auto* self = static_cast<TTvLineClass2Modem*>(user);
  if (self->aborted_ || self->retire_) return;
  if (self->log_) {
    std::fprintf(stderr, "%s: T.30 ended: %s\n", self->tag_.c_str(),
                 t30_completion_code_to_str(code));
  }
  int hangup = kHangupNormal;
  switch (self->role_) {
    case TRole::Listener:
      if (self->remoteKnown_) return;  // it heard the DIS and was let go
      hangup = kHangupNoAnswer;
      break;
    case TRole::Sender:
      if (code == T30_ERR_OK && self->state_ == TState::SendLast) break;
      switch (code) {
        case T30_ERR_OK: hangup = kHangupTxPhaseD; break;
        case T30_ERR_T0_EXPIRED: case T30_ERR_T1_EXPIRED: hangup = kHangupNoAnswer; break;
        case T30_ERR_CANNOT_TRAIN: hangup = kHangupTrain; break;
        case T30_ERR_TX_PHBDEAD: hangup = kHangupDcsNoResponse; break;
        case T30_ERR_TX_PHDDEAD: hangup = kHangupNoPostPageResponse; break;
        case T30_ERR_TX_BADPG: case T30_ERR_TX_INVALRSP: hangup = kHangupPostPageInvalid; break;
        default: hangup = self->pagesSent_ > 0 ? kHangupTxPhaseD : kHangupTxPhaseB; break;
      }
      break;
    case TRole::Receiver:
      if (code == T30_ERR_OK) break;
      hangup = self->pagesReceived_ > 0 ? kHangupRxPhaseC : kHangupRxPhaseB;
      break;
    case TRole::None:
      return;
  }
  self->CallOver(hangup);
}

// Sending: the far end's DIS was heard. The program learns the far end's
// capabilities and id; the T.30 that heard them is let go.
void TTvLineClass2Modem::RemoteCapabilities() {
  remoteKnown_ = true;
  Reply(Report("+FCON", "+FCO"));
  if (!remoteId_.empty()) Reply(Report("+FCSI:", "+FCI:") + "\"" + remoteId_ + "\"");
  Reply(Report("+FDIS:", "+FIS:") + FormatParams(remote_));
  Final(true);
  state_ = TState::SendReady;
  RetireFax();
}

// Page data from the program, one byte at a time, up to the page's end.
void TTvLineClass2Modem::SendPageData(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = p[i];
    if (!dled_) {
      if (b == kDle) {
        dled_ = true;
      } else {
        pageData_.push_back(b);
      }
      continue;
    }
    dled_ = false;
    if (b == kDle) {
      pageData_.push_back(kDle);
    } else if (b == kSub) {
      pageData_.push_back(kDle);
      pageData_.push_back(kDle);
    } else if (b == kEtx && !Class20()) {
      state_ = TState::SendPageEnding;
      return;
    } else if (Class20() && (b == '.' || b == kEtx)) {
      PageCollected(2);
      return;
    } else if (Class20() && b == ',') {
      PageCollected(0);
      return;
    } else if (Class20() && b == ';') {
      PageCollected(1);
      return;
    }
  }
}

void TTvLineClass2Modem::PageCollected(int postPage) {
  ++pagesCollected_;
  std::string error;
  const bool decoded = DecodeStreamPage(pageData_, PageWidthPixels(session_.wd), session_.vr == 1,
                                        folder_ + "/scratch.tif", &page_, &error);
  pageData_.clear();
  if (!decoded) {
    if (log_) std::fprintf(stderr, "%s: page refused: %s\n", tag_.c_str(), error.c_str());
    state_ = TState::SendReady;
    Final(false);
    return;
  }
  if (log_) {
    std::fprintf(stderr, "%s: page %d collected, %zu rows, %s\n", tag_.c_str(), pagesCollected_,
                 page_.rows.size(), postPage == 2 ? "last" : "more follow");
  }
  lastPage_ = postPage == 2;
  state_ = TState::SendPage;
  InstallPage();
}

// A page the far end cannot tell from a blank one, in the session's format:
// the T.30 holds it until the program's page takes its place.
TTvPageRows TTvLineClass2Modem::PlaceholderPage() const {
  TTvPageRows page;
  page.width = PageWidthPixels(session_.wd);
  page.fine = session_.vr == 1;
  page.rows.assign(2, std::vector<uint8_t>(static_cast<size_t>(page.width / 8), 0));
  return page;
}

// Puts the collected page in the place of the page the T.30 is to send next.
//
// The T.30 reads a page's image when it starts the page and decides between
// MPS and EOP by whether its file has another page. So the document file is
// written anew with the program's page at the T.30's current page number
// (the pages before it are never read again) and, unless it is the last, a
// placeholder after it; then the T.30's image is read afresh from it.
void TTvLineClass2Modem::InstallPage() {
  pageReady_ = true;
  t30_state_t* t30 = fax_get_t30_state(fax_);
  t4_state_t* t4 = &t30->t4.tx;
  const bool started = t4->tiff.tiff_file != nullptr;
  const int current = started ? t4->current_page : 0;
  const TTvPageRows placeholder = PlaceholderPage();
  std::vector<const TTvPageRows*> pages(static_cast<size_t>(current) + 1, &page_);
  if (!lastPage_) pages.push_back(&placeholder);
  docFile_ = folder_ + "/document-" + std::to_string(++documents_) + ".tif";
  if (!WriteTiffPages(docFile_, pages) && log_) {
    std::fprintf(stderr, "%s: cannot write %s\n", tag_.c_str(), docFile_.c_str());
  }
  if (!started) {
    t30_set_tx_file(t30, docFile_.c_str(), -1, -1);
  } else {
    TIFFClose(t4->tiff.tiff_file);
    t4->tiff.tiff_file = TIFFOpen(docFile_.c_str(), "r");
    // The T.4 context owns its copy of the file name and frees it.
    free(const_cast<char*>(t4->tiff.file));
    t4->tiff.file = strdup(docFile_.c_str());
    t4->tiff.pages_in_file = static_cast<int>(pages.size());
    if ((t4->tiff.tiff_file == nullptr || t4_tx_start_page(t4) != 0) && log_) {
      std::fprintf(stderr, "%s: the T.30 cannot take the page\n", tag_.c_str());
    }
  }
  frozen_ = false;
}

// The far end's answer to the page.
void TTvLineClass2Modem::PageResult(int ppr) {
  lastPpr_ = ppr;
  pageReady_ = false;
  const bool accepted = ppr == 1 || ppr == 3;
  if (accepted) ++pagesSent_;
  if (log_) std::fprintf(stderr, "%s: page answer %d\n", tag_.c_str(), ppr);
  if (Class20()) {
    Reply("+FPS:" + std::to_string(ppr) + ",0,0,0,0");
  } else {
    Reply("+FPTS:" + std::to_string(ppr));
  }
  if (accepted && lastPage_) {
    state_ = TState::SendLast;  // OK follows the hang-up report
    return;
  }
  Final(accepted || !Class20());
  state_ = TState::SendReady;
  // Until the program gives the next page (or the same one again) the T.30
  // waits.
  frozen_ = true;
}

// Receiving: the caller's DCS. The first one completes ATA; a later one (a
// new training) is reported before the next page.
void TTvLineClass2Modem::CallerParameters() {
  if (callerReported_) {
    paramsChanged_ = true;
    return;
  }
  callerReported_ = true;
  Reply(Report("+FCON", "+FCO"));
  if (!remoteId_.empty()) Reply(Report("+FTSI:", "+FTI:") + "\"" + remoteId_ + "\"");
  Reply(Report("+FDCS:", "+FCS:") + FormatParams(received_));
  Final(true);
  if (state_ == TState::Answering) state_ = TState::RecvReady;
}

void TTvLineClass2Modem::PageReceived(int postPage) {
  ++pagesReceived_;
  postPages_.push_back(postPage);
  if (log_) std::fprintf(stderr, "%s: page %d received\n", tag_.c_str(), pagesReceived_);
}

// Reads finished pages back from the receiving T.30's file once it has
// written them.
void TTvLineClass2Modem::CollectReceivedPages() {
  while (pagesRead_ < pagesReceived_) {
    TPage page;
    if (!ReadTiffPage(rxFile_, pagesRead_, &page.rows)) {
      if (++readTries_ < kReadPatienceBlocks) return;
      if (log_) std::fprintf(stderr, "%s: page %d not in %s\n", tag_.c_str(), pagesRead_ + 1,
                             rxFile_.c_str());
      page.rows.rows.clear();
    }
    readTries_ = 0;
    page.postPage = postPages_[static_cast<size_t>(pagesRead_)];
    pages_.push_back(std::move(page));
    ++pagesRead_;
  }
}

// Rows of the page the receiving T.30 is decoding now, as far as it has got;
// false while no page is in progress.
bool TTvLineClass2Modem::RowsInProgress(TTvPageRows* out) const {
  if (fax_ == nullptr || role_ != TRole::Receiver || retire_ || !pages_.empty() ||
      pagesRead_ < pagesReceived_) {
    return false;
  }
  t4_state_t* t4 = &fax_get_t30_state(fax_)->t4.rx;
  if (t4->image_buffer == nullptr || t4->bytes_per_row <= 0) return false;
  const int rows = t4->image_size / t4->bytes_per_row;
  if (rows <= streamedRows_) return rows > 0;
  out->width = t4->image_width;
  out->fine = received_.vr == 1;
  for (int r = streamedRows_; r < rows; ++r) {
    const uint8_t* row = t4->image_buffer + static_cast<size_t>(r) * t4->bytes_per_row;
    out->rows.emplace_back(row, row + t4->bytes_per_row);
  }
  return true;
}

// AT+FDR waits for a page: CONNECT as soon as one is complete or the T.30
// has decoded its first rows; the hang-up report once the call is over.
void TTvLineClass2Modem::ServeReceive() {
  if (state_ != TState::RecvWait) return;
  TTvPageRows progress;
  if (!pages_.empty() || RowsInProgress(&progress)) {
    if (paramsChanged_) {
      paramsChanged_ = false;
      Reply(Report("+FDCS:", "+FCS:") + FormatParams(received_));
    }
    Reply("CONNECT");
    state_ = TState::RecvDc2;
    dc2Wait_ = 0;
    streamedRows_ = 0;
    return;
  }
  if (callEnded_ && pagesRead_ >= pagesReceived_) {
    Reply(HangupReport(hangupCode_));
    Final(hangupCode_ == kHangupNormal);
    state_ = TState::Idle;
  }
}

// Page data to the program while the page arrives, as a real modem passes
// it on: the rows decoded so far, then, once the page is complete, the rest
// of it, RTC and DLE ETX.
void TTvLineClass2Modem::DeliverPage() {
  state_ = TState::RecvData;
  if (pages_.empty()) {
    TTvPageRows rows;
    if (RowsInProgress(&rows) && !rows.rows.empty()) {
      streamedRows_ += static_cast<int>(rows.rows.size());
      Send(DleCoded(EncodePage(rows, Class20(), false, folder_ + "/scratch.tif"), false));
    }
    return;
  }
  TPage page = std::move(pages_.front());
  pages_.pop_front();
  TTvPageRows rest = page.rows;
  const size_t skip = std::min(rest.rows.size(), static_cast<size_t>(streamedRows_));
  rest.rows.erase(rest.rows.begin(), rest.rows.begin() + static_cast<std::ptrdiff_t>(skip));
  Send(DleCoded(EncodePage(rest, Class20(), true, folder_ + "/scratch.tif"), true));
  streamedRows_ = 0;
  // The reports follow once the post-page message would have arrived, not
  // in the same breath as the data.
  deliveredRows_ = static_cast<int>(page.rows.rows.size());
  deliveredPostPage_ = page.postPage;
  reportAt_ = blocks_ + kPostPageBlocks;
  state_ = TState::RecvPageEnd;
}

void TTvLineClass2Modem::ReportPage() {
  // Page quality 1 (good) with the page's line count and no bad lines.
  Reply(Report("+FPTS:", "+FPS:") + "1," + std::to_string(deliveredRows_) + ",0,0,0");
  Reply("+FET:" + std::to_string(deliveredPostPage_));
  Final(true);
  state_ = TState::RecvReady;
  if (callEnded_ && pages_.empty() && pagesRead_ >= pagesReceived_ && deliveredPostPage_ != 2) {
    Reply(HangupReport(hangupCode_));  // the call ended before the next page
  }
}

// The call is over: the T.30 ended or the line dropped. The program hears of
// it in the reply to the command it waits on, or unasked.
void TTvLineClass2Modem::CallOver(int code) {
  if (log_) std::fprintf(stderr, "%s: call over, hang-up code %02X\n", tag_.c_str(), code);
  callEnded_ = true;
  hangupCode_ = code;
  RetireFax();
  const bool wasOffHook = offHook_;
  offHook_ = false;
  if (wasOffHook && listener_) listener_->ModemOnHook(index_);
  switch (state_) {
    case TState::RecvWait:
      ServeReceive();
      return;
    case TState::RecvDc2:
    case TState::RecvData:
    case TState::RecvPageEnd:
      return;  // the page goes first, then its reports, then the hang-up
    case TState::RecvReady:
      if (pagesRead_ < pagesReceived_ || !pages_.empty()) return;  // delivered first
      Reply(HangupReport(code));
      state_ = TState::Idle;
      return;
    case TState::SendLast:
      Reply(HangupReport(code));
      Final(code == kHangupNormal);
      break;
    case TState::Dialling:
    case TState::Listening:
    case TState::Answering:
    case TState::SendPage:
      Reply(HangupReport(code));
      Final(false);
      break;
    case TState::Idle:
      break;
    default:
      Reply(HangupReport(code));
      break;
  }
  state_ = TState::Idle;
}

}  // namespace tv::line
