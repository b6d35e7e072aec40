// Counters behind FailNth: one per fault point, shared by all threads.
#include "platform/faults/faults.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace plat {
namespace {

struct Armed {
  std::atomic<uint32_t> remaining{0};  // calls until the failing one; 0 = disarmed
  std::atomic<bool> repeat{false};
  std::atomic<bool> tripped{false};
};

Armed g_points[static_cast<int>(FaultPoint::Count_)];

constexpr int kKeptAllocation = 64 * 1024 * 1024;  // below this, buffers come from the heap

}  // namespace

void FailNth(FaultPoint point, uint32_t n, bool repeat) {
  Armed& a = g_points[static_cast<int>(point)];
  a.tripped = false;
  a.repeat = repeat;
  a.remaining = n;
}

void ClearFaults() {
  for (Armed& a : g_points) {
    a.remaining = 0;
    a.repeat = false;
    a.tripped = false;
  }
}

bool ShouldFail(FaultPoint point) {
  Armed& a = g_points[static_cast<int>(point)];
  if (a.tripped.load()) return a.repeat.load();
  uint32_t r = a.remaining.load();
  while (r != 0) {
    if (a.remaining.compare_exchange_weak(r, r - 1)) {
      if (r == 1) {
        a.tripped = true;
        return true;
      }
      return false;
    }
  }
  return false;
}

char* AllocateBuffer(std::size_t bytes) {
  // The server allocates and frees a response-sized buffer for every
  // request; freed memory stays with the process instead of going back to
  // the kernel and being faulted in again, page by page, the next time.
  static const bool tuned = [] {
    mallopt(M_MMAP_THRESHOLD, kKeptAllocation);
    mallopt(M_TRIM_THRESHOLD, 4 * kKeptAllocation);
    return true;
  }();
  (void)tuned;
  if (ShouldFail(FaultPoint::Allocation)) return nullptr;
  return static_cast<char*>(std::malloc(bytes == 0 ? 1 : bytes));
}

void FreeBuffer(char* p) { std::free(p); }

}  // namespace plat
