// telvane-fax send, receive and modem: the fax engine over a real (or
// virtual) modem port, run on the poll loop.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/telvane-fax/commands.h"

// The commands need the serial port service and the poll loop; until both
// are part of the build the group registers nothing.
#if __has_include("platform/serial/CMakeLists.txt") && __has_include("platform/clock/CMakeLists.txt")

#include "engine/files/fax_files.h"
#include "engine/files/header_line.h"
#include "engine/files/receive_names.h"
#include "engine/modem/modem_commands.h"
#include "engine/receive/receive.h"
#include "engine/session/fax_session.h"
#include "engine/session/fax_status.h"
#include "engine/session/serial_fax_port.h"
#include "engine/transmit/transmit.h"
#include "platform/clock/poll_loop.h"
#include "platform/core/error_codes.h"
#include "platform/serial/line_device.h"
#include "platform/serial/serial_port.h"

namespace tv::tool {

namespace {

volatile std::sig_atomic_t gInterrupted = 0;
void OnSignal(int) { gInterrupted = 1; }

struct Options {
  std::string port, to, faxClass = "auto", stationId, header, dialPrefix, trace, log;
  std::string file, cover, dir = ".";
  int bps = 14400, attempts = 1, retryWait = 60, dialWait = 60, rings = 1;
  bool pulse = false, blind = false, once = false;
};

// Reads --name VALUE pairs and flags; positional arguments go to `rest`.
bool ParseOptions(const std::vector<std::string>& args, Options& o, std::vector<std::string>& rest,
                  std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    auto number = [&](int& out, int low, int high) {
      std::string text;
      if (!value(text)) return false;
      char* end = nullptr;
      long n = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end || n < low || n > high) {
        error = a + " takes a number from " + std::to_string(low) + " to " + std::to_string(high);
        return false;
      }
      out = static_cast<int>(n);
      return true;
    };
    bool ok = true;
    if (a == "--port") ok = value(o.port);
    else if (a == "--to") ok = value(o.to);
    else if (a == "--class") ok = value(o.faxClass);
    else if (a == "--bps") ok = number(o.bps, 2400, 14400);
    else if (a == "--station-id") ok = value(o.stationId);
    else if (a == "--header") ok = value(o.header);
    else if (a == "--dial-prefix") ok = value(o.dialPrefix);
    else if (a == "--pulse") o.pulse = true;
    else if (a == "--blind") o.blind = true;
    else if (a == "--attempts") ok = number(o.attempts, 0, 99);
    else if (a == "--retry-wait") ok = number(o.retryWait, 0, 3600);
    else if (a == "--dial-wait") ok = number(o.dialWait, 1, 3600);
    else if (a == "--trace") ok = value(o.trace);
    else if (a == "--log") ok = value(o.log);
    else if (a == "--cover") ok = value(o.cover);
    else if (a == "--dir") ok = value(o.dir);
    else if (a == "--rings") ok = number(o.rings, 1, 20);
    else if (a == "--once") o.once = true;
    else if (a.rfind("--", 0) == 0) {
      error = "unknown option " + a;
      return false;
    } else {
      rest.push_back(a);
    }
    if (!ok) return false;
  }
  return true;
}

int FaxClassOf(const std::string& name) {
  if (name == "auto") return kFaxClassDetect;
  if (name == "1") return kFaxClass1;
  if (name == "2") return kFaxClass2;
  if (name == "2.0") return kFaxClass20;
  return -1;
}

// An open modem port with its engine adapter, trace and log.
struct OpenPort {
  TPollLoop loop;
  std::unique_ptr<TSerialPort> serial;
  std::unique_ptr<SerialFaxPort> port;
  std::string trace, log;

  int Open(const std::string& path, std::string& reason) {
    std::unique_ptr<TLineDevice> device;
    TLineSettings settings;
    settings.bitRate = 19200;
    int rc = OpenTermiosDevice(path, settings, device, reason);
    if (rc != ecOK) return rc;
    serial = std::make_unique<TSerialPort>(loop, std::move(device));
    port = std::make_unique<SerialFaxPort>(*serial);
    if (!trace.empty()) serial->Trace().SetState(tlOn, trace);
    if (!log.empty()) serial->Log().SetState(tlOn, log);
    return ecOK;
  }
  ~OpenPort() {
    if (serial && !trace.empty()) serial->Trace().SetState(tlDump, trace);
    if (serial && !log.empty()) serial->Log().SetState(tlDump, log);
    port.reset();
    serial.reset();
  }
};

// The owner of a session on the command line: prints the status as it
// changes and queues the finish notification on the loop.
struct ToolOwner : FaxOwner {
  TEventLoop& loop;
  std::string number, file, cover;
  bool handedOut = false;
  bool finished = false;
  int finishCode = 0;
  int lastStatus = -1;
  bool sent = false;
  int received = 0;
  std::string dir, ext = "APF";

  explicit ToolOwner(TEventLoop& l) : loop(l) {}

  int Send(FaxSession& s, int message, int wParam) override {
    switch (message) {
      case FaxMsgNextFile:
        if (handedOut) return 0;
        handedOut = true;
        SetNextFax(s, number, file, cover);
        return 1;
      case FaxMsgStatus:
        if (s.common.status != lastStatus && !FaxStatusText(s.common.status).empty()) {
          lastStatus = s.common.status;
          std::printf("%s\n", FaxStatusText(s.common.status).c_str());
          std::fflush(stdout);
        }
        break;
      case FaxMsgError:
        if (wParam == ecFaxMixedResolution)
          std::printf("warning: %s\n", ErrorText(wParam).c_str());
        break;
      case FaxMsgReceiveName:
        SetReceiveFileName(s, CounterFileName(dir, ext));
        break;
      case FaxMsgAccept:
        return 1;
      case FaxMsgLog:
        if (wParam == flTransmitOk) sent = true;
        if (wParam == flReceiveOk && s.writer) {
          ++received;
          std::string caller = s.common.remoteId;
          while (!caller.empty() && caller.back() == ' ') caller.pop_back();
          while (!caller.empty() && caller.front() == ' ') caller.erase(0, 1);
          std::printf("received %s pages %d from %s\n", s.writer->Name().c_str(),
                      s.writer->PageCount(), caller.empty() ? "(no id)" : caller.c_str());
          std::fflush(stdout);
        }
        break;
      default:
        break;
    }
    return 0;
  }
  void Post(FaxSession&, int message, int wParam) override {
    if (message != FaxMsgFinish) return;
    loop.StartTimer(0, [this, wParam] {
      finished = true;
      finishCode = wParam;
    });
  }
};

// Runs the loop until the session finishes; Ctrl-C aborts the fax.
void RunSession(OpenPort& open, FaxSession& session, ToolOwner& owner) {
  gInterrupted = 0;
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  bool aborted = false;
  while (!owner.finished) {
    open.loop.RunOnce(100);
    if (gInterrupted && !aborted && session.common.step) {
      aborted = true;
      session.common.step(session, FaxMsgUserAbort, 0);
    }
    if (!session.common.step && !owner.finished) open.loop.RunOnce(0);
  }
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
}

int Fail(const std::string& text) {
  std::fprintf(stderr, "telvane-fax: %s\n", text.c_str());
  return 2;
}

int RunSend(const std::vector<std::string>& args) {
  Options o;
  std::vector<std::string> rest;
  std::string error;
  if (!ParseOptions(args, o, rest, error)) return Fail(error);
  if (o.port.empty()) return Fail("send needs --port DEVICE");
  if (o.to.empty()) return Fail("send needs --to NUMBER");
  if (rest.size() != 1) return Fail("send needs one fax file (FILE.apf)");
  int faxClass = FaxClassOf(o.faxClass);
  if (faxClass < 0) return Fail("--class takes auto, 1, 2 or 2.0");
  FaxFileReader check;
  int rc = check.Open(rest[0], "APF");
  if (rc != ecOK) return Fail(rest[0] + ": " + ErrorText(rc));
  check.Close();

  OpenPort open;
  open.trace = o.trace;
  open.log = o.log;
  std::string reason;
  rc = open.Open(o.port, reason);
  if (rc != ecOK) {
    std::fprintf(stderr, "telvane-fax: %s\n", reason.empty() ? ErrorText(rc).c_str() : reason.c_str());
    return 1;
  }
  ToolOwner owner(open.loop);
  owner.number = o.to;
  owner.file = rest[0];
  owner.cover = o.cover;
  std::unique_ptr<FaxSession> session;
  rc = CreateSendSession(session, o.stationId, open.port.get(), &owner);
  if (rc != ecOK) return Fail(ErrorText(rc));
  session->common.faxClass = faxClass;
  SetDesiredBps(*session, o.bps);
  SetHeaderLine(*session, o.header);
  if (!o.header.empty() && !session->renderer)
    std::fprintf(stderr, "telvane-fax: this build has no fax font; pages go without the header line\n");
  SetDialPrefix(*session, o.dialPrefix);
  SetToneDial(*session, !o.pulse);
  SetBlindDial(*session, o.blind);
  SetDialAttempts(*session, o.attempts);
  SetDialRetryWait(*session, o.retryWait);
  SetDialWait(*session, o.dialWait);
  SetSessionFlags(*session, ffExitOnError | ffSoftwareFlow);
  StartTransmit(*session);
  RunSession(open, *session, owner);
  int code = owner.finishCode;
  if (owner.sent && code == ecFaxMixedResolution) code = ecOK;
  std::printf("%s\n", owner.sent ? "Fax sent" : ErrorText(code).c_str());
  return owner.sent ? 0 : 1;
}

int RunReceive(const std::vector<std::string>& args) {
  Options o;
  std::vector<std::string> rest;
  std::string error;
  if (!ParseOptions(args, o, rest, error)) return Fail(error);
  if (o.port.empty()) return Fail("receive needs --port DEVICE");
  if (!rest.empty()) return Fail("receive takes no file arguments");
  int faxClass = FaxClassOf(o.faxClass);
  if (faxClass < 0) return Fail("--class takes auto, 1, 2 or 2.0");

  OpenPort open;
  open.trace = o.trace;
  std::string reason;
  int rc = open.Open(o.port, reason);
  if (rc != ecOK) {
    std::fprintf(stderr, "telvane-fax: %s\n", reason.empty() ? ErrorText(rc).c_str() : reason.c_str());
    return 1;
  }
  ToolOwner owner(open.loop);
  owner.dir = o.dir;
  std::unique_ptr<FaxSession> session;
  rc = CreateReceiveSession(session, o.stationId, open.port.get(), &owner);
  if (rc != ecOK) return Fail(ErrorText(rc));
  session->common.faxClass = faxClass;
  SetDestinationDir(*session, o.dir);
  SetAnswerOnRing(*session, o.rings);
  SetDesiredBps(*session, o.bps);
  SetOneFax(*session, o.once);
  SetSessionFlags(*session, (o.once ? ffExitOnError : 0) | ffSoftwareFlow);
  StartReceive(*session);
  RunSession(open, *session, owner);
  if (owner.finishCode != ecOK) std::printf("%s\n", ErrorText(owner.finishCode).c_str());
  return owner.received > 0 && owner.finishCode == ecOK ? 0 : 1;
}

int RunModem(const std::vector<std::string>& args) {
  Options o;
  std::vector<std::string> rest;
  std::string error;
  if (!ParseOptions(args, o, rest, error)) return Fail(error);
  if (o.port.empty()) return Fail("modem needs --port DEVICE");
  OpenPort open;
  std::string reason;
  int rc = open.Open(o.port, reason);
  if (rc != ecOK) {
    std::fprintf(stderr, "telvane-fax: %s\n", reason.empty() ? ErrorText(rc).c_str() : reason.c_str());
    return 1;
  }
  ToolOwner owner(open.loop);
  std::unique_ptr<FaxSession> session;
  CreateSendSession(session, "", open.port.get(), &owner);
  FaxClassSupport support;
  bool answered = QueryFaxClasses(*session, true, support);
  std::string classes;
  if (support.class1) classes += " 1";
  if (support.class2) classes += " 2";
  if (support.class20) classes += " 2.0";
  std::printf("classes:%s\n", classes.empty() ? " none" : classes.c_str());
  if (!answered) {
    std::fprintf(stderr, "telvane-fax: the modem on %s does not answer\n", o.port.c_str());
    return 1;
  }
  return 0;
}

const CommandRegistrar kSend({"send",
                              "telvane-fax send --port DEVICE --to NUMBER [--class auto|1|2|2.0] "
                              "[--bps 2400..14400] [--station-id ID] [--header TEXT] "
                              "[--dial-prefix P] [--pulse] [--blind] [--attempts N] "
                              "[--retry-wait S] [--dial-wait S] [--trace FILE] [--log FILE] "
                              "FILE.apf [--cover FILE]",
                              RunSend});
const CommandRegistrar kReceive({"receive",
                                 "telvane-fax receive --port DEVICE [--class auto|1|2|2.0] "
                                 "[--dir DIR] [--rings N] [--station-id ID] [--once] "
                                 "[--trace FILE]",
                                 RunReceive});
const CommandRegistrar kModem({"modem", "telvane-fax modem --port DEVICE", RunModem});

}  // namespace

}  // namespace tv::tool

#endif
