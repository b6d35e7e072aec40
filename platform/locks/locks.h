// Kernel-object stand-ins: a recursive process-wide mutex with timed waits,
// named mutexes, and a manual-reset event.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace plat {

enum class WaitResult { Acquired, TimedOut };

class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  // WaitForSingleObject: takes the mutex (again, when the caller holds it:
  // counted) or gives up after ms milliseconds of real time.
  WaitResult Wait(uint32_t ms);
  // ReleaseMutex: false and no effect when the caller does not hold it.
  bool Release();
  bool HeldByCaller() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// CreateMutexA with a name: the same mutex for the same name in this process.
// An empty name gives a new unnamed mutex.
std::shared_ptr<Mutex> CreateNamedMutex(const std::string& name);

class Event {
 public:
  explicit Event(bool manualReset = true, bool signalled = false);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  bool Set();
  bool Reset();
  // true when signalled within ms milliseconds of real time.
  bool Wait(uint32_t ms);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace plat
