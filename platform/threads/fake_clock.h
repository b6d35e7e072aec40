// A fake clock for tests: sleeps advance the tick count instead of waiting.
#pragma once
#include <cstdint>

namespace plat {

// Installs itself on construction, restores the real clock on destruction.
// Sleeps of every thread advance the fake ticks by their duration.
class FakeClock {
 public:
  explicit FakeClock(uint32_t startTick = 1000);
  ~FakeClock();
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;
  void Advance(uint32_t ms);
  void SetTick(uint32_t tick);
  uint32_t Now() const;
  // Total of all sleeps requested since construction.
  uint64_t SleptMs() const;
};

}  // namespace plat
