#include "app/shell/single_instance.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <atomic>
#include <thread>

#include "app/shell/signal_close.h"

namespace fs = std::filesystem;

namespace {

QApplication* App() {
  static int argc = 1;
  static char arg0[] = "single_instance_test";
  static char* argv[] = {arg0, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return app;
}

// Runs the event loop until done() or about five seconds have passed.
template <typename Done>
bool SpinUntil(Done done) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < 5000) QApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

TEST(SingleInstance, SecondCopyAsksTheFirstToShowItself) {
  App();
  const fs::path folder = fs::temp_directory_path() / ("telvane_si_" + std::to_string(::getpid()));
  fs::create_directories(folder);
  tv::TSingleInstance first(folder);
  ASSERT_FALSE(first.AskRunningCopyToShow());  // nobody runs yet: this copy listens
  int shown = 0;
  QObject::connect(&first, &tv::TSingleInstance::ShowRequested, [&] { ++shown; });

  // The second copy runs in a thread of its own, as another process would.
  std::atomic<int> answer{-1};
  std::thread second([&] {
    tv::TSingleInstance copy(folder);
    answer = copy.AskRunningCopyToShow() ? 1 : 0;
  });
  EXPECT_TRUE(SpinUntil([&] { return answer >= 0 && shown > 0; }));
  second.join();
  EXPECT_EQ(answer, 1);
  EXPECT_EQ(shown, 1);

  // Another data folder is another copy.
  const fs::path other = folder / "other";
  fs::create_directories(other);
  EXPECT_NE(tv::TSingleInstance::ServerName(folder), tv::TSingleInstance::ServerName(other));
  tv::TSingleInstance elsewhere(other);
  EXPECT_FALSE(elsewhere.AskRunningCopyToShow());
  fs::remove_all(folder);
}

TEST(SignalCloser, TermAndIntRunTheCloseOnTheEventLoop) {
  App();
  int closes = 0;
  tv::TSignalCloser closer([&] { ++closes; });
  ::raise(SIGTERM);
  EXPECT_EQ(closes, 0);  // nothing runs inside the signal handler
  EXPECT_TRUE(SpinUntil([&] { return closes == 1; }));
  ::raise(SIGINT);
  EXPECT_TRUE(SpinUntil([&] { return closes == 2; }));
}

}  // namespace
