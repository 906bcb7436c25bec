// The port service under the Qt event loop, on a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <stdlib.h>
#include <unistd.h>

#include <QCoreApplication>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/serial/com_port.h"
#include "platform/serial/serial_port.h"
#include "send/qtloop/qt_event_loop.h"

namespace tv {
namespace {

class QtLoop : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "qt_event_loop_test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) app_ = new QCoreApplication(argc, argv);
  }
  void SetUp() override {
    char name[128];
    int slave = -1;
    ASSERT_EQ(::openpty(&master_, &slave, name, nullptr, nullptr), 0);
    ::close(slave);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    path_ = name;
    lockDir_ = std::filesystem::temp_directory_path() /
               ("telvane-qtlocks-" + std::to_string(::getpid()));
    std::filesystem::create_directories(lockDir_);
    ::setenv("TELVANE_LOCK_DIR", lockDir_.c_str(), 1);
  }
  void TearDown() override {
    if (master_ >= 0) ::close(master_);
    std::filesystem::remove_all(lockDir_);
  }
  static QCoreApplication* app_;
  int master_ = -1;
  std::string path_;
  std::filesystem::path lockDir_;
  TQtEventLoop loop_;
};
QCoreApplication* QtLoop::app_ = nullptr;

TEST_F(QtLoop, DeliversPortEventsAndTimersFromTheQtLoop) {
  TTvComPort com(loop_);
  com.SetComNumber(1);
  com.SetDevicePath(path_);
  com.SetOpen(true);
  TSerialPort& port = *com.Port();
  std::vector<int> events;
  port.SetAvailTrigger(1);
  int timer = port.AddTimer();
  port.SetTriggerHandler([&](int msg, int, int32_t) {
    events.push_back(msg);
    if (msg == TriggerAvailMsg) {
      while (port.ReadByte() >= 0) {
      }
    }
  });
  port.ArmTimer(timer, 2, true);
  ASSERT_EQ(::write(master_, "RING\r\n", 6), 6);
  ASSERT_TRUE(loop_.RunUntil([&] { return events.size() >= 2; }, 2000));
  EXPECT_EQ(events[0], TriggerAvailMsg);
  EXPECT_EQ(events[1], TriggerTimerMsg);

  // A wait that yields lets the Qt loop run; its bytes still arrive.
  port.RemoveTriggerHandler();
  com.SendText("ATA\r");
  std::string atModem;
  ASSERT_TRUE(loop_.RunUntil(
      [&] {
        char buf[16];
        ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) atModem.append(buf, n);
        return atModem.size() >= 4;
      },
      1000));
  EXPECT_EQ(atModem, "ATA\r");
  ASSERT_EQ(::write(master_, "\r\nCONNECT\r\n", 11), 11);
  EXPECT_TRUE(com.WaitForText("CONNECT", 18, true, false));

  // The device going away: the owner hears of it and the loop stays idle.
  int code = 0;
  com.SetOnLineError([&](int c, const std::string&) { code = c; });
  ::close(master_);
  master_ = -1;
  ASSERT_TRUE(loop_.RunUntil([&] { return code != 0; }, 2000));
  int busy = 0;
  const int64_t start = loop_.NowMs();
  while (loop_.NowMs() - start < 100) {
    if (loop_.RunOnce(100)) ++busy;
  }
  EXPECT_LE(busy, 1);
  com.SetOpen(false);
}

TEST_F(QtLoop, CancelledTimersDoNotRun) {
  bool ran = false, other = false;
  int id = loop_.StartTimer(10, [&] { ran = true; });
  loop_.StartTimer(30, [&] { other = true; });
  loop_.CancelTimer(id);
  ASSERT_TRUE(loop_.RunUntil([&] { return other; }, 1000));
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace tv
