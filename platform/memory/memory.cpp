// Available physical memory, read from the kernel as GlobalMemoryStatus's
// dwAvailPhys would report it on a 32-bit field.
#include "platform/memory/memory.h"

#include <sys/sysinfo.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace plat {
namespace {

constexpr uint64_t kCap = 4294967295ULL;  // the field is 32 bits wide
std::atomic<uint32_t> g_override{0};

// /proc/meminfo costs an open, a read of text the kernel generates and a
// close, and every file request asks: a reading is reused for a second,
// longer than the listener's pace of one connection per 85 ms or more.
// The answer only guards against files that would not fit, which a second's
// drift does not change.
constexpr int64_t kReuseNs = 1000LL * 1000 * 1000;
std::atomic<uint64_t> g_cachedBytes{0};
std::atomic<int64_t> g_cachedAt{0};

// MemAvailable counts reclaimable cache too, which is what "available" means;
// 0 when the kernel does not report it.
uint64_t MemAvailableBytes() {
  FILE* f = std::fopen("/proc/meminfo", "r");
  if (f == nullptr) return 0;
  char line[256];
  uint64_t bytes = 0;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    unsigned long long kb = 0;
    if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1) {
      bytes = static_cast<uint64_t>(kb) * 1024;
      break;
    }
  }
  std::fclose(f);
  return bytes;
}

}  // namespace

uint32_t AvailablePhysicalMemory() {
  uint32_t fixed = g_override.load();
  if (fixed != 0) return fixed;
  const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count();
  uint64_t bytes = g_cachedBytes.load();
  if (bytes != 0 && now - g_cachedAt.load() < kReuseNs) {
    return static_cast<uint32_t>(bytes > kCap ? kCap : bytes);
  }
  bytes = MemAvailableBytes();
  if (bytes != 0) {
    g_cachedBytes.store(bytes);
    g_cachedAt.store(now);
  }
  if (bytes == 0) {
    struct sysinfo info;
    if (sysinfo(&info) == 0) bytes = static_cast<uint64_t>(info.freeram) * info.mem_unit;
  }
  return static_cast<uint32_t>(bytes > kCap ? kCap : bytes);
}

void SetAvailablePhysicalMemoryForTest(uint32_t bytes) { g_override.store(bytes); }

}  // namespace plat
