// The test clock: ticks that move only by sleeps and by the test's hand.
#include "platform/threads/fake_clock.h"

#include <sched.h>
#include <time.h>

#include <atomic>

#include "platform/threads/threads.h"

namespace plat {
namespace {

std::atomic<uint32_t> g_tick{0};
std::atomic<uint64_t> g_slept{0};

uint32_t FakeTick() { return g_tick.load(); }

void FakeSleep(uint32_t ms) {
  g_tick.fetch_add(ms);  // unsigned: wraps like the real counter
  g_slept.fetch_add(ms);
  // A loop that paces itself with sleeps must still let other threads run.
  if (ms == 0) {
    sched_yield();
  } else {
    timespec pause{0, 100 * 1000};  // 0.1 ms of real time
    nanosleep(&pause, nullptr);
  }
}

}  // namespace

FakeClock::FakeClock(uint32_t startTick) {
  g_tick.store(startTick);
  g_slept.store(0);
  SetClock(Clock{&FakeTick, &FakeSleep});
}

FakeClock::~FakeClock() { ResetClock(); }

void FakeClock::Advance(uint32_t ms) { g_tick.fetch_add(ms); }

void FakeClock::SetTick(uint32_t tick) { g_tick.store(tick); }

uint32_t FakeClock::Now() const { return g_tick.load(); }

uint64_t FakeClock::SleptMs() const { return g_slept.load(); }

}  // namespace plat
