// Threads, sleeps, the tick counter and local time text. The clock can be
// replaced in tests (SetClock / FakeClock) so that sleeps and minutes pass
// without waiting.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace plat {

constexpr uint32_t kStillActive = 259;

using ThreadProc = uint32_t (*)(void* arg);

namespace detail { struct ThreadState; }

// A started thread; the handle may be dropped (Close) while it runs.
class Thread {
 public:
  Thread() = default;
  // Starts proc(arg) at once, detached. Returns an empty handle on failure.
  static Thread Start(ThreadProc proc, void* arg);
  bool IsValid() const { return state_ != nullptr; }
  // 259 while the thread runs, then its exit code (proc's result or the
  // code given to ExitThread).
  uint32_t ExitCode() const;
  void Close() { state_.reset(); }
  // Blocks until the thread has ended (tests only; the server never joins).
  void Join() const;

 private:
  std::shared_ptr<detail::ThreadState> state_;
};

// Ends the calling thread with the code (must be a thread made by
// Thread::Start; destructors of its stack run).
[[noreturn]] void ExitThread(uint32_t code);

// Clock hooks: real by default.
struct Clock {
  uint32_t (*tickCount)();        // ms since an arbitrary start, wrapping
  void (*sleep)(uint32_t ms);
};
void SetClock(const Clock& clock);
void ResetClock();

void Sleep(uint32_t ms);
uint32_t GetTickCount();

// "12/11/2026 13:04:50": short date, a space, long time, local time.
std::string LocalDateTimeText();

// Ends the process at once with the code, after flushing nothing (files
// written through File are unbuffered at the OS level once flushed).
[[noreturn]] void ExitProcess(int code);

}  // namespace plat
