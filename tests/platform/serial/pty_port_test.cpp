// The port service on pseudo-terminals: the test holds the master side and
// plays the modem; the port opens the slave by its path.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/clock/poll_loop.h"
#include "platform/core/error_codes.h"
#include "platform/core/exceptions.h"
#include "platform/serial/com_port.h"
#include "platform/serial/serial_port.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

class PtyPort : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[128];
    int slave = -1;
    ASSERT_EQ(::openpty(&master_, &slave, name, nullptr, nullptr), 0);
    ::close(slave);  // the port opens it again by path
    path_ = name;
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    lockDir_ = fs::temp_directory_path() / ("telvane-locks-" + std::to_string(::getpid()));
    fs::create_directories(lockDir_);
    ::setenv("TELVANE_LOCK_DIR", lockDir_.c_str(), 1);
    lockFile_ = lockDir_ / ("LCK.." + path_.substr(5, 3) + "_" + path_.substr(9));
  }
  void TearDown() override {
    if (master_ >= 0) ::close(master_);
    fs::remove_all(lockDir_);
  }

  std::unique_ptr<TSerialPort> OpenPort(const TPortOptions& options = {}) {
    std::unique_ptr<TLineDevice> device;
    std::string reason;
    int rc = OpenTermiosDevice(path_, options.line, device, reason);
    EXPECT_EQ(rc, 0) << reason;
    if (rc != 0) return nullptr;
    return std::make_unique<TSerialPort>(loop_, std::move(device), options);
  }

  void ModemSends(const std::string& bytes) {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // What reached the modem within ms.
  std::string ModemGets(int ms = 100) {
    std::string got;
    const int64_t deadline = loop_.NowMs() + ms;
    while (loop_.NowMs() < deadline) {
      loop_.RunOnce(5);
      char buf[4096];
      ssize_t n;
      while ((n = ::read(master_, buf, sizeof buf)) > 0) got.append(buf, n);
    }
    return got;
  }

  int master_ = -1;
  std::string path_;
  fs::path lockDir_;
  fs::path lockFile_;
  TPollLoop loop_;
};

TEST_F(PtyPort, OpensRawAndCarriesBytesBothWays) {
  // (A pseudo-terminal keeps 8N1 whatever is asked; the framing kept by a
  // new bit rate is shown on the scripted modem.)
  TPortOptions options;
  options.line.bitRate = 9600;
  auto port = OpenPort(options);
  ASSERT_TRUE(port);

  termios t{};
  ASSERT_EQ(::tcgetattr(port->Device().Fd(), &t), 0);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u) << "raw mode";
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | IXON | IXOFF | ISTRIP), 0u);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_TRUE(t.c_cflag & CLOCAL);
  EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B9600));
  ASSERT_EQ(port->SetBitRate(115200), 0);
  ASSERT_EQ(::tcgetattr(port->Device().Fd(), &t), 0);
  EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(port->SetBitRate(12345), ecBaudRate);
  EXPECT_EQ(port->BitRate(), 115200);

  ASSERT_EQ(port->WriteText("AT\r"), 0);
  EXPECT_EQ(ModemGets(), "AT\r") << "no CR/LF translation on output";
  ModemSends(std::string("\r\nOK\r\n\x00\xff", 8));
  ASSERT_TRUE(loop_.RunUntil([&] { return port->InputWaiting() == 8; }, 1000));
  std::string got;
  int b;
  while ((b = port->ReadByte()) >= 0) got += static_cast<char>(b);
  EXPECT_EQ(got, std::string("\r\nOK\r\n\x00\xff", 8));
  // A pseudo-terminal has no modem-status lines: they are reported present.
  EXPECT_TRUE(port->CarrierPresent());
  EXPECT_EQ(port->SetLineSignals(false, false), 0);
}

TEST_F(PtyPort, LockFileHoldsThePidAndGoesWithTheDevice) {
  {
    auto port = OpenPort();
    ASSERT_TRUE(port);
    std::ifstream in(lockFile_);
    ASSERT_TRUE(in) << lockFile_;
    int pid = 0;
    in >> pid;
    EXPECT_EQ(pid, ::getpid());
  }
  EXPECT_FALSE(fs::exists(lockFile_));
}

TEST_F(PtyPort, OpenFailuresGiveTheirCodes) {
  std::unique_ptr<TLineDevice> device;
  std::string reason;
  // Missing device, and a file that is no serial device.
  EXPECT_EQ(OpenTermiosDevice("/dev/ttyNOSUCH9", {}, device, reason), ecBadId);
  EXPECT_NE(reason.find("/dev/ttyNOSUCH9"), std::string::npos) << reason;
  fs::path plain = lockDir_ / "plain";
  std::ofstream(plain) << "x";
  EXPECT_EQ(OpenTermiosDevice(plain.string(), {}, device, reason), ecBadId);
  // Unsupported settings.
  TLineSettings bad;
  bad.bitRate = 110;
  EXPECT_EQ(OpenTermiosDevice(path_, bad, device, reason), ecBaudRate);
  bad = {};
  bad.dataBits = 9;
  EXPECT_EQ(OpenTermiosDevice(path_, bad, device, reason), ecByteSize);

  // Already open in this program.
  auto port = OpenPort();
  ASSERT_TRUE(port);
  EXPECT_EQ(OpenTermiosDevice(path_, {}, device, reason), ecAlreadyOpen);
  port.reset();

  // Held by another live process (the lock of process 1).
  std::ofstream(lockFile_) << "         1\n";
  EXPECT_EQ(OpenTermiosDevice(path_, {}, device, reason), ecHardware);
  EXPECT_NE(reason.find("process 1"), std::string::npos) << reason;
  EXPECT_TRUE(fs::exists(lockFile_)) << "a live owner's lock stays";

  // A lock left by a dead process is removed.
  pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  std::ofstream(lockFile_, std::ios::trunc) << "      " << child << "\n";
  EXPECT_EQ(OpenTermiosDevice(path_, {}, device, reason), 0) << reason;
  std::ifstream in(lockFile_);
  int pid = 0;
  in >> pid;
  EXPECT_EQ(pid, ::getpid());
}

TEST_F(PtyPort, ComponentRaisesTheExceptionOfItsCode) {
  TTvComPort com(loop_);
  EXPECT_EQ(com.ComNumber(), 0);
  EXPECT_EQ(com.Baud(), 19200);
  EXPECT_EQ(com.InSize(), 8192u);
  EXPECT_EQ(com.OutSize(), 8192u);
  EXPECT_EQ(com.BufferFull(), 7372u);
  EXPECT_EQ(com.BufferResume(), 819u);
  EXPECT_EQ(com.HWFlowOptions(), 0u);
  EXPECT_FALSE(com.AutoOpen());
  EXPECT_EQ(com.TapiMode(), tmOff);
  EXPECT_EQ(com.Tracing(), tlOff);
  EXPECT_THROW(com.SetOpen(true), ENoPortSelected);
  EXPECT_THROW(com.SendText("AT\r"), ECommNotOpen);

  com.SetComNumber(1);
  EXPECT_EQ(com.SlotName(), "Com1 (/dev/ttyACM0)");
  com.SetDevicePath("/dev/ttyNOSUCH9");
  try {
    com.SetOpen(true);
    FAIL() << "opened a missing device";
  } catch (const EBadId& e) {
    EXPECT_EQ(e.ErrorCode(), ecBadId);
    EXPECT_NE(std::string(e.what()).find("ie_BadId"), std::string::npos) << e.what();
  }
  std::ofstream(lockFile_) << "         1\n";
  com.SetDevicePath(path_);
  EXPECT_THROW(com.SetOpen(true), EHardware);
  fs::remove(lockFile_);

  com.SetOpen(true);
  EXPECT_TRUE(com.Open());
  EXPECT_GT(com.Handle(), 0);
  TTvComPort second(loop_);
  second.SetComNumber(2);
  second.SetDevicePath(path_);
  EXPECT_THROW(second.SetOpen(true), EAlreadyOpen);
  com.SetOpen(false);
  EXPECT_FALSE(com.Open());
}

TEST_F(PtyPort, WaitForTextWithAndWithoutYielding) {
  TTvComPort com(loop_);
  com.SetComNumber(1);
  com.SetDevicePath(path_);
  com.SetOpen(true);
  com.SendText("AT\r");
  EXPECT_EQ(ModemGets(), "AT\r");
  ModemSends("\r\nok\r\n");
  EXPECT_TRUE(com.WaitForText("OK", 18, false, true));
  ModemSends("\r\nok\r\n");
  EXPECT_FALSE(com.WaitForText("OK", 2, true, false)) << "case counts unless ignored";
  const int64_t start = loop_.NowMs();
  EXPECT_FALSE(com.WaitForText("CONNECT", 4, false, true));
  EXPECT_GE(loop_.NowMs() - start, 4 * kTickMs);
}

TEST_F(PtyPort, SoftwareFlowControlForOutput) {
  auto port = OpenPort();
  ASSERT_TRUE(port);
  port->SetSoftwareFlow(sfOutput);
  ModemSends("\x13");  // XOFF
  ASSERT_TRUE(loop_.RunUntil([&] { return port->OutputHeld(); }, 1000));
  ASSERT_EQ(port->WriteText("page data"), 0);
  EXPECT_EQ(ModemGets(50), "");
  EXPECT_EQ(port->OutputQueued(), 9);
  ModemSends("A\x11");  // XON; the A stays input, XON and XOFF do not
  EXPECT_EQ(ModemGets(), "page data");
  EXPECT_EQ(port->InputWaiting(), 1);
  EXPECT_EQ(port->ReadByte(), 'A');
  // Without flow control, XON and XOFF are data.
  port->SetSoftwareFlow(sfOff);
  ModemSends("\x13");
  ASSERT_TRUE(loop_.RunUntil([&] { return port->InputWaiting() == 1; }, 1000));
  EXPECT_EQ(port->ReadByte(), 0x13);
  EXPECT_FALSE(port->OutputHeld());
}

TEST_F(PtyPort, SoftwareFlowControlForInputStopsAtFullAndResumes) {
  auto port = OpenPort();
  ASSERT_TRUE(port);
  port->SetSoftwareFlow(sfInput);
  std::string block(7000, 'x');
  size_t sent = 0;
  std::string atModem;
  // Feed until the port says XOFF (the pty carries at most a few KB at once).
  ASSERT_TRUE(loop_.RunUntil(
      [&] {
        if (sent < block.size()) {
          ssize_t n = ::write(master_, block.data() + sent, std::min<size_t>(512, block.size() - sent));
          if (n > 0) sent += n;
        }
        char buf[64];
        ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) atModem.append(buf, n);
        return atModem.find('\x13') != std::string::npos;
      },
      3000));
  EXPECT_GE(port->InputWaiting(), 6144);
  EXPECT_EQ(atModem, "\x13") << "one XOFF, nothing else";
  std::vector<uint8_t> buf(8192);
  port->ReadBlock(buf.data(), static_cast<size_t>(port->InputWaiting()) - 2048);
  EXPECT_EQ(ModemGets(), "\x11") << "XON at the resume level";
}

TEST_F(PtyPort, OutputLevelsAndBlocksThatDoNotFit) {
  TPortOptions options;
  options.outSize = 100;
  auto port = OpenPort(options);
  ASSERT_TRUE(port);
  EXPECT_EQ(port->OutputRoom(), 100);
  std::string big(101, 'y');
  EXPECT_EQ(port->WriteText(big), ecOutputBufferTooSmall);
  EXPECT_EQ(port->OutputQueued(), 0);
  port->SetSoftwareFlow(sfOutput);
  ModemSends("\x13");
  ASSERT_TRUE(loop_.RunUntil([&] { return port->OutputHeld(); }, 1000));
  ASSERT_EQ(port->WriteText(std::string(60, 'z')), 0);
  EXPECT_EQ(port->OutputQueued(), 60);
  EXPECT_EQ(port->OutputRoom(), 40);
  EXPECT_EQ(port->WriteText(std::string(41, 'z')), ecOutputBufferTooSmall);
  port->DiscardOutput();
  EXPECT_EQ(port->OutputQueued(), 0);
}

TEST_F(PtyPort, StatusWatchesFireOncePerArming) {
  auto port = OpenPort();
  ASSERT_TRUE(port);
  std::vector<std::pair<int, int>> events;
  ASSERT_EQ(port->SetTriggerHandler([&](int msg, int trigger, int32_t data) {
    EXPECT_EQ(PortOfData(data), port->Handle());
    events.push_back({msg, trigger});
  }), 0);
  int used = port->AddStatusWatch(stOutputUsed);
  int room = port->AddStatusWatch(stOutputFree);
  ASSERT_GT(used, 0);
  ASSERT_GT(room, 0);
  port->SetSoftwareFlow(sfOutput);
  ModemSends("\x13");
  ASSERT_TRUE(loop_.RunUntil([&] { return port->OutputHeld(); }, 1000));
  ASSERT_EQ(port->WriteText(std::string(5000, 'p')), 0);
  ASSERT_EQ(port->ArmStatusWatch(used, 0, true), 0);      // output drained
  ASSERT_EQ(port->ArmStatusWatch(room, 8000, true), 0);   // nearly all room free
  loop_.RunUntil([] { return false; }, 60);
  EXPECT_TRUE(events.empty()) << "held output neither drains nor frees room";
  ModemSends("\x11");
  std::string drained;
  ASSERT_TRUE(loop_.RunUntil(
      [&] {
        char buf[4096];
        ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) drained.append(buf, n);
        return events.size() == 2;
      },
      3000));
  std::sort(events.begin(), events.end());
  std::vector<std::pair<int, int>> both{{TriggerStatusMsg, used}, {TriggerStatusMsg, room}};
  std::sort(both.begin(), both.end());
  EXPECT_EQ(events, both);
  loop_.RunUntil([] { return false; }, 50);
  EXPECT_EQ(events.size(), 2u) << "once per arming";
}

TEST_F(PtyPort, TraceShowsTheConversationReadably) {
  TTvComPort com(loop_);
  com.SetComNumber(1);
  com.SetDevicePath(path_);
  fs::path traceFile = lockDir_ / "ZTSEND.TRC";
  fs::path logFile = lockDir_ / "ZTSEND.LOG";
  com.SetTraceName(traceFile.string());
  com.SetLogName(logFile.string());
  com.SetTracing(tlOn);
  com.SetLogging(tlOn);
  com.SetOpen(true);
  com.SendText("AT+FCLASS=1\r");
  EXPECT_EQ(ModemGets(), "AT+FCLASS=1\r");
  ModemSends("\r\nOK\r\n");
  ASSERT_TRUE(com.WaitForText("OK\r\n", 18, false, false));
  com.SendText(std::string("\xff\x03\x10\x03", 4));
  ModemGets(20);
  com.SetBaud(9600);
  com.SetOpen(false);
  com.SetTracing(tlDump);
  com.SetLogging(tlDump);
  EXPECT_EQ(com.Tracing(), tlOff);

  std::ifstream in(traceFile);
  std::string trace((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(trace.find("Com1 (" + path_ + ")"), std::string::npos) << trace;
  EXPECT_NE(trace.find(" out  AT+FCLASS=1<CR>\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find(" in   <CR><LF>OK<CR><LF>\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find(" out  <FF><ETX><DLE><ETX>\n"), std::string::npos) << trace;
  EXPECT_LT(trace.find("AT+FCLASS"), trace.find("OK<CR>")) << "in time order";
  std::ifstream logIn(logFile);
  std::string log((std::istreambuf_iterator<char>(logIn)), {});
  EXPECT_NE(log.find("open Com1"), std::string::npos) << log;
  EXPECT_NE(log.find("bit rate 9600"), std::string::npos) << log;
  EXPECT_NE(log.find("close Com1"), std::string::npos) << log;

  // Tracing again starts a new trace.
  com.SetTracing(tlOn);
  com.SetTracing(tlDump);
  std::ifstream again(traceFile);
  std::string second((std::istreambuf_iterator<char>(again)), {});
  EXPECT_EQ(second.find("AT+FCLASS"), std::string::npos);
}

TEST_F(PtyPort, DeviceGoingAwayEndsInAnErrorNotAHang) {
  auto port = OpenPort();
  ASSERT_TRUE(port);
  int errorCode = 0;
  port->SetLineErrorHandler([&](int code, const std::string&) { errorCode = code; });
  std::vector<int> events;
  port->SetTriggerHandler([&](int msg, int, int32_t) { events.push_back(msg); });
  int watch = port->AddStatusWatch(stModemStatus);
  ASSERT_EQ(port->ArmStatusWatch(watch, msDCD, true), 0);
  ::close(master_);
  master_ = -1;
  ASSERT_TRUE(loop_.RunUntil([&] { return errorCode != 0; }, 2000));
  EXPECT_EQ(port->LineError(), ecGetBlockFail);
  EXPECT_FALSE(port->CarrierPresent());
  EXPECT_EQ(port->WriteText("ATH\r"), ecPutBlockFail);
  EXPECT_EQ(events, std::vector<int>{TriggerStatusMsg}) << "the carrier watch sees the loss";
  // The loop goes idle instead of spinning on the dead descriptor.
  int spins = 0;
  const int64_t start = loop_.NowMs();
  while (loop_.NowMs() - start < 100) {
    if (loop_.RunOnce(100)) ++spins;
  }
  EXPECT_LE(spins, 1);
}

}  // namespace
}  // namespace tv
