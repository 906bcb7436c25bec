#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/clock/poll_loop.h"
#include "platform/clock/tick_clock.h"
#include "platform/clock/virtual_loop.h"

namespace tv {
namespace {

TEST(TickClock, ConvertsSecondsAndTicksInIntegerArithmetic) {
  struct Case {
    int64_t seconds, ticks, back;
  } cases[] = {
      {0, 0, 0}, {1, 18, 1}, {10, 182, 10}, {60, 1092, 60}, {61, 1110, 61}, {3600, 65543, 3600},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SecondsToTicks(c.seconds), c.ticks) << c.seconds << " s";
    EXPECT_EQ(TicksToSeconds(c.ticks), c.back) << c.ticks << " ticks";
  }
  EXPECT_EQ(MsToTicks(100), 2);  // a wait is never shorter than asked
  EXPECT_EQ(TicksToMs(18), 990);
}

TEST(VirtualLoop, RunsTimersInTimeThenStartOrderWithoutWaiting) {
  TVirtualLoop loop;
  std::vector<std::string> order;
  loop.StartTimer(200, [&] { order.push_back("b@" + std::to_string(loop.NowMs())); });
  loop.StartTimer(100, [&] { order.push_back("a@" + std::to_string(loop.NowMs())); });
  loop.StartTimer(200, [&] { order.push_back("c@" + std::to_string(loop.NowMs())); });
  int cancelled = loop.StartTimer(150, [&] { order.push_back("cancelled"); });
  loop.CancelTimer(cancelled);
  loop.CancelTimer(cancelled);  // harmless a second time
  EXPECT_TRUE(loop.RunUntil([&] { return order.size() == 3; }, 60000));
  EXPECT_EQ(order, (std::vector<std::string>{"a@100", "b@200", "c@200"}));
  EXPECT_EQ(loop.NowMs(), 200);
  EXPECT_EQ(loop.NextTimerInMs(), -1);
}

TEST(VirtualLoop, SleepMovesTimeButDispatchesNothing) {
  TVirtualLoop loop;
  bool fired = false;
  loop.StartTimer(55, [&] { fired = true; });
  loop.Sleep(10000);
  EXPECT_FALSE(fired);
  EXPECT_EQ(loop.NowMs(), 10000);
  EXPECT_EQ(loop.NowTicks(), 181);
  EXPECT_TRUE(loop.RunOnce(0));  // overdue timers run at the next dispatch
  EXPECT_TRUE(fired);
}

TEST(VirtualLoop, RunUntilGivesUpAtTheDeadlineOfVirtualTime) {
  TVirtualLoop loop;
  EXPECT_FALSE(loop.RunUntil([] { return false; }, SecondsToTicks(60) * kTickMs));
  EXPECT_EQ(loop.NowMs(), 1092 * 55);
}

TEST(VirtualLoop, AdvanceRunsTimersAtTheirOwnMoment) {
  TVirtualLoop loop;
  std::vector<int64_t> at;
  loop.StartTimer(30, [&] {
    at.push_back(loop.NowMs());
    loop.StartTimer(30, [&] { at.push_back(loop.NowMs()); });
  });
  loop.Advance(100);
  EXPECT_EQ(at, (std::vector<int64_t>{30, 60}));
  EXPECT_EQ(loop.NowMs(), 100);
}

TEST(PollLoop, DispatchesDescriptorsAndTimers) {
  TPollLoop loop;
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::string got;
  int watch = loop.WatchFd(fds[0], TEventLoop::ioRead, [&](unsigned ev) {
    char buf[16];
    if (ev & TEventLoop::ioRead) got.append(buf, ::read(fds[0], buf, sizeof buf));
  });
  bool timer = false;
  const int64_t start = loop.NowMs();
  loop.StartTimer(20, [&] { timer = true; });
  ASSERT_EQ(::write(fds[1], "hi", 2), 2);
  EXPECT_TRUE(loop.RunUntil([&] { return got == "hi" && timer; }, 2000));
  EXPECT_GE(loop.NowMs() - start, 20);
  // A watch without events is not dispatched for readable data.
  loop.SetWatchEvents(watch, 0);
  ASSERT_EQ(::write(fds[1], "x", 1), 1);
  loop.RunOnce(20);
  EXPECT_EQ(got, "hi");
  loop.Unwatch(watch);
  EXPECT_TRUE(loop.WaitReadable(fds[0], 0));
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace
}  // namespace tv
