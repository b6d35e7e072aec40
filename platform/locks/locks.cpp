// Recursive owner-tracked mutex, the process's named-mutex registry and the
// event, over std::mutex and condition variables. Waits use real time.
#include "platform/locks/locks.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace plat {
namespace {

using SteadyClock = std::chrono::steady_clock;

SteadyClock::time_point DeadlineAfter(uint32_t ms) {
  return SteadyClock::now() + std::chrono::milliseconds(ms);
}

}  // namespace

struct Mutex::Impl {
  std::mutex m;
  std::condition_variable freed;
  std::thread::id owner;  // default id: nobody holds it
  uint32_t count = 0;     // recursion depth of the owner
};

Mutex::Mutex() : impl_(std::make_unique<Impl>()) {}
Mutex::~Mutex() = default;

WaitResult Mutex::Wait(uint32_t ms) {
  const std::thread::id self = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(impl_->m);
  if (impl_->owner == self) {
    ++impl_->count;
    return WaitResult::Acquired;
  }
  const auto deadline = DeadlineAfter(ms);
  bool free = impl_->freed.wait_until(
      lock, deadline, [this] { return impl_->owner == std::thread::id(); });
  if (!free) return WaitResult::TimedOut;
  impl_->owner = self;
  impl_->count = 1;
  return WaitResult::Acquired;
}

bool Mutex::Release() {
  std::lock_guard<std::mutex> lock(impl_->m);
  if (impl_->owner != std::this_thread::get_id()) return false;
  if (--impl_->count == 0) {
    impl_->owner = std::thread::id();
    impl_->freed.notify_one();
  }
  return true;
}

bool Mutex::HeldByCaller() const {
  std::lock_guard<std::mutex> lock(impl_->m);
  return impl_->owner == std::this_thread::get_id();
}

std::shared_ptr<Mutex> CreateNamedMutex(const std::string& name) {
  if (name.empty()) return std::make_shared<Mutex>();
  // A named mutex lives while someone holds a handle to it, as a kernel
  // object does; the registry only remembers it weakly.
  static std::mutex registryLock;
  static std::map<std::string, std::weak_ptr<Mutex>> registry;
  std::lock_guard<std::mutex> lock(registryLock);
  std::weak_ptr<Mutex>& slot = registry[name];
  std::shared_ptr<Mutex> existing = slot.lock();
  if (existing) return existing;
  auto created = std::make_shared<Mutex>();
  slot = created;
  return created;
}

struct Event::Impl {
  std::mutex m;
  std::condition_variable changed;
  bool manualReset = true;
  bool signalled = false;
};

Event::Event(bool manualReset, bool signalled) : impl_(std::make_unique<Impl>()) {
  impl_->manualReset = manualReset;
  impl_->signalled = signalled;
}

Event::~Event() = default;

bool Event::Set() {
  std::lock_guard<std::mutex> lock(impl_->m);
  impl_->signalled = true;
  if (impl_->manualReset) {
    impl_->changed.notify_all();
  } else {
    impl_->changed.notify_one();
  }
  return true;
}

bool Event::Reset() {
  std::lock_guard<std::mutex> lock(impl_->m);
  impl_->signalled = false;
  return true;
}

bool Event::Wait(uint32_t ms) {
  std::unique_lock<std::mutex> lock(impl_->m);
  bool set = impl_->changed.wait_until(lock, DeadlineAfter(ms),
                                       [this] { return impl_->signalled; });
  if (set && !impl_->manualReset) impl_->signalled = false;  // one waiter only
  return set;
}

}  // namespace plat
