// telvane-line: a virtual fax line for testing and demonstrating a fax
// program without a modem.
//
// It creates pseudo-terminals with emulated Class 1, 2 or 2.0 fax modems
// behind them and connects their audio in real time (8000 samples a second)
// to a remote fax machine (answering and storing what it receives, or
// calling and sending a document) or, in pair mode, to each other.

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tools/telvane-line/line_audio.h"
#include "tools/telvane-line/line_class2_modem.h"
#include "tools/telvane-line/line_far_end.h"
#include "tools/telvane-line/line_modem.h"
#include "tools/telvane-line/line_pty.h"

namespace tv::line {
namespace {

constexpr int kBlock = 80;  // 10 ms of audio
constexpr int64_t kSecond = kSampleRate;
constexpr uint8_t kXon = 0x11;
constexpr uint8_t kXoff = 0x13;
// Flow control towards a program that obeys XON/XOFF, in bytes queued in the
// modem.
constexpr size_t kXoffLevel = 3072;
constexpr size_t kXonLevel = 1024;

volatile sig_atomic_t gStop = 0;
void OnSignal(int) { gStop = 1; }

enum class TMode { None, Answer, Call, Pair };

struct TOptions {
  TMode mode = TMode::None;
  std::string dir;
  std::string file;
  std::vector<std::string> links;
  std::string ident = "telvane-line";
  bool noise = false;
  float noiseDbm0 = -99.0f;
  bool log = false;
  double timeout = 0;
  int modems = T30_SUPPORT_V17 | T30_SUPPORT_V29 | T30_SUPPORT_V27TER;
  std::string modemsName = "v17";
  int delayMs = 40;
  bool ecm = false;
  int calls = 1;
  TTvFaxClass faxClass = TTvFaxClass::Class1;
  std::string classesReply;  // empty: the class's own default
  int refusePage = 0;
  int hangupAfterPage = 0;
};

const char kUsage[] =
    "Usage: telvane-line (--answer DIR | --call FILE.tif | --pair) [options]\n"
    "  --answer DIR      the far end answers calls and stores each fax as a TIFF in DIR\n"
    "  --call FILE.tif   the line rings the modem; the far end sends FILE.tif when answered\n"
    "  --pair            two modems back to back: dialling on one rings the other\n"
    "Options:\n"
    "  --link PATH       symbolic link to the modem's pseudo-terminal (twice with --pair)\n"
    "  --ident ID        the far end's station id (default telvane-line)\n"
    "  --modems v17|v29|v27ter  fastest modem the far end offers (default v17)\n"
    "  --noise DBM0      white noise on the line at this level, e.g. -55 (calls fail from about -47)\n"
    "  --delay MS        one-way delay of the line (default 40)\n"
    "  --ecm             the far end offers error correction\n"
    "  --calls N         calls to serve before ending, 0 for no limit (default 1)\n"
    "  --class 1|2|2.0   the fax class of the emulated modems (default 1)\n"
    "  --fclass-reply TEXT  what AT+FCLASS=? answers (default 0,1,1.0 / 0,2 / 0,2.0)\n"
    "  --refuse-page N   the far end answers RTN to page N once\n"
    "  --hangup-after-page N  the far end drops the call after page N\n"
    "  --timeout SECONDS end after this time (default: no limit)\n"
    "  --log             log the far end's T.30 and the modems (T.31, or T.30 and AT+F\n"
    "                    commands for Class 2 and 2.0) to stderr\n"
    "Prints the pseudo-terminal's path first (one line per modem), then one result\n"
    "line per call. Exits 0 when every call's T.30 result was success.\n";

bool ParseNumber(const char* text, double* value) {
  char* end = nullptr;
  errno = 0;
  *value = std::strtod(text, &end);
  return errno == 0 && end != text && *end == '\0' && std::isfinite(*value);
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "telvane-line: %s\n%s", message.c_str(), kUsage);
  return 2;
}

// Returns -1 when the options are good, else the exit status.
int ParseOptions(int argc, char** argv, TOptions* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    const bool takesValue = a == "--answer" || a == "--call" || a == "--link" ||
                            a == "--ident" || a == "--noise" || a == "--timeout" ||
                            a == "--modems" || a == "--delay" || a == "--calls" ||
                            a == "--class" || a == "--fclass-reply" || a == "--refuse-page" ||
                            a == "--hangup-after-page";
    const char* v = nullptr;
    if (takesValue) {
      if (i + 1 >= argc) return UsageError(a + " needs a value");
      v = argv[++i];
    }
    double number = 0;
    if (a == "--answer" || a == "--call" || a == "--pair") {
      if (o->mode != TMode::None) return UsageError("give only one of --answer, --call, --pair");
      if (a == "--answer") {
        o->mode = TMode::Answer;
        o->dir = v;
      } else if (a == "--call") {
        o->mode = TMode::Call;
        o->file = v;
      } else {
        o->mode = TMode::Pair;
      }
    } else if (a == "--link") {
      o->links.push_back(v);
    } else if (a == "--ident") {
      o->ident = v;
      if (o->ident.size() > 20) return UsageError("--ident takes at most 20 characters");
    } else if (a == "--noise") {
      if (!ParseNumber(v, &number) || number > 0 || number < -100) {
        return UsageError("--noise takes a level in dBm0 between -100 and 0, e.g. -45");
      }
      o->noise = true;
      o->noiseDbm0 = static_cast<float>(number);
    } else if (a == "--timeout") {
      if (!ParseNumber(v, &number) || number < 0) {
        return UsageError("--timeout takes a number of seconds");
      }
      o->timeout = number;
    } else if (a == "--modems") {
      o->modemsName = v;
      if (o->modemsName == "v17") {
        o->modems = T30_SUPPORT_V17 | T30_SUPPORT_V29 | T30_SUPPORT_V27TER;
      } else if (o->modemsName == "v29") {
        o->modems = T30_SUPPORT_V29 | T30_SUPPORT_V27TER;
      } else if (o->modemsName == "v27ter") {
        o->modems = T30_SUPPORT_V27TER;
      } else {
        return UsageError("--modems takes v17, v29 or v27ter");
      }
    } else if (a == "--delay") {
      if (!ParseNumber(v, &number) || number < 0 || number > 2000) {
        return UsageError("--delay takes milliseconds between 0 and 2000");
      }
      o->delayMs = static_cast<int>(number);
    } else if (a == "--calls") {
      if (!ParseNumber(v, &number) || number < 0 || number != std::floor(number)) {
        return UsageError("--calls takes a whole number (0 for no limit)");
      }
      o->calls = static_cast<int>(number);
    } else if (a == "--class") {
      const std::string c = v;
      if (c == "1") {
        o->faxClass = TTvFaxClass::Class1;
      } else if (c == "2") {
        o->faxClass = TTvFaxClass::Class2;
      } else if (c == "2.0") {
        o->faxClass = TTvFaxClass::Class20;
      } else {
        return UsageError("--class takes 1, 2 or 2.0");
      }
    } else if (a == "--fclass-reply") {
      o->classesReply = v;
      if (o->classesReply.empty() || o->classesReply.size() > 40) {
        return UsageError("--fclass-reply takes a list of classes, e.g. 0,1,2");
      }
    } else if (a == "--refuse-page" || a == "--hangup-after-page") {
      if (!ParseNumber(v, &number) || number < 1 || number > 999 || number != std::floor(number)) {
        return UsageError(a + " takes a page number from 1");
      }
      (a == "--refuse-page" ? o->refusePage : o->hangupAfterPage) = static_cast<int>(number);
    } else if (a == "--ecm") {
      o->ecm = true;
    } else if (a == "--log") {
      o->log = true;
    } else {
      return UsageError("unknown option " + a);
    }
  }
  if (o->mode == TMode::None) return UsageError("give one of --answer DIR, --call FILE.tif, --pair");
  const size_t modems = o->mode == TMode::Pair ? 2 : 1;
  if (o->links.size() > modems) {
    return UsageError(o->mode == TMode::Pair ? "--pair takes at most two --link options"
                                             : "give --link once");
  }
  return -1;
}

std::string Quote(const std::string& s) {
  std::string q = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') q += '\\';
    q += (static_cast<unsigned char>(c) < 32) ? ' ' : c;
  }
  return q + "\"";
}

// One modem of the line with its pseudo-terminal and the state of flow
// control towards the program.
struct TPort {
  TTvLinePty pty;
  std::unique_ptr<TTvLineFaxModem> modem;
  bool xoffSent = false;
  int64_t lastInput = 0;
};

enum class TCallState { Idle, Ringing, Connected, Ending };

class TTvLine : public TTvLineModemListener {
 public:
  explicit TTvLine(const TOptions& o) : o_(o) {}

  int Run();

  void ModemDialled(int modem, const std::string& number) override;
  void ModemAnswered(int modem) override;
  void ModemOnHook(int modem) override;

 private:
  void Later(int64_t delay, std::function<void()> fn) {
    events_.push_back({now_ + delay, generation_, std::move(fn)});
  }
  void RunEvents();
  void ServicePort(TPort& p);
  void Block();
  void Info(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  std::string NextReceiveFile() const;
  void StartFarEnd();
  void CallStep();
  void Report(const std::string& text, int code, bool success);
  void EndCall();
  bool AllOnHookAndQuiet() const;

  // Events belong to the call during which they were queued: those of a
  // call that has ended are dropped, so that the last call's hang-up never
  // reaches the next one.
  struct TEvent {
    int64_t at;
    int generation;
    std::function<void()> fn;
  };

  const TOptions& o_;
  std::vector<std::unique_ptr<TPort>> ports_;
  std::unique_ptr<TTvFarEnd> far_;
  std::unique_ptr<TTvLineAudio> toFar_, fromFar_;  // or A->B, B->A in pair mode
  std::vector<TEvent> events_;
  int64_t now_ = 0;
  int generation_ = 0;

  TCallState state_ = TCallState::Idle;
  int caller_ = 0;
  int64_t ringAt_ = 0;
  int64_t ringUntil_ = 0;
  int64_t connectAt_ = 0;
  int64_t connectedAt_ = 0;
  int64_t endingSince_ = 0;
  bool reported_ = false;
  std::string rxFile_;

  int callsDone_ = 0;
  int callsFailed_ = 0;
};

void TTvLine::Info(const char* fmt, ...) {
  if (!o_.log) return;
  va_list ap;
  va_start(ap, fmt);
  std::fprintf(stderr, "telvane-line: %.2f s: ", static_cast<double>(now_) / kSecond);
  std::vfprintf(stderr, fmt, ap);
  std::fputc('\n', stderr);
  va_end(ap);
}

std::string TTvLine::NextReceiveFile() const {
  char stamp[32];
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  std::strftime(stamp, sizeof stamp, "fax-%Y%m%d-%H%M%S", &tm);
  std::error_code ec;
  std::filesystem::path base = std::filesystem::absolute(o_.dir, ec) / stamp;
  std::string name = base.string() + ".tif";
  for (int n = 2; std::filesystem::exists(name); ++n) {
    name = base.string() + "-" + std::to_string(n) + ".tif";
  }
  return name;
}

void TTvLine::StartFarEnd() {
  TTvFarEndOptions fo;
  fo.calling = o_.mode == TMode::Call;
  fo.ident = o_.ident;
  fo.modems = o_.modems;
  fo.ecm = o_.ecm;
  fo.log = o_.log;
  fo.refusePage = o_.refusePage;
  fo.hangupAfterPage = o_.hangupAfterPage;
  if (fo.calling) {
    fo.file = o_.file;
  } else {
    rxFile_ = NextReceiveFile();
    fo.file = rxFile_;
  }
  far_ = std::make_unique<TTvFarEnd>(fo);
  connectedAt_ = now_;
  reported_ = false;
}

void TTvLine::ModemDialled(int modem, const std::string& number) {
  Info("modem %d dials \"%s\"", modem + 1, number.c_str());
  TTvLineFaxModem* m = ports_[modem]->modem.get();
  // A new call while the last one is winding down: that call is over for the
  // far end already (its result is in), so it ends now and the line is free.
  const bool lastCallDone = state_ == TCallState::Ending &&
                            (o_.mode == TMode::Pair ? !ports_[1 - modem]->modem->OffHook()
                                                    : reported_);
  if (lastCallDone && (o_.calls == 0 || callsDone_ + (o_.mode == TMode::Pair) < o_.calls)) {
    if (o_.mode == TMode::Pair) Report("call ended", 0, true);
    EndCall();
  }
  const bool otherBusy = o_.mode == TMode::Pair && ports_[1 - modem]->modem->OffHook();
  if (o_.mode == TMode::Call || state_ != TCallState::Idle || otherBusy) {
    Info("busy");
    Later(kSecond, [m] { m->CallEvent(AT_CALL_EVENT_BUSY); });
    return;
  }
  state_ = TCallState::Ringing;
  caller_ = modem;
  if (o_.mode == TMode::Answer) {
    connectAt_ = now_ + 2 * kSecond;
  } else {
    ringAt_ = now_ + kSecond / 2;
    ringUntil_ = now_ + 60 * kSecond;
  }
}

void TTvLine::ModemAnswered(int modem) {
  Info("modem %d answers", modem + 1);
  TTvLineFaxModem* m = ports_[modem]->modem.get();
  Later(0, [m] { m->CallEvent(AT_CALL_EVENT_ANSWERED); });
  if (state_ != TCallState::Ringing) return;  // off hook on a silent line
  if (o_.mode == TMode::Call && modem == 0) {
    state_ = TCallState::Connected;
    StartFarEnd();
  } else if (o_.mode == TMode::Pair && modem != caller_) {
    state_ = TCallState::Connected;
    connectedAt_ = now_;
    reported_ = false;
    TTvLineFaxModem* c = ports_[caller_]->modem.get();
    Later(0, [c] { c->CallEvent(AT_CALL_EVENT_CONNECTED); });
  }
}

void TTvLine::ModemOnHook(int modem) {
  Info("modem %d on hook", modem + 1);
  if (state_ == TCallState::Ringing && (o_.mode != TMode::Pair || modem == caller_) &&
      o_.mode != TMode::Call) {
    state_ = TCallState::Idle;  // the caller gave up before the call was answered
    return;
  }
  if (state_ != TCallState::Connected) return;
  const int64_t drop = static_cast<int64_t>(o_.delayMs) * kSampleRate / 1000 + kSecond;
  if (o_.mode == TMode::Pair) {
    state_ = TCallState::Ending;
    endingSince_ = now_;
    TTvLineFaxModem* other = ports_[1 - modem]->modem.get();
    Later(drop, [other] {
      if (other->OffHook()) other->CallEvent(AT_CALL_EVENT_HANGUP);
    });
  } else {
    // The program hung up: the far end notices the line drop. Should it not
    // end its call, the line ends it a little later.
    Later(drop, [this] {
      if (far_) far_->LineDropped();
    });
    Later(drop + 10 * kSecond, [this] {
      if (state_ == TCallState::Connected && far_ && !far_->Result().finished) {
        Report("line dropped", -1, false);
        state_ = TCallState::Ending;
        endingSince_ = now_;
      }
    });
  }
}

void TTvLine::Report(const std::string& text, int code, bool success) {
  if (reported_) return;
  reported_ = true;
  ++callsDone_;
  if (!success) ++callsFailed_;
  const double duration = static_cast<double>(now_ - connectedAt_) / kSecond;
  std::string line = "result: text=" + Quote(text) + " code=" + std::to_string(code);
  if (o_.mode != TMode::Pair && far_) {
    const TTvFarEndResult& r = far_->Result();
    line += " pages=" + std::to_string(r.pages) + " bitrate=" + std::to_string(r.bitRate) +
            " resolution=" + std::to_string(r.xDpi) + "x" + std::to_string(r.yDpi) +
            " remote=" + Quote(r.remoteIdent);
    if (o_.mode == TMode::Answer) line += " file=" + Quote(r.pages > 0 ? rxFile_ : "");
  }
  char d[32];
  std::snprintf(d, sizeof d, " duration=%.1f", duration);
  line += d;
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

bool TTvLine::AllOnHookAndQuiet() const {
  for (const auto& p : ports_) {
    if (p->modem->OffHook()) return false;
    if (p->pty.QueuedOutput() > 0) return false;
    if (now_ - p->lastInput < kSecond) return false;
  }
  return now_ - endingSince_ >= kSecond / 2;
}

void TTvLine::EndCall() {
  if (far_ && o_.mode == TMode::Answer && far_->Result().pages == 0 && !rxFile_.empty()) {
    std::error_code ec;
    std::filesystem::remove(rxFile_, ec);  // nothing received: no empty document
  }
  far_.reset();
  ++generation_;
  state_ = o_.mode == TMode::Call ? TCallState::Ringing : TCallState::Idle;
  ringAt_ = now_ + 3 * kSecond;
  reported_ = false;
}

void TTvLine::CallStep() {
  switch (state_) {
    case TCallState::Idle:
      break;
    case TCallState::Ringing:
      if (o_.mode == TMode::Answer) {
        if (now_ >= connectAt_) {
          Info("the far end answers");
          state_ = TCallState::Connected;
          ports_[0]->modem->CallEvent(AT_CALL_EVENT_CONNECTED);
          StartFarEnd();
        }
      } else if (now_ >= ringAt_) {
        const int callee = o_.mode == TMode::Pair ? 1 - caller_ : 0;
        if (o_.mode == TMode::Pair && now_ >= ringUntil_) {
          Info("no answer");
          state_ = TCallState::Idle;
          connectedAt_ = now_;
          reported_ = false;
          Report("no answer", 1, false);
          ports_[caller_]->modem->CallEvent(AT_CALL_EVENT_HANGUP);
          reported_ = false;
          break;
        }
        Info("ring on modem %d", callee + 1);
        ports_[callee]->modem->CallEvent(AT_CALL_EVENT_ALERTING);
        ringAt_ = now_ + 6 * kSecond;
      }
      break;
    case TCallState::Connected:
      if (far_ && far_->Result().finished) {
        const TTvFarEndResult& r = far_->Result();
        Report(r.text, r.code, r.code == T30_ERR_OK);
        state_ = TCallState::Ending;
        endingSince_ = now_;
        // The far end hangs up; the modem notices a moment later.
        TTvLineFaxModem* m = ports_[0]->modem.get();
        Later(kSecond, [m] {
          if (m->OffHook()) m->CallEvent(AT_CALL_EVENT_HANGUP);
        });
      }
      break;
    case TCallState::Ending:
      if (o_.mode != TMode::Pair && !reported_ && far_ && !far_->Result().finished) break;
      if (AllOnHookAndQuiet()) {
        if (o_.mode == TMode::Pair) Report("call ended", 0, true);
        Info("call over");
        EndCall();
      }
      break;
  }
}

void TTvLine::RunEvents() {
  for (;;) {
    auto it = events_.begin();
    for (; it != events_.end(); ++it) {
      if (it->at <= now_) break;
    }
    if (it == events_.end()) return;
    auto fn = std::move(it->fn);
    const bool current = it->generation == generation_;
    events_.erase(it);
    if (current) fn();
  }
}

void TTvLine::ServicePort(TPort& p) {
  p.pty.RefreshTermios();
  uint8_t buf[1024];
  const size_t room = std::min(p.modem->InputRoom(), sizeof buf);
  size_t n = p.pty.Read(buf, room);
  if (n > 0) {
    p.lastInput = now_;
    // An XOFF or XON from a program that asks for IXOFF, outside the modes in
    // which the modem takes page data (where both are data bytes).
    if (p.pty.ProgramSendsXoff() && !p.modem->TakingTransmitData()) {
      size_t kept = 0;
      for (size_t i = 0; i < n; ++i) {
        if (buf[i] == kXoff) {
          p.pty.HoldOutput(true);
        } else if (buf[i] == kXon) {
          p.pty.HoldOutput(false);
        } else {
          buf[kept++] = buf[i];
        }
      }
      n = kept;
    }
    p.modem->Input(buf, n);
  }
  p.modem->FeedInput();
  // XON/XOFF towards a program that obeys them: a pseudo-terminal has no
  // RTS/CTS, and pacing by not reading alone leaves the kernel's large buffer
  // to fill first.
  const bool taking = p.modem->TakingTransmitData();
  const size_t held = p.modem->BufferedTransmitData();
  if (!p.xoffSent && p.pty.ProgramObeysXoff() && taking && held >= kXoffLevel) {
    p.pty.SendControl(kXoff);
    p.xoffSent = true;
  } else if (p.xoffSent && (held <= kXonLevel || !taking || !p.pty.ProgramObeysXoff())) {
    p.pty.SendControl(kXon);
    p.xoffSent = false;
  }
}

void TTvLine::Block() {
  for (auto& p : ports_) ServicePort(*p);
  int16_t a[kBlock], b[kBlock], a2[kBlock], b2[kBlock];
  ports_[0]->modem->Transmit(a, kBlock);
  if (o_.mode == TMode::Pair) {
    ports_[1]->modem->Transmit(b, kBlock);
  } else if (far_) {
    far_->Transmit(b, kBlock);
  } else {
    std::fill(b, b + kBlock, int16_t{0});
  }
  toFar_->Pass(a, a2, kBlock);
  fromFar_->Pass(b, b2, kBlock);
  ports_[0]->modem->Receive(b2, kBlock);
  if (o_.mode == TMode::Pair) {
    ports_[1]->modem->Receive(a2, kBlock);
  } else if (far_) {
    far_->Receive(a2, kBlock);
  }
  RunEvents();
  CallStep();
  RunEvents();
  for (auto& p : ports_) p->pty.Flush();
}

int TTvLine::Run() {
  if (o_.mode == TMode::Call) {
    std::string error;
    if (CheckFaxTiff(o_.file, &error) == 0) {
      std::fprintf(stderr, "telvane-line: %s\n", error.c_str());
      return 2;
    }
  }
  if (o_.mode == TMode::Answer) {
    std::error_code ec;
    std::filesystem::create_directories(o_.dir, ec);
    if (!std::filesystem::is_directory(o_.dir)) {
      std::fprintf(stderr, "telvane-line: cannot use %s as the receive folder%s%s\n",
                   o_.dir.c_str(), ec ? ": " : "", ec ? ec.message().c_str() : "");
      return 2;
    }
  }
  const int count = o_.mode == TMode::Pair ? 2 : 1;
  for (int i = 0; i < count; ++i) {
    auto port = std::make_unique<TPort>();
    std::string error;
    if (!port->pty.Open(&error)) {
      std::fprintf(stderr, "telvane-line: %s\n", error.c_str());
      return 2;
    }
    TTvLinePty* pty = &port->pty;
    auto output = [pty](const uint8_t* d, size_t n) { pty->Queue(d, n); };
    if (o_.faxClass == TTvFaxClass::Class1) {
      auto modem = std::make_unique<TTvLineModem>(i, this, output);
      modem->SetClassesReply(o_.classesReply);
      port->modem = std::move(modem);
    } else {
      port->modem =
          std::make_unique<TTvLineClass2Modem>(i, this, output, o_.faxClass, o_.classesReply);
    }
    if (o_.log) port->modem->EnableLog(i == 0 ? "modem 1" : "modem 2");
    ports_.push_back(std::move(port));
  }
  for (size_t i = 0; i < o_.links.size(); ++i) {
    std::string error;
    if (!ports_[i]->pty.MakeLink(o_.links[i], &error)) {
      std::fprintf(stderr, "telvane-line: %s\n", error.c_str());
      return 2;
    }
  }
  const int delay = o_.delayMs * kSampleRate / 1000;
  toFar_ = std::make_unique<TTvLineAudio>(delay, o_.noise, o_.noiseDbm0, 1234);
  fromFar_ = std::make_unique<TTvLineAudio>(delay, o_.noise, o_.noiseDbm0, 5678);

  for (const auto& p : ports_) std::printf("%s\n", p->pty.SlavePath().c_str());
  std::fflush(stdout);

  if (o_.mode == TMode::Call) {
    state_ = TCallState::Ringing;
    ringAt_ = kSecond;
  }

  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  const int64_t limit = o_.timeout > 0 ? static_cast<int64_t>(o_.timeout * kSecond) : -1;
  bool timedOut = false;
  while (!gStop) {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    const int64_t elapsedNs = (t.tv_sec - start.tv_sec) * 1000000000LL + (t.tv_nsec - start.tv_nsec);
    const int64_t due = elapsedNs * kSampleRate / 1000000000LL;
    if (due - now_ > kSecond) {
      // Stalled (a stopped process, an overloaded machine): the audio of the
      // gap is lost, as on a line that drops out, rather than replayed at once.
      Info("the line fell %.1f s behind real time", static_cast<double>(due - now_) / kSecond);
      now_ = due - kBlock;
    }
    int processed = 0;
    while (now_ + kBlock <= due && processed < 100) {
      Block();
      now_ += kBlock;
      ++processed;
    }
    if (o_.calls > 0 && callsDone_ >= o_.calls && state_ != TCallState::Ending &&
        state_ != TCallState::Connected) {
      break;
    }
    if (limit >= 0 && now_ >= limit) {
      timedOut = true;
      break;
    }
    const int64_t nextNs = (now_ + kBlock) * 1000000000LL / kSampleRate;
    timespec wake = start;
    wake.tv_sec += nextNs / 1000000000LL;
    wake.tv_nsec += nextNs % 1000000000LL;
    if (wake.tv_nsec >= 1000000000L) {
      wake.tv_sec += 1;
      wake.tv_nsec -= 1000000000L;
    }
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr);
  }
  const bool waitingForNext = callsDone_ > 0 && !reported_ &&
                              (state_ == TCallState::Idle ||
                               (state_ == TCallState::Ringing && o_.mode == TMode::Call));
  if (!reported_ && !waitingForNext) {
    if (far_ && far_->Result().finished) {
      Report(far_->Result().text, far_->Result().code, far_->Result().code == T30_ERR_OK);
    } else {
      const bool inCall = state_ == TCallState::Connected || state_ == TCallState::Ending;
      if (!inCall) connectedAt_ = now_;
      char text[64];
      std::snprintf(text, sizeof text, "%s%s", timedOut ? "timed out" : "stopped",
                    inCall ? " during the call" : ", no call");
      Report(text, -1, false);
    }
  }
  if (far_ && o_.mode == TMode::Answer && far_->Result().pages == 0 && !rxFile_.empty()) {
    std::error_code ec;
    std::filesystem::remove(rxFile_, ec);
  }
  far_.reset();
  for (auto& p : ports_) {
    p->pty.Flush();
    p->pty.RemoveLink();
  }
  return (callsDone_ > 0 && callsFailed_ == 0) ? 0 : 1;
}

}  // namespace
}  // namespace tv::line

int main(int argc, char** argv) {
  using namespace tv::line;
  TOptions options;
  const int status = ParseOptions(argc, argv, &options);
  if (status >= 0) return status;
  struct sigaction sa{};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  TTvLine line(options);
  return line.Run();
}
