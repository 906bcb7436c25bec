// The program itself: a first start in an empty data folder, a second copy
// that hands over and ends, and SIGTERM closing the running copy in order.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include "platform/core/error_codes.h"
#include "platform/ini/ini_file.h"
#include "platform/xbase/xbase_table.h"

namespace fs = std::filesystem;

namespace {

bool EngineReady(const fs::path& folder) {
  return tv::CreateTableFile(folder / "PROBE.DBF", "X", tv::kXbaseTableTypeFoxPro,
                             {{"A", 'C', 1, 0}}) != tv::ecNotSupported;
}

template <typename Done>
bool WaitFor(Done done, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < ms) QThread::msleep(50);
  return done();
}

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::temp_directory_path() / ("telvane_prog_" + std::to_string(::getpid())) / "data";
    fs::remove_all(home_.parent_path());
    fs::create_directories(home_.parent_path());
    if (!EngineReady(home_.parent_path())) GTEST_SKIP() << "the table engine is not built yet";
  }
  void TearDown() override { fs::remove_all(home_.parent_path()); }

  void Launch(QProcess& p) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TELVANE_HOME", QString::fromStdString(home_.string()));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(TELVANE_BUILD_DIR "/app/telvane", {});
    ASSERT_TRUE(p.waitForStarted(10000));
  }
  fs::path home_;
};

TEST_F(ProgramTest, FirstStartSecondCopyAndOrderlyCloseOnSigterm) {
  QProcess first;
  Launch(first);
  // The data folder, the tables and the folders appear at start.
  ASSERT_TRUE(WaitFor([&] { return fs::exists(home_ / "ZTREC.CDX") && fs::is_directory(home_ / "RECEIVE"); },
                      30000));
  for (const char* name : {"ZTOUT.DBF", "ZTOUT.CDX", "ZTREC.DBF", "SEND"}) {
    EXPECT_TRUE(fs::exists(home_ / name)) << name;
  }
  QThread::msleep(500);

  QProcess second;
  Launch(second);
  ASSERT_TRUE(second.waitForFinished(20000)) << "a second copy kept running";
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_EQ(first.state(), QProcess::Running);

  ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
  ASSERT_TRUE(first.waitForFinished(20000));
  EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(first.exitCode(), 0);
  // The close ran: the placement is saved.
  tv::TIniFile ini(home_ / "ZT.INI");
  ASSERT_EQ(ini.Load(), tv::ecOK);
  bool placed = false;
  for (const std::string& s : ini.Sections()) placed |= s.rfind("TMainScreen_Placement", 0) == 0;
  EXPECT_TRUE(placed);

  // A second start keeps the tables.
  const auto written = fs::last_write_time(home_ / "ZTOUT.CDX");
  QProcess again;
  Launch(again);
  QThread::msleep(1500);
  ::kill(static_cast<pid_t>(again.processId()), SIGINT);
  ASSERT_TRUE(again.waitForFinished(20000));
  EXPECT_EQ(again.exitCode(), 0);
  EXPECT_EQ(fs::last_write_time(home_ / "ZTOUT.CDX"), written);
}

}  // namespace
