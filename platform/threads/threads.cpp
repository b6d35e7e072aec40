// Threads over detached pthreads, the replaceable clock (ticks and sleeps),
// the local time stamp text and the immediate process exit.
#include "platform/threads/threads.h"

#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <condition_variable>
#include <cstdio>
#include <mutex>

namespace plat {
namespace detail {

// Shared by the handle(s) and the running thread, so either may go first.
struct ThreadState {
  ThreadProc proc = nullptr;
  void* arg = nullptr;
  std::mutex m;
  std::condition_variable ended;
  bool done = false;
  uint32_t exitCode = kStillActive;
};

}  // namespace detail

namespace {

using detail::ThreadState;

// The calling thread's exit code as far as known: proc's result, or the
// code given to ExitThread just before it unwinds.
thread_local uint32_t t_exitCode = 0;

// Records the exit code when the trampoline's frame goes, whether by return
// or by the forced unwind of pthread_exit (the thread's destructors have
// run by then, as on a thread that ends).
class EndGuard {
 public:
  explicit EndGuard(std::shared_ptr<ThreadState> s) : state_(std::move(s)) {}
  ~EndGuard() {
    std::lock_guard<std::mutex> lock(state_->m);
    state_->exitCode = t_exitCode;
    state_->done = true;
    state_->ended.notify_all();
  }
  EndGuard(const EndGuard&) = delete;
  EndGuard& operator=(const EndGuard&) = delete;

 private:
  std::shared_ptr<ThreadState> state_;
};

void* Trampoline(void* raw) {
  // Take over the reference that Start handed us.
  std::shared_ptr<ThreadState> state(
      std::move(*static_cast<std::shared_ptr<ThreadState>*>(raw)));
  delete static_cast<std::shared_ptr<ThreadState>*>(raw);
  // No catch here: pthread_exit's forced unwind must pass through.
  EndGuard guard(state);
  t_exitCode = 0;
  t_exitCode = state->proc(state->arg);
  return nullptr;
}

uint32_t RealTickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u +
                static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);  // wraps like the 32-bit tick counter
}

void RealSleep(uint32_t ms) {
  if (ms == 0) {
    sched_yield();  // Sleep(0) gives up the rest of the time slice
    return;
  }
  timespec req{};
  req.tv_sec = static_cast<time_t>(ms / 1000u);
  req.tv_nsec = static_cast<long>(ms % 1000u) * 1000000L;
  timespec rem{};
  while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
}

// Threads here are short-lived and shallow; the 8 MB default stack makes
// glibc's stack cache overflow with ten workers, and every start then maps
// and faults a fresh stack (about three times the CPU per thread). The
// sanitizers' larger frames keep the default.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kThreadStackSize = 0;
#else
constexpr std::size_t kThreadStackSize = 1024 * 1024;
#endif

std::atomic<uint32_t (*)()> g_tickCount{&RealTickCount};
std::atomic<void (*)(uint32_t)> g_sleep{&RealSleep};

}  // namespace

Thread Thread::Start(ThreadProc proc, void* arg) {
  Thread t;
  if (proc == nullptr) return t;
  auto state = std::make_shared<ThreadState>();
  state->proc = proc;
  state->arg = arg;

  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return t;
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (kThreadStackSize != 0) pthread_attr_setstacksize(&attr, kThreadStackSize);
  auto* handoff = new std::shared_ptr<ThreadState>(state);
  pthread_t id;
  int rc = pthread_create(&id, &attr, &Trampoline, handoff);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete handoff;
    return t;
  }
  t.state_ = std::move(state);
  return t;
}

uint32_t Thread::ExitCode() const {
  if (!state_) return 0;
  std::lock_guard<std::mutex> lock(state_->m);
  return state_->done ? state_->exitCode : kStillActive;
}

void Thread::Join() const {
  if (!state_) return;
  std::unique_lock<std::mutex> lock(state_->m);
  state_->ended.wait(lock, [this] { return state_->done; });
}

void ExitThread(uint32_t code) {
  t_exitCode = code;
  // pthread_exit unwinds the stack (destructors run) through EndGuard,
  // which publishes the code.
  pthread_exit(nullptr);
}

void SetClock(const Clock& clock) {
  g_tickCount.store(clock.tickCount ? clock.tickCount : &RealTickCount);
  g_sleep.store(clock.sleep ? clock.sleep : &RealSleep);
}

void ResetClock() {
  g_tickCount.store(&RealTickCount);
  g_sleep.store(&RealSleep);
}

void Sleep(uint32_t ms) { g_sleep.load()(ms); }

uint32_t GetTickCount() { return g_tickCount.load()(); }

std::string LocalDateTimeText() {
  time_t now = time(nullptr);
  tm local{};
  if (localtime_r(&now, &local) == nullptr) return std::string();
  char text[80];  // room for any int the fields could hold
  std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d:%02d",
                local.tm_mon + 1, local.tm_mday, local.tm_year + 1900,
                local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

void ExitProcess(int code) { _exit(code); }

}  // namespace plat
