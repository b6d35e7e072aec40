// Threads, exit codes, the tick counter, the fake clock and the time stamp.
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <string>

#include "platform/locks/locks.h"
#include "platform/threads/fake_clock.h"
#include "platform/threads/threads.h"

namespace {

struct Gate {
  plat::Event go{true, false};
  uint32_t result = 0;
};

uint32_t WaitThenReturn(void* arg) {
  auto* gate = static_cast<Gate*>(arg);
  gate->go.Wait(10000);
  return gate->result;
}

struct ExitProbe {
  plat::Event go{true, false};
  std::atomic<bool> destructorRan{false};
  std::atomic<bool> ranPastExit{false};
};

struct SetOnDestroy {
  std::atomic<bool>* flag;
  ~SetOnDestroy() { *flag = true; }
};

[[noreturn]] void EndFromDeepInside(ExitProbe* probe) {
  SetOnDestroy local{&probe->destructorRan};
  probe->go.Wait(10000);
  plat::ExitThread(42);
}

uint32_t CallsExitThread(void* arg) {
  auto* probe = static_cast<ExitProbe*>(arg);
  EndFromDeepInside(probe);
  probe->ranPastExit = true;  // never reached
  return 7;
}

TEST(ThreadTest, ExitCodeIsStillActiveUntilProcReturnsThenItsResult) {
  Gate gate;
  gate.result = 3;
  plat::Thread t = plat::Thread::Start(&WaitThenReturn, &gate);
  ASSERT_TRUE(t.IsValid());
  EXPECT_EQ(t.ExitCode(), plat::kStillActive);
  EXPECT_EQ(t.ExitCode(), 259u);
  gate.go.Set();
  t.Join();
  EXPECT_EQ(t.ExitCode(), 3u);
}

TEST(ThreadTest, ExitThreadSetsCodeAndRunsDestructorsOfTheStack) {
  ExitProbe probe;
  plat::Thread t = plat::Thread::Start(&CallsExitThread, &probe);
  ASSERT_TRUE(t.IsValid());
  EXPECT_EQ(t.ExitCode(), plat::kStillActive);
  probe.go.Set();
  t.Join();
  EXPECT_EQ(t.ExitCode(), 42u);
  EXPECT_TRUE(probe.destructorRan);
  EXPECT_FALSE(probe.ranPastExit);
}

TEST(ThreadTest, ExitThreadWithZeroIsNotStillActive) {
  // The listener frees a worker slot only once the code is no longer 259.
  plat::Thread t = plat::Thread::Start(
      [](void*) -> uint32_t { plat::ExitThread(0); }, nullptr);
  t.Join();
  EXPECT_EQ(t.ExitCode(), 0u);
}

TEST(ThreadTest, ClosedHandleLeavesThreadRunningAndCopiesStillReport) {
  Gate gate;
  gate.result = 9;
  plat::Thread t = plat::Thread::Start(&WaitThenReturn, &gate);
  plat::Thread copy = t;
  t.Close();
  EXPECT_FALSE(t.IsValid());
  EXPECT_EQ(copy.ExitCode(), plat::kStillActive);
  gate.go.Set();
  copy.Join();
  EXPECT_EQ(copy.ExitCode(), 9u);
}

TEST(ThreadTest, DroppedHandleOfARunningThreadIsSafe) {
  // The server never keeps some handles; the thread must outlive them.
  static plat::Event done{true, false};
  {
    plat::Thread t = plat::Thread::Start(
        [](void*) -> uint32_t {
          plat::Sleep(20);
          done.Set();
          return 0;
        },
        nullptr);
    ASSERT_TRUE(t.IsValid());
  }
  EXPECT_TRUE(done.Wait(10000));
}

TEST(ThreadTest, NullProcGivesEmptyHandle) {
  plat::Thread t = plat::Thread::Start(nullptr, nullptr);
  EXPECT_FALSE(t.IsValid());
}

TEST(ProcessTest, ExitProcessEndsAtOnceWithTheCode) {
  // A damaged store ends the server this way with status 5.
  EXPECT_EXIT(plat::ExitProcess(5), ::testing::ExitedWithCode(5), "");
}

TEST(ClockTest, RealTicksAdvanceAcrossASleep) {
  uint32_t before = plat::GetTickCount();
  plat::Sleep(30);
  uint32_t after = plat::GetTickCount();
  // Unsigned difference: right even if the counter wrapped meanwhile.
  EXPECT_GE(static_cast<uint32_t>(after - before), 29u);
}

TEST(ClockTest, LocalDateTimeTextHasDateSpaceTime) {
  std::string text = plat::LocalDateTimeText();
  std::smatch m;
  ASSERT_TRUE(std::regex_match(
      text, m, std::regex(R"((\d\d)/(\d\d)/(\d{4}) (\d\d):(\d\d):(\d\d))")))
      << text;
  int month = std::stoi(m[1]), day = std::stoi(m[2]);
  int hour = std::stoi(m[4]), minute = std::stoi(m[5]), second = std::stoi(m[6]);
  EXPECT_TRUE(month >= 1 && month <= 12) << text;
  EXPECT_TRUE(day >= 1 && day <= 31) << text;
  EXPECT_TRUE(hour <= 23 && minute <= 59 && second <= 60) << text;
}

uint32_t SleepsFourTimes(void*) {
  for (int i = 0; i < 4; ++i) plat::Sleep(250);
  return 0;
}

TEST(FakeClockTest, SleepsOfEveryThreadAdvanceTheTicks) {
  plat::FakeClock clock(5000);
  EXPECT_EQ(plat::GetTickCount(), 5000u);
  plat::Thread threads[4];
  for (auto& t : threads) t = plat::Thread::Start(&SleepsFourTimes, nullptr);
  for (auto& t : threads) t.Join();
  EXPECT_EQ(clock.SleptMs(), 4000u);
  EXPECT_EQ(clock.Now(), 9000u);
  EXPECT_EQ(plat::GetTickCount(), 9000u);
}

TEST(FakeClockTest, LongSleepReturnsAndAdvanceAndSetTickMoveTime) {
  plat::FakeClock clock;
  uint32_t start = clock.Now();
  plat::Sleep(10u * 60u * 1000u);  // ten minutes pass at once
  EXPECT_EQ(clock.Now() - start, 600000u);
  clock.Advance(15);
  EXPECT_EQ(plat::GetTickCount() - start, 600015u);
  EXPECT_EQ(clock.SleptMs(), 600000u);  // Advance is not a sleep
  clock.SetTick(77);
  EXPECT_EQ(plat::GetTickCount(), 77u);
}

TEST(FakeClockTest, TicksWrapAtThirtyTwoBits) {
  plat::FakeClock clock(0xFFFFFFF0u);
  plat::Sleep(0x20);
  EXPECT_EQ(plat::GetTickCount(), 0x10u);
}

TEST(FakeClockTest, DestructorRestoresTheRealClock) {
  uint32_t realBefore = plat::GetTickCount();
  {
    plat::FakeClock clock(realBefore + 1000000000u);
  }
  // A real counter is nowhere near the fake one set a billion ms ahead.
  EXPECT_LT(static_cast<uint32_t>(plat::GetTickCount() - realBefore), 1000000u);
}

}  // namespace
