// Available physical memory, read from the kernel as GlobalMemoryStatus's
// dwAvailPhys would report it on a 32-bit field.
#include "platform/memory/memory.h"

#include <sys/sysinfo.h>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace plat {
namespace {

constexpr uint64_t kCap = 4294967295ULL;  // the field is 32 bits wide
std::atomic<uint32_t> g_override{0};

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
  uint64_t bytes = MemAvailableBytes();
  if (bytes == 0) {
    struct sysinfo info;
    if (sysinfo(&info) == 0) bytes = static_cast<uint64_t>(info.freeram) * info.mem_unit;
  }
  return static_cast<uint32_t>(bytes > kCap ? kCap : bytes);
}

void SetAvailablePhysicalMemoryForTest(uint32_t bytes) { g_override.store(bytes); }

}  // namespace plat
