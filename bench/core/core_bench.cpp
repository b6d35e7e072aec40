// Serves a 1.2 KB and a 10 MB file through GetNormalPage on a temporary
// machine folder, a fresh processor per request as the worker makes it, and
// prints the processor's CPU time per request and MB/s. A fake clock turns
// the fixed sleeps into tick counts only, so they cost no time at all.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/locks/locks.h"
#include "platform/machine/machine.h"
#include "platform/threads/threads.h"
#include "server/http/Tpageprocessor.h"
#include "server/listener/ServerGlobals.h"
#include "server/listener/ServerLog.h"

namespace {

uint32_t g_tick = 1000;
uint64_t g_slept = 0;
uint32_t FakeTick() { return g_tick; }
void FakeSleep(uint32_t ms) {  // single-threaded here: no need to yield
  g_tick += ms;
  g_slept += ms;
}

double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// Serves the request n times; returns CPU seconds and checks the length.
double Run(const char* request, int n, long expectedLength) {
  char text[256];
  const double start = CpuSeconds();
  for (int i = 0; i < n; ++i) {
    std::snprintf(text, sizeof text, "%s", request);
    vostrel::TPageProcessor p(vostrel::kProcessorSize, vostrel::ServerLock);
    std::snprintf(p.DocumentRoot, sizeof p.DocumentRoot, "%s", "C:\\www\\");
    if (p.GetNormalPage(text) == nullptr || p.GetLength() < expectedLength) {
      std::fprintf(stderr, "unexpected response (length %d)\n", p.GetLength());
      std::exit(1);
    }
  }
  return CpuSeconds() - start;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string only = argc > 1 ? argv[1] : "";
  char tmpl[] = "/tmp/vostrel-core-bench-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return 1;
  const std::string root = tmpl;
  setenv("VOSTREL_MACHINE", root.c_str(), 1);
  unsetenv("SystemRoot");
  plat::EnsureMachineLayout();
  std::filesystem::create_directories(root + "/c/www");
  std::ofstream(root + "/c/www/small.htm", std::ios::binary) << std::string(1200, 's');
  std::ofstream(root + "/c/www/large.bin", std::ios::binary) << std::string(10 * 1000 * 1000, 'L');

  plat::Mutex lock;
  vostrel::ServerLock = &lock;
  plat::SetClock(plat::Clock{&FakeTick, &FakeSleep});

  const char* small = "GET /small.htm HTTP/1.1\r\nUser-Agent: bench\r\n\r\n";
  const char* large = "GET /large.bin HTTP/1.1\r\n\r\n";
  if (only != "large") {
    Run(small, 200, 1200);  // warm up caches and the log stream
    const int smallRuns = 20000;
    const double smallCpu = Run(small, smallRuns, 1200);
    std::printf("small file (1200 bytes): %.2f us CPU per request (%d requests)\n",
                smallCpu / smallRuns * 1e6, smallRuns);
  }
  if (only != "small") {
    Run(large, 3, 10000000);
    const int largeRuns = 50;
    const double largeCpu = Run(large, largeRuns, 10000000);
    std::printf("large file (10 MB): %.0f MB/s of processor CPU time (%.2f ms per request)\n",
                largeRuns * 10.0 / largeCpu, largeCpu / largeRuns * 1e3);
  }
  std::printf("fake-clock sleeps skipped: %llu ms\n", static_cast<unsigned long long>(g_slept));

  plat::ResetClock();
  vostrel::CloseServerLog();
  vostrel::ServerLock = nullptr;
  std::filesystem::remove_all(root);
  return 0;
}
